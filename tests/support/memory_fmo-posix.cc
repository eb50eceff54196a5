#include "support/memory_fmo.h"

#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

MemoryFmo::MemoryFmo(const std::string& bytes)
{
    int fd = memfd_create("shmpeek-test-fmo", 0);
    if (fd < 0)
        throw std::runtime_error("memfd_create failed");
    if (!bytes.empty() && pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        close(fd);
        throw std::runtime_error("cannot fill the memory FMO");
    }
    fmo_.fd = fd;
    fmo_.extent = bytes.size();
}

MemoryFmo::~MemoryFmo()
{
    close(fmo_.fd);
}

void MemoryFmo::replace(const std::string& bytes)
{
    if (ftruncate(fmo_.fd, static_cast<off_t>(bytes.size())) != 0 ||
        (!bytes.empty() && pwrite(fmo_.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())))
        throw std::runtime_error("cannot change the memory FMO");
}
