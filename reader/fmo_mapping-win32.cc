// The FMO as a Windows named file mapping.

#include "reader/fmo_mapping.h"

#include <string.h>

namespace {

bool fail(const char* message, std::FILE* err)
{
    std::fputs(message, err);
    return false;
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

} // namespace

bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err)
{
    HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, fmoname);
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
    // A mapped section never shrinks, so the extent holds for the whole run.
    if (offset >= fmo.extent)
        return 0;
    if (n > fmo.extent - offset)
        n = static_cast<std::size_t>(fmo.extent - offset);
    memcpy(buf, fmo.view + offset, n);
    return n;
}
