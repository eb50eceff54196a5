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
    bool usage = false;
    bool fullsize = false;
    const char* fmoname = nullptr;
};

void PrintTo(const ParseCase& row, std::ostream* os) { *os << row.label; }

const ParseCase kParseCases[] = {
    {.label = "no argument", .args = {}, .usage = true},
    {.label = "lone option", .args = {"-b"}, .usage = true},
    {.label = "plain name", .args = {"Name"}, .fmoname = "Name"},
    {.label = "option and name", .args = {"-b", "Name"}, .fullsize = true, .fmoname = "Name"},
    {.label = "option names a block called -b", .args = {"-b", "-b"}, .fullsize = true, .fmoname = "-b"},
    {.label = "trailing option is an ignored extra", .args = {"Name", "-b"}, .fmoname = "Name"},
    {.label = "upper case is a name", .args = {"-B", "Name"}, .fmoname = "-B"},
    {.label = "option with a suffix is a name", .args = {"-bx", "Name"}, .fmoname = "-bx"},
    {.label = "extras after the name are ignored", .args = {"-b", "Name", "extra"}, .fullsize = true,
     .fmoname = "Name"},
    {.label = "empty name is passed on", .args = {""}, .fmoname = ""},
    {.label = "empty name after the option", .args = {"-b", ""}, .fullsize = true, .fmoname = ""},
    {.label = "lone dash is a name", .args = {"-"}, .fmoname = "-"},
    {.label = "double dash is a name", .args = {"--", "Name"}, .fmoname = "--"},
    {.label = "long help is a name", .args = {"--help"}, .fmoname = "--help"},
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
