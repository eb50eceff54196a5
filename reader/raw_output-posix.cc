#include "reader/raw_output.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most an unprivileged process may ask for by default (pipe-max-size).
constexpr int kPipeSize = 1 << 20;

// A descriptor the parent left non-blocking says "try again" when full:
// wait until it takes more. False if it never will.
bool wait_writable(int fd)
{
    struct pollfd p = {fd, POLLOUT, 0};
    for (;;) {
        int r = poll(&p, 1, -1);
        if (r > 0)
            return (p.revents & POLLOUT) != 0;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

void prepare_output(int fd)
{
    // With a pipe's default 64 KiB, the writer and its reader take turns
    // every 64 KiB; a 1 MiB pipe lets a large dump go out in few turns.
    // Failing to enlarge it costs only speed.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    int size = fcntl(fd, F_GETPIPE_SZ);
    if (size >= 0 && size < kPipeSize)
        fcntl(fd, F_SETPIPE_SZ, kPipeSize);
}

bool write_all(int fd, const unsigned char* buf, std::size_t n)
{
    while (n > 0) {
        ssize_t written = write(fd, buf, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_writable(fd))
                return false;
            continue;
        }
        if (written <= 0)
            return false;
        buf += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}
