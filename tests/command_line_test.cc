#include "cli/command_line.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"

namespace {

struct ParseCase {
    const char* label;
    std::vector<const char*> args; // after the program's own name
    bool usage;
    bool fullsize;
    const char* fmoname;
};

void PrintTo(const ParseCase& row, std::ostream* os) { *os << row.label; }

const ParseCase kParseCases[] = {
    {"no argument", {}, true, false, nullptr},
    {"lone option", {"-b"}, true, false, nullptr},
    {"plain name", {"Name"}, false, false, "Name"},
    {"option and name", {"-b", "Name"}, false, true, "Name"},
    {"option names a block called -b", {"-b", "-b"}, false, true, "-b"},
    {"trailing option is an ignored extra", {"Name", "-b"}, false, false, "Name"},
    {"upper case is a name", {"-B", "Name"}, false, false, "-B"},
    {"option with a suffix is a name", {"-bx", "Name"}, false, false, "-bx"},
    {"extras after the name are ignored", {"-b", "Name", "extra"}, false, true, "Name"},
    {"empty name is passed on", {""}, false, false, ""},
    {"empty name after the option", {"-b", ""}, false, true, ""},
    {"lone dash is a name", {"-"}, false, false, "-"},
    {"double dash is a name", {"--", "Name"}, false, false, "--"},
};

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, GivesOptionsOrUsage)
{
    const ParseCase& c = GetParam();
    std::vector<const char*> argv{"shmpeek"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back(nullptr);

    auto options = parse_command_line(static_cast<int>(argv.size() - 1), argv.data());
    ASSERT_EQ(!options, c.usage);
    if (c.usage)
        return;
    EXPECT_EQ(options->fullsize, c.fullsize);
    // The very argument, not a copy of it.
    EXPECT_EQ(options->fmoname, argv[c.fullsize ? 2 : 1]);
    EXPECT_STREQ(options->fmoname, c.fmoname);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ParseTest, testing::ValuesIn(kParseCases), CaseName());

TEST(Usage, IsTheThreeLines)
{
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    print_usage(err);
    std::rewind(err);
    std::string text;
    for (int ch; (ch = std::fgetc(err)) != EOF;)
        text += static_cast<char>(ch);
    std::fclose(err);
    EXPECT_EQ(text, "shmpeek v0.3\n"
                    "usage:shmpeek [-b] fmoname\n"
                    "  -b:dump fullsize (don't terminate at 0x00)\n");
}

} // namespace
