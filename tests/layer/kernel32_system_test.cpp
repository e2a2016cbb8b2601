// The layer's process services where Linux shows through: the mutex as a lock held by a live
// process, the command line rebuilt from argv, the processor mask, paths with '/'.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// This binary again, running one child test with the given arguments after the filter.
pid_t startChild(const char *test, std::initializer_list<const char *> extra, int outputFd = -1)
{
    pid_t child = fork();
    if (child == 0) {
        if (outputFd >= 0)
            dup2(outputFd, 1);
        std::string filter = std::string("--gtest_filter=") + test;
        const char *argv[16] = {"layer tests", filter.c_str(), "--gtest_also_run_disabled_tests"};
        size_t count = 3;
        for (const char *argument : extra)
            argv[count++] = argument;
        argv[count] = nullptr;
        setenv("TALLOW_SYSTEM_CHILD", "1", 1);
        execv("/proc/self/exe", const_cast<char **>(argv));
        _exit(127);
    }
    return child;
}

int waitExit(pid_t child)
{
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool isChild()
{
    return std::getenv("TALLOW_SYSTEM_CHILD") != nullptr;
}

TEST(SystemChild, DISABLED_HoldsTheMutex)
{
    if (!isChild())
        GTEST_SKIP() << "only run as a child";
    HANDLE mutex = CreateMutexA(nullptr, FALSE, std::getenv("TALLOW_MUTEX"));
    std::printf("answer: %lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
    (void)mutex;
    pause(); // until killed
}

TEST(SystemChild, DISABLED_PrintsItsCommandLine)
{
    if (!isChild())
        GTEST_SKIP() << "only run as a child";
    std::printf("answer: %s\n", GetCommandLineA());
    std::fflush(stdout);
    _exit(0);
}

// The child's "answer: " line; its test framework prints lines of its own first.
std::string readAnswer(int fd)
{
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line.compare(0, 8, "answer: ") == 0)
            return line.substr(8);
        line.clear();
    }
    return "<no answer>";
}

TEST(Mutex, IsHeldWhileItsHolderLives)
{
    std::string name = std::string("TallowLAMP-test-") + std::to_string(getpid());
    setenv("TALLOW_MUTEX", name.c_str(), 1);

    // Another live process holds it: the caller gets a handle and ERROR_ALREADY_EXISTS.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t holder = startChild("SystemChild.DISABLED_HoldsTheMutex", {}, pipeFds[1]);
    close(pipeFds[1]);
    EXPECT_EQ(readAnswer(pipeFds[0]), "0");
    close(pipeFds[0]);
    SetLastError(0xdeadbeef);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(mutex));

    // The holder crashes: the kernel frees the mutex.
    kill(holder, SIGKILL);
    waitExit(holder);
    SetLastError(0xdeadbeef);
    mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));

    // A second creation in the same process also finds it, as on Windows.
    HANDLE again = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(mutex));
    unsetenv("TALLOW_MUTEX");
}

TEST(Mutex, TrustsOnlyAFolderAndLockOfTheUsersOwn)
{
    // Run as root, the suite makes the other user "nobody"; as anyone else it cannot give a
    // file away, so the cases need root.
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED LOUDLY: the other user's files need root to make; this machine runs the suite as uid "
                     << geteuid();
    char pattern[] = "/tmp/tallow-mutex-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    std::string scratch = pattern, mine = scratch + "/tmp/tallowlamp-0";
    std::string name = "TallowLAMP-trust-" + std::to_string(getpid());
    std::string theirs = scratch + "/run";
    ASSERT_EQ(0, mkdir((scratch + "/tmp").c_str(), 01777));
    ASSERT_EQ(0, chmod((scratch + "/tmp").c_str(), 01777));
    ASSERT_EQ(0, mkdir(theirs.c_str(), 0777));
    ASSERT_EQ(0, chmod(theirs.c_str(), 0777));
    ASSERT_EQ(0, chown(theirs.c_str(), 65534, 65534));
    const char *runtime = std::getenv("XDG_RUNTIME_DIR"), *temporary = std::getenv("TMPDIR");
    std::string oldRuntime = runtime ? runtime : "", oldTemporary = temporary ? temporary : "";
    setenv("TMPDIR", (scratch + "/tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", theirs.c_str(), 1);

    // Another user's runtime folder, with a lock held in it: not ours, so no "already running".
    std::string planted = theirs + "/" + name + ".mutex";
    int held = open(planted.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(0, flock(held, LOCK_EX | LOCK_NB));
    SetLastError(0xdeadbeef);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_NE(nullptr, mutex);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), GetLastError());
    CloseHandle(mutex);
    close(held);
    // It went to the user's own folder in TMPDIR, private.
    struct stat info;
    ASSERT_EQ(0, lstat(mine.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    EXPECT_EQ(0, access((mine + "/" + name + ".mutex").c_str(), F_OK));

    // A lock file in it that someone else owns.
    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(0, chown((mine + "/" + name + ".mutex").c_str(), 65534, 65534));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name.c_str()));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());

    // The folder made first by someone else, or a link put in its place.
    std::string command = "rm -rf '" + mine + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
    ASSERT_EQ(0, mkdir(mine.c_str(), 0777));
    ASSERT_EQ(0, chown(mine.c_str(), 65534, 65534));
    EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_EQ(0, rmdir(mine.c_str()));
    ASSERT_EQ(0, symlink(theirs.c_str(), mine.c_str()));
    EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name.c_str()));
    ASSERT_EQ(0, unlink(mine.c_str()));

    // A folder of ours that others may enter is made private again.
    ASSERT_EQ(0, mkdir(mine.c_str(), 0755));
    mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_NE(nullptr, mutex);
    CloseHandle(mutex);
    ASSERT_EQ(0, lstat(mine.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);

    auto restore = [](const char *variable, const std::string &value) {
        if (value.empty())
            unsetenv(variable);
        else
            setenv(variable, value.c_str(), 1);
    };
    restore("TMPDIR", oldTemporary);
    restore("XDG_RUNTIME_DIR", oldRuntime);
    command = "rm -rf '" + scratch + "'";
    EXPECT_EQ(0, std::system(command.c_str()));
}

TEST(CommandLine, IsRebuiltAsWindowsShowsIt)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = startChild("SystemChild.DISABLED_PrintsItsCommandLine", {"-startup", "two words", "say \"hi\"", ""},
                             pipeFds[1]);
    close(pipeFds[1]);
    std::string line = readAnswer(pipeFds[0]);
    close(pipeFds[0]);
    EXPECT_EQ(waitExit(child), 0);
    EXPECT_EQ(line, "\"layer tests\" --gtest_filter=SystemChild.DISABLED_PrintsItsCommandLine "
                    "--gtest_also_run_disabled_tests -startup \"two words\" "
                    "\"say \\\"hi\\\"\" \"\"");
}

TEST(Process, PinsToTheFirstAllowedProcessorAndNamesItself)
{
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    int first = 0;
    while (!CPU_ISSET(first, &before))
        ++first;
    EXPECT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 1));
    cpu_set_t after;
    ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_EQ(CPU_COUNT(&after), 1);
    EXPECT_TRUE(CPU_ISSET(first, &after));
    sched_setaffinity(0, sizeof before, &before);
    SetLastError(0);
    EXPECT_FALSE(SetProcessAffinityMask(GetCurrentProcess(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A module handle that fits in 32 bits, as Windows' are.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), uintptr_t(0x00400000));
    EXPECT_EQ(GetModuleHandleA("layer_tests.exe"), GetModuleHandleA(nullptr));
    EXPECT_EQ(GetModuleHandleA("no such module.dll"), nullptr);

    char text[] = "MiXeD -StartUp 1";
    EXPECT_STREQ(_strlwr(text), "mixed -startup 1");
}

TEST(Paths, LinuxPathsKeepTheirSeparator)
{
    char path[MAX_PATH] = "/usr/local/bin/TallowLAMP";
    EXPECT_TRUE(PathRemoveFileSpecA(path));
    EXPECT_STREQ(path, "/usr/local/bin");
    EXPECT_TRUE(PathAppendA(path, "TallowLAMP.ini"));
    EXPECT_STREQ(path, "/usr/local/bin/TallowLAMP.ini");
    std::strcpy(path, "/TallowLAMP");
    EXPECT_TRUE(PathRemoveFileSpecA(path));
    EXPECT_STREQ(path, "/");
    EXPECT_TRUE(PathAppendA(path, "TallowLAMP.ini"));
    EXPECT_STREQ(path, "/TallowLAMP.ini");
    std::strcpy(path, "/home/user/../opt");
    EXPECT_EQ(PathAddBackslashA(path), path + 18);
    EXPECT_STREQ(path, "/home/user/../opt/");

    // No room for the separator and its terminator in a MAX_PATH buffer: refused, untouched.
    std::string longest(MAX_PATH - 2, 'x');
    std::strcpy(path, longest.c_str());
    EXPECT_EQ(PathAddBackslashA(path), path + MAX_PATH - 1);
    longest += 'y';
    std::strcpy(path, longest.c_str());
    EXPECT_EQ(PathAddBackslashA(path), nullptr);
    EXPECT_EQ(std::string(path), longest);
}

} // namespace
