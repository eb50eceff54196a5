#include "cli/run_dump.h"

#include "reader/fmo_block.h"
#include "reader/fmo_mapping.h"

bool run_dump(const DumpOptions& options, int out_fd, std::FILE* err)
{
    FmoMapping fmo;
    if (!open_fmo(options.fmoname, fmo, err))
        return false;
    bool dumped = dump_payload(fmo, options.fullsize, out_fd, err);
    close_fmo(fmo);
    return dumped;
}
