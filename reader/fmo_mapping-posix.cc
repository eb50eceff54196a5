// The FMO as a POSIX shared-memory object, read through its descriptor.
// A mapping would fault (SIGBUS) when the creator shrinks the object, and
// reading a sparse object through it allocates the creator's pages; pread
// reports a cut as a short read and reads holes as zeros for free.

#include "reader/fmo_mapping.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(const char* message, std::FILE* err)
{
    std::fputs(message, err);
    return false;
}

} // namespace

bool open_fmo(const char* fmoname, FmoMapping& fmo, std::FILE* err)
{
    // O_NONBLOCK keeps a FIFO planted under the name from hanging the open;
    // shm_open itself refuses to follow a symbolic link. A block under a
    // write lease refuses that open until its holder lets go: wait for it,
    // as cat does.
    int fd = shm_open(fmoname, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0 && errno == EWOULDBLOCK)
        fd = shm_open(fmoname, O_RDONLY, 0);
    if (fd < 0)
        return fail("OpenFileMapping Failed\n", err);
    // Never one of the standard descriptors: with standard output closed, a
    // write meant for it must fail as a write to a closed descriptor.
    if (fd <= 2) {
        int above = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (above < 0)
            return fail("OpenFileMapping Failed\n", err);
        fd = above;
    }

    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return fail("OpenFileMapping Failed\n", err);
    }
    fmo.fd = fd;
    fmo.extent = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void close_fmo(FmoMapping& fmo)
{
    close(fmo.fd);
    fmo = FmoMapping{};
}

std::size_t read_fmo(const FmoMapping& fmo, std::uint64_t offset, unsigned char* buf, std::size_t n)
{
    if (offset >= fmo.extent)
        return 0;
    if (n > fmo.extent - offset)
        n = static_cast<std::size_t>(fmo.extent - offset);
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = pread(fmo.fd, buf + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) // the end of the object, where it is now
            break;
        got += static_cast<std::size_t>(r);
    }
    return got;
}
