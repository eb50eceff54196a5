#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

// An open FMO, as each platform holds it. extent is the FMO's size when it
// was opened; nothing past it is ever read.
struct FmoMapping {
#ifdef _WIN32
    HANDLE handle = NULL;
    const unsigned char* view = nullptr; // read-only, extent bytes readable
#else
    int fd = -1; // read-only; the bytes are read with pread, never mapped
#endif
    std::uint64_t extent = 0;
};

// Opens the FMO called fmoname for reading only, never creating it. On
// failure the message is on err and nothing is held.
bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err);

// Releases what open_fmo acquired, in reverse order.
void close_fmo(FmoMapping& fmo);

// Reads up to n bytes at offset into buf and gives how many of them the FMO
// holds there now: fewer than n means it ends there (its creator may have cut
// it short since it was opened). Never reads past the extent.
std::size_t read_fmo(const FmoMapping& fmo, std::uint64_t offset, unsigned char* buf, std::size_t n);
