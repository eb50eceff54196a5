#include "cli/command_line.h"

#include <cstring>

std::optional<DumpOptions> parse_command_line(int argc, const char* const* argv)
{
    if (argc < 2)
        return std::nullopt;

    // Only the first argument can be the option, and only as exactly "-b":
    // "-B", "-bx" or a later "-b" are names or ignored extras.
    if (std::strcmp(argv[1], "-b") == 0) {
        if (argc < 3)
            return std::nullopt;
        return DumpOptions{true, argv[2]};
    }
    return DumpOptions{false, argv[1]};
}

void print_usage(std::FILE* err)
{
    std::fputs("shmpeek v0.3\n"
               "usage:shmpeek [-b] fmoname\n"
               "  -b:dump fullsize (don't terminate at 0x00)\n",
               err);
}
