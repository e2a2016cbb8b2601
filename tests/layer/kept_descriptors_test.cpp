// The counter files and meminfo stay open from poll to poll: what a caller sees is still what
// opening them anew each time would show, and no descriptor is lost.
#include "platform/win32.h"
#include "tests/support/machine_testing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>

namespace {

int openDescriptors()
{
    int count = 0;
    if (DIR *folder = opendir("/proc/self/fd")) {
        while (readdir(folder))
            ++count;
        closedir(folder);
    }
    return count;
}

// One poll of a drive as the program makes it: open, query, close. ReadCount, or -1 when the
// drive does not open, -2 when the query fails.
long long poll(const char *drive)
{
    HANDLE device = CreateFileA(drive, 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return -1;
    DISK_PERFORMANCE performance = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                              &returned, nullptr);
    EXPECT_TRUE(CloseHandle(device));
    return ok ? (long long)performance.ReadCount : -2;
}

DWORD memoryLoad()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.dwMemoryLoad : 999;
}

} // namespace

TEST(KeptDescriptors, PollsSeeEveryChangeUnplugAndReplugWithoutLosingDescriptors)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddDisk(machine, "sdb", 8, 16, true);
    fixtureAddMount(machine, 8, 0, "/", "ext4", "/dev/sda");
    fixtureSetMemory(machine, 8000000, 4000000, 0, 0);
    UseMachine use(machine);

    ASSERT_EQ(poll("\\\\.\\C:"), 0);
    ASSERT_EQ(poll("\\\\.\\PHYSICALDRIVE1"), 0);
    ASSERT_EQ(memoryLoad(), 50u);
    int descriptors = openDescriptors();
    for (int round = 1; round <= 300; ++round) {
        // Every change shows at the next poll: counters, memory, a disk going and coming back.
        fixtureSetCounters(machine, "sda", round, 0);
        fixtureSetMemory(machine, 8000000, 8000000 - round * 10000, 0, 0);
        ASSERT_EQ(poll("\\\\.\\C:"), round);
        ASSERT_EQ(poll("\\\\.\\PHYSICALDRIVE0"), round);
        ASSERT_EQ(memoryLoad(), DWORD(round * 10000 * 100 / 8000000));
        if (round % 3 == 0) {
            fixtureRemoveCounters(machine, "sdb");
            SetLastError(0xdeadbeef);
            ASSERT_EQ(poll("\\\\.\\PHYSICALDRIVE1"), -1) << "round " << round;
            EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        } else {
            fixtureSetCounters(machine, "sdb", 1000 + round, 0);
            ASSERT_EQ(poll("\\\\.\\PHYSICALDRIVE1"), 1000 + round) << "round " << round;
        }
    }
    EXPECT_EQ(openDescriptors(), descriptors);

    // A removed meminfo fails at once, and is read again when it is back.
    std::remove((machine.root + "/proc/meminfo").c_str());
    EXPECT_EQ(memoryLoad(), 999u);
    fixtureSetMemory(machine, 8000000, 2000000, 0, 0);
    EXPECT_EQ(memoryLoad(), 75u);

    // A kernel before 3.14 has no MemAvailable: free, buffers and page cache count as available.
    // SwapCached is not Cached; the last line needs no line end.
    std::ofstream(machine.root + "/proc/meminfo.new")
        << "MemTotal:\t8000000 kB\nMemFree:   1000000 kB\nBuffers:  500000 kB\nSwapCached: 3000000 kB\n"
           "Cached:  500000 kB\nSwapTotal: 1000000 kB\nSwapFree: 250000 kB";
    std::rename((machine.root + "/proc/meminfo.new").c_str(), (machine.root + "/proc/meminfo").c_str());
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    EXPECT_EQ(status.dwMemoryLoad, 75u);
    EXPECT_EQ(status.ullAvailPhys, 2000000ull * 1024);
    EXPECT_EQ(status.ullTotalPageFile, 9000000ull * 1024);
    EXPECT_EQ(status.ullAvailPageFile, 2250000ull * 1024);

    // Another machine: its own files, though the paths within it are the same.
    FixtureMachine other;
    fixtureAddDisk(other, "sda", 8, 0);
    fixtureAddMount(other, 8, 0, "/", "ext4", "/dev/sda");
    fixtureSetCounters(other, "sda", 4242, 0);
    fixtureSetMemory(other, 8000000, 6000000, 0, 0);
    UseMachine useOther(other);
    EXPECT_EQ(poll("\\\\.\\C:"), 4242);
    EXPECT_EQ(memoryLoad(), 25u);
}

TEST(KeptDescriptors, HandlesBehaveAsWindowsHandles)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddMount(machine, 8, 0, "/", "ext4", "/dev/sda");
    fixtureSetCounters(machine, "sda", 7, 9);
    UseMachine use(machine);
    DISK_PERFORMANCE performance = {};
    DWORD returned = 0;

    // Two handles on one device at once are two handles; each works until it is closed.
    HANDLE first = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE second = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    EXPECT_TRUE(CloseHandle(first));
    ASSERT_TRUE(DeviceIoControl(second, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                                &returned, nullptr));
    EXPECT_EQ(performance.ReadCount, 7u);
    EXPECT_TRUE(CloseHandle(second));

    // A closed handle is no handle, though its descriptor is kept for the next poll.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(first, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    // Queried twice through one handle: the second query reads anew (the file changed in place,
    // as the kernel's does).
    fixtureSetCounters(machine, "sda", 8, 9);
    HANDLE device = CreateFileA("\\\\.\\C:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                                &returned, nullptr));
    EXPECT_EQ(performance.ReadCount, 8u);
    std::ofstream(machine.blocks["sda"] + "/stat") << "      11 0 0 0 9 0 0 0 0 0 0\n";
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                                &returned, nullptr));
    EXPECT_EQ(performance.ReadCount, 11u);
    EXPECT_TRUE(CloseHandle(device));
}

// The kernel's own counter files, of this machine's first disk.
TEST(KeptDescriptors, TheKernelsCounterFilesStayOpen)
{
    pointLayerAt(nullptr);
    HANDLE device = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "\n*** THIS MACHINE HAS NO WHOLE DISK WITH COUNTERS: the kernel's files are not "
                             "tested here ***\n\n");
        GTEST_SKIP() << "no \\\\.\\PHYSICALDRIVE0 on this machine";
    }
    EXPECT_TRUE(CloseHandle(device));
    long long before = poll("\\\\.\\PHYSICALDRIVE0");
    int descriptors = openDescriptors();
    HANDLE again = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(again, device); // the same descriptor, not a new one
    EXPECT_TRUE(CloseHandle(again));
    for (int i = 0; i < 100; ++i)
        EXPECT_GE(poll("\\\\.\\PHYSICALDRIVE0"), before);
    EXPECT_EQ(openDescriptors(), descriptors);
    for (int i = 0; i < 100; ++i)
        EXPECT_LT(memoryLoad(), 101u);
    EXPECT_EQ(openDescriptors(), descriptors);
}
