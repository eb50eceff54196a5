// fmomake on Windows: the block is a named section on the paging file. It
// lives only while a handle to it is open, so fmomake holds it until the
// command has ended.

#include "fmomake.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include <sddl.h>

#include "windows_command_line.h"
#include "windows_run_command.h"

namespace {

// Gives the object's handle, or NULL with the status to end with in failed.
HANDLE make_object(const NewBlock& block, int& failed)
{
    failed = kCreatorFailed;
    // Everyone may query the section and map it for reading, nothing more;
    // its creator's own handle keeps every right.
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (block.grant_read_only &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x0005;;;WD)", SDDL_REVISION_1, &descriptor,
                                                              NULL)) {
        std::fprintf(stderr, "fmomake: no security descriptor (error %lu)\n", GetLastError());
        return NULL;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};

    HANDLE handle = NULL;
    if (std::strcmp(block.kind, "event") == 0)
        handle = CreateEventA(NULL, TRUE, FALSE, block.name);
    else if (std::strcmp(block.kind, "mutex") == 0)
        handle = CreateMutexA(NULL, FALSE, block.name);
    else if (std::strcmp(block.kind, "mapping") == 0) {
        DWORD protect = block.read_only ? PAGE_READONLY : PAGE_READWRITE;
        if (block.reserve)
            protect |= SEC_RESERVE;
        auto size = static_cast<unsigned long long>(block.object_size);
        handle = CreateFileMappingA(INVALID_HANDLE_VALUE, descriptor ? &security : NULL, protect,
                                    static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), block.name);
    } else {
        std::fprintf(stderr, "fmomake: unknown kind %s\n", block.kind);
    }
    DWORD error = GetLastError();
    if (descriptor != NULL)
        LocalFree(descriptor);
    if (handle == NULL || error == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "fmomake: cannot create %s (error %lu)\n", block.name, error);
        if (handle != NULL)
            CloseHandle(handle);
        if (error == ERROR_ALREADY_EXISTS)
            failed = kNameTaken;
        return NULL;
    }
    if (std::strcmp(block.kind, "mapping") != 0 || block.read_only)
        return handle;

    auto* view = static_cast<unsigned char*>(MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0));
    std::size_t filled = block.reserve ? block.committed : block.object_size;
    if (view == NULL ||
        (block.reserve && filled > 0 && VirtualAlloc(view, filled, MEM_COMMIT, PAGE_READWRITE) == NULL)) {
        std::fprintf(stderr, "fmomake: cannot fill %s (error %lu)\n", block.name, GetLastError());
        if (view != NULL)
            UnmapViewOfFile(view);
        CloseHandle(handle);
        return NULL;
    }
    fill_block(block, view, 0, filled);
    UnmapViewOfFile(view);
    return handle;
}

} // namespace

int hold_block_and_run(const NewBlock& block, char** command)
{
    int failed = 0;
    HANDLE section = make_object(block, failed);
    if (section == NULL)
        return failed;

    std::vector<std::string> args;
    for (char** arg = command; *arg; ++arg)
        args.push_back(*arg);

    // The command gets fmomake's own standard handles; the block's handle is
    // not inheritable, so it never holds a writable one.
    DWORD status = 0;
    if (!run_command(windows_command_line(args), GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                     GetStdHandle(STD_ERROR_HANDLE), status)) {
        std::fprintf(stderr, "fmomake: cannot run %s (error %lu)\n", command[0], GetLastError());
        CloseHandle(section);
        return kCreatorFailed;
    }
    CloseHandle(section);
    return static_cast<int>(status);
}
