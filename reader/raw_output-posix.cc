#include "reader/raw_output.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most an unprivileged process may ask for by default (pipe-max-size).
constexpr int kPipeSize = 1 << 20;

// Whether SIGPIPE was at its default when the run began.
bool sigpipe_ends_the_run = false;

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

void start_output()
{
    // A broken standard error must not stop the payload, so SIGPIPE is held
    // off while the run writes; a broken standard output still ends the run
    // with it, as it ends cat. A parent that ignores SIGPIPE gets EPIPE
    // and the message, as from cat.
    struct sigaction old;
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
        std::signal(SIGPIPE, SIG_IGN);
        sigpipe_ends_the_run = true;
    }
}

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
    // A socket with message boundaries takes no message larger than its send
    // buffer: such a write is refused whole (EMSGSIZE), and smaller pieces
    // go through.
    std::size_t piece = n;
    while (n > 0) {
        piece = std::min(piece, n);
        ssize_t written = write(fd, buf, piece);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EMSGSIZE && piece > 1) {
            piece /= 2;
            continue;
        }
        if (written < 0 && errno == EPIPE && sigpipe_ends_the_run) {
            std::signal(SIGPIPE, SIG_DFL);
            raise(SIGPIPE);
            return false; // blocked by the parent: the message, as without it
        }
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
