#pragma once

#include <cstddef>
#include <string>

#include "reader/fmo_mapping.h"

// An FMO of exactly the given bytes, held by this process, for the block
// writer's tables: on POSIX an anonymous memory file read through its
// descriptor, on Windows a view into storage of exactly that size.
class MemoryFmo {
public:
    explicit MemoryFmo(const std::string& bytes);
    ~MemoryFmo();
    MemoryFmo(const MemoryFmo&) = delete;
    MemoryFmo& operator=(const MemoryFmo&) = delete;

    const FmoMapping& fmo() const { return fmo_; }

    // Gives the FMO new bytes after it was opened, as a creator may: fewer
    // (cut short) or more (grown); its extent stays what it was. Only POSIX
    // objects can change their size.
    static constexpr bool kCanResize =
#ifdef _WIN32
        false;
#else
        true;
#endif
    void replace(const std::string& bytes);

private:
    FmoMapping fmo_;
    unsigned char* storage_ = nullptr;
};
