// Runs the built shmpeek as a user would, against blocks that fmomake holds
// while it runs, and checks every byte of both streams and the status.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/run_process.h"

namespace {

using namespace std::string_literals;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

enum class On { kBoth, kPosix, kWindows };

struct E2eCase {
    const char* label;
    std::vector<std::string> block; // fmomake's options; empty: no block is made
    std::vector<std::string> args;  // shmpeek's arguments; "@" stands for the block's name
    std::string out;
    std::string err;                // each "\n" goes out as CR LF on Windows
    int status;                     // 0, 1 or -1
    StdoutTo stdout_to = StdoutTo::kCapture;
    On on = On::kBoth;
    const char* name = nullptr;     // the block's name where "@" is one of this run's own; else just that
};

const std::string kUsage = "shmpeek v0.3\n"
                           "usage:shmpeek [-b] fmoname\n"
                           "  -b:dump fullsize (don't terminate at 0x00)\n";
const std::string kMiB(1 << 20, 'x');

const E2eCase kCases[] = {
    // The command line.
    {"no argument", {}, {}, "", kUsage, 1},
    {"lone option", {}, {"-b"}, "", kUsage, 1},
    {"option names a block called -b", {"-x", "61620063"}, {"-b", "-b"}, "ab\0c"s, "FMO size:8\n", 0,
     StdoutTo::kCapture, On::kBoth, "-b"},
    {"trailing option ignored", {"-x", "61620063"}, {"@", "-b"}, "ab", "FMO size:8\n", 0},
    {"extra after name ignored", {"-x", "61620063"}, {"-b", "@", "extra"}, "ab\0c"s, "FMO size:8\n", 0},
    {"upper case option is a name", {"-t", "abc"}, {"-B", "@"}, "", "OpenFileMapping Failed\n", -1},
    {"option with suffix is a name", {"-t", "abc"}, {"-bx", "@"}, "", "OpenFileMapping Failed\n", -1},

    // Names.
    {"missing name", {}, {"@"}, "", "OpenFileMapping Failed\n", -1},
    {"missing name fullsize", {}, {"-b", "@"}, "", "OpenFileMapping Failed\n", -1},
    {"empty name", {}, {""}, "", "OpenFileMapping Failed\n", -1},
    {"name with slash", {}, {"no/such/block"}, "", "OpenFileMapping Failed\n", -1},
    {"local namespace name", {"-t", "local"}, {"@"}, "local", "FMO size:9\n", 0,
     StdoutTo::kCapture, On::kBoth, "Local\\@"},
    {"global namespace name", {"-t", "global"}, {"-b", "@"}, "global", "FMO size:10\n", 0,
     StdoutTo::kCapture, On::kBoth, "Global\\@"},

    // Blocks.
    {"one byte", {"-t", "A"}, {"@"}, "A", "FMO size:5\n", 0},
    {"text stops at zero", {"-x", "6162006364"}, {"@"}, "ab", "FMO size:9\n", 0},
    {"fullsize keeps zero", {"-x", "6162006364"}, {"-b", "@"}, "ab\0cd"s, "FMO size:9\n", 0},
    {"zero first byte", {"-x", "00616263"}, {"@"}, "", "FMO size:8\n", 0},
    {"control bytes unchanged", {"-x", "610a0d1a0a62"}, {"@"}, "a\n\r\x1a\nb", "FMO size:10\n", 0},
    {"control bytes unchanged fullsize", {"-x", "0a1a000d"}, {"-b", "@"}, "\n\x1a\0\r"s, "FMO size:8\n", 0},
    {"bytes past declared size", {"-d", "6", "-t", "abcdef"}, {"@"}, "ab", "FMO size:6\n", 0},
    {"bytes past declared size fullsize", {"-d", "6", "-t", "abcdef"}, {"-b", "@"}, "ab", "FMO size:6\n", 0},
    {"one MiB fullsize", {"-f", "78:1048576"}, {"-b", "@"}, kMiB, "FMO size:1048580\n", 0},
    {"one MiB text", {"-f", "78:1048576"}, {"@"}, kMiB, "FMO size:1048580\n", 0},
    {"size four", {"-d", "4", "-t", "abc"}, {"@"}, "", "FMOSize too low\n", -1},
    {"size zero", {"-d", "0", "-t", "abc"}, {"-b", "@"}, "", "FMOSize too low\n", -1},
    {"size minus one", {"-d", "-1", "-t", "abc"}, {"@"}, "", "FMOSize too low\n", -1},
    {"size most negative", {"-d", "-2147483648", "-t", "abc"}, {"@"}, "", "FMOSize too low\n", -1},
    {"size past object", {"-d", "100000", "-t", "abc"}, {"-b", "@"}, "", "FMOSize too high\n", -1},
    {"size largest", {"-d", "2147483647", "-t", "abc"}, {"@"}, "", "FMOSize too high\n", -1},
    {"object of two bytes", {"-d", "9", "-s", "2"}, {"@"}, "", "FMOSize too low\n", -1,
     StdoutTo::kCapture, On::kPosix},
    {"object of four bytes", {"-d", "9", "-s", "4"}, {"@"}, "", "FMOSize too high\n", -1,
     StdoutTo::kCapture, On::kPosix},
    {"empty object", {"-s", "0"}, {"@"}, "", "FMOSize too low\n", -1, StdoutTo::kCapture, On::kPosix},

    // Standard output that refuses the payload.
    {"full stdout", {"-t", "A"}, {"@"}, "", "FMO size:5\nWrite to stdout Failed\n", -1, StdoutTo::kFull},
    {"full stdout fullsize", {"-f", "78:1048576"}, {"-b", "@"}, "", "FMO size:1048580\nWrite to stdout Failed\n",
     -1, StdoutTo::kFull},
    {"closed stdout", {"-t", "A"}, {"@"}, "", "FMO size:5\nWrite to stdout Failed\n", -1, StdoutTo::kClosed},
    {"closed stdout nothing to write", {"-x", "0041"}, {"@"}, "", "FMO size:6\n", 0, StdoutTo::kClosed},

    // Windows' own kinds of object and sections.
    {"name of an event", {"-k", "event"}, {"@"}, "", "OpenFileMapping Failed\n", -1, StdoutTo::kCapture,
     On::kWindows},
    {"name of a mutex", {"-k", "mutex"}, {"@"}, "", "OpenFileMapping Failed\n", -1, StdoutTo::kCapture,
     On::kWindows},
    {"read-only section", {"-r", "-s", "4096"}, {"@"}, "", "FMOSize too low\n", -1, StdoutTo::kCapture,
     On::kWindows},
    {"size past committed pages", {"-s", "65536", "-c", "4096", "-d", "8192", "-t", "abc"}, {"@"}, "",
     "FMOSize too high\n", -1, StdoutTo::kCapture, On::kWindows},
    {"size within committed pages", {"-s", "65536", "-c", "4096", "-d", "4096", "-f", "41:4092"}, {"-b", "@"},
     std::string(4092, 'A'), "FMO size:4096\n", 0, StdoutTo::kCapture, On::kWindows},
};

std::string own_block_name(const char* label)
{
    // Its own names for each run, so that runs side by side do not meet.
    static const std::string stem = "shmpeek-e2e-" + std::to_string(std::random_device{}()) + "-";
    return stem + case_name(label);
}

class E2eTest : public testing::TestWithParam<E2eCase> {};

TEST_P(E2eTest, StreamsAndStatus)
{
    const E2eCase& c = GetParam();
    if ((c.on == On::kPosix && kWindows) || (c.on == On::kWindows && !kWindows))
        GTEST_SKIP() << "not a case on this platform";

    std::string name = c.name ? c.name : "@";
    if (auto at = name.find('@'); at != std::string::npos)
        name.replace(at, 1, own_block_name(c.label));
    std::vector<std::string> argv;
    if (!c.block.empty() || c.name) {
        argv.push_back(program_path(kWindows ? "fmomake.exe" : "fmomake"));
        argv.insert(argv.end(), c.block.begin(), c.block.end());
        argv.push_back("--");
        argv.push_back(name);
    }
    argv.push_back(program_path(kWindows ? "shmpeek.exe" : "shmpeek"));
    for (const std::string& arg : c.args)
        argv.push_back(arg == "@" ? name : arg);

    ProcessResult result = run_process(argv, c.stdout_to);

    std::string err = c.err;
    if (kWindows) {
        for (std::size_t at = 0; (at = err.find('\n', at)) != std::string::npos; at += 2)
            err.replace(at, 1, "\r\n");
    }
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, c.status == -1 ? failure_status() : c.status);
}

INSTANTIATE_TEST_SUITE_P(Runs, E2eTest, testing::ValuesIn(kCases), CaseName());

} // namespace
