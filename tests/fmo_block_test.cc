#include "reader/fmo_block.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/case_name.h"

namespace {

using namespace std::string_literals;

// A block as a creator lays it out: the declared size, little-endian, then
// the bytes that follow it in the FMO.
std::string block(std::int32_t declared, const std::string& rest)
{
    auto u = static_cast<std::uint32_t>(declared);
    std::string bytes{static_cast<char>(u), static_cast<char>(u >> 8),
                      static_cast<char>(u >> 16), static_cast<char>(u >> 24)};
    return bytes + rest;
}

std::string read_all(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string bytes;
    for (int ch; (ch = std::fgetc(file)) != EOF;)
        bytes += static_cast<char>(ch);
    return bytes;
}

// Where dump_payload writes: two temporary files read back afterwards.
struct Sink {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ~Sink()
    {
        std::fclose(out);
        std::fclose(err);
    }
};

struct BlockCase {
    const char* label;
    std::string view;
    std::size_t extent; // npos: the whole view
    bool fullsize;
    bool ok;
    std::string out;
    std::string err;
};

constexpr std::size_t kWhole = std::string::npos;
// Longer than two chunks of the writer's buffer, the zero in the second.
const std::string kBig(1200000, 'x');
const std::string kBigWithZero = std::string(700000, 'y') + '\0' + std::string(499999, 'z');

const BlockCase kBlockCases[] = {
    {"one byte", block(5, "A"), kWhole, false, true, "A", "FMO size:5\n"},
    {"one byte fullsize", block(5, "A"), kWhole, true, true, "A", "FMO size:5\n"},
    {"text stops at zero", block(9, "ab\0cd"s), kWhole, false, true, "ab", "FMO size:9\n"},
    {"fullsize keeps zero", block(9, "ab\0cd"s), kWhole, true, true, "ab\0cd"s, "FMO size:9\n"},
    {"zero first byte", block(8, "\0abc"s), kWhole, false, true, "", "FMO size:8\n"},
    {"no zero", block(8, "abcd"), kWhole, false, true, "abcd", "FMO size:8\n"},
    {"control bytes pass", block(9, "a\nb\r\x1a"), kWhole, false, true, "a\nb\r\x1a", "FMO size:9\n"},
    {"bytes past declared size", block(6, "abcdef"), kWhole, false, true, "ab", "FMO size:6\n"},
    {"bytes past declared size fullsize", block(6, "abcdef"), kWhole, true, true, "ab", "FMO size:6\n"},
    {"high bit bytes", block(7, "\xff\x80\x01"), kWhole, true, true, "\xff\x80\x01", "FMO size:7\n"},
    {"size four", block(4, "abc"), kWhole, true, false, "", "FMOSize too low\n"},
    {"size zero", block(0, "abc"), kWhole, true, false, "", "FMOSize too low\n"},
    {"size minus one", block(-1, "abc"), kWhole, true, false, "", "FMOSize too low\n"},
    {"size most negative", block(INT32_MIN, "abc"), kWhole, false, false, "", "FMOSize too low\n"},
    {"size past view", block(10, "abcd"), kWhole, true, false, "", "FMOSize too high\n"},
    {"size past extent", block(8, "abcd"), 7, false, false, "", "FMOSize too high\n"},
    {"size fills extent", block(8, "abcd"), 8, false, true, "abcd", "FMO size:8\n"},
    {"size largest", block(INT32_MAX, "abcd"), kWhole, true, false, "", "FMOSize too high\n"},
    {"empty view", "", kWhole, true, false, "", "FMOSize too low\n"},
    {"view of three bytes", "\x09\0\0"s, kWhole, true, false, "", "FMOSize too low\n"},
    {"prefix cut by extent", block(9, "abcde"), 3, true, false, "", "FMOSize too low\n"},
    {"many chunks text", block(1200004, kBig), kWhole, false, true, kBig, "FMO size:1200004\n"},
    {"zero in a later chunk", block(1200004, kBigWithZero), kWhole, false, true,
     std::string(700000, 'y'), "FMO size:1200004\n"},
    {"many chunks fullsize", block(1200004, kBigWithZero), kWhole, true, true, kBigWithZero,
     "FMO size:1200004\n"},
};

class DumpTest : public testing::TestWithParam<BlockCase> {};

TEST_P(DumpTest, WritesPayloadAndMessages)
{
    const BlockCase& c = GetParam();
    // The view is copied into storage of exactly the extent, so that a read
    // past it would show under a memory checker.
    std::size_t extent = c.extent == kWhole ? c.view.size() : c.extent;
    std::string view = c.view.substr(0, extent);
    Sink sink;
    bool ok = dump_payload(reinterpret_cast<const unsigned char*>(view.data()), extent, c.fullsize,
                           fileno(sink.out), sink.err);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(read_all(sink.out), c.out);
    EXPECT_EQ(read_all(sink.err), c.err);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DumpTest, testing::ValuesIn(kBlockCases), CaseName());

TEST(DumpFailure, RefusedWriteEndsTheDumpWithOneMessage)
{
    // A descriptor open only for reading refuses every write.
#ifdef _WIN32
    std::FILE* readonly = std::fopen("NUL", "rb");
#else
    std::FILE* readonly = std::fopen("/dev/null", "rb");
#endif
    ASSERT_NE(readonly, nullptr);
    std::string view = block(1200004, kBig);
    Sink sink;
    bool ok = dump_payload(reinterpret_cast<const unsigned char*>(view.data()), view.size(), true,
                           fileno(readonly), sink.err);
    std::fclose(readonly);
    EXPECT_FALSE(ok);
    EXPECT_EQ(read_all(sink.err), "FMO size:1200004\nWrite to stdout Failed\n");
}

} // namespace
