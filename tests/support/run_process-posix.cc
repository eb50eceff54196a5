#include "support/run_process.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int capture_file()
{
    char path[] = "/tmp/shmpeek-capture-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    unlink(path);
    return fd;
}

std::string read_back(int fd)
{
    std::string bytes;
    char buf[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return bytes;
}

} // namespace

ProcessResult run_process(const std::vector<std::string>& argv, StdoutTo stdout_to)
{
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int out_fd = capture_file();
    int err_fd = capture_file();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    switch (stdout_to) {
    case StdoutTo::kCapture: posix_spawn_file_actions_adddup2(&actions, out_fd, 1); break;
    case StdoutTo::kClosed: posix_spawn_file_actions_addclose(&actions, 1); break;
    case StdoutTo::kFull: posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0); break;
    }
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);

    pid_t pid;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot run " + argv[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_back(out_fd);
    result.err = read_back(err_fd);
    return result;
}

std::string program_path(const std::string& name)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        throw std::runtime_error("cannot find the test's own path");
    std::string dir(self, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + name;
}

bool has_full_device()
{
    return true;
}

long long failure_status()
{
    return 255;
}
