// The settings writer never leaves a torn file: a writer killed in the middle of a save, or
// one that runs out of room, leaves the old file or the new one, whole.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
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
// no lock held by another thread of ours is inherited). A byte per finished write comes back
// through *progress when asked for (the child's descriptor 3).
pid_t startWriter(const std::string &path, const char *mode, int *progress = nullptr)
{
    int pipeEnds[2] = {-1, -1};
    if (progress && pipe2(pipeEnds, O_CLOEXEC) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        if (progress)
            dup2(pipeEnds[1], 3);
        setenv("TALLOW_PROFILE_WRITER", path.c_str(), 1);
        setenv("TALLOW_PROFILE_MODE", mode, 1);
        execl("/proc/self/exe", "layer_tests", "--gtest_filter=ProfileCrash.DISABLED_WriterChild", "--gtest_also_run_disabled_tests",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    if (progress) {
        close(pipeEnds[1]);
        *progress = pipeEnds[0];
    }
    return child;
}

// Waits for the writer to finish that many writes; false when it ended first.
bool awaitWrites(int progress, int writes)
{
    char byte;
    for (int done = 0; done < writes;) {
        ssize_t got = read(progress, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        ++done;
    }
    return true;
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
            if (WritePrivateProfileStringA("S", "big", i % 2 ? a.c_str() : b.c_str(), path) &&
                write(3, "w", 1) != 1)
                _exit(1);
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
    // bench/kill_rounds.sh asks for many more rounds than the suite's twelve.
    const char *asked = std::getenv("TALLOW_CRASH_ROUNDS");
    int rounds = asked ? std::atoi(asked) : 12;
    for (int round = 0; round < rounds; ++round) {
        int progress = -1;
        pid_t writer = startWriter(path, "loop", &progress);
        ASSERT_GT(writer, 0);
        // A few whole saves first, then a kill at some moment of the next one.
        bool wrote = awaitWrites(progress, 1 + round % 2);
        usleep(useconds_t(round * 7919 % 9000));
        kill(writer, SIGKILL);
        close(progress);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(wrote) << "the writer ended before it wrote";
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";
        std::string after = readAll(path);
        ASSERT_TRUE(after == whole[0] || after == whole[1]) << "round " << round << ": " << after.size() << " bytes";
        ++seen[after == whole[1]];
    }
    // Killed at all kinds of moments: some rounds ended on either content.
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
    std::printf("%d rounds killed mid-save: %d left the old file, %d the new one, none a torn one\n", rounds,
                seen[0], seen[1]);
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
