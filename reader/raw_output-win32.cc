#include "reader/raw_output.h"

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdlib.h>

namespace {

// With no standard output or error at all, the runtime would take a write
// to it for a programming error and end the process; it is a failed write
// here.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t)
{
}

} // namespace

void start_output()
{
    // Windows has no SIGPIPE: a reader that went away fails the write.
    _set_invalid_parameter_handler(ignore_invalid_parameter);
}

void prepare_output(int fd)
{
    _setmode(fd, _O_BINARY);
}

bool write_all(int fd, const unsigned char* buf, std::size_t n)
{
    while (n > 0) {
        unsigned int part = n > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(n);
        int written = _write(fd, buf, part);
        if (written <= 0)
            return false;
        buf += written;
        n -= static_cast<std::size_t>(written);
    }
    return true;
}
