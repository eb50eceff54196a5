#include "support/memory_fmo.h"

#include <cstring>
#include <stdexcept>

MemoryFmo::MemoryFmo(const std::string& bytes)
{
    // Storage of exactly the extent: nothing past it belongs to the FMO.
    storage_ = new unsigned char[bytes.empty() ? 1 : bytes.size()];
    std::memcpy(storage_, bytes.data(), bytes.size());
    fmo_.view = storage_;
    fmo_.extent = bytes.size();
}

MemoryFmo::~MemoryFmo()
{
    delete[] storage_;
}

void MemoryFmo::replace(const std::string&)
{
    throw std::logic_error("a Windows section never changes its size");
}
