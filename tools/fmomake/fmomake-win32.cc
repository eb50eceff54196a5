// fmomake on Windows: the block is a named section on the paging file. It
// lives only while a handle to it is open, so fmomake holds it until the
// command has ended.

#include "fmomake.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

#include "windows_command_line.h"

namespace {

HANDLE make_object(const BlockSpec& spec)
{
    HANDLE handle = NULL;
    if (std::strcmp(spec.kind, "event") == 0)
        handle = CreateEventA(NULL, TRUE, FALSE, spec.name);
    else if (std::strcmp(spec.kind, "mutex") == 0)
        handle = CreateMutexA(NULL, FALSE, spec.name);
    else if (std::strcmp(spec.kind, "mapping") == 0) {
        DWORD protect = spec.read_only ? PAGE_READONLY : PAGE_READWRITE;
        if (spec.committed > 0)
            protect |= SEC_RESERVE;
        auto size = static_cast<unsigned long long>(spec.object_size);
        handle = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, protect, static_cast<DWORD>(size >> 32),
                                    static_cast<DWORD>(size), spec.name);
    } else {
        std::fprintf(stderr, "fmomake: unknown kind %s\n", spec.kind);
        return NULL;
    }
    if (handle == NULL || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "fmomake: cannot create %s (error %lu)\n", spec.name, GetLastError());
        if (handle != NULL)
            CloseHandle(handle);
        return NULL;
    }
    if (std::strcmp(spec.kind, "mapping") != 0 || spec.read_only)
        return handle;

    auto* view = static_cast<unsigned char*>(MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0));
    std::size_t filled = spec.committed > 0 ? spec.committed : spec.object_size;
    if (view == NULL ||
        (spec.committed > 0 && VirtualAlloc(view, spec.committed, MEM_COMMIT, PAGE_READWRITE) == NULL)) {
        std::fprintf(stderr, "fmomake: cannot fill %s (error %lu)\n", spec.name, GetLastError());
        if (view != NULL)
            UnmapViewOfFile(view);
        CloseHandle(handle);
        return NULL;
    }
    fill_block(spec, view, 0, filled);
    UnmapViewOfFile(view);
    return handle;
}

} // namespace

int hold_block_and_run(const BlockSpec& spec, char** command)
{
    HANDLE block = make_object(spec);
    if (block == NULL)
        return kCreatorFailed;

    std::vector<std::string> args;
    for (char** arg = command; *arg; ++arg)
        args.push_back(*arg);
    std::string line = windows_command_line(args);

    // The command gets fmomake's own standard handles; the block's handle is
    // not inheritable, so it never holds a writable one.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        std::fprintf(stderr, "fmomake: cannot run %s (error %lu)\n", command[0], GetLastError());
        CloseHandle(block);
        return kCreatorFailed;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(block);
    return static_cast<int>(status);
}
