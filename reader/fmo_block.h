#pragma once

#include <cstddef>
#include <cstdio>

// The block an FMO holds: a signed 32-bit little-endian size that counts the
// whole block, itself included, then the payload.
//
// Checks the declared size against the extent of the view, reports it on err
// and writes the payload to out_fd: up to the first zero byte, or every
// declared byte when fullsize is set. Failures are reported on err.
bool dump_payload(const unsigned char* view, std::size_t extent, bool fullsize,
                  int out_fd, std::FILE* err);
