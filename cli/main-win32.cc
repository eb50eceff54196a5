// On Windows the command line is read as wide characters, as the console
// typed it, so that a name reaches OpenFileMappingW exactly; the ANSI code
// page would turn every character it lacks into '?', the name of another
// block. Each argument goes on as UTF-8.

#include <string>
#include <vector>
#include <windows.h>

#include "cli/entry.h"

namespace {

// An argument that UTF-8 cannot carry exactly (an unpaired surrogate) goes
// on as a byte that no UTF-8 text holds: it is never the option, and a name
// made of it is refused when the FMO is opened, never replaced.
std::string to_utf8(const wchar_t* arg)
{
    int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, arg, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return "\xff";
    std::string utf8(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, arg, -1, utf8.data(), size, nullptr, nullptr) != size)
        return "\xff";
    utf8.pop_back(); // the terminating zero
    return utf8;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(to_utf8(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& arg : args)
        pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    return shmpeek_main(argc, pointers.data());
}
