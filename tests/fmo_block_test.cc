#include "reader/fmo_block.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/memory_fmo.h"

namespace {

using namespace std::string_literals;

constexpr std::size_t kNoCut = std::string::npos;

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
    std::string fmo;              // every byte of the FMO, exactly its extent
    bool fullsize = false;
    bool ok = true;
    std::string out{};
    std::string err{};
    std::size_t cut_to = kNoCut;  // the creator cuts the FMO to this size once it is open
    std::string grown{};          // or gives it these bytes, more than it had
};

void PrintTo(const BlockCase& row, std::ostream* os) { *os << row.label; }

// Longer than two chunks of the writer's buffer, the zero in the second.
const std::string kBig(1200000, 'x');
const std::string kBigWithZero = std::string(700000, 'y') + '\0' + std::string(499999, 'z');
const std::string kBigSize = "FMO size:1200004\n";
const std::string kCut = "FMO truncated during dump\n";

const BlockCase kBlockCases[] = {
    {.label = "one byte", .fmo = block(5, "A"), .out = "A", .err = "FMO size:5\n"},
    {.label = "one byte fullsize", .fmo = block(5, "A"), .fullsize = true, .out = "A", .err = "FMO size:5\n"},
    {.label = "text stops at zero", .fmo = block(9, "ab\0cd"s), .out = "ab", .err = "FMO size:9\n"},
    {.label = "zero as last payload byte", .fmo = block(7, "ab\0"s), .out = "ab", .err = "FMO size:7\n"},
    {.label = "fullsize keeps zero", .fmo = block(9, "ab\0cd"s), .fullsize = true, .out = "ab\0cd"s,
     .err = "FMO size:9\n"},
    {.label = "zero first byte", .fmo = block(8, "\0abc"s), .out = "", .err = "FMO size:8\n"},
    {.label = "no zero", .fmo = block(8, "abcd"), .out = "abcd", .err = "FMO size:8\n"},
    {.label = "control bytes pass", .fmo = block(9, "a\nb\r\x1a"), .out = "a\nb\r\x1a", .err = "FMO size:9\n"},
    {.label = "bytes past declared size", .fmo = block(6, "abcdef"), .out = "ab", .err = "FMO size:6\n"},
    {.label = "bytes past declared size fullsize", .fmo = block(6, "abcdef"), .fullsize = true, .out = "ab",
     .err = "FMO size:6\n"},
    {.label = "high bit bytes", .fmo = block(7, "\xff\x80\x01"), .fullsize = true, .out = "\xff\x80\x01",
     .err = "FMO size:7\n"},
    {.label = "size four", .fmo = block(4, "abc"), .fullsize = true, .ok = false, .err = "FMOSize too low\n"},
    {.label = "size zero", .fmo = block(0, "abc"), .fullsize = true, .ok = false, .err = "FMOSize too low\n"},
    {.label = "size minus one", .fmo = block(-1, "abc"), .fullsize = true, .ok = false, .err = "FMOSize too low\n"},
    {.label = "size most negative", .fmo = block(INT32_MIN, "abc"), .ok = false, .err = "FMOSize too low\n"},
    {.label = "size past extent", .fmo = block(10, "abcd"), .fullsize = true, .ok = false,
     .err = "FMOSize too high\n"},
    {.label = "size one past extent", .fmo = block(8, "abc"), .ok = false, .err = "FMOSize too high\n"},
    {.label = "size fills extent", .fmo = block(8, "abcd"), .out = "abcd", .err = "FMO size:8\n"},
    {.label = "size largest", .fmo = block(INT32_MAX, "abcd"), .fullsize = true, .ok = false,
     .err = "FMOSize too high\n"},
    {.label = "empty FMO", .fmo = "", .fullsize = true, .ok = false, .err = "FMOSize too low\n"},
    {.label = "FMO of three bytes", .fmo = "\x09\0\0"s, .fullsize = true, .ok = false, .err = "FMOSize too low\n"},
    {.label = "many chunks text", .fmo = block(1200004, kBig), .out = kBig, .err = kBigSize},
    {.label = "zero in a later chunk", .fmo = block(1200004, kBigWithZero), .out = std::string(700000, 'y'),
     .err = kBigSize},
    {.label = "many chunks fullsize", .fmo = block(1200004, kBigWithZero), .fullsize = true, .out = kBigWithZero,
     .err = kBigSize},

    // The creator cuts the FMO short after it was opened: what it still
    // holds is written, never a zero in place of a lost byte.
    {.label = "cut by one byte fullsize", .fmo = block(1200004, kBig), .fullsize = true, .ok = false,
     .out = kBig.substr(1), .err = kBigSize + kCut, .cut_to = 1200003},
    {.label = "cut by one byte text", .fmo = block(1200004, kBig), .ok = false, .out = kBig.substr(1),
     .err = kBigSize + kCut, .cut_to = 1200003},
    {.label = "cut inside the first chunk", .fmo = block(1200004, kBig), .fullsize = true, .ok = false,
     .out = kBig.substr(0, 1000), .err = kBigSize + kCut, .cut_to = 1004},
    {.label = "cut behind the zero text", .fmo = block(1200004, kBigWithZero), .out = std::string(700000, 'y'),
     .err = kBigSize, .cut_to = 700005},
    {.label = "cut just before the zero text", .fmo = block(1200004, kBigWithZero), .ok = false,
     .out = std::string(700000, 'y'), .err = kBigSize + kCut, .cut_to = 700004},
    {.label = "cut behind the last zero fullsize", .fmo = block(1200004, kBigWithZero), .fullsize = true,
     .ok = false, .out = kBigWithZero.substr(0, 700001), .err = kBigSize + kCut, .cut_to = 700005},
    {.label = "cut past the declared size", .fmo = block(6, "abcdef"), .fullsize = true, .out = "ab",
     .err = "FMO size:6\n", .cut_to = 6},
    {.label = "cut to nothing", .fmo = block(9, "abcde"), .ok = false, .err = "FMOSize too low\n", .cut_to = 0},
    {.label = "cut inside the size", .fmo = block(9, "abcde"), .ok = false, .err = "FMOSize too low\n", .cut_to = 3},

    // The creator grows the FMO after it was opened: nothing past the extent
    // it had then is read, not even the rest of the size.
    {.label = "grown past a short size", .fmo = "\x09\0"s, .ok = false, .err = "FMOSize too low\n",
     .grown = block(9, "abcde")},
    {.label = "grown past the declared size", .fmo = block(9, "abc"), .ok = false, .err = "FMOSize too high\n",
     .grown = block(9, "abcde")},
};

class DumpTest : public testing::TestWithParam<BlockCase> {};

TEST_P(DumpTest, WritesPayloadAndMessages)
{
    const BlockCase& c = GetParam();
    bool changes = c.cut_to != kNoCut || !c.grown.empty();
    if (changes && !MemoryFmo::kCanResize)
        GTEST_SKIP() << "an FMO of this platform never changes its size";
    MemoryFmo fmo(c.fmo);
    if (c.cut_to != kNoCut)
        fmo.replace(c.fmo.substr(0, c.cut_to));
    if (!c.grown.empty())
        fmo.replace(c.grown);
    Sink sink;
    bool ok = dump_payload(fmo.fmo(), c.fullsize, fileno(sink.out), sink.err);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(read_all(sink.out), c.out);
    EXPECT_EQ(read_all(sink.err), c.err);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DumpTest, testing::ValuesIn(kBlockCases), CaseName());

// Every dump passes through the same buffer: what an earlier dump left in
// it is never taken for the FMO's bytes, not even a zero that would end a
// text cut short as if it were whole.
TEST(DumpAfterAnother, SeesNothingOfTheEarlierDump)
{
    if (!MemoryFmo::kCanResize)
        GTEST_SKIP() << "an FMO of this platform never changes its size";
    MemoryFmo zeros(block(1200004, std::string(1200000, '\0')));
    Sink first;
    ASSERT_TRUE(dump_payload(zeros.fmo(), true, fileno(first.out), first.err));

    MemoryFmo text(block(1200004, kBig));
    text.replace(block(1200004, kBig).substr(0, 1004));
    Sink second;
    EXPECT_FALSE(dump_payload(text.fmo(), false, fileno(second.out), second.err));
    EXPECT_EQ(read_all(second.out), kBig.substr(0, 1000));
    EXPECT_EQ(read_all(second.err), kBigSize + kCut);
}

TEST(DumpFailure, RefusedWriteEndsTheDumpWithOneMessage)
{
    // A descriptor open only for reading refuses every write.
#ifdef _WIN32
    std::FILE* readonly = std::fopen("NUL", "rb");
#else
    std::FILE* readonly = std::fopen("/dev/null", "rb");
#endif
    ASSERT_NE(readonly, nullptr);
    MemoryFmo fmo(block(1200004, kBig));
    Sink sink;
    bool ok = dump_payload(fmo.fmo(), true, fileno(readonly), sink.err);
    std::fclose(readonly);
    EXPECT_FALSE(ok);
    EXPECT_EQ(read_all(sink.err), "FMO size:1200004\nWrite to stdout Failed\n");
}

} // namespace
