// End-to-end cases that only a POSIX shared-memory object can show: what a
// run leaves behind in /dev/shm, permissions, and objects that are not blocks.

#include <atomic>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/run_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kShm = "/dev/shm/";

std::string own_name(const std::string& what)
{
    return "shmpeek-posix-" + std::to_string(getpid()) + "-" + what;
}

std::string le32(std::int32_t value)
{
    auto u = static_cast<std::uint32_t>(value);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16), static_cast<char>(u >> 24)};
}

// A block made by the test itself, removed when the test ends.
class ShmObject {
public:
    ShmObject(const std::string& name, const std::string& bytes, mode_t mode = 0644) : name_(name)
    {
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            throw std::runtime_error("cannot create " + name);
        if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || fchmod(fd, mode) != 0)
            throw std::runtime_error("cannot fill " + name);
        fd_ = fd;
    }
    ~ShmObject()
    {
        close(fd_);
        shm_unlink(name_.c_str());
    }
    // The creator's own read-write descriptor.
    int fd() const { return fd_; }
    std::string contents() const
    {
        std::string bytes;
        int fd = shm_open(name_.c_str(), O_RDONLY, 0);
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

std::set<std::string> shm_listing()
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(kShm))
        names.insert(entry.path().filename().string());
    return names;
}

ProcessResult shmpeek(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program_path("shmpeek")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

// One dump of the block called name, fullsize or as text.
ProcessResult dump(const std::string& name, bool fullsize)
{
    return fullsize ? shmpeek({"-b", name}) : shmpeek({name});
}

TEST(Block, IsLeftByteForByteUnchanged)
{
    std::string bytes = "\x0c\0\0\0abc\0defgh-past-the-block"s;
    ShmObject block(own_name("unchanged"), bytes);
    struct stat before {};
    ASSERT_EQ(stat((kShm + own_name("unchanged")).c_str(), &before), 0);

    for (bool fullsize : {true, false}) {
        ProcessResult result = dump(own_name("unchanged"), fullsize);
        EXPECT_EQ(result.status, 0) << result.err;
    }
    struct stat after {};
    ASSERT_EQ(stat((kShm + own_name("unchanged")).c_str(), &after), 0);
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
                                        program_path("shmpeek"), "-b", own_name("readonly")});
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
                                        program_path("shmpeek"), own_name("private")});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "OpenFileMapping Failed\n");
    EXPECT_EQ(result.status, failure_status());
}

TEST(Name, LeadingSlashNamesTheSameObject)
{
    ShmObject block(own_name("slashed"), "\x07\0\0\0abc"s);
    std::string slashed = own_name("slashed");
    slashed.insert(slashed.begin(), '/');
    ProcessResult result = shmpeek({slashed});
    EXPECT_EQ(result.out, "abc");
    EXPECT_EQ(result.status, 0);
}

TEST(Name, NonAsciiBytesArePassedOn)
{
    ShmObject block(own_name("bl\xc3\xb6" "ck\xff"), "\x06\0\0\0hi"s);
    ProcessResult result = shmpeek({own_name("bl\xc3\xb6" "ck\xff")});
    EXPECT_EQ(result.out, "hi");
    EXPECT_EQ(result.err, "FMO size:6\n");
    EXPECT_EQ(result.status, 0);
}

// Names under which no block can be opened. Each fails to open, and the run
// creates nothing in /dev/shm.
struct HostileName {
    const char* label;
    std::string name;
};

const HostileName kHostileNames[] = {
    {"missing", "shmpeek-posix-no-such-block"},
    {"empty", ""},
    {"dot", "."},
    {"dot dot", ".."},
    {"root", "/"},
    {"inner slash", "a/b"},
    {"climbing out", "../../etc/passwd"},
    {"absolute path", "/etc/passwd"},
    {"255 characters", std::string(255, 'n')},
    {"300 characters", std::string(300, 'n')},
    {"non ascii missing", "\xff\xfe\x80missing"},
    {"symbolic link", "shmpeek-hostile-link"},
    {"directory", "shmpeek-hostile-dir"},
    {"fifo", "shmpeek-hostile-fifo"},
};

class HostileNameTest : public testing::TestWithParam<HostileName> {
protected:
    void SetUp() override
    {
        // A real block for the link to point at, so that following it would succeed.
        target_ = std::make_unique<ShmObject>(own_name("link-target"), "\x06\0\0\0no"s);
        symlink((kShm + own_name("link-target")).c_str(), (kShm + "shmpeek-hostile-link").c_str());
        mkdir((kShm + "shmpeek-hostile-dir").c_str(), 0755);
        mkfifo((kShm + "shmpeek-hostile-fifo").c_str(), 0644);
    }
    void TearDown() override
    {
        unlink((kShm + "shmpeek-hostile-link").c_str());
        rmdir((kShm + "shmpeek-hostile-dir").c_str());
        unlink((kShm + "shmpeek-hostile-fifo").c_str());
    }
    std::unique_ptr<ShmObject> target_;
};

TEST_P(HostileNameTest, FailsToOpenAndCreatesNothing)
{
    auto before = shm_listing();
    for (bool fullsize : {false, true}) {
        ProcessResult result = dump(GetParam().name, fullsize);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "OpenFileMapping Failed\n");
        EXPECT_EQ(result.status, failure_status());
    }
    EXPECT_EQ(shm_listing(), before);
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
            ProcessResult result = dump(own_name("hostile-block"), fullsize);
            SCOPED_TRACE("declared " + std::to_string(kHostileSizes[i]) + (fullsize ? ", fullsize" : ", text"));
            EXPECT_EQ(result.out, dumps ? "h" : "");
            EXPECT_EQ(result.err, c.err[i]);
            EXPECT_EQ(result.status, dumps ? 0 : failure_status());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, HostileBlockTest, testing::ValuesIn(kHostileBlocks), CaseName());

// The creator cuts the object short while shmpeek is blocked writing into a
// pipe that nobody reads yet: the pages behind the new end are gone, and the
// run must end with its message instead of dying of SIGBUS.
TEST(ShrinkingCreator, EndsTheDumpWithAMessage)
{
    constexpr std::int32_t kDeclared = (64 << 20) + 4;
    std::string bytes = le32(kDeclared);
    bytes.resize(kDeclared, 'x');
    ShmObject block(own_name("shrinking"), bytes);

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    FILE* err = std::tmpfile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    std::string program = program_path("shmpeek");
    std::string name = own_name("shrinking");
    char* argv[] = {program.data(), const_cast<char*>("-b"), name.data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);

    // Full pipe: the writer is blocked in write, far from the block's end.
    for (;;) {
        int queued = 0;
        ASSERT_EQ(ioctl(pipe_fds[0], FIONREAD, &queued), 0);
        int capacity = fcntl(pipe_fds[0], F_GETPIPE_SZ);
        if (queued >= capacity)
            break;
        usleep(1000);
    }
    ASSERT_EQ(ftruncate(block.fd(), 4096), 0);

    std::string out;
    char buf[65536];
    for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);

    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 255);
    std::rewind(err);
    std::string messages;
    for (int ch; (ch = std::fgetc(err)) != EOF;)
        messages += static_cast<char>(ch);
    std::fclose(err);
    EXPECT_EQ(messages, "FMO size:67108868\nFMO truncated during dump\n");
    // What was written before the cut stays written, and is the block's.
    EXPECT_GT(out.size(), 0u);
    EXPECT_LT(out.size(), static_cast<std::size_t>(kDeclared - 4));
    EXPECT_EQ(out.find_first_not_of('x'), std::string::npos);
}

// The creator keeps flipping payload bytes to and from zero during dumps.
// Whatever the bytes are at each moment, text output holds no zero byte and
// fullsize output is always declared size - 4 bytes long.
TEST(RewritingCreator, NeverBreaksTheOutputsPromises)
{
    constexpr std::int32_t kDeclared = (4 << 20) + 4;
    std::string bytes = le32(kDeclared);
    bytes.resize(kDeclared, 'r');
    ShmObject block(own_name("rewriting"), bytes);
    auto* view = static_cast<volatile unsigned char*>(
        mmap(nullptr, kDeclared, PROT_READ | PROT_WRITE, MAP_SHARED, block.fd(), 0));
    ASSERT_NE(view, MAP_FAILED);

    std::atomic<bool> stop{false};
    std::thread creator([&] {
        for (std::uint32_t round = 0; !stop.load(std::memory_order_relaxed); ++round) {
            for (std::size_t at = 4 + round % 4093; at < static_cast<std::size_t>(kDeclared); at += 4093)
                view[at] = view[at] == 0 ? 'r' : 0;
        }
    });
    for (int run = 0; run < 20; ++run) {
        bool fullsize = run % 2 == 0;
        ProcessResult result = dump(own_name("rewriting"), fullsize);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "FMO size:4194308\n");
        if (fullsize)
            EXPECT_EQ(result.out.size(), static_cast<std::size_t>(kDeclared - 4));
        else
            EXPECT_EQ(result.out.find('\0'), std::string::npos);
        EXPECT_EQ(result.out.find_first_not_of("r\0"s), std::string::npos);
    }
    stop = true;
    creator.join();
    munmap(const_cast<unsigned char*>(view), kDeclared);
}

} // namespace
