#pragma once

#include <cstddef>

// Standard output as a descriptor, written without the stdio buffer so that
// large blocks go out in few calls and every failure is seen.

// Readies fd for the payload: every byte passes unchanged (no LF to CR LF
// translation), and a refused write comes back as a failure.
void prepare_output(int fd);

// Writes all n bytes, resuming after short writes and interruptions.
bool write_all(int fd, const unsigned char* buf, std::size_t n);
