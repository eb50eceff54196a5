// fmomake on POSIX: the block is a shared-memory object under /dev/shm.

#include "fmomake.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Gives 0, or the status to end with.
int make_object(const NewBlock& block)
{
    // O_EXCL: never take over a block somebody else made under that name.
    int fd = shm_open(block.name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        int taken = errno == EEXIST;
        std::perror("fmomake: shm_open");
        return taken ? kNameTaken : kCreatorFailed;
    }
    bool ok = ftruncate(fd, static_cast<off_t>(block.object_size)) == 0;
    if (ok && block.object_size > 0) {
        void* view = mmap(nullptr, block.object_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ok = view != MAP_FAILED;
        if (ok) {
            fill_block(block, static_cast<unsigned char*>(view), 0, block.object_size);
            munmap(view, block.object_size);
        }
    }
    if (ok && block.read_only)
        ok = fchmod(fd, 0444) == 0;
    else if (ok)
        ok = fchmod(fd, 0644) == 0; // readable by an unprivileged reader too
    if (!ok) {
        std::perror("fmomake: filling the block");
        shm_unlink(block.name);
    }
    // Closed before the command starts, so that it cannot inherit the
    // writable descriptor in place of a closed standard stream.
    close(fd);
    return ok ? 0 : kCreatorFailed;
}

} // namespace

int main(int argc, char** argv)
{
    return fmomake_main(argc, argv);
}

int hold_block_and_run(const NewBlock& block, char** command)
{
    if (block.backing_file) {
        std::fputs("fmomake: -F is for Windows sections\n", stderr);
        return kCreatorFailed;
    }
    if (int failed = make_object(block))
        return failed;

    pid_t pid;
    int status = 0;
    int spawned = posix_spawnp(&pid, command[0], nullptr, nullptr, command, environ);
    if (spawned == 0) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    shm_unlink(block.name);
    if (spawned != 0) {
        std::fprintf(stderr, "fmomake: cannot run %s\n", command[0]);
        return kCreatorFailed;
    }
    // As a shell reports it: a signal shows as 128 + its number.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
