#pragma once

#include <cstddef>

// Standard output as a descriptor, written without the stdio buffer so that
// large blocks go out in few calls and every failure is seen.

// Called once, before anything is written to either stream: a standard
// stream that nobody reads must not end the run before the payload is out.
void start_output();

// Readies fd for the payload: every byte passes unchanged (no LF to CR LF
// translation), and a refused write comes back as a failure.
void prepare_output(int fd);

// Writes all n bytes, resuming after short writes and interruptions. A
// reader that went away ends the process as it would have ended it without
// start_output, if it would have.
bool write_all(int fd, const unsigned char* buf, std::size_t n);
