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

    // Cuts the FMO short after it was opened, as a creator may; its extent
    // stays what it was. Only POSIX objects can shrink.
    static constexpr bool kCanShrink =
#ifdef _WIN32
        false;
#else
        true;
#endif
    void cut_to(std::size_t size);

private:
    FmoMapping fmo_;
    unsigned char* storage_ = nullptr;
};
