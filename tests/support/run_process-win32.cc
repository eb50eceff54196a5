#include "support/run_process.h"

#include <stdexcept>
#include <windows.h>

#include "windows_command_line.h"
#include "windows_run_command.h"

namespace {

// An inheritable temporary file, gone when its last handle closes.
HANDLE capture_file()
{
    char dir[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, dir) == 0 || GetTempFileNameA(dir, "shp", 0, path) == 0)
        throw std::runtime_error("no temporary file");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, NULL, TRUE};
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create a temporary file");
    return file;
}

std::string read_back(HANDLE file)
{
    std::string bytes;
    char buf[65536];
    DWORD n = 0;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    while (ReadFile(file, buf, sizeof buf, &n, NULL) && n > 0)
        bytes.append(buf, n);
    CloseHandle(file);
    return bytes;
}

// Wine shows the Linux file system as drive Z:, and /dev/full with it.
HANDLE full_device()
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, NULL, TRUE};
    HANDLE full = CreateFileA("Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, NULL);
    if (full == INVALID_HANDLE_VALUE)
        throw std::runtime_error("no Z:\\dev\\full: not running under Wine?");
    return full;
}

} // namespace

ProcessResult run_process(const std::vector<std::string>& argv, StdoutTo stdout_to)
{
    HANDLE out = capture_file();
    HANDLE err = capture_file();
    HANDLE full = stdout_to == StdoutTo::kFull ? full_device() : NULL;

    HANDLE stdout_handle = stdout_to == StdoutTo::kCapture ? out : full; // NULL: no standard output
    DWORD status = 0;
    if (!run_command(windows_command_line(argv), GetStdHandle(STD_INPUT_HANDLE), stdout_handle, err, status))
        throw std::runtime_error("cannot run " + argv[0]);
    if (full != NULL)
        CloseHandle(full);

    ProcessResult result;
    result.status = status;
    result.out = read_back(out);
    result.err = read_back(err);
    return result;
}

std::string program_path(const std::string& name)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (n == 0 || n == MAX_PATH)
        throw std::runtime_error("cannot find the test's own path");
    std::string dir(self, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

bool has_full_device()
{
    // Wine is told by what its ntdll exports, not by a path that a Windows
    // machine could have too.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

long long failure_status()
{
    return 0xFFFFFFFF;
}
