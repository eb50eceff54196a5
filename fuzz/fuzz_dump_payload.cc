// Feeds the block writer arbitrary FMOs: the first byte picks the mode, the
// next two the extent and the two after them where the creator cuts the FMO
// short once it is open (at or past the extent: no cut); the rest is the
// FMO, of exactly that extent. Both streams are checked against the block.

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
int err_fd = memfd_create("fuzz-err", 0);
int fmo_fd = memfd_create("fuzz-fmo", 0);
std::FILE* err = fdopen(err_fd, "w");

// Everything written to fd since the last call.
std::string take(int fd)
{
    std::string bytes;
    char buf[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<std::size_t>(n));
    lseek(fd, 0, SEEK_SET);
    if (ftruncate(fd, 0) != 0)
        std::abort();
    return bytes;
}

struct Expected {
    bool ok;
    std::string out;
    std::string err;
};

// What a dump of bytes (its extent) must give when only the first held of
// them are still there by the time they are read.
Expected model(const std::string& bytes, std::size_t held, bool fullsize)
{
    if (held < 4)
        return {false, "", "FMOSize too low\n"};
    std::int32_t declared;
    std::memcpy(&declared, bytes.data(), 4); // the harness runs little-endian
    if (declared <= 4)
        return {false, "", "FMOSize too low\n"};
    auto end = static_cast<std::size_t>(declared);
    if (end > bytes.size())
        return {false, "", "FMOSize too high\n"};
    std::string size_line = "FMO size:" + std::to_string(declared) + "\n";
    std::string payload = bytes.substr(4, std::min(end, held) - 4);
    if (!fullsize) {
        // A text whose zero was read is whole, cut or not.
        std::size_t zero = payload.find('\0');
        if (zero != std::string::npos)
            return {true, payload.substr(0, zero), size_line};
    }
    if (held < end)
        return {false, payload, size_line + "FMO truncated during dump\n"};
    return {true, payload, size_line};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5 || out_fd < 0 || fmo_fd < 0 || err == nullptr)
        return 0;
    bool fullsize = data[0] & 1;
    std::size_t extent = (data[1] | std::size_t{data[2]} << 8) % (size - 5 + 1);
    std::size_t cut = data[3] | std::size_t{data[4]} << 8;
    std::size_t held = std::min(cut, extent);
    std::string bytes(reinterpret_cast<const char*>(data) + 5, extent);
    if (ftruncate(fmo_fd, 0) != 0 ||
        (held > 0 && pwrite(fmo_fd, bytes.data(), held, 0) != static_cast<ssize_t>(held)))
        std::abort();
    FmoMapping fmo;
    fmo.fd = fmo_fd;
    fmo.extent = extent;

    bool ok = dump_payload(fmo, fullsize, out_fd, err);
    std::fflush(err);
    Expected expected = model(bytes, held, fullsize);
    if (ok != expected.ok || take(out_fd) != expected.out || take(err_fd) != expected.err)
        std::abort();
    return 0;
}
