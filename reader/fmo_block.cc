#include "reader/fmo_block.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "reader/fmo_mapping.h"
#include "reader/raw_output.h"

namespace {

constexpr std::size_t kPrefixSize = 4;

// The one buffer the payload passes through: copying into it first means the
// byte tested for zero is the byte written, even while the creator writes.
// Its size was measured (bench/run): 512 KiB filled a 1 MiB pipe in two
// writes and beat 64, 128 and 256 KiB by a few percent; nothing grows with
// the block. The fuzzer builds with a tiny chunk so that its short inputs
// cross chunk boundaries.
#ifndef SHMPEEK_CHUNK_SIZE
#define SHMPEEK_CHUNK_SIZE (512 * 1024)
#endif
constexpr std::size_t kChunkSize = SHMPEEK_CHUNK_SIZE;
alignas(64) unsigned char chunk[kChunkSize];

bool fail(const char* message, std::FILE* err)
{
    std::fputs(message, err);
    return false;
}

std::int32_t read_declared_size(const unsigned char* prefix)
{
    std::uint32_t u = std::uint32_t{prefix[0]} | std::uint32_t{prefix[1]} << 8 |
                      std::uint32_t{prefix[2]} << 16 | std::uint32_t{prefix[3]} << 24;
    return static_cast<std::int32_t>(u);
}

} // namespace

bool dump_payload(const unsigned char* view, std::size_t extent, bool fullsize,
                  int out_fd, std::FILE* err)
{
    unsigned char prefix[kPrefixSize];
    if (extent < kPrefixSize)
        return fail("FMOSize too low\n", err);
    if (!copy_from_view(prefix, view, kPrefixSize))
        return fail("FMO truncated during dump\n", err);
    // Read once: a later change by the creator is not seen.
    std::int32_t declared = read_declared_size(prefix);
    if (declared <= static_cast<std::int32_t>(kPrefixSize))
        return fail("FMOSize too low\n", err);
    if (static_cast<std::size_t>(declared) > extent)
        return fail("FMOSize too high\n", err);
    std::fprintf(err, "FMO size:%d\n", static_cast<int>(declared));
    prepare_output(out_fd);

    const unsigned char* next = view + kPrefixSize;
    std::size_t left = static_cast<std::size_t>(declared) - kPrefixSize;
    while (left > 0) {
        std::size_t n = std::min(left, kChunkSize);
        if (!copy_from_view(chunk, next, n))
            return fail("FMO truncated during dump\n", err);
        std::size_t keep = n;
        bool at_end = false;
        if (!fullsize) {
            if (const void* zero = std::memchr(chunk, 0, n)) {
                keep = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - chunk);
                at_end = true;
            }
        }
        if (keep > 0 && !write_all(out_fd, chunk, keep))
            return fail("Write to stdout Failed\n", err);
        if (at_end)
            break;
        next += n;
        left -= n;
    }
    return true;
}
