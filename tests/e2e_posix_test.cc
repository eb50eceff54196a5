// End-to-end cases that only a POSIX shared-memory object can show: what a
// run leaves behind in /dev/shm, permissions, and objects that are not blocks.

#include <fcntl.h>
#include <set>
#include <string>
#include <filesystem>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/run_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kShm = "/dev/shm/";

std::string own_name(const std::string& what)
{
    return "shmpeek-posix-" + std::to_string(getpid()) + "-" + what;
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
        close(fd);
    }
    ~ShmObject() { shm_unlink(name_.c_str()); }
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

TEST(Block, IsLeftByteForByteUnchanged)
{
    std::string bytes = "\x0c\0\0\0abc\0defgh-past-the-block"s;
    ShmObject block(own_name("unchanged"), bytes);
    struct stat before {};
    ASSERT_EQ(stat((kShm + own_name("unchanged")).c_str(), &before), 0);

    for (const char* mode : {"-b", "-B"}) {
        std::vector<std::string> args{own_name("unchanged")};
        if (mode == "-b"s)
            args.insert(args.begin(), mode);
        ProcessResult result = shmpeek(args);
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
        std::vector<std::string> args{GetParam().name};
        if (fullsize)
            args.insert(args.begin(), "-b");
        ProcessResult result = shmpeek(args);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "OpenFileMapping Failed\n");
        EXPECT_EQ(result.status, failure_status());
    }
    EXPECT_EQ(shm_listing(), before);
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest, testing::ValuesIn(kHostileNames), CaseName());

} // namespace
