#pragma once

#include <cstdio>

#include "cli/command_line.h"

// Opens the FMO, dumps it to out_fd and releases it. Messages go to err.
bool run_dump(const DumpOptions& options, int out_fd, std::FILE* err);
