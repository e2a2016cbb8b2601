// Discovery, drive sampling and the meters on machines in a folder, and on the real machine.
#include "tests/support/fixture_machine.h"
#include "tests/support/machine_testing.h"
#include "units/discovery.h"
#include "units/drive_sampling.h"
#include "units/load_meters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <iterator>
#include <vector>

namespace {

// A workstation: a disk with no counters (gap), a USB stick, a CD, the system disk, a data
// disk mounted twice, a network share and the pseudo filesystems that get no letter.
void buildWorkstation(FixtureMachine &machine)
{
    fixtureAddDisk(machine, "loop0", 7, 0);
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureRemoveCounters(machine, "sda");
    fixtureAddDisk(machine, "sdb", 8, 16, true);
    fixtureAddPartition(machine, "sdb", "sdb1", 8, 17);
    fixtureAddDisk(machine, "sr0", 11, 0, true);
    fixtureAddDisk(machine, "vda", 254, 0);
    fixtureAddDisk(machine, "vdb", 254, 16);
    fixtureAddPartition(machine, "vdb", "vdb1", 254, 17);
    fixtureAddDisk(machine, "zram0", 252, 0);
    fixtureAddLabel(machine, "USB STICK", "sdb1");
    fixtureAddLabel(machine, "data", "vdb1");

    // An early root, later mounted over: the last "/" is the one in sight.
    fixtureAddMount(machine, 0, 1, "/", "rootfs", "rootfs");
    fixtureAddMount(machine, 0, 20, "/proc", "proc", "proc");
    fixtureAddMount(machine, 0, 21, "/sys", "sysfs", "sysfs");
    fixtureAddMount(machine, 0, 22, "/dev/shm", "tmpfs", "tmpfs");
    fixtureAddMount(machine, 8, 17, fixtureFolder(machine, "usb stick"), "vfat", "/dev/sdb1");
    fixtureAddMount(machine, 11, 0, fixtureFolder(machine, "cdrom"), "iso9660", "/dev/sr0");
    fixtureAddMount(machine, 0, 50, fixtureFolder(machine, "share"), "nfs4", "server:/export");
    fixtureAddMount(machine, 254, 17, fixtureFolder(machine, "data"), "ext4", "/dev/vdb1");
    fixtureAddMount(machine, 254, 17, fixtureFolder(machine, "data-again"), "ext4", "/dev/vdb1");
    fixtureAddMount(machine, 0, 23, fixtureFolder(machine, "overlay"), "overlay", "overlay");
    fixtureAddMount(machine, 254, 0, "/", "ext4", "/dev/vda");
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
}

TEST(Discovery, FindsTheDrivesOfAMachine)
{
    FixtureMachine machine;
    buildWorkstation(machine);
    UseMachine use(machine);
    DiscoveredList list;

    // sda has no counters, so it does not open: a gap at number 0. loop0, sr0 and zram0 are
    // no physical drives; vdb1's second mount gets no letter, nor do proc, sysfs, tmpfs, overlay.
    std::vector<std::string> expected = {
        "0  kind=0 listed=0 label=[] fs=[]",
        "100 \\\\.\\PHYSICALDRIVE1 kind=1 listed=1 label=[] fs=[]",
        "101 \\\\.\\PHYSICALDRIVE2 kind=1 listed=1 label=[] fs=[]",
        "102 \\\\.\\PHYSICALDRIVE3 kind=1 listed=1 label=[] fs=[]",
        "103 \\\\.\\C: kind=3 listed=1 label=[] fs=[ext4]",
        "104 \\\\.\\D: kind=2 listed=0 label=[USB STICK] fs=[vfat]",
        "105 \\\\.\\E: kind=5 listed=0 label=[] fs=[iso9660]",
        "106 \\\\.\\F: kind=4 listed=0 label=[] fs=[nfs4]",
        "107 \\\\.\\G: kind=3 listed=1 label=[data] fs=[ext4]",
        "108 RAM Usage kind=4096 listed=1 label=[] fs=[]",
        "109 VRAM Usage kind=4097 listed=1 label=[] fs=[]",
    };
    EXPECT_EQ(describeList(list.cursor), expected);

    // The cursor rests on the tail placeholder; every real Unit starts changed.
    EXPECT_EQ(list.cursor->next, nullptr);
    EXPECT_EQ(list.cursor->unitId, 0);
    EXPECT_EQ(list.cursor->notListed, 1);
    forEachUnitForward(list.cursor, [](Unit *unit) {
        EXPECT_EQ(unit->changed, unit->unitId ? 1 : 0) << unit->path;
        EXPECT_EQ(unit->enabled, 0);
        EXPECT_EQ(unit->showInTray, 1);
    });

    // Windows' answers for what discovery asks.
    EXPECT_EQ(GetDriveTypeA("PHYSICALDRIVE2"), UINT(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeA("H:"), UINT(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeA("c:\\"), UINT(DRIVE_FIXED));
    char label[MAX_PATH], fileSystem[MAX_PATH];
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVolumeInformationA("H:\\", label, MAX_PATH, nullptr, nullptr, nullptr, fileSystem, MAX_PATH));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(GetVolumeInformationA("D:\\", label, 4, nullptr, nullptr, nullptr, fileSystem, MAX_PATH));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_LENGTH));
}

TEST(Discovery, AMachineWithoutDrivesStillHasItsMeters)
{
    FixtureMachine machine; // no disks, no mounts, no dev/disk/by-label at all
    UseMachine use(machine);
    DiscoveredList list;
    std::vector<std::string> expected = {
        "0  kind=0 listed=0 label=[] fs=[]",
        "100 RAM Usage kind=4096 listed=1 label=[] fs=[]",
        "101 VRAM Usage kind=4097 listed=1 label=[] fs=[]",
    };
    EXPECT_EQ(describeList(list.cursor), expected);
}

TEST(Discovery, ALabelMissingFromByLabelLeavesTheLabelEmpty)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "nvme0n1", 259, 0);
    fixtureAddPartition(machine, "nvme0n1", "nvme0n1p1", 259, 1);
    fixtureAddPartition(machine, "nvme0n1", "nvme0n1p2", 259, 2);
    fixtureAddLabel(machine, "boot", "nvme0n1p1");
    fixtureAddMount(machine, 259, 2, "/", "btrfs", "/dev/nvme0n1p2");
    // btrfs shows an anonymous device number: the source names the partition.
    machine.mountLines.back().replace(machine.mountLines.back().find("259:2"), 5, "0:31");
    fixtureAddMount(machine, 259, 1, fixtureFolder(machine, "boot"), "vfat", "/dev/nvme0n1p1");
    UseMachine use(machine);
    DiscoveredList list;
    std::vector<std::string> expected = {
        "0  kind=0 listed=0 label=[] fs=[]",
        "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
        "101 \\\\.\\C: kind=3 listed=1 label=[] fs=[btrfs]",
        "102 \\\\.\\D: kind=3 listed=1 label=[boot] fs=[vfat]",
        "103 RAM Usage kind=4096 listed=1 label=[] fs=[]",
        "104 VRAM Usage kind=4097 listed=1 label=[] fs=[]",
    };
    EXPECT_EQ(describeList(list.cursor), expected);

    // C: reads the partition's own counters.
    fixtureSetCounters(machine, "nvme0n1p2", 7, 9);
    HANDLE device = CreateFileA("\\\\.\\C:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DISK_PERFORMANCE performance;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance,
                                &returned, nullptr));
    EXPECT_EQ(returned, DWORD(sizeof(DISK_PERFORMANCE)));
    EXPECT_EQ(performance.ReadCount, 7u);
    EXPECT_EQ(performance.WriteCount, 9u);
    EXPECT_TRUE(CloseHandle(device));
}

TEST(DeviceIoControl, FillsDiskPerformanceAsWindowsDoes)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddMount(machine, 8, 0, "/", "ext4", "/dev/sda");
    fixtureAddMount(machine, 0, 40, fixtureFolder(machine, "share"), "cifs", "//server/share");
    // Counts beyond 32 bits keep their low 32 bits; sectors are 512 bytes.
    fixtureSetCounters(machine, "sda", 0x100000005ull, 77, 1000, 3);
    UseMachine use(machine);

    HANDLE device = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DISK_PERFORMANCE performance;
    std::memset(&performance, 0xcc, sizeof performance);
    DWORD returned = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, 87, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, 88, &returned, nullptr));
    EXPECT_EQ(performance.ReadCount, 5u);
    EXPECT_EQ(performance.WriteCount, 77u);
    EXPECT_EQ(performance.BytesRead.QuadPart, 512000);
    EXPECT_EQ(performance.BytesWritten.QuadPart, 1536);
    EXPECT_GT(performance.QueryTime.QuadPart, 0);
    EXPECT_TRUE(CloseHandle(device));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    // A network letter opens (its mount is there) but has no counters.
    EXPECT_EQ(GetDriveTypeA("D:\\"), UINT(DRIVE_REMOTE));
    device = CreateFileA("\\\\.\\D:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, 88, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(CloseHandle(device));

    // Absent drives.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileA("\\\\.\\PHYSICALDRIVE1", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateFileA("\\\\.\\E:", 0, 3, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);

    // Free space of a letter, of its device path with a backslash, never of a physical drive.
    ULARGE_INTEGER available, total, free;
    struct statvfs sizes;
    ASSERT_EQ(statvfs("/", &sizes), 0);
    ASSERT_TRUE(GetDiskFreeSpaceExA("\\\\.\\C:\\", &available, &total, &free));
    EXPECT_EQ(total.QuadPart, ULONGLONG(sizes.f_blocks) * sizes.f_frsize);
    EXPECT_TRUE(GetDiskFreeSpaceExA("C:\\", nullptr, &total, nullptr));
    EXPECT_FALSE(GetDiskFreeSpaceExA("\\\\.\\PHYSICALDRIVE0\\", nullptr, &total, &free));
}

// The enabled Units of a discovered list, by path.
void enable(DiscoveredList &list, std::initializer_list<const char *> paths)
{
    for (const char *path : paths) {
        Unit *unit = list.find(path);
        ASSERT_NE(unit, nullptr) << path;
        unit->enabled = 1;
    }
}

void clearChanged(DiscoveredList &list)
{
    forEachUnitForward(list.cursor, [](Unit *unit) { unit->changed = 0; });
}

int pass(DiscoveredList &list)
{
    GeneralOptions options = {};
    GeneralOptions *optionsAddress = &options;
    return sampleUnits(&list.cursor, &optionsAddress);
}

struct SamplerReset {
    SamplerReset() { samplerState = {0, 0, 0}; } // no diskperf box in a test
    ~SamplerReset() { samplerState = {1, 0, 0}; }
};

TEST(Sampling, ActivityFollowsTheCountersFromPassToPass)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddDisk(machine, "sdb", 8, 16);
    fixtureAddPartition(machine, "sda", "sda1", 8, 1);
    fixtureAddMount(machine, 8, 1, "/", "ext4", "/dev/sda1");
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    fixtureSetCounters(machine, "sda", 900, 500);
    fixtureSetCounters(machine, "sdb", 40, 41);
    UseMachine use(machine);
    SamplerReset reset;
    DiscoveredList list;
    enable(list, {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\C:"});
    Unit *disk = list.find("\\\\.\\PHYSICALDRIVE0");
    Unit *other = list.find("\\\\.\\PHYSICALDRIVE1"); // not enabled
    Unit *volume = list.find("\\\\.\\C:");

    // First pass: every non-zero count is news.
    clearChanged(list);
    EXPECT_EQ(pass(list), 1);
    EXPECT_EQ(disk->activity, ACT_READ_WRITE);
    EXPECT_EQ(disk->lastReadCount, 900u);
    EXPECT_EQ(disk->lastWriteCount, 500u);
    EXPECT_EQ(disk->changed, 1);
    EXPECT_EQ(volume->activity, ACT_IDLE); // its counters are all 0
    EXPECT_EQ(volume->changed, 0);

    struct Step {
        uint64_t reads, writes;
        int8_t activity;
        BOOL changed;
    };
    const Step steps[] = {
        {900, 500, ACT_IDLE, 1},       // 0: nothing moved: back to idle, which is a change
        {900, 501, ACT_WRITE, 1},      // 1: written
        {900, 501, ACT_IDLE, 1},       // 2
        {900, 501, ACT_IDLE, 0},       // 3: still nothing: changed left as the tray left it
        {901, 501, ACT_READ, 1},       // 4: read
        {905, 509, ACT_READ_WRITE, 1}, // 5: both
        {905, 0, ACT_IDLE, 1},         // 6: the write count wrapped to 0: stored, shows nothing
        {905, 3, ACT_WRITE, 1},        // 7
        {0, 3, ACT_IDLE, 1},           // 8: the read count wrapped
    };
    for (size_t i = 0; i < sizeof steps / sizeof *steps; ++i) {
        fixtureSetCounters(machine, "sda", steps[i].reads, steps[i].writes);
        clearChanged(list);
        EXPECT_EQ(pass(list), 1);
        EXPECT_EQ(disk->activity, steps[i].activity) << "step " << i;
        EXPECT_EQ(disk->changed, steps[i].changed) << "step " << i;
        EXPECT_EQ(disk->lastReadCount, uint32_t(steps[i].reads)) << "step " << i;
        EXPECT_EQ(disk->lastWriteCount, uint32_t(steps[i].writes)) << "step " << i;
    }

    // The partition has counters of its own.
    fixtureSetCounters(machine, "sda1", 0, 12);
    clearChanged(list);
    pass(list);
    EXPECT_EQ(volume->activity, ACT_WRITE);
    EXPECT_EQ(disk->activity, ACT_IDLE);

    // A disabled drive is never touched.
    EXPECT_EQ(other->activity, ACT_IDLE);
    EXPECT_EQ(other->lastReadCount, 0u);
    EXPECT_EQ(other->percent, 0);
    EXPECT_EQ(other->scaleDivisor, 0u);

    // A physical drive has no free space; the volume's is the statvfs of its mount.
    EXPECT_EQ(disk->percent, -1);
    EXPECT_EQ(disk->scaleLetter, ' ');
    EXPECT_EQ(disk->scaleDivisor, 1u);
    EXPECT_EQ(disk->freeScaled, 0u);
    EXPECT_EQ(disk->totalScaled, 0u);
    struct statvfs sizes;
    ASSERT_EQ(statvfs("/", &sizes), 0);
    ULONGLONG total = ULONGLONG(sizes.f_blocks) * sizes.f_frsize;
    ULONGLONG free = ULONGLONG(sizes.f_bfree) * sizes.f_frsize;
    ASSERT_GT(total, 1073741824ull);
    EXPECT_EQ(volume->scaleLetter, 'G');
    EXPECT_EQ(volume->totalScaled, uint32_t(total / 1073741824));
    EXPECT_NEAR(volume->percent, int(free * 100 / total), 1);
}

TEST(Sampling, AnUnpluggedDriveIsSkippedAndTheRestGoOn)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddDisk(machine, "sdb", 8, 16, true);
    fixtureAddDisk(machine, "sdc", 8, 32);
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    fixtureSetCounters(machine, "sdb", 10, 10);
    UseMachine use(machine);
    SamplerReset reset;
    DiscoveredList list;
    enable(list, {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSICALDRIVE1", "\\\\.\\PHYSICALDRIVE2", "RAM Usage",
                  "VRAM Usage"});
    Unit *usb = list.find("\\\\.\\PHYSICALDRIVE1");
    Unit *after = list.find("\\\\.\\PHYSICALDRIVE2");
    Unit *ram = list.find("RAM Usage");
    Unit *vram = list.find("VRAM Usage");
    EXPECT_EQ(pass(list), 1);
    EXPECT_EQ(usb->activity, ACT_READ_WRITE);
    EXPECT_EQ(ram->percent, 56);

    // The stick goes while it was lit: it goes dark, and everything after it is still sampled.
    fixtureRemoveCounters(machine, "sdb");
    fixtureSetCounters(machine, "sdc", 0, 4);
    fixtureSetMemory(machine, 8388608, 4194304, 8388608, 8388608);
    clearChanged(list);
    EXPECT_EQ(pass(list), 0);
    EXPECT_EQ(usb->activity, ACT_IDLE);
    EXPECT_EQ(usb->changed, 1);
    EXPECT_EQ(usb->lastReadCount, 10u);
    EXPECT_EQ(after->activity, ACT_WRITE);
    EXPECT_EQ(ram->percent, 50);
    EXPECT_EQ(ram->changed, 1);
    EXPECT_EQ(vram->percent, 25); // 12 GiB of 16 GiB available
    EXPECT_EQ(vram->virtFreeMb, 12288u);

    // Plugged in again: sampled again, its counts compared with those it had.
    fixtureSetCounters(machine, "sdb", 10, 11);
    clearChanged(list);
    EXPECT_EQ(pass(list), 1);
    EXPECT_EQ(usb->activity, ACT_WRITE);
}

// The child's side of the test below: on Qt's offscreen platform the layer answers a message
// box at once with its safe answer (IDNO) and shows it on standard error.
TEST(Sampling, DISABLED_DiskperfChild)
{
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    std::ofstream(machine.root + "/sys/block/sda/stat") << "counters switched off\n";
    fixtureAddMount(machine, 0, 30, "/", "overlay", "overlay"); // C: without a block device
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    UseMachine use(machine);
    samplerState = {1, 0, 0};
    DiscoveredList list;
    enable(list, {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\C:", "RAM Usage"});
    Unit *disk = list.find("\\\\.\\PHYSICALDRIVE0");
    Unit *system = list.find("\\\\.\\C:");
    // Lit at the last pass, with counts of its own.
    disk->activity = ACT_READ_WRITE;
    disk->lastReadCount = 5;
    disk->lastWriteCount = 6;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pass(list), 1);
    // No counters: no activity, the counts stay, the free space is still known.
    EXPECT_EQ(disk->activity, ACT_IDLE);
    EXPECT_EQ(disk->lastReadCount, 5u);
    EXPECT_EQ(disk->lastWriteCount, 6u);
    EXPECT_EQ(system->activity, ACT_IDLE);
    EXPECT_GE(system->percent, 0);
    EXPECT_EQ(list.find("RAM Usage")->percent, 56);
    EXPECT_EQ(samplerState.diskperfPromptPending, 0);
}

TEST(Sampling, FailedCountersShowNothingAndPromptOnce)
{
    std::string errors = std::string(::testing::TempDir()) + "tallow-diskperf-" + std::to_string(getpid());
    pid_t child = fork();
    if (child == 0) {
        std::freopen(errors.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl("/proc/self/exe", "layer_tests", "--gtest_filter=Sampling.DISABLED_DiskperfChild",
              "--gtest_also_run_disabled_tests", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(errors);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(errors.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;
    // Two drives without counters, three passes: one box.
    size_t boxes = 0;
    for (size_t at = text.find("TallowLAMP FAILURE: TallowLAMP ERROR:"); at != std::string::npos;
         at = text.find("TallowLAMP FAILURE: TallowLAMP ERROR:", at + 1))
        ++boxes;
    EXPECT_EQ(boxes, 1u) << text;
    EXPECT_NE(text.find("diskperf -y\ndo you want to try this now?"), std::string::npos) << text;
}

TEST(Meters, ShowTheDocumentedFigures)
{
    FixtureMachine machine;
    // 8 GiB of memory, 3.5 GiB available; 8 GiB of swap, 2.5 GiB of it free: the commit limit
    // is 16 GiB with 6 GiB (37.5 %) available.
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    UseMachine use(machine);
    SamplerReset reset;
    DiscoveredList list;
    enable(list, {"RAM Usage", "VRAM Usage"});
    Unit *ram = list.find("RAM Usage");
    Unit *vram = list.find("VRAM Usage");

    clearChanged(list);
    pass(list);
    EXPECT_EQ(ram->memTotalMb, 8192u);
    EXPECT_EQ(ram->memFreeMb, 3584u);
    EXPECT_EQ(ram->percent, 56); // (8 - 3.5) / 8, truncated
    EXPECT_EQ(ram->activity, ACT_METER);
    EXPECT_EQ(ram->changed, 1);
    EXPECT_EQ(vram->virtTotalMb, 16384u);
    EXPECT_EQ(vram->virtFreeMb, 6144u);
    EXPECT_EQ(vram->percent, 63); // rounded up
    EXPECT_EQ(vram->changed, 1);

    // The same load again: the MiB figures follow, changed stays as the tray left it.
    fixtureSetMemory(machine, 8388608, 3670000, 8388608, 2621440);
    clearChanged(list);
    pass(list);
    EXPECT_EQ(ram->changed, 0);
    EXPECT_EQ(ram->memFreeMb, 3583u);
    EXPECT_EQ(ram->activity, ACT_METER);

    // Nothing available at all, then everything.
    fixtureSetMemory(machine, 8388608, 0, 0, 0);
    pass(list);
    EXPECT_EQ(ram->percent, 100);
    EXPECT_EQ(vram->percent, 100);
    fixtureSetMemory(machine, 8388608, 8388608, 8388608, 8388608);
    pass(list);
    EXPECT_EQ(ram->percent, 0);
    EXPECT_EQ(vram->percent, 0);

    // A memory status that cannot be read is no news: the meters keep what they show.
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    pass(list);
    std::remove((machine.root + "/proc/meminfo").c_str());
    clearChanged(list);
    pass(list);
    EXPECT_EQ(ram->percent, 56);
    EXPECT_EQ(vram->percent, 63);
    EXPECT_EQ(ram->changed, 0);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    EXPECT_FALSE(GlobalMemoryStatusEx(&status));
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    status.dwLength = 60;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GlobalMemoryStatusEx(&status));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    status.dwLength = 64;
    EXPECT_TRUE(GlobalMemoryStatusEx(&status));
    EXPECT_EQ(status.dwMemoryLoad, 56u);
    EXPECT_EQ(status.ullTotalPageFile, 16ull << 30);
    EXPECT_EQ(status.ullAvailPageFile, 6ull << 30);
}

// The mount table's type of "/" on this machine.
std::string rootFileSystem()
{
    std::ifstream table("/proc/self/mountinfo");
    std::string line, type;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        size_t dash = 6;
        while (dash < words.size() && words[dash] != "-")
            ++dash;
        if (words.size() > dash + 1 && words[4] == "/")
            type = words[dash + 1];
    }
    return type;
}

// The system disk need not be the first: every disk is watched, and the one under / must see
// the write (a test that runs in a chroot needs / to be a mount, as scripts/fresh-check makes it).
TEST(RealMachine, FindsTheSystemDiskAndSeesAWrite)
{
    pointLayerAt(nullptr);
    SamplerReset reset;
    DiscoveredList list;
    std::vector<Unit *> disks;
    forEachUnitForward(list.cursor, [&](Unit *unit) {
        if (std::string(unit->path).rfind("\\\\.\\PHYSICALDRIVE", 0) == 0)
            disks.push_back(unit);
    });
    Unit *system = list.find("\\\\.\\C:");
    ASSERT_FALSE(disks.empty());
    ASSERT_NE(system, nullptr) << "no C: : is / a mount point here?";
    EXPECT_EQ(disks.front()->unitId, 100);
    EXPECT_EQ(std::string(system->fileSystem), rootFileSystem());
    EXPECT_EQ(system->kind, DRIVE_FIXED);
    EXPECT_EQ(system->notListed, 0);

    for (Unit *disk : disks)
        disk->enabled = 1;
    system->enabled = 1;
    pass(list);
    if (system->lastWriteCount == 0)
        GTEST_SKIP() << "THIS MACHINE DIFFERS: / has no write counters (" << system->fileSystem << ")";
    pass(list);
    uint32_t writesBefore = system->lastWriteCount;
    int status = std::system("dd if=/dev/zero of=/var/tmp/x bs=1M count=8 conv=fsync status=none");
    std::remove("/var/tmp/x");
    ASSERT_EQ(status, 0);
    pass(list);
    int written = 0;
    for (Unit *disk : disks)
        written += (disk->activity & ACT_WRITE) != 0;
    EXPECT_GE(written, 1) << "no disk saw the write to /";
    EXPECT_TRUE(system->activity & ACT_WRITE) << int(system->activity);
    EXPECT_GT(system->lastWriteCount, writesBefore);
    EXPECT_GE(system->percent, 0);
    EXPECT_LE(system->percent, 100);
}

} // namespace
