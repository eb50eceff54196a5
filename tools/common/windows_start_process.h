#pragma once

#include <string>
#include <windows.h>

// Starts a command line with the given standard handles, inheriting them.
// Wine now and then loses a new process before it has run a single
// instruction of the program (the loader could not set it up on a busy
// machine) and reports ERROR_INTERNAL_ERROR. The program never ran, so
// starting it again cannot repeat any of its effects; any other failure is
// returned as it is.
inline BOOL start_process(const std::string& line, STARTUPINFOA& startup, PROCESS_INFORMATION& process)
{
    const int attempts = 5;
    for (int attempt = 1;; ++attempt) {
        std::string writable = line; // CreateProcessA may write to it
        if (CreateProcessA(NULL, writable.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
            return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == attempts)
            return FALSE;
        Sleep(100 * attempt);
    }
}
