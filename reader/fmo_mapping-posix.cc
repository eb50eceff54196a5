// The FMO as a POSIX shared-memory object: shm_open names it, mmap maps it.

#include "reader/fmo_mapping.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(const char* message, std::FILE* err)
{
    std::fputs(message, err);
    return false;
}

// The creator may ftruncate the object while it is copied; touching a page
// past its new end raises SIGBUS. The handler jumps back into the copy only
// for a fault inside the range being copied; any other fault is not ours and
// is left to kill the process as it would without the handler.
sigjmp_buf copy_fault;
const unsigned char* volatile guard_begin = nullptr;
const unsigned char* volatile guard_end = nullptr;

void on_sigbus(int, siginfo_t* info, void*)
{
    auto* addr = static_cast<const unsigned char*>(info->si_addr);
    if (addr >= guard_begin && addr < guard_end)
        siglongjmp(copy_fault, 1);
    signal(SIGBUS, SIG_DFL); // returning re-runs the fault, now fatal
}

} // namespace

bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err)
{
    // O_NONBLOCK keeps a FIFO planted under the name from hanging the open;
    // shm_open itself refuses to follow a symbolic link.
    int fd = shm_open(fmoname, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0)
        return fail("OpenFileMapping Failed\n", err);

    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return fail("OpenFileMapping Failed\n", err);
    }
    if (st.st_size <= 0 || static_cast<uintmax_t>(st.st_size) > SIZE_MAX) {
        close(fd);
        return fail("MapViewOfFile Failed\n", err);
    }
    auto size = static_cast<std::size_t>(st.st_size);
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        close(fd);
        return fail("MapViewOfFile Failed\n", err);
    }
    fmo.handle = fd;
    fmo.view = static_cast<const unsigned char*>(view);
    fmo.extent = size;
    return true;
}

void close_fmo(FmoMapping& fmo)
{
    munmap(const_cast<unsigned char*>(fmo.view), fmo.extent);
    close(static_cast<int>(fmo.handle));
    fmo = FmoMapping{};
}

bool copy_from_view(unsigned char* dst, const unsigned char* src, std::size_t n)
{
    struct sigaction guard {};
    struct sigaction saved {};
    guard.sa_sigaction = on_sigbus;
    guard.sa_flags = SA_SIGINFO | SA_NODEFER; // SA_NODEFER: nothing to unblock after the jump
    sigemptyset(&guard.sa_mask);
    sigaction(SIGBUS, &guard, &saved);

    guard_begin = src;
    guard_end = src + n;
    bool faulted = sigsetjmp(copy_fault, 0) != 0;
    if (!faulted)
        memcpy(dst, src, n);
    guard_begin = nullptr;
    guard_end = nullptr;
    sigaction(SIGBUS, &saved, nullptr);
    return !faulted;
}
