#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An open FMO: the platform's handle for it and a read-only view of all of it.
// extent is how many bytes may be read from view; nothing past it is touched.
struct FmoMapping {
    std::intptr_t handle = 0;
    const unsigned char* view = nullptr;
    std::size_t extent = 0;
};

// Opens the FMO called fmoname for reading only and maps all of it. On failure
// the message is on err and nothing is held.
bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err);

// Unmaps the view, then closes the handle.
void close_fmo(FmoMapping& fmo);

// Copies n bytes from src, which lies inside a view, to dst. False when the
// FMO was cut short under the copy, so that those pages are gone.
bool copy_from_view(unsigned char* dst, const unsigned char* src, std::size_t n);
