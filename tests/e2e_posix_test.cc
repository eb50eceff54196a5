// End-to-end cases that only a POSIX shared-memory object can show: what a
// run leaves behind in /dev/shm, permissions, objects that are not blocks,
// sparse objects, creators that cut the object short, signals, and standard
// outputs that refuse part of the payload.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/own_name.h"
#include "support/run_process.h"

namespace {

using namespace std::string_literals;

const std::string kShm = "/dev/shm/";
constexpr std::size_t kMiB = 1 << 20;

std::string le32(std::int32_t value)
{
    auto u = static_cast<std::uint32_t>(value);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16), static_cast<char>(u >> 24)};
}

// A block as a creator lays it out: the declared size, then the payload.
std::string block(const std::string& payload)
{
    return le32(static_cast<std::int32_t>(payload.size() + 4)) + payload;
}

// Payload bytes that are never zero and tell one offset from its neighbours.
std::string pattern(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>('a' + i % 23);
    return bytes;
}

// A block made by the test itself, removed when the test ends, also when it
// fails. An object_size past the bytes leaves a hole at the end.
class ShmObject {
public:
    ShmObject(const std::string& name, const std::string& bytes, mode_t mode = 0644, std::uint64_t object_size = 0)
        : name_(name)
    {
        fd_ = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0)
            throw std::runtime_error("cannot create " + name);
        bool ok = write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                  fchmod(fd_, mode) == 0 &&
                  (object_size <= bytes.size() || ftruncate(fd_, static_cast<off_t>(object_size)) == 0);
        if (!ok) {
            close(fd_);
            shm_unlink(name.c_str());
            throw std::runtime_error("cannot fill " + name);
        }
    }
    ~ShmObject()
    {
        close(fd_);
        shm_unlink(name_.c_str());
    }
    ShmObject(const ShmObject&) = delete;
    ShmObject& operator=(const ShmObject&) = delete;

    const std::string& name() const { return name_; }
    std::string path() const { return kShm + name_; }
    // The creator's own read-write descriptor.
    int fd() const { return fd_; }
    // Lets it go, while the object stays.
    void close_fd() { close(std::exchange(fd_, -1)); }
    std::string contents() const
    {
        std::string bytes;
        int fd = shm_open(name_.c_str(), O_RDONLY | O_CLOEXEC, 0);
        char buf[4096];
        for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;)
            bytes.append(buf, static_cast<std::size_t>(n));
        close(fd);
        return bytes;
    }

private:
    std::string name_;
    int fd_ = -1;
};

std::vector<std::string> shmpeek_argv(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program_path("shmpeek")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

ProcessResult shmpeek(const std::vector<std::string>& args)
{
    return run_process(shmpeek_argv(args));
}

// The command line of one dump of the block called name, fullsize or as text.
std::vector<std::string> dump_argv(const std::string& name, bool fullsize)
{
    return shmpeek_argv(fullsize ? std::vector<std::string>{"-b", name} : std::vector<std::string>{name});
}

ProcessResult dump(const std::string& name, bool fullsize)
{
    return run_process(dump_argv(name, fullsize));
}

// A pipe whose ends close with the test, also when it fails; neither end is
// inherited except as a child's standard output.
struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        read_end = fds[0];
        write_end = fds[1];
    }
    ~Pipe()
    {
        close_read();
        close_write();
    }
    void close_read() { close(std::exchange(read_end, -1)); }
    void close_write() { close(std::exchange(write_end, -1)); }
};

// What the parent leaves a process it starts, where a parent may differ.
struct Setup {
    int out = -1;                             // standard output; -1: /dev/null
    int err = -1;                             // standard error; -1: a pipe err() reads
    bool close_in_and_out = false;            // no standard input or output at all
    bool block_sigbus = false;
    bool ignore_sigpipe = false;
    rlim_t file_size_limit = RLIM_INFINITY;   // with SIGXFSZ ignored, as a shell may
};

// A process started by the test and waited for by it; one still running
// when the test ends (a failed assertion) is killed.
class Started {
public:
    Started(const std::vector<std::string>& argv, const Setup& setup)
    {
        // Standard error through a pipe, not a file, so that a file size
        // limit set for the child leaves it alone.
        int err[2];
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (pipe2(err, O_CLOEXEC) != 0 || null < 0)
            throw std::runtime_error("no descriptors for a child");
        err_ = err[0];
        // Read back without waiting: all of it is there once the child ended.
        fcntl(err_, F_SETFL, O_NONBLOCK);
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        sigset_t mask;
        sigemptyset(&mask);
        if (setup.block_sigbus)
            sigaddset(&mask, SIGBUS);
        struct rlimit limit = {setup.file_size_limit, setup.file_size_limit};

        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            if (dup2(setup.out >= 0 ? setup.out : null, 1) < 0 || dup2(setup.err >= 0 ? setup.err : err[1], 2) < 0)
                _exit(126);
            if (setup.close_in_and_out) {
                close(0);
                close(1);
            }
            sigprocmask(SIG_SETMASK, &mask, nullptr);
            signal(SIGPIPE, setup.ignore_sigpipe ? SIG_IGN : SIG_DFL);
            if (setup.file_size_limit != RLIM_INFINITY) {
                signal(SIGXFSZ, SIG_IGN);
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            execv(args[0], args.data());
            _exit(127);
        }
        close(null);
        close(err[1]);
        if (pid_ < 0)
            throw std::runtime_error("cannot fork");
    }
    ~Started()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(err_);
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    pid_t pid() const { return pid_; }

    // True once the process has ended; finish() then returns at once.
    bool ended() { return reap(WNOHANG); }

    void finish() { reap(0); }

    // As a shell shows it: the exit status, or 128 + the signal.
    int status() const { return status_; }
    long max_rss_kib() const { return max_rss_kib_; }
    // User and system time together.
    double cpu_seconds() const { return cpu_seconds_; }
    // What the child wrote to standard error; all of it once it has ended.
    std::string err()
    {
        char buf[4096];
        for (ssize_t n; (n = read(err_, buf, sizeof buf)) > 0;)
            err_text_.append(buf, static_cast<std::size_t>(n));
        return err_text_;
    }

private:
    bool reap(int flags)
    {
        if (pid_ <= 0)
            return true;
        int wstatus = 0;
        struct rusage usage {};
        pid_t r;
        while ((r = wait4(pid_, &wstatus, flags, &usage)) < 0 && errno == EINTR) {
        }
        if (r == 0)
            return false;
        if (r != pid_)
            throw std::runtime_error("lost a child");
        pid_ = -1;
        status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        max_rss_kib_ = usage.ru_maxrss;
        cpu_seconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        return true;
    }

    pid_t pid_ = -1;
    int err_ = -1;
    std::string err_text_;
    int status_ = -1;
    long max_rss_kib_ = 0;
    double cpu_seconds_ = 0;
};

// Waits for run to end, at most limit; one that is still running then is
// reported by the caller's own words.
::testing::AssertionResult ends_within(Started& run, std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!run.ended()) {
        if (std::chrono::steady_clock::now() > deadline)
            return ::testing::AssertionFailure() << "still running after " << limit.count() << " s";
        usleep(1000);
    }
    return ::testing::AssertionSuccess();
}

// An anonymous file a child writes into as its standard output, read back
// whole afterwards.
struct OutFile {
    int fd = -1;
    OutFile()
    {
        fd = memfd_create("shmpeek-test-out", MFD_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("no file for a child's output");
    }
    ~OutFile() { close(fd); }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    std::string bytes() const
    {
        std::string out(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
        if (pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()))
            throw std::runtime_error("cannot read the output back");
        return out;
    }
};

// Waits until the pipe that run writes into is full, so that run is blocked
// in a write with its next read of the block still to come. Gives up when
// run has ended, or after 30 seconds.
::testing::AssertionResult wait_until_full(int read_end, Started& run)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        int queued = 0;
        int capacity = fcntl(read_end, F_GETPIPE_SZ);
        if (ioctl(read_end, FIONREAD, &queued) != 0 || capacity <= 0)
            return ::testing::AssertionFailure() << "cannot look into the pipe";
        if (queued > 0 && queued >= capacity)
            return ::testing::AssertionSuccess();
        if (run.ended())
            return ::testing::AssertionFailure() << "ended before its pipe was full, status " << run.status()
                                                 << ", stderr: " << run.err();
        if (std::chrono::steady_clock::now() > deadline)
            return ::testing::AssertionFailure() << "its pipe never filled";
        usleep(1000);
    }
}

// Everything left in the pipe, up to at_most bytes; all of it ends once the
// last writer has ended.
std::string drain(int read_end, std::size_t at_most = SIZE_MAX)
{
    std::string bytes;
    char buf[65536];
    while (bytes.size() < at_most) {
        ssize_t n = read(read_end, buf, std::min(sizeof buf, at_most - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

// What a test can tell of a path in /dev/shm: gone, or its kind and
// identity, and a file's size. A directory's size is left out: /dev/shm
// itself changes as other processes come and go.
std::string state_of(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    std::string state = std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino);
    return S_ISDIR(st.st_mode) ? state : state + ":" + std::to_string(st.st_size);
}

TEST(Block, IsLeftByteForByteUnchanged)
{
    std::string bytes = "\x0c\0\0\0abc\0defgh-past-the-block"s;
    ShmObject block(own_name("unchanged"), bytes);
    struct stat before {};
    ASSERT_EQ(stat(block.path().c_str(), &before), 0);
    // Every open of the object, and how it was closed, as the kernel saw it.
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, block.path().c_str(),
                                IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE),
              0);

    for (bool fullsize : {true, false}) {
        ProcessResult result = dump(block.name(), fullsize);
        EXPECT_EQ(result.status, 0) << result.err;
        // The kernel merges like events in a row, so each run is read alone.
        bool closed_read_only = false;
        alignas(struct inotify_event) char events[4096];
        for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
            for (char* at = events; at < events + n;) {
                auto* event = reinterpret_cast<struct inotify_event*>(at);
                EXPECT_FALSE(event->mask & IN_CLOSE_WRITE) << "the block was opened for writing";
                EXPECT_FALSE(event->mask & (IN_MODIFY | IN_ATTRIB)) << "the block was changed";
                closed_read_only |= (event->mask & IN_CLOSE_NOWRITE) != 0;
                at += sizeof(struct inotify_event) + event->len;
            }
        }
        EXPECT_TRUE(closed_read_only) << "the run never opened the block for reading";
    }
    close(watch);

    struct stat after {};
    ASSERT_EQ(stat(block.path().c_str(), &after), 0);
    EXPECT_EQ(block.contents(), bytes);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(Block, ReadOnlyBlockIsReadByAnUnprivilegedUser)
{
    if (access("/usr/bin/setpriv", X_OK) != 0 || geteuid() != 0)
        GTEST_SKIP() << "needs root and setpriv to drop to another user";
    ShmObject block(own_name("readonly"), "\x08\0\0\0ro!\n"s, 0444);
    ProcessResult result = run_process({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        program_path("shmpeek"), "-b", block.name()});
    EXPECT_EQ(result.out, "ro!\n");
    EXPECT_EQ(result.err, "FMO size:8\n");
    EXPECT_EQ(result.status, 0);
}

TEST(Block, UnreadableBlockFailsToOpen)
{
    if (access("/usr/bin/setpriv", X_OK) != 0 || geteuid() != 0)
        GTEST_SKIP() << "needs root and setpriv to drop to another user";
    ShmObject block(own_name("private"), "\x08\0\0\0abcd"s, 0600);
    ProcessResult result = run_process({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        program_path("shmpeek"), block.name()});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "OpenFileMapping Failed\n");
    EXPECT_EQ(result.status, failure_status());
}

// A block under a write lease: its holder is told that somebody opens it,
// and the run waits until the holder lets go, as cat does.
TEST(Block, UnderAWriteLeaseIsDumpedOnceTheHolderLetsGo)
{
    ShmObject leased(own_name("leased"), block("leased"));
    int holder = shm_open(leased.name().c_str(), O_RDONLY | O_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    // The lease's break notice comes as SIGIO: taken here with sigtimedwait.
    sigset_t sigio;
    sigemptyset(&sigio);
    sigaddset(&sigio, SIGIO);
    sigset_t before;
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &sigio, &before), 0);
    leased.close_fd(); // a write lease wants no other open descriptor
    if (fcntl(holder, F_SETLEASE, F_WRLCK) != 0) {
        int error = errno;
        close(holder);
        sigprocmask(SIG_SETMASK, &before, nullptr);
        if (error == EINVAL)
            GTEST_SKIP() << "no leases on shared-memory objects here";
        FAIL() << "cannot take a write lease: " << std::strerror(error);
    }

    OutFile out;
    Started run(shmpeek_argv({leased.name()}), {.out = out.fd});
    struct timespec ten_seconds = {10, 0};
    bool told = sigtimedwait(&sigio, nullptr, &ten_seconds) == SIGIO;
    // Waiting, not failed: it must still be running while the lease holds.
    usleep(200 * 1000);
    bool waited = !run.ended();
    fcntl(holder, F_SETLEASE, F_UNLCK);
    close(holder);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    ASSERT_TRUE(ends_within(run, std::chrono::seconds(10)));
    EXPECT_TRUE(told) << "the holder was never told";
    EXPECT_TRUE(waited) << "the run ended while the lease held";
    EXPECT_EQ(out.bytes(), "leased");
    EXPECT_EQ(run.err(), "FMO size:10\n");
    EXPECT_EQ(run.status(), 0);
}

TEST(Name, LeadingSlashesNameTheSameObject)
{
    ShmObject block(own_name("slashed"), "\x07\0\0\0abc"s);
    for (const char* slashes : {"/", "//", "///"}) {
        ProcessResult result = shmpeek({slashes + block.name()});
        EXPECT_EQ(result.out, "abc") << slashes;
        EXPECT_EQ(result.status, 0) << slashes;
    }
}

TEST(Name, NonAsciiBytesArePassedOn)
{
    ShmObject block(own_name("bl\xc3\xb6" "ck\xff"), "\x06\0\0\0hi"s);
    ProcessResult result = shmpeek({block.name()});
    EXPECT_EQ(result.out, "hi");
    EXPECT_EQ(result.err, "FMO size:6\n");
    EXPECT_EQ(result.status, 0);
}

// Blocks as a real producer makes them: Python's
// multiprocessing.shared_memory, which puts a slash in front of the name it
// is given and makes the object exactly as large as asked.
const char kPythonProducer[] = R"(
import subprocess, sys
from multiprocessing import shared_memory
name, data = sys.argv[1], bytes.fromhex(sys.argv[2])
block = shared_memory.SharedMemory(name=name, create=True, size=len(data))
try:
    block.buf[:len(data)] = data
    status = subprocess.call(sys.argv[3:])
finally:
    block.close()
    block.unlink()
sys.exit(status)
)";

std::string hex(const std::string& bytes)
{
    std::string text;
    for (unsigned char byte : bytes) {
        const char digits[] = "0123456789abcdef";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

struct PythonBlock {
    const char* label;
    std::string bytes;
    bool slash = false; // the name as Python shows it, with its slash
    bool fullsize = false;
    std::string out{};
    std::string err{};
    int status = 0;
};

void PrintTo(const PythonBlock& row, std::ostream* os) { *os << row.label; }

const PythonBlock kPythonBlocks[] = {
    {.label = "text", .bytes = "\x09\0\0\0ab\0cd"s, .out = "ab", .err = "FMO size:9\n"},
    {.label = "text with the slash", .bytes = "\x09\0\0\0ab\0cd"s, .slash = true, .out = "ab",
     .err = "FMO size:9\n"},
    {.label = "fullsize", .bytes = "\x09\0\0\0ab\0cd"s, .fullsize = true, .out = "ab\0cd"s, .err = "FMO size:9\n"},
    {.label = "fullsize with the slash", .bytes = "\x09\0\0\0ab\0cd"s, .slash = true, .fullsize = true,
     .out = "ab\0cd"s, .err = "FMO size:9\n"},
    {.label = "declared one byte past the object", .bytes = "\x0a\0\0\0ab\0cd"s, .fullsize = true,
     .err = "FMOSize too high\n", .status = 255},
};

class PythonBlockTest : public testing::TestWithParam<PythonBlock> {};

TEST_P(PythonBlockTest, IsDumped)
{
    const PythonBlock& c = GetParam();
    std::string name = own_name("python-" + case_name(c.label));
    std::vector<std::string> argv{"/usr/bin/env", "python3", "-c", kPythonProducer, name, hex(c.bytes)};
    std::vector<std::string> dump = dump_argv(c.slash ? "/" + name : name, c.fullsize);
    argv.insert(argv.end(), dump.begin(), dump.end());
    ProcessResult result = run_process(argv);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    EXPECT_NE(access((kShm + name).c_str(), F_OK), 0) << "the producer left its block behind";
}

INSTANTIATE_TEST_SUITE_P(Producers, PythonBlockTest, testing::ValuesIn(kPythonBlocks), CaseName());

// Names under which no block can be opened. Each fails to open, and the run
// creates nothing. '@' followed by a suffix stands for this run's own name
// with that suffix, padded to pad_to bytes where that is set.
struct HostileName {
    const char* label;
    std::string name;
    std::size_t pad_to = 0;
};

void PrintTo(const HostileName& row, std::ostream* os) { *os << row.label; }

const HostileName kHostileNames[] = {
    {.label = "missing", .name = "@missing"},
    {.label = "empty", .name = ""},
    {.label = "dot", .name = "."},
    {.label = "dot dot", .name = ".."},
    {.label = "root", .name = "/"},
    {.label = "block inside a directory", .name = "@dir/block"},
    {.label = "climbing out", .name = "../../etc/passwd"},
    {.label = "absolute path", .name = "/etc/passwd"},
    {.label = "path of a block", .name = "/dev/shm/@target"},
    {.label = "255 bytes", .name = "@long", .pad_to = 255},
    {.label = "300 bytes", .name = "@long", .pad_to = 300},
    {.label = "non ascii missing", .name = "@\xff\xfe\x80missing"},
    {.label = "symbolic link", .name = "@link"},
    {.label = "directory", .name = "@dir"},
    {.label = "fifo", .name = "@fifo"},
};

std::string resolve(const HostileName& row)
{
    std::string name = row.name;
    if (auto at = name.find('@'); at != std::string::npos) {
        std::size_t end = name.find('/', at);
        std::string suffix = name.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        name.replace(at, suffix.size() + 1, own_name(suffix));
    }
    if (name.size() < row.pad_to)
        name.resize(row.pad_to, 'n');
    return name;
}

class HostileNameTest : public testing::TestWithParam<HostileName> {
protected:
    void SetUp() override
    {
        // A real block for the link to point at, and one inside the
        // directory, so that following either would succeed.
        target_ = std::make_unique<ShmObject>(own_name("target"), "\x06\0\0\0no"s);
        ASSERT_EQ(symlink(target_->path().c_str(), (kShm + own_name("link")).c_str()), 0);
        ASSERT_EQ(mkdir((kShm + own_name("dir")).c_str(), 0755), 0);
        int inner = open((kShm + own_name("dir") + "/block").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(inner, 0);
        ASSERT_EQ(write(inner, "\x06\0\0\0no", 6), 6);
        close(inner);
        ASSERT_EQ(mkfifo((kShm + own_name("fifo")).c_str(), 0644), 0);
    }
    void TearDown() override
    {
        unlink((kShm + own_name("link")).c_str());
        unlink((kShm + own_name("dir") + "/block").c_str());
        rmdir((kShm + own_name("dir")).c_str());
        unlink((kShm + own_name("fifo")).c_str());
    }
    std::unique_ptr<ShmObject> target_;
};

TEST_P(HostileNameTest, FailsToOpenAndCreatesNothing)
{
    std::string name = resolve(GetParam());
    std::string path = kShm + name.substr(std::min(name.find_first_not_of('/'), name.size()));
    std::string before = state_of(path);
    for (bool fullsize : {false, true}) {
        // A name that hangs the open (a FIFO waiting for a writer) fails
        // here, by its row, long before the suite's time limit.
        OutFile out;
        Started run(dump_argv(name, fullsize), {.out = out.fd});
        ASSERT_TRUE(ends_within(run, std::chrono::seconds(10))) << GetParam().label << (fullsize ? ", fullsize" : "");
        EXPECT_EQ(out.bytes(), "");
        EXPECT_EQ(run.err(), "OpenFileMapping Failed\n");
        EXPECT_EQ(run.status(), failure_status());
    }
    EXPECT_EQ(state_of(path), before);
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest, testing::ValuesIn(kHostileNames), CaseName());

// Declared sizes that no sane creator writes, over objects too small to hold
// a size, of exactly one page and of many pages.
const std::int32_t kHostileSizes[] = {4, 5, -1, INT32_MIN, INT32_MAX};

struct HostileBlock {
    const char* label;
    std::size_t object_size;
    const char* err[5]; // what each of kHostileSizes gives
};

void PrintTo(const HostileBlock& row, std::ostream* os) { *os << row.label; }

const HostileBlock kHostileBlocks[] = {
    {"empty object", 0, {"FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n",
                         "FMOSize too low\n"}},
    {"one byte", 1, {"FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n",
                     "FMOSize too low\n"}},
    {"two bytes", 2, {"FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n",
                      "FMOSize too low\n"}},
    {"three bytes", 3, {"FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n", "FMOSize too low\n",
                        "FMOSize too low\n"}},
    {"one page", 4096, {"FMOSize too low\n", "FMO size:5\n", "FMOSize too low\n", "FMOSize too low\n",
                        "FMOSize too high\n"}},
    {"many pages", 4096 * 64, {"FMOSize too low\n", "FMO size:5\n", "FMOSize too low\n", "FMOSize too low\n",
                               "FMOSize too high\n"}},
};

class HostileBlockTest : public testing::TestWithParam<HostileBlock> {};

TEST_P(HostileBlockTest, GivesTheRightMessageAndStatus)
{
    const HostileBlock& c = GetParam();
    for (std::size_t i = 0; i < std::size(kHostileSizes); ++i) {
        std::string bytes = le32(kHostileSizes[i]);
        bytes.resize(std::max<std::size_t>(c.object_size, 4), 'h');
        bytes.resize(c.object_size);
        ShmObject block(own_name("hostile-block"), bytes);
        bool dumps = c.err[i] == "FMO size:5\n"s;
        for (bool fullsize : {true, false}) {
            ProcessResult result = dump(block.name(), fullsize);
            SCOPED_TRACE("declared " + std::to_string(kHostileSizes[i]) + (fullsize ? ", fullsize" : ", text"));
            EXPECT_EQ(result.out, dumps ? "h" : "");
            EXPECT_EQ(result.err, c.err[i]);
            EXPECT_EQ(result.status, dumps ? 0 : failure_status());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, HostileBlockTest, testing::ValuesIn(kHostileBlocks), CaseName());

// Holes in a sparse object read as zeros, and reading them allocates none of
// the creator's memory; nor does the reader's own memory grow with the block.
TEST(SparseBlock, HolesReadAsZerosAndAllocateNothing)
{
    constexpr std::int32_t kDeclared = 1 << 30;
    ShmObject sparse(own_name("sparse"), le32(kDeclared), 0644, kDeclared);
    struct stat before {};
    ASSERT_EQ(fstat(sparse.fd(), &before), 0);

    Started run(shmpeek_argv({"-b", sparse.name()}), {});
    run.finish();
    EXPECT_EQ(run.status(), 0);
    EXPECT_EQ(run.err(), "FMO size:1073741824\n");
    struct stat after {};
    ASSERT_EQ(fstat(sparse.fd(), &after), 0);
    EXPECT_EQ(after.st_blocks, before.st_blocks) << "reading the holes allocated them";

    ShmObject small(own_name("small"), block(std::string(kMiB, 's')));
    Started baseline(shmpeek_argv({"-b", small.name()}), {});
    baseline.finish();
    EXPECT_EQ(baseline.status(), 0);
    EXPECT_LE(run.max_rss_kib(), baseline.max_rss_kib() + 4096)
        << "a 1 GiB dump took " << run.max_rss_kib() << " KiB, a 1 MiB dump " << baseline.max_rss_kib() << " KiB";
}

TEST(SparseBlock, SmallBlockAtTheHeadOfAHugeObject)
{
    ShmObject huge(own_name("huge"), "\x09\0\0\0abcde"s, 0644, std::uint64_t{1} << 50);
    for (bool fullsize : {true, false}) {
        ProcessResult result = dump(huge.name(), fullsize);
        EXPECT_EQ(result.out, "abcde");
        EXPECT_EQ(result.err, "FMO size:9\n");
        EXPECT_EQ(result.status, 0);
    }
}

// The creator cuts the object short while shmpeek is blocked writing into a
// full pipe, far from the block's end. What the object still holds comes
// out, a lost byte never as a zero, and the run says it was cut short,
// unless the text's terminating zero was still there.
constexpr std::size_t kShrinkPayload = 64 * kMiB;
constexpr std::size_t kDeclaredPlusFour = kShrinkPayload + 4;
constexpr std::size_t kUnknown = SIZE_MAX;

struct Shrink {
    const char* label;
    bool fullsize = true;
    std::size_t cut_to = 0;                 // the object's new size
    std::size_t zero_at = SIZE_MAX;         // a zero at this payload offset
    bool block_sigbus = false;              // as the parent left it
    std::size_t out_size = kUnknown;        // kUnknown: what was out before the cut
    bool ok = false;
};

void PrintTo(const Shrink& row, std::ostream* os) { *os << row.label; }

const Shrink kShrinks[] = {
    {.label = "fullsize cut by one byte", .cut_to = kDeclaredPlusFour - 1, .out_size = kShrinkPayload - 1},
    {.label = "text cut by one byte", .fullsize = false, .cut_to = kDeclaredPlusFour - 1,
     .out_size = kShrinkPayload - 1},
    {.label = "fullsize cut to one page", .cut_to = 4096},
    {.label = "text cut to one page", .fullsize = false, .cut_to = 4096},
    {.label = "text cut behind the zero", .fullsize = false, .cut_to = kDeclaredPlusFour - 1,
     .zero_at = kShrinkPayload - 10, .out_size = kShrinkPayload - 10, .ok = true},
    {.label = "text cut pages behind the zero", .fullsize = false, .cut_to = kDeclaredPlusFour - 200000,
     .zero_at = kShrinkPayload - 400000, .out_size = kShrinkPayload - 400000, .ok = true},
    {.label = "text cut takes the zero", .fullsize = false, .cut_to = kDeclaredPlusFour - 1,
     .zero_at = kShrinkPayload - 1, .out_size = kShrinkPayload - 1},
    {.label = "SIGBUS blocked cut by one byte", .cut_to = kDeclaredPlusFour - 1, .block_sigbus = true,
     .out_size = kShrinkPayload - 1},
    {.label = "SIGBUS blocked cut to one page", .cut_to = 4096, .block_sigbus = true},
};

class ShrinkTest : public testing::TestWithParam<Shrink> {};

TEST_P(ShrinkTest, WritesWhatIsLeftAndSaysSo)
{
    const Shrink& c = GetParam();
    std::string payload = pattern(kShrinkPayload);
    if (c.zero_at != SIZE_MAX)
        payload[c.zero_at] = '\0';
    ShmObject shrinking(own_name("shrinking"), block(payload));
    Pipe pipe;
    Started run(dump_argv(shrinking.name(), c.fullsize), {.out = pipe.write_end, .block_sigbus = c.block_sigbus});
    pipe.close_write();
    ASSERT_TRUE(wait_until_full(pipe.read_end, run));
    ASSERT_EQ(ftruncate(shrinking.fd(), static_cast<off_t>(c.cut_to)), 0);
    std::string out = drain(pipe.read_end);
    run.finish();

    std::string size_line = "FMO size:" + std::to_string(kDeclaredPlusFour) + "\n";
    EXPECT_EQ(run.status(), c.ok ? 0 : 255);
    EXPECT_EQ(run.err(), c.ok ? size_line : size_line + "FMO truncated during dump\n");
    if (c.out_size != kUnknown) {
        EXPECT_EQ(out.size(), c.out_size);
    } else {
        EXPECT_GE(out.size(), c.cut_to - 4);
        EXPECT_LT(out.size(), kShrinkPayload);
    }
    EXPECT_TRUE(out == payload.substr(0, out.size())) << "the output is not the block's first bytes";
}

INSTANTIATE_TEST_SUITE_P(Cuts, ShrinkTest, testing::ValuesIn(kShrinks), CaseName());

// A SIGBUS from outside is nobody's fault the tool could handle: it ends
// shmpeek as it ends cat reading the same object.
TEST(Signals, SigbusFromOutsideEndsTheRunAsItEndsCat)
{
    ShmObject big(own_name("signalled"), block(pattern(16 * kMiB)));
    for (const std::vector<std::string>& argv :
         {shmpeek_argv({"-b", big.name()}), std::vector<std::string>{"/bin/cat", big.path()}}) {
        Pipe pipe;
        Started run(argv, {.out = pipe.write_end});
        pipe.close_write();
        ASSERT_TRUE(wait_until_full(pipe.read_end, run));
        ASSERT_EQ(kill(run.pid(), SIGBUS), 0);
        drain(pipe.read_end);
        run.finish();
        EXPECT_EQ(run.status(), 128 + SIGBUS) << argv[0];
    }
}

// A parent may hand over a standard output in non-blocking mode: then a full
// pipe says "try again", and every byte must still arrive.
TEST(Output, NonBlockingPipeGetsEveryByte)
{
    std::string payload = pattern(8 * kMiB);
    ShmObject big(own_name("nonblocking"), block(payload));
    Pipe pipe;
    ASSERT_EQ(fcntl(pipe.write_end, F_SETFL, O_NONBLOCK), 0);
    Started run(shmpeek_argv({"-b", big.name()}), {.out = pipe.write_end});
    pipe.close_write();
    // A reader that pauses: the run waits for it without spinning.
    ASSERT_TRUE(wait_until_full(pipe.read_end, run));
    sleep(1);
    std::string out = drain(pipe.read_end);
    run.finish();
    EXPECT_EQ(run.status(), 0);
    EXPECT_EQ(run.err(), "FMO size:" + std::to_string(payload.size() + 4) + "\n");
    EXPECT_TRUE(out == payload) << "got " << out.size() << " of " << payload.size() << " bytes";
    EXPECT_LT(run.cpu_seconds(), 0.5) << "the run kept the processor busy while its reader paused";
}

// A pipe's default 64 KiB make the writer and its reader take turns every
// 64 KiB; the dump enlarges the pipe it writes into to 1 MiB.
TEST(Output, PipeIsEnlargedForTheDump)
{
    constexpr int kEnlarged = 1 << 20;
    long most = 0;
    if (FILE* max_size = std::fopen("/proc/sys/fs/pipe-max-size", "r")) {
        if (std::fscanf(max_size, "%ld", &most) != 1)
            most = 0;
        std::fclose(max_size);
    }
    if (most < kEnlarged && geteuid() != 0)
        GTEST_SKIP() << "an unprivileged process may not enlarge a pipe to 1 MiB here";
    ShmObject small(own_name("enlarged"), block("abc"));
    Pipe pipe;
    ASSERT_LT(fcntl(pipe.write_end, F_GETPIPE_SZ), kEnlarged);
    Started run(shmpeek_argv({"-b", small.name()}), {.out = pipe.write_end});
    run.finish();
    EXPECT_EQ(run.status(), 0);
    EXPECT_EQ(fcntl(pipe.read_end, F_GETPIPE_SZ), kEnlarged);
    pipe.close_write();
    EXPECT_EQ(drain(pipe.read_end), "abc");
}

// A socket with message boundaries as standard output: a message larger
// than its send buffer is refused whole, so the payload goes in smaller ones.
struct MessageSocket {
    const char* label;
    int type;
};

void PrintTo(const MessageSocket& row, std::ostream* os) { *os << row.label; }

const MessageSocket kMessageSockets[] = {
    {"datagram", SOCK_DGRAM},
    {"seqpacket", SOCK_SEQPACKET},
};

class MessageSocketTest : public testing::TestWithParam<MessageSocket> {};

TEST_P(MessageSocketTest, GetsEveryByte)
{
    std::string payload = pattern(3 * 1000 * 1000);
    ShmObject source(own_name("messages"), block(payload));
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, GetParam().type | SOCK_CLOEXEC, 0, ends), 0);
    Started run(shmpeek_argv({"-b", source.name()}), {.out = ends[1]});
    close(ends[1]);
    std::string out;
    std::string message(4 * kMiB, '\0');
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (out.size() < payload.size() && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = recv(ends[0], message.data(), message.size(), MSG_DONTWAIT);
        if (n > 0)
            out.append(message, 0, static_cast<std::size_t>(n));
        else if (run.ended())
            break; // and nothing more is queued
        else
            usleep(1000);
    }
    close(ends[0]);
    ASSERT_TRUE(ends_within(run, std::chrono::seconds(10)));
    EXPECT_EQ(run.status(), 0);
    EXPECT_EQ(run.err(), "FMO size:" + std::to_string(payload.size() + 4) + "\n");
    EXPECT_TRUE(out == payload) << "got " << out.size() << " of " << payload.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Output, MessageSocketTest, testing::ValuesIn(kMessageSockets), CaseName());

// A standard error that nobody reads loses the messages, never the payload:
// the run goes on as it would with a reader. Standard output is a file, or
// a pipe whose reader takes reader_takes bytes and goes away.
struct LostErrors {
    const char* label;
    std::size_t reader_takes = SIZE_MAX;
    bool ignore_sigpipe = false;
    int status = 0;
};

void PrintTo(const LostErrors& row, std::ostream* os) { *os << row.label; }

const LostErrors kLostErrors[] = {
    {.label = "payload into a file"},
    {.label = "payload into a file SIGPIPE ignored", .ignore_sigpipe = true},
    {.label = "reader of the payload goes away", .reader_takes = 1000, .status = 128 + SIGPIPE},
    {.label = "reader of the payload goes away SIGPIPE ignored", .reader_takes = 1000, .ignore_sigpipe = true,
     .status = 255},
};

class LostErrorsTest : public testing::TestWithParam<LostErrors> {};

TEST_P(LostErrorsTest, StopOnlyWhatCatStops)
{
    const LostErrors& c = GetParam();
    std::string payload = pattern(4 * kMiB);
    ShmObject source(own_name("lost-errors"), block(payload));
    Pipe unread;
    unread.close_read();
    std::string out;
    int status = -1;
    if (c.reader_takes == SIZE_MAX) {
        OutFile file;
        Started run(shmpeek_argv({"-b", source.name()}),
                    {.out = file.fd, .err = unread.write_end, .ignore_sigpipe = c.ignore_sigpipe});
        run.finish();
        out = file.bytes();
        status = run.status();
    } else {
        Pipe pipe;
        Started run(shmpeek_argv({"-b", source.name()}),
                    {.out = pipe.write_end, .err = unread.write_end, .ignore_sigpipe = c.ignore_sigpipe});
        pipe.close_write();
        out = drain(pipe.read_end, c.reader_takes);
        pipe.close_read();
        run.finish();
        status = run.status();
    }
    EXPECT_EQ(status, c.status);
    if (c.reader_takes == SIZE_MAX)
        EXPECT_TRUE(out == payload) << "got " << out.size() << " of " << payload.size() << " bytes";
    else
        EXPECT_TRUE(out == payload.substr(0, c.reader_takes)) << "got " << out.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Output, LostErrorsTest, testing::ValuesIn(kLostErrors), CaseName());

// Where a symbolic link points (in /proc: what a descriptor is open on), or
// nothing.
std::string link_target(const std::string& path)
{
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// With standard input and output closed, the block's descriptor must not
// take their place: a write meant for standard output would go to the
// block's. The run is caught while it writes its size line into a full pipe.
TEST(Output, ClosedStandardDescriptorsStayClosed)
{
    ShmObject source(own_name("closed-std"), block("abc"));
    Pipe err;
    ASSERT_EQ(fcntl(err.write_end, F_SETFL, O_NONBLOCK), 0);
    std::string filler(4096, 'f');
    while (write(err.write_end, filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    ASSERT_EQ(fcntl(err.write_end, F_SETFL, 0), 0);
    Started run(shmpeek_argv({source.name()}), {.err = err.write_end, .close_in_and_out = true});
    err.close_write();

    // The descriptor the run holds the block by, once it is open.
    int block_fd = -1;
    std::string fds = "/proc/" + std::to_string(run.pid()) + "/fd/";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string exe = "/proc/" + std::to_string(run.pid()) + "/exe";
    while (block_fd < 0 && std::chrono::steady_clock::now() < deadline && !run.ended()) {
        // Before the exec, the child still holds the test's own descriptors.
        bool is_shmpeek = link_target(exe) == program_path("shmpeek");
        for (int fd = 0; is_shmpeek && fd < 16; ++fd) {
            if (link_target(fds + std::to_string(fd)) == source.path())
                block_fd = fd;
        }
        usleep(1000);
    }
    std::string said = drain(err.read_end);
    run.finish();
    ASSERT_GE(block_fd, 0) << "never saw the block open; status " << run.status();
    EXPECT_GT(block_fd, 2) << "the block took the place of a closed standard descriptor";
    EXPECT_EQ(said.substr(std::min(said.find_first_not_of('f'), said.size())), "FMO size:7\nWrite to stdout Failed\n");
    EXPECT_EQ(run.status(), 255);
}

// Standard outputs that take part of the payload and then refuse the rest.
// The part they took is the block's; the rest is reported, never dropped.
struct Refusal {
    const char* label;
    std::size_t payload;
    rlim_t file_limit = RLIM_INFINITY;  // a file that may grow this far
    std::size_t reader_takes = 0;        // else a pipe whose reader stops after this much
    bool ignore_sigpipe = false;
    std::size_t out = 0;                 // what arrives
    int status = 255;
    bool write_failed = true;            // "Write to stdout Failed"
};

void PrintTo(const Refusal& row, std::ostream* os) { *os << row.label; }

const Refusal kRefusals[] = {
    {.label = "file limit of one byte", .payload = 1000, .file_limit = 1, .out = 1},
    {.label = "file limit inside the only chunk", .payload = 1000, .file_limit = 10, .out = 10},
    {.label = "file limit inside the last chunk", .payload = 600000, .file_limit = 590000, .out = 590000},
    {.label = "file limit at a chunk boundary", .payload = 600000, .file_limit = 512 * 1024, .out = 512 * 1024},
    {.label = "reader closes early SIGPIPE ignored", .payload = 4 * kMiB, .reader_takes = 1000,
     .ignore_sigpipe = true, .out = 1000},
    {.label = "reader closes early", .payload = 4 * kMiB, .reader_takes = 1000, .out = 1000,
     .status = 128 + SIGPIPE, .write_failed = false},
};

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ReportsTheRefusal)
{
    const Refusal& c = GetParam();
    std::string payload = pattern(c.payload);
    ShmObject source(own_name("refused"), block(payload));
    std::string out;
    std::string err;
    int status = -1;
    if (c.file_limit != RLIM_INFINITY) {
        OutFile file;
        Started run(shmpeek_argv({"-b", source.name()}), {.out = file.fd, .file_size_limit = c.file_limit});
        run.finish();
        out = file.bytes();
        err = run.err();
        status = run.status();
    } else {
        Pipe pipe;
        Started run(shmpeek_argv({"-b", source.name()}), {.out = pipe.write_end, .ignore_sigpipe = c.ignore_sigpipe});
        pipe.close_write();
        out = drain(pipe.read_end, c.reader_takes);
        pipe.close_read();
        run.finish();
        err = run.err();
        status = run.status();
    }
    std::string size_line = "FMO size:" + std::to_string(c.payload + 4) + "\n";
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(err, c.write_failed ? size_line + "Write to stdout Failed\n" : size_line);
    EXPECT_EQ(out.size(), c.out);
    EXPECT_TRUE(out == payload.substr(0, out.size())) << "the output is not the block's first bytes";
}

INSTANTIATE_TEST_SUITE_P(Sinks, RefusalTest, testing::ValuesIn(kRefusals), CaseName());

// The creator keeps flipping payload bytes to and from zero during dumps.
// Whatever the bytes are at each moment, text output holds no zero byte and
// fullsize output is always declared size - 4 bytes long.
TEST(RewritingCreator, NeverBreaksTheOutputsPromises)
{
    constexpr std::int32_t kDeclared = (4 << 20) + 4;
    std::string bytes = le32(kDeclared);
    bytes.resize(kDeclared, 'r');
    ShmObject rewritten(own_name("rewriting"), bytes);
    auto* view = static_cast<volatile unsigned char*>(
        mmap(nullptr, kDeclared, PROT_READ | PROT_WRITE, MAP_SHARED, rewritten.fd(), 0));
    ASSERT_NE(view, MAP_FAILED);

    // The first page of the payload is never rewritten: every text is at
    // least that long.
    constexpr std::size_t kSteadyHead = 4096;
    std::atomic<bool> stop{false};
    std::thread creator([&] {
        for (std::uint32_t round = 0; !stop.load(std::memory_order_relaxed); ++round) {
            for (std::size_t at = 4 + kSteadyHead + round % 4093; at < static_cast<std::size_t>(kDeclared); at += 4093)
                view[at] = view[at] == 0 ? 'r' : 0;
        }
    });
    for (int run = 0; run < 20; ++run) {
        bool fullsize = run % 2 == 0;
        ProcessResult result = dump(rewritten.name(), fullsize);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "FMO size:4194308\n");
        if (fullsize)
            EXPECT_EQ(result.out.size(), static_cast<std::size_t>(kDeclared - 4));
        else {
            EXPECT_EQ(result.out.find('\0'), std::string::npos);
            EXPECT_GE(result.out.size(), kSteadyHead);
        }
        EXPECT_EQ(result.out.find_first_not_of("r\0"s), std::string::npos);
    }
    stop = true;
    creator.join();
    munmap(const_cast<unsigned char*>(view), kDeclared);
}

} // namespace
