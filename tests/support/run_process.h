#pragma once

#include <string>
#include <vector>

// What a finished program left: its status as the parent sees it (on POSIX
// 0..255, or 128 + the signal; on Windows the 32-bit exit code) and every
// byte it wrote to each stream.
struct ProcessResult {
    long long status = 0;
    std::string out;
    std::string err;
};

enum class StdoutTo {
    kCapture,  // a file read back afterwards
    kClosed,   // no standard output at all
    kFull,     // a device that refuses every write (/dev/full)
};

ProcessResult run_process(const std::vector<std::string>& argv, StdoutTo stdout_to = StdoutTo::kCapture);

// Path of a program built beside the running test.
std::string program_path(const std::string& name);

// Whether StdoutTo::kFull can be had: /dev/full is there on Linux and, as
// Z:\dev\full, under Wine; Windows itself has no device that refuses writes.
bool has_full_device();

// The status a program's -1 shows as to its parent.
long long failure_status();
