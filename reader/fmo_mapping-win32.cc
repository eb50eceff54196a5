// The FMO as a Windows named file mapping.

#include "reader/fmo_mapping.h"

#include <string>

namespace {

bool fail(const char* message, std::FILE* err)
{
    std::fputs(message, err);
    return false;
}

// The name as OpenFileMappingW takes it. A name that is no exact UTF-8 text
// has no exact wide form: it is refused, never replaced by another name.
bool to_wide(const char* fmoname, std::wstring& wide)
{
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, fmoname, -1, nullptr, 0);
    if (size <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, fmoname, -1, wide.data(), size) != size)
        return false;
    wide.pop_back(); // the terminating zero
    return true;
}

// A section may be reserved with only some of its pages committed, and
// touching a reserved page faults. The view's first region tells how much
// of it can be read.
std::uint64_t readable_extent(const void* view)
{
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(view, &region, sizeof region) != sizeof region || region.State != MEM_COMMIT)
        return 0;
    return region.RegionSize;
}

// Copies n bytes of this process's own memory, or fails where a plain copy
// would fault.
bool copy_or_fail(const unsigned char* from, unsigned char* to, std::size_t n)
{
    SIZE_T copied = 0;
    return ReadProcessMemory(GetCurrentProcess(), from, to, n, &copied) && copied == n;
}

} // namespace

bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err)
{
    std::wstring name;
    HANDLE handle = to_wide(fmoname, name) ? OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()) : NULL;
    if (handle == NULL)
        return fail("OpenFileMapping Failed\n", err);

    void* view = MapViewOfFile(handle, FILE_MAP_READ, 0, 0, 0);
    if (view == NULL) {
        CloseHandle(handle);
        return fail("MapViewOfFile Failed\n", err);
    }
    fmo.handle = handle;
    fmo.view = static_cast<const unsigned char*>(view);
    fmo.extent = readable_extent(view);
    return true;
}

void close_fmo(FmoMapping& fmo)
{
    UnmapViewOfFile(fmo.view);
    CloseHandle(fmo.handle);
    fmo = FmoMapping{};
}

std::size_t read_fmo(const FmoMapping& fmo, std::uint64_t offset, unsigned char* buf, std::size_t n)
{
    // A section never shrinks, but a page of it can stop being readable: the
    // file behind it cut short or on storage that fails (EXCEPTION_IN_PAGE_ERROR).
    // Such a page ends the FMO where it stands, with no exception handler.
    if (offset >= fmo.extent)
        return 0;
    if (n > fmo.extent - offset)
        n = static_cast<std::size_t>(fmo.extent - offset);
    const unsigned char* from = fmo.view + offset;
    if (copy_or_fail(from, buf, n))
        return n;

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::size_t page = system.dwPageSize;
    std::size_t got = 0;
    while (got < n) {
        std::size_t to_page_end = page - reinterpret_cast<std::uintptr_t>(from + got) % page;
        std::size_t part = to_page_end < n - got ? to_page_end : n - got;
        if (!copy_or_fail(from + got, buf + got, part))
            break;
        got += part;
    }
    return got;
}
