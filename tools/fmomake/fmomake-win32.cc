// fmomake on Windows: the block is a named section, on the paging file or
// backed by a file. It lives only while a handle to it is open, so fmomake
// holds it until the command has ended. Names are taken and given as wide
// characters, exactly.

#include "fmomake.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include <sddl.h>

#include "wide_text.h"
#include "windows_command_line.h"
#include "windows_run_command.h"

namespace {

// The file behind a section, sized to hold it; INVALID_HANDLE_VALUE, the
// paging file, where none is asked for.
bool open_backing(const NewBlock& block, HANDLE& file)
{
    file = INVALID_HANDLE_VALUE;
    if (!block.backing_file)
        return true;
    file = CreateFileW(wtf8_to_wide(block.backing_file).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(block.object_size);
    if (file == INVALID_HANDLE_VALUE || !SetFilePointerEx(file, size, NULL, FILE_BEGIN) || !SetEndOfFile(file)) {
        std::fprintf(stderr, "fmomake: cannot make %s (error %lu)\n", block.backing_file, GetLastError());
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return false;
    }
    return true;
}

// Gives the object's handle, or NULL with the status to end with in failed.
HANDLE make_object(const NewBlock& block, int& failed)
{
    failed = kCreatorFailed;
    // Everyone may query the section and map it for reading, nothing more;
    // its creator's own handle keeps every right.
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (block.grant_read_only &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x0005;;;WD)", SDDL_REVISION_1, &descriptor,
                                                              NULL)) {
        std::fprintf(stderr, "fmomake: no security descriptor (error %lu)\n", GetLastError());
        return NULL;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};

    std::wstring name = wtf8_to_wide(block.name);
    HANDLE handle = NULL;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (std::strcmp(block.kind, "event") == 0)
        handle = CreateEventW(NULL, TRUE, FALSE, name.c_str());
    else if (std::strcmp(block.kind, "mutex") == 0)
        handle = CreateMutexW(NULL, FALSE, name.c_str());
    else if (std::strcmp(block.kind, "mapping") == 0 && open_backing(block, file)) {
        DWORD protect = block.read_only ? PAGE_READONLY : PAGE_READWRITE;
        if (block.reserve)
            protect |= SEC_RESERVE;
        auto size = static_cast<unsigned long long>(block.object_size);
        SetLastError(ERROR_SUCCESS); // making the file anew may have left ERROR_ALREADY_EXISTS
        handle = CreateFileMappingW(file, descriptor ? &security : NULL, protect, static_cast<DWORD>(size >> 32),
                                    static_cast<DWORD>(size), name.c_str());
    } else if (std::strcmp(block.kind, "mapping") != 0) {
        std::fprintf(stderr, "fmomake: unknown kind %s\n", block.kind);
    }
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file); // the section holds the file from now on
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

// Removes the file behind the section once nothing holds it any more.
void remove_backing(const NewBlock& block)
{
    if (block.backing_file)
        DeleteFileW(wtf8_to_wide(block.backing_file).c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(wide_to_wtf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& arg : args)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return fmomake_main(argc, pointers.data());
}

int hold_block_and_run(const NewBlock& block, char** command)
{
    int failed = 0;
    HANDLE section = make_object(block, failed);
    if (section == NULL) {
        remove_backing(block);
        return failed;
    }

    std::vector<std::string> args;
    for (char** arg = command; *arg; ++arg)
        args.push_back(*arg);

    // The command gets fmomake's own standard handles; the block's handle is
    // not inheritable, so it never holds a writable one.
    DWORD status = 0;
    bool ran = run_command(windows_command_line(args), GetStdHandle(STD_INPUT_HANDLE),
                           GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE), status);
    DWORD error = GetLastError();
    CloseHandle(section);
    remove_backing(block);
    if (!ran) {
        std::fprintf(stderr, "fmomake: cannot run %s (error %lu)\n", command[0], error);
        return kCreatorFailed;
    }
    return static_cast<int>(status);
}
