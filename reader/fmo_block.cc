#include "reader/fmo_block.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "reader/raw_output.h"

namespace {

constexpr std::size_t kPrefixSize = 4;

// The one buffer the payload passes through, so that the byte tested for zero
// is the byte written even while the creator writes. From 128 KiB on its
// size hardly matters (README, Performance); it fills the 1 MiB pipe in two
// writes, and nothing grows with the block. The fuzzer builds with a tiny
// chunk so that its short inputs cross chunk boundaries.
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

bool dump_payload(const FmoMapping& fmo, bool fullsize, int out_fd, std::FILE* err)
{
    unsigned char prefix[kPrefixSize];
    if (read_fmo(fmo, 0, prefix, kPrefixSize) < kPrefixSize)
        return fail("FMOSize too low\n", err);
    // Read once: a later change by the creator is not seen.
    std::int32_t declared = read_declared_size(prefix);
    if (declared <= static_cast<std::int32_t>(kPrefixSize))
        return fail("FMOSize too low\n", err);
    if (static_cast<std::uint64_t>(declared) > fmo.extent)
        return fail("FMOSize too high\n", err);
    std::fprintf(err, "FMO size:%d\n", static_cast<int>(declared));
    prepare_output(out_fd);

    std::uint64_t offset = kPrefixSize;
    std::uint64_t end = static_cast<std::uint64_t>(declared);
    while (offset < end) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, kChunkSize));
        std::size_t got = read_fmo(fmo, offset, chunk, want);
        std::size_t keep = got;
        bool at_zero = false;
        if (!fullsize) {
            if (const void* zero = std::memchr(chunk, 0, got)) {
                keep = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - chunk);
                at_zero = true;
            }
        }
        if (keep > 0 && !write_all(out_fd, chunk, keep))
            return fail("Write to stdout Failed\n", err);
        // The text is whole once its zero was read, even if the FMO was cut
        // short right behind it.
        if (at_zero)
            break;
        if (got < want)
            return fail("FMO truncated during dump\n", err);
        offset += got;
    }
    return true;
}
