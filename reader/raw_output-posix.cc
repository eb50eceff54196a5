#include "reader/raw_output.h"

#include <errno.h>
#include <unistd.h>

void prepare_output(int)
{
    // POSIX streams pass every byte unchanged already, and write reports
    // its failures.
}

bool write_all(int fd, const unsigned char* buf, std::size_t n)
{
    while (n > 0) {
        ssize_t written = write(fd, buf, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        buf += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}
