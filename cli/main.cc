#include <cstdio>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/run_dump.h"

int main(int argc, char** argv)
{
    auto options = parse_command_line(argc, argv);
    if (!options) {
        print_usage(stderr);
        return kExitUsage;
    }
    int status = run_dump(*options, fileno(stdout), stderr) ? kExitSuccess : kExitFailure;

    // The payload bypasses stdio, but whatever stdio holds must still get
    // out, and a failure to get it out is a failure of the run.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (status == kExitSuccess)
            std::fputs("Write to stdout Failed\n", stderr);
        status = kExitFailure;
    }
    return status;
}
