#pragma once

// The only three statuses the program ends with; -1 shows as 255 to a POSIX
// shell and as 0xFFFFFFFF on Windows.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitUsage = 1,
    kExitFailure = -1,
};
