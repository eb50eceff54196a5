// Runs the built shmpeek as a user would, against blocks that fmomake holds
// while it runs, and checks every byte of both streams and the status.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/own_name.h"
#include "support/run_process.h"

namespace {

using namespace std::string_literals;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

enum class On { kBoth, kPosix, kWindows };

// fmomake's status when the name it was to create is taken already.
constexpr long long kNameTaken = 124;

struct E2eCase {
    const char* label;
    std::vector<std::string> block{}; // fmomake's options; empty: no block is made
    std::vector<std::string> args{};  // shmpeek's arguments; "@" stands for the block's name
    std::string out{};
    std::string err{};                // each "\n" goes out as CR LF on Windows
    int status = 0;                   // 0, 1 or -1
    StdoutTo stdout_to = StdoutTo::kCapture;
    On on = On::kBoth;
    const char* name = nullptr;     // the block's name where "@" is one of this run's own; else just that
    const char* twin = nullptr;     // another block, held at the same time, named so ("@" likewise)
};

void PrintTo(const E2eCase& row, std::ostream* os) { *os << row.label; }

const std::string kUsage = "shmpeek v0.3\n"
                           "usage:shmpeek [-b] fmoname\n"
                           "  -b:dump fullsize (don't terminate at 0x00)\n";
const std::string kMiB(1 << 20, 'x');

const E2eCase kCases[] = {
    // The command line.
    {.label = "no argument", .err = kUsage, .status = 1},
    {.label = "lone option", .args = {"-b"}, .err = kUsage, .status = 1},
    {.label = "option names a block called -b", .block = {"-x", "61620063"}, .args = {"-b", "-b"}, .out = "ab\0c"s,
     .err = "FMO size:8\n", .name = "-b"},
    {.label = "trailing option ignored", .block = {"-x", "61620063"}, .args = {"@", "-b"}, .out = "ab",
     .err = "FMO size:8\n"},
    {.label = "extra after name ignored", .block = {"-x", "61620063"}, .args = {"-b", "@", "extra"}, .out = "ab\0c"s,
     .err = "FMO size:8\n"},
    // A first argument that only begins like the option is the name, and
    // what follows it is ignored; blocks called -B or -bx may belong to
    // somebody else, so these are this run's own names beginning so.
    {.label = "upper case option is a name", .block = {"-t", "abc"}, .args = {"@", "no-such-block"}, .out = "abc",
     .err = "FMO size:7\n", .name = "-B@"},
    {.label = "option with suffix is a name", .block = {"-t", "abc"}, .args = {"@", "no-such-block"}, .out = "abc",
     .err = "FMO size:7\n", .name = "-bx@"},

    // Names.
    {.label = "missing name", .args = {"@"}, .err = "OpenFileMapping Failed\n", .status = -1},
    {.label = "missing name fullsize", .args = {"-b", "@"}, .err = "OpenFileMapping Failed\n", .status = -1},
    {.label = "empty name", .args = {""}, .err = "OpenFileMapping Failed\n", .status = -1},
    {.label = "name with slash", .args = {"no/such/block"}, .err = "OpenFileMapping Failed\n", .status = -1},
    {.label = "local namespace name", .block = {"-t", "local"}, .args = {"@"}, .out = "local", .err = "FMO size:9\n",
     .name = "Local\\@"},
    {.label = "global namespace name", .block = {"-t", "global"}, .args = {"-b", "@"}, .out = "global",
     .err = "FMO size:10\n", .name = "Global\\@"},

    // Blocks.
    {.label = "one byte", .block = {"-t", "A"}, .args = {"@"}, .out = "A", .err = "FMO size:5\n"},
    {.label = "zero as last payload byte", .block = {"-x", "616200"}, .args = {"@"}, .out = "ab",
     .err = "FMO size:7\n"},
    {.label = "text stops at zero", .block = {"-x", "6162006364"}, .args = {"@"}, .out = "ab", .err = "FMO size:9\n"},
    {.label = "fullsize keeps zero", .block = {"-x", "6162006364"}, .args = {"-b", "@"}, .out = "ab\0cd"s,
     .err = "FMO size:9\n"},
    {.label = "zero first byte", .block = {"-x", "00616263"}, .args = {"@"}, .err = "FMO size:8\n"},
    {.label = "control bytes unchanged", .block = {"-x", "610a0d1a0a62"}, .args = {"@"}, .out = "a\n\r\x1a\nb",
     .err = "FMO size:10\n"},
    {.label = "control bytes unchanged fullsize", .block = {"-x", "0a1a000d"}, .args = {"-b", "@"},
     .out = "\n\x1a\0\r"s, .err = "FMO size:8\n"},
    {.label = "bytes past declared size", .block = {"-d", "6", "-t", "abcdef"}, .args = {"@"}, .out = "ab",
     .err = "FMO size:6\n"},
    {.label = "bytes past declared size fullsize", .block = {"-d", "6", "-t", "abcdef"}, .args = {"-b", "@"},
     .out = "ab", .err = "FMO size:6\n"},
    {.label = "one MiB fullsize", .block = {"-f", "78:1048576"}, .args = {"-b", "@"}, .out = kMiB,
     .err = "FMO size:1048580\n"},
    {.label = "one MiB text", .block = {"-f", "78:1048576"}, .args = {"@"}, .out = kMiB, .err = "FMO size:1048580\n"},
    {.label = "size four", .block = {"-d", "4", "-t", "abc"}, .args = {"@"}, .err = "FMOSize too low\n",
     .status = -1},
    {.label = "size zero", .block = {"-d", "0", "-t", "abc"}, .args = {"-b", "@"}, .err = "FMOSize too low\n",
     .status = -1},
    {.label = "size minus one", .block = {"-d", "-1", "-t", "abc"}, .args = {"@"}, .err = "FMOSize too low\n",
     .status = -1},
    {.label = "size most negative", .block = {"-d", "-2147483648", "-t", "abc"}, .args = {"@"},
     .err = "FMOSize too low\n", .status = -1},
    {.label = "size past object", .block = {"-d", "100000", "-t", "abc"}, .args = {"-b", "@"},
     .err = "FMOSize too high\n", .status = -1},
    {.label = "size largest", .block = {"-d", "2147483647", "-t", "abc"}, .args = {"@"}, .err = "FMOSize too high\n",
     .status = -1},
    {.label = "object of two bytes", .block = {"-d", "9", "-s", "2"}, .args = {"@"}, .err = "FMOSize too low\n",
     .status = -1, .on = On::kPosix},
    {.label = "object of four bytes", .block = {"-d", "9", "-s", "4"}, .args = {"@"}, .err = "FMOSize too high\n",
     .status = -1, .on = On::kPosix},
    {.label = "empty object", .block = {"-s", "0"}, .args = {"@"}, .err = "FMOSize too low\n", .status = -1,
     .on = On::kPosix},

    // Standard output that refuses the payload.
    {.label = "full stdout", .block = {"-t", "A"}, .args = {"@"}, .err = "FMO size:5\nWrite to stdout Failed\n",
     .status = -1, .stdout_to = StdoutTo::kFull},
    {.label = "full stdout fullsize", .block = {"-f", "78:1048576"}, .args = {"-b", "@"},
     .err = "FMO size:1048580\nWrite to stdout Failed\n", .status = -1, .stdout_to = StdoutTo::kFull},
    {.label = "closed stdout", .block = {"-t", "A"}, .args = {"@"}, .err = "FMO size:5\nWrite to stdout Failed\n",
     .status = -1, .stdout_to = StdoutTo::kClosed},
    {.label = "closed stdout nothing to write", .block = {"-x", "0041"}, .args = {"@"}, .err = "FMO size:6\n",
     .stdout_to = StdoutTo::kClosed},

    // Windows' own kinds of object and sections.
    {.label = "name of an event", .block = {"-k", "event"}, .args = {"@"}, .err = "OpenFileMapping Failed\n",
     .status = -1, .on = On::kWindows},
    {.label = "name of a mutex", .block = {"-k", "mutex"}, .args = {"@"}, .err = "OpenFileMapping Failed\n",
     .status = -1, .on = On::kWindows},
    {.label = "read-only section", .block = {"-r", "-s", "4096"}, .args = {"@"}, .err = "FMOSize too low\n",
     .status = -1, .on = On::kWindows},
    {.label = "size past committed pages", .block = {"-s", "65536", "-c", "4096", "-d", "8192", "-t", "abc"},
     .args = {"@"}, .err = "FMOSize too high\n", .status = -1, .on = On::kWindows},
    {.label = "size within committed pages", .block = {"-s", "65536", "-c", "4096", "-d", "4096", "-f", "41:4092"},
     .args = {"-b", "@"}, .out = std::string(4092, 'A'), .err = "FMO size:4096\n", .on = On::kWindows},
    {.label = "reserved section with nothing committed", .block = {"-s", "65536", "-c", "0"}, .args = {"-b", "@"},
     .err = "FMOSize too low\n", .status = -1, .on = On::kWindows},
    {.label = "section others may only read", .block = {"-g", "-t", "granted"}, .args = {"@"}, .out = "granted",
     .err = "FMO size:11\n", .on = On::kWindows},

    // Names outside the ANSI code page, as the console types them. The twin
    // is the name with every character the code page lacks made '?': it must
    // never be the block that is dumped.
    {.label = "name inside the ANSI code page", .block = {"-t", "latin"}, .args = {"@"}, .out = "latin",
     .err = "FMO size:9\n", .on = On::kWindows, .name = "Local\\@-caf\u00e9"},
    {.label = "cyrillic name", .block = {"-t", "wide"}, .args = {"@"}, .out = "wide", .err = "FMO size:8\n",
     .on = On::kWindows, .name = "Local\\@-\u0431\u043b\u043e\u043a"},
    {.label = "cyrillic name beside its lossy twin", .block = {"-t", "wide"}, .args = {"-b", "@"}, .out = "wide",
     .err = "FMO size:8\n", .on = On::kWindows, .name = "Local\\@-\u0431\u043b\u043e\u043a",
     .twin = "Local\\@-????"},
    {.label = "name beyond the basic plane", .block = {"-t", "astral"}, .args = {"@"}, .out = "astral",
     .err = "FMO size:10\n", .on = On::kWindows, .name = "Local\\@-\U0001F600"},
    // An unpaired surrogate (here in WTF-8) has no UTF-8 form: refused.
    {.label = "unpaired surrogate refused", .args = {"@"}, .err = "OpenFileMapping Failed\n", .status = -1,
     .on = On::kWindows, .name = "Local\\@-\xed\xa0\x80", .twin = "Local\\@-?"},
    {.label = "unpaired surrogate as the option's name refused", .args = {"-b", "@"},
     .err = "OpenFileMapping Failed\n", .status = -1, .on = On::kWindows, .name = "Local\\@-\xed\xb0\x80",
     .twin = "Local\\@-?"},
};

class E2eTest : public testing::TestWithParam<E2eCase> {};

TEST_P(E2eTest, StreamsAndStatus)
{
    const E2eCase& c = GetParam();
    if ((c.on == On::kPosix && kWindows) || (c.on == On::kWindows && !kWindows))
        GTEST_SKIP() << "not a case on this platform";

    if (c.stdout_to == StdoutTo::kFull && !has_full_device())
        GTEST_SKIP() << "no device that refuses every write: Z:\\dev\\full is Wine's";

    auto own = [&](const char* pattern) {
        std::string name = pattern;
        if (auto at = name.find('@'); at != std::string::npos)
            name.replace(at, 1, own_name("e2e-" + case_name(c.label)));
        return name;
    };
    std::string name = own(c.name ? c.name : "@");
    const std::string fmomake = program_path(kWindows ? "fmomake.exe" : "fmomake");
    std::vector<std::string> argv;
    if (c.twin)
        argv = {fmomake, "-t", "twin", "--", own(c.twin)};
    if (!c.block.empty() || (c.name && !c.twin)) {
        argv.push_back(fmomake);
        argv.insert(argv.end(), c.block.begin(), c.block.end());
        argv.push_back("--");
        argv.push_back(name);
    }
    argv.push_back(program_path(kWindows ? "shmpeek.exe" : "shmpeek"));
    for (const std::string& arg : c.args)
        argv.push_back(arg == "@" ? name : arg);

    ProcessResult result = run_process(argv, c.stdout_to);
    // A fixed name may be held by a run beside this one; then this row has
    // nothing of its own to test.
    if (result.status == kNameTaken && name.find(own_name("")) == std::string::npos)
        GTEST_SKIP() << "the block " << name << " is held by another process";

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
