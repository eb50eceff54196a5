// fmomake: creates a named shared-memory block and runs a command while it
// exists. A test and demo tool for shmpeek.

#include "fmomake.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void usage()
{
    std::fputs("usage: fmomake [-d declared] [-x hex | -t text | -f byte:count] [-s objsize]\n"
               "               [-c committed] [-r] [-g] [-k mapping|event|mutex] [-F file]\n"
               "               [--] name command [arg ...]\n"
               "  -d  declared size (default: 4 + payload length)\n"
               "  -x  payload as hex bytes; -t payload as text; -f count copies of a hex byte\n"
               "  -s  object size (default: 4 + payload length)\n"
               "  -c  Windows: a reserved section with only this many bytes committed\n"
               "  -r  read-only object\n"
               "  -g  Windows: grant other openers read access only\n"
               "  -k  Windows: create an object of another kind under the name\n"
               "  -F  Windows: back the section with this file, made anew and removed at the end\n"
               "status: the command's, or 124 when the name is taken, 125 on other failures\n",
               stderr);
}

bool parse_number(const char* text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 0);
    return errno == 0 && end != text && *end == '\0';
}

bool parse_hex(const char* text, std::string& bytes)
{
    std::size_t len = std::strlen(text);
    if (len % 2 != 0)
        return false;
    for (std::size_t i = 0; i < len; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char* end = nullptr;
        long byte = std::strtol(pair, &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0])))
            return false;
        bytes.push_back(static_cast<char>(byte));
    }
    return true;
}

std::size_t payload_size(const NewBlock& block)
{
    return block.fill_count ? block.fill_count : block.payload.size();
}

} // namespace

void fill_block(const NewBlock& block, unsigned char* dst, std::size_t offset, std::size_t n)
{
    auto declared = static_cast<std::uint32_t>(block.declared);
    const unsigned char prefix[4] = {
        static_cast<unsigned char>(declared), static_cast<unsigned char>(declared >> 8),
        static_cast<unsigned char>(declared >> 16), static_cast<unsigned char>(declared >> 24)};
    std::size_t end = offset + n;
    std::memset(dst, 0, n);
    for (std::size_t at = offset; at < std::min<std::size_t>(end, 4); ++at)
        dst[at - offset] = prefix[at];

    std::size_t payload_end = 4 + payload_size(block);
    std::size_t from = std::max<std::size_t>(offset, 4);
    std::size_t to = std::min(end, payload_end);
    if (from >= to)
        return;
    if (block.fill_count)
        std::memset(dst + (from - offset), block.fill_byte, to - from);
    else
        std::memcpy(dst + (from - offset), block.payload.data() + (from - 4), to - from);
}

int fmomake_main(int argc, char** argv)
{
    NewBlock block;
    long long declared = -1, object_size = -1, committed = 0;
    bool declared_given = false, size_given = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        if (std::strcmp(argv[i], "--") == 0) { // names that begin with '-' follow it
            ++i;
            break;
        }
        char flag = argv[i][1];
        if (argv[i][2] != '\0' || (flag != 'r' && flag != 'g' && i + 1 >= argc)) {
            usage();
            return kCreatorFailed;
        }
        const char* value = flag == 'r' || flag == 'g' ? nullptr : argv[++i];
        bool ok = true;
        switch (flag) {
        case 'd': ok = parse_number(value, declared); declared_given = true; break;
        case 's': ok = parse_number(value, object_size) && object_size >= 0; size_given = true; break;
        case 'c': ok = parse_number(value, committed) && committed >= 0; block.reserve = true; break;
        case 'x': ok = parse_hex(value, block.payload); break;
        case 't': block.payload = value; break;
        case 'f': {
            const char* colon = std::strchr(value, ':');
            long long count = 0;
            std::string byte;
            ok = colon && parse_hex(std::string(value, colon).c_str(), byte) && byte.size() == 1 &&
                 parse_number(colon + 1, count) && count >= 0;
            if (ok) {
                block.fill_byte = static_cast<unsigned char>(byte[0]);
                block.fill_count = static_cast<std::size_t>(count);
            }
            break;
        }
        case 'r': block.read_only = true; break;
        case 'g': block.grant_read_only = true; break;
        case 'k': block.kind = value; break;
        case 'F': block.backing_file = value; break;
        default: ok = false;
        }
        if (!ok) {
            usage();
            return kCreatorFailed;
        }
    }
    if (argc - i < 2) {
        usage();
        return kCreatorFailed;
    }
    block.name = argv[i];
    std::size_t block_size = 4 + payload_size(block);
    block.declared = declared_given ? static_cast<std::int32_t>(declared)
                                    : static_cast<std::int32_t>(block_size);
    block.object_size = size_given ? static_cast<std::size_t>(object_size) : block_size;
    block.committed = static_cast<std::size_t>(committed);
    return hold_block_and_run(block, argv + i + 1);
}
