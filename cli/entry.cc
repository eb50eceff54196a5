#include "cli/entry.h"

#include <cstdio>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/run_dump.h"
#include "reader/raw_output.h"

int shmpeek_main(int argc, const char* const* argv)
{
    start_output();
    auto options = parse_command_line(argc, argv);
    if (!options) {
        print_usage(stderr);
        return kExitUsage;
    }
    // The payload goes to the descriptor, never through stdio's stdout, and
    // every write of it is checked there.
    return run_dump(*options, fileno(stdout), stderr) ? kExitSuccess : kExitFailure;
}
