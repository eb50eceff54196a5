#pragma once

// The whole run: parses the arguments (UTF-8 on Windows), dumps the FMO and
// gives the exit status. Each platform's own entry function calls it.
int shmpeek_main(int argc, const char* const* argv);
