#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What fmomake is to create: a named block holding a declared size and a
// payload, in an object that may be larger or smaller than the block.
struct NewBlock {
    const char* name = nullptr;
    std::int32_t declared = 0;
    std::string payload;         // explicit payload bytes
    std::size_t fill_count = 0;  // or this many copies of fill_byte
    unsigned char fill_byte = 0;
    std::size_t object_size = 0;
    bool reserve = false;        // Windows: a reserved section, of which
    std::size_t committed = 0;   //   only this much is committed (may be 0)
    bool read_only = false;      // POSIX: mode 0444; Windows: PAGE_READONLY
    bool grant_read_only = false; // Windows: others may open it for reading only
    const char* kind = "mapping"; // Windows: or "event", "mutex" of that name
    const char* backing_file = nullptr; // Windows: a section backed by this file, made anew
};

// Writes the block's bytes [offset, offset + n) to dst; past the block, zeros.
void fill_block(const NewBlock& block, unsigned char* dst, std::size_t offset, std::size_t n);

// The whole of fmomake: parses its arguments (WTF-8 on Windows), then holds
// the block while the command runs. Each platform's entry function calls it.
int fmomake_main(int argc, char** argv);

// Creates the block, runs command while it exists, removes it and returns
// the command's status. Platform code.
int hold_block_and_run(const NewBlock& block, char** command);

// Statuses for fmomake's own failures, apart from any the command returns:
// the name is already taken by somebody else, or anything else went wrong.
constexpr int kNameTaken = 124;
constexpr int kCreatorFailed = 125;
