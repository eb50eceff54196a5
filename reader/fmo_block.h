#pragma once

#include <cstdio>

#include "reader/fmo_mapping.h"

// The block an FMO holds: a signed 32-bit little-endian size that counts the
// whole block, itself included, then the payload.
//
// Checks the declared size against the FMO's extent, reports it on err and
// writes the payload to out_fd: up to the first zero byte, or every declared
// byte when fullsize is set. Borrows fmo and reads it only through read_fmo.
// Failures are reported on err.
bool dump_payload(const FmoMapping& fmo, bool fullsize, int out_fd, std::FILE* err);
