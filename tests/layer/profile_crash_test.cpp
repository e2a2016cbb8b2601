// The settings writer never leaves a torn file: a writer killed in the middle of a save, or
// one that runs out of room, leaves the old file or the new one, whole.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string contentWith(char fill)
{
    return "[S]\r\nbig=" + std::string(300000, fill) + "\r\n";
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs this test binary again as a writer child (a fresh process, not a fork of this one, so
// no lock held by another thread of ours is inherited).
pid_t startWriter(const std::string &path, const char *mode)
{
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        setenv("TALLOW_PROFILE_WRITER", path.c_str(), 1);
        setenv("TALLOW_PROFILE_MODE", mode, 1);
        execl("/proc/self/exe", "layer_tests", "--gtest_filter=ProfileCrash.DISABLED_WriterChild", "--gtest_also_run_disabled_tests",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    return child;
}

struct TempFolder {
    fs::path folder;
    TempFolder() : folder(fs::temp_directory_path() / ("tallow-profile-" + std::to_string(getpid())))
    {
        fs::create_directories(folder);
    }
    ~TempFolder() { fs::remove_all(folder); }
    size_t entries() const { return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator())); }
};

// The child's side: "loop" writes forever, "limit" writes once against a file size limit.
TEST(ProfileCrash, DISABLED_WriterChild)
{
    const char *path = std::getenv("TALLOW_PROFILE_WRITER");
    const char *mode = std::getenv("TALLOW_PROFILE_MODE");
    if (!path || !mode)
        GTEST_SKIP() << "only run as the writer of another test";
    std::string a(300000, 'a'), b(300000, 'b');
    if (std::strcmp(mode, "loop") == 0) {
        for (unsigned i = 0;; ++i)
            WritePrivateProfileStringA("S", "big", i % 2 ? a.c_str() : b.c_str(), path);
    }
    rlimit limit = {100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (std::strcmp(mode, "limit") == 0)
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing us
    BOOL written = WritePrivateProfileStringA("S", "big", b.c_str(), path);
    _exit(!written && GetLastError() == ERROR_DISK_FULL ? 0 : 1);
}

TEST(ProfileCrash, AKilledWriterLeavesAWholeFile)
{
    TempFolder temp;
    std::string path = (temp.folder / "TallowLAMP.ini").string();
    std::ofstream(path, std::ios::binary) << contentWith('a');
    std::string whole[2] = {contentWith('a'), contentWith('b')};
    int seen[2] = {};
    for (int round = 0; round < 12; ++round) {
        pid_t writer = startWriter(path, "loop");
        ASSERT_GT(writer, 0);
        usleep(useconds_t(400000 + round * 7919 % 60000)); // start-up, then a few saves
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";
        std::string after = readAll(path);
        ASSERT_TRUE(after == whole[0] || after == whole[1]) << "round " << round << ": " << after.size() << " bytes";
        ++seen[after == whole[1]];
    }
    // Killed at all kinds of moments: some rounds ended on either content.
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

TEST(ProfileCrash, AFullDiskLeavesTheOldFile)
{
    TempFolder temp;
    std::string path = (temp.folder / "TallowLAMP.ini").string();
    std::string before = "[S]\r\nbig=small\r\n[T]\r\nk=v\r\n";
    std::ofstream(path, std::ios::binary) << before;

    // The write fails and says so: the disk is full. The old file stands, nothing is left over.
    int status = 0;
    pid_t writer = startWriter(path, "limit");
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail with ERROR_DISK_FULL";
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(temp.entries(), 1u);

    // Killed by the file size signal in the middle of the write: the old file stands.
    writer = startWriter(path, "signal");
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(readAll(path), before);
}

TEST(ProfileFile, KeepsTheFileModeAndWritesThroughALink)
{
    TempFolder temp;
    std::string real = (temp.folder / "real.ini").string();
    std::string link = (temp.folder / "TallowLAMP.ini").string();
    std::ofstream(real, std::ios::binary) << "[A]\r\nk=1\r\n";
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, link);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(real), "[A]\r\nk=2\r\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A folder the user may not write to: the write fails, the file stays.
    if (geteuid() != 0) {
        fs::permissions(temp.folder, fs::perms::owner_read | fs::perms::owner_exec);
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "3", real.c_str()));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        fs::permissions(temp.folder, fs::perms::owner_all);
        EXPECT_EQ(readAll(real), "[A]\r\nk=2\r\n");
    }
}

} // namespace
