#pragma once

#include <string>
#include <windows.h>

#include "wide_text.h"

// Runs a command line (WTF-8) with the given standard handles and waits for
// it, started with CreateProcessW so that every name in it arrives as it was
// given; its exit code goes to status. False, with GetLastError() set, when
// it could not be started.
//
// Wine now and then loses a new process before it has run a single
// instruction of the program (the loader could not set it up on a busy
// machine) and reports ERROR_INTERNAL_ERROR. The program never ran, so
// starting it again cannot repeat any of its effects; any other failure is
// returned as it is.
inline bool run_command(const std::string& line, HANDLE in, HANDLE out, HANDLE err, DWORD& status)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const int attempts = 5;
    for (int attempt = 1;; ++attempt) {
        std::wstring writable = wtf8_to_wide(line); // CreateProcessW may write to it
        if (CreateProcessW(NULL, writable.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
            break;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == attempts)
            return false;
        Sleep(100 * static_cast<DWORD>(attempt));
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
