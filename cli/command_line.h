#pragma once

#include <cstdio>
#include <optional>

// The parsed command line. fmoname points into argv: it is passed on as the
// user typed it, never copied, trimmed or prefixed.
struct DumpOptions {
    bool fullsize = false;
    const char* fmoname = nullptr;
};

// Gives the options, or nothing when the command line is incomplete and the
// usage text is due.
std::optional<DumpOptions> parse_command_line(int argc, const char* const* argv);

void print_usage(std::FILE* err);
