// Feeds the block writer arbitrary FMOs: the first byte picks the mode and
// the next two the extent; the rest is the FMO, of exactly that extent. What
// was written is checked against the block.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "reader/fmo_block.h"

namespace {

int out_fd = memfd_create("fuzz-out", 0);
int fmo_fd = memfd_create("fuzz-fmo", 0);
std::FILE* err = std::fopen("/dev/null", "w");

std::string written()
{
    std::string bytes;
    char buf[65536];
    lseek(out_fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(out_fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<std::size_t>(n));
    lseek(out_fd, 0, SEEK_SET);
    if (ftruncate(out_fd, 0) != 0)
        std::abort();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3 || out_fd < 0 || fmo_fd < 0 || err == nullptr)
        return 0;
    bool fullsize = data[0] & 1;
    std::size_t extent = (data[1] | std::size_t{data[2]} << 8) % (size - 3 + 1);
    const unsigned char* bytes = data + 3;
    if (ftruncate(fmo_fd, 0) != 0 ||
        (extent > 0 && pwrite(fmo_fd, bytes, extent, 0) != static_cast<ssize_t>(extent)))
        std::abort();
    FmoMapping fmo;
    fmo.fd = fmo_fd;
    fmo.extent = extent;

    bool ok = dump_payload(fmo, fullsize, out_fd, err);
    std::string out = written();

    if (!ok && !out.empty())
        std::abort(); // a refused block writes nothing
    if (ok) {
        std::int32_t declared;
        std::memcpy(&declared, bytes, 4); // the harness runs little-endian
        if (declared <= 4 || static_cast<std::size_t>(declared) > extent)
            std::abort();
        std::string payload(reinterpret_cast<const char*>(bytes) + 4, static_cast<std::size_t>(declared) - 4);
        if (!fullsize)
            payload = payload.substr(0, payload.find('\0'));
        if (out != payload)
            std::abort();
    }
    return 0;
}
