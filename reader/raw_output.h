#pragma once

#include <cstddef>

// Standard output as a descriptor, written without the stdio buffer so that
// large blocks go out in few calls and every failure is seen.

// Makes fd pass every byte unchanged (no LF to CR LF translation).
void set_binary_mode(int fd);

// Writes all n bytes, resuming after short writes and interruptions.
bool write_all(int fd, const unsigned char* buf, std::size_t n);
