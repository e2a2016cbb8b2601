// Discovery and counters on machines laid out as real installations are: snaps, LUKS, LVM,
// btrfs, several NVMe controllers, empty card slots, eMMC.
#include "platform/layer_testing.h"
#include "tests/support/fixture_machine_layouts.h"
#include "tests/support/machine_testing.h"
#include "units/drive_sampling.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The read and write counts the device behind a path answers, or {-1, -1} when it does not
// open or has no counters: the case in which the program would offer to run diskperf.
std::pair<long, long> countsOf(const char *path)
{
    HANDLE device = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return {-1, -1};
    DISK_PERFORMANCE performance;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance, &returned,
                              nullptr);
    CloseHandle(device);
    return ok ? std::pair<long, long>{performance.ReadCount, performance.WriteCount} : std::pair<long, long>{-1, -1};
}

std::vector<std::string> meters(int firstId)
{
    return {std::to_string(firstId) + " RAM Usage kind=4096 listed=1 label=[] fs=[]",
            std::to_string(firstId + 1) + " VRAM Usage kind=4097 listed=1 label=[] fs=[]"};
}

std::vector<std::string> withMeters(std::vector<std::string> lines)
{
    int next = 100 + int(lines.size());
    lines.insert(lines.begin(), "0  kind=0 listed=0 label=[] fs=[]");
    for (const std::string &line : meters(next))
        lines.push_back(line);
    return lines;
}

TEST(RealLayouts, SnapsTakeNoLettersSoTheEfiAndDataPartitionsGetTheirs)
{
    FixtureMachine machine;
    buildUbuntuSnapDesktop(machine);
    UseMachine use(machine);
    DiscoveredList list;
    // 26 squashfs images on loop0..loop25, mounted before the EFI and data partitions: none is a
    // drive, nor the spare loop26, nor the empty CD drive.
    EXPECT_EQ(describeList(list.cursor), withMeters({
                                             "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
                                             "101 \\\\.\\PHYSICALDRIVE1 kind=1 listed=1 label=[] fs=[]",
                                             "102 \\\\.\\C: kind=3 listed=1 label=[] fs=[ext4]",
                                             "103 \\\\.\\D: kind=3 listed=1 label=[] fs=[vfat]",
                                             "104 \\\\.\\E: kind=3 listed=1 label=[Data] fs=[ext4]",
                                         }));
    fixtureSetCounters(machine, "nvme0n1", 1, 2);
    fixtureSetCounters(machine, "sda", 3, 4);
    fixtureSetCounters(machine, "nvme0n1p1", 5, 6);
    fixtureSetCounters(machine, "sda1", 7, 8);
    EXPECT_EQ(countsOf("\\\\.\\PHYSICALDRIVE0"), std::make_pair(1L, 2L));
    EXPECT_EQ(countsOf("\\\\.\\PHYSICALDRIVE1"), std::make_pair(3L, 4L));
    EXPECT_EQ(countsOf("\\\\.\\D:"), std::make_pair(5L, 6L));
    EXPECT_EQ(countsOf("\\\\.\\E:"), std::make_pair(7L, 8L));
    EXPECT_EQ(GetDriveTypeA("F:\\"), UINT(DRIVE_NO_ROOT_DIR));
}

TEST(RealLayouts, ARootInsideLuksOrLvmHasTheCountersOfItsMapperDevice)
{
    {
        // Fedora: btrfs shows the anonymous device 0:32 and names /dev/mapper/luks-… as its
        // source; /home is another subvolume of the same file system, so no second letter.
        FixtureMachine machine;
        buildFedoraBtrfsOnLuks(machine);
        UseMachine use(machine);
        DiscoveredList list;
        EXPECT_EQ(describeList(list.cursor), withMeters({
                                                 "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
                                                 "101 \\\\.\\C: kind=3 listed=1 label=[fedora_localhost-live] "
                                                 "fs=[btrfs]",
                                                 "102 \\\\.\\D: kind=3 listed=1 label=[] fs=[ext4]",
                                                 "103 \\\\.\\E: kind=3 listed=1 label=[] fs=[vfat]",
                                             }));
        fixtureSetCounters(machine, "dm-0", 41, 42);
        fixtureSetCounters(machine, "nvme0n1p3", 43, 44);
        EXPECT_EQ(countsOf("\\\\.\\C:"), std::make_pair(41L, 42L));

        // A kernel without dm/name: udev's /dev/mapper link still leads to dm-0.
        std::filesystem::remove_all(machine.blocks.at("dm-0") + "/dm");
        layerForgetMachine();
        EXPECT_EQ(countsOf("\\\\.\\C:"), std::make_pair(41L, 42L));
    }
    {
        // Ubuntu: ext4 on vgubuntu-root (dm-1) on nvme0n1p3_crypt (dm-0). The counters are the
        // logical volume's, not those of the LUKS layer under it or of the partition.
        FixtureMachine machine;
        buildUbuntuLvmOnLuks(machine);
        UseMachine use(machine);
        DiscoveredList list;
        EXPECT_EQ(describeList(list.cursor), withMeters({
                                                 "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
                                                 "101 \\\\.\\C: kind=3 listed=1 label=[] fs=[ext4]",
                                                 "102 \\\\.\\D: kind=3 listed=1 label=[] fs=[ext4]",
                                                 "103 \\\\.\\E: kind=3 listed=1 label=[] fs=[vfat]",
                                             }));
        fixtureSetCounters(machine, "dm-0", 1, 1);
        fixtureSetCounters(machine, "dm-1", 51, 52);
        fixtureSetCounters(machine, "nvme0n1p3", 2, 2);
        EXPECT_EQ(countsOf("\\\\.\\C:"), std::make_pair(51L, 52L));

        // The same root mounted through LVM's own link with an anonymous device (as btrfs
        // would show it) still finds dm-1.
        std::string &root = machine.mountLines[5];
        ASSERT_NE(root.find(" / / "), std::string::npos) << root;
        root.replace(root.find("253:1"), 5, "0:40");
        root.replace(root.find("/dev/mapper/vgubuntu-root"), 25, "/dev/vgubuntu/root");
        std::string table;
        for (const std::string &line : machine.mountLines)
            table += line;
        fixtureWriteFile(machine, "proc/self/mountinfo", table);
        layerForgetMachine();
        EXPECT_EQ(countsOf("\\\\.\\C:"), std::make_pair(51L, 52L));
    }
}

TEST(RealLayouts, DisksAreNumberedInTheKernelsNameOrder)
{
    FixtureMachine machine;
    buildNvmeWorkstation(machine);
    UseMachine use(machine);
    DiscoveredList list;
    // nvme2n1 before nvme10n1, and sdz before sdaa, as the kernel hands the names out.
    const char *order[] = {"nvme0n1", "nvme2n1", "nvme10n1", "sda", "sdb", "sdz", "sdaa"};
    for (long n = 0; n < 7; ++n)
        fixtureSetCounters(machine, order[n], 1000 + n, 0);
    for (long n = 0; n < 7; ++n) {
        std::string path = "\\\\.\\PHYSICALDRIVE" + std::to_string(n);
        EXPECT_NE(list.find(path.c_str()), nullptr) << path;
        EXPECT_EQ(countsOf(path.c_str()).first, 1000 + n) << path << " should be " << order[n];
    }
    EXPECT_EQ(list.find("\\\\.\\PHYSICALDRIVE7"), nullptr);
    // Letters follow the mount table: /home on nvme2n1p1, then /srv on nvme10n1p1.
    fixtureSetCounters(machine, "nvme2n1p1", 7, 0);
    fixtureSetCounters(machine, "nvme10n1p1", 8, 0);
    EXPECT_EQ(countsOf("\\\\.\\D:").first, 7);
    EXPECT_EQ(countsOf("\\\\.\\E:").first, 8);
}

TEST(RealLayouts, EmptyCardSlotsAndEmmcBootAreasAreNoDrives)
{
    {
        FixtureMachine machine;
        buildLaptopWithCardReader(machine);
        UseMachine use(machine);
        {
            DiscoveredList list;
            EXPECT_EQ(describeList(list.cursor), withMeters({
                                                     "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
                                                     "101 \\\\.\\C: kind=3 listed=1 label=[] fs=[ext4]",
                                                     "102 \\\\.\\D: kind=3 listed=1 label=[] fs=[vfat]",
                                                 }));
        }
        // With a card in the slot, the next start finds it.
        insertCard(machine);
        layerForgetMachine();
        DiscoveredList list;
        EXPECT_NE(list.find("\\\\.\\PHYSICALDRIVE1"), nullptr);
        fixtureSetCounters(machine, "sdb", 9, 9);
        EXPECT_EQ(countsOf("\\\\.\\PHYSICALDRIVE1"), std::make_pair(9L, 9L));
        EXPECT_EQ(list.find("\\\\.\\PHYSICALDRIVE2"), nullptr) << "the second slot is still empty";
    }
    {
        FixtureMachine machine;
        buildEmmcBoard(machine);
        UseMachine use(machine);
        DiscoveredList list;
        EXPECT_EQ(describeList(list.cursor), withMeters({
                                                 "100 \\\\.\\PHYSICALDRIVE0 kind=1 listed=1 label=[] fs=[]",
                                                 "101 \\\\.\\PHYSICALDRIVE1 kind=1 listed=1 label=[] fs=[]",
                                                 "102 \\\\.\\C: kind=3 listed=1 label=[] fs=[ext4]",
                                                 "103 \\\\.\\D: kind=3 listed=1 label=[] fs=[vfat]",
                                                 "104 \\\\.\\E: kind=3 listed=1 label=[SDCARD] fs=[vfat]",
                                             }));
        fixtureSetCounters(machine, "mmcblk0", 1, 1);
        fixtureSetCounters(machine, "mmcblk0boot0", 2, 2);
        fixtureSetCounters(machine, "mmcblk1", 3, 3);
        EXPECT_EQ(countsOf("\\\\.\\PHYSICALDRIVE0"), std::make_pair(1L, 1L));
        EXPECT_EQ(countsOf("\\\\.\\PHYSICALDRIVE1"), std::make_pair(3L, 3L));
    }
}

TEST(FreeSpace, AVolumeUnmountedSinceDiscoveryReportsUnknownFreeSpace)
{
    // The mount point is a link, so the test can put another file system under it: the
    // machine's temporary folder while mounted, /proc (never the same file system) once the
    // volume is gone and the folder underneath shows through.
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddPartition(machine, "sda", "sda1", 8, 1);
    fixtureAddMount(machine, 8, 0, "/", "ext4", "/dev/sda");
    std::string volume = fixtureFolder(machine, "volume");
    std::string mountPoint = machine.root + "/stick";
    std::filesystem::create_symlink(volume, mountPoint);
    fixtureAddMount(machine, 8, 1, mountPoint, "vfat", "/dev/sda1");
    UseMachine use(machine);
    DiscoveredList list;
    ASSERT_NE(list.find("\\\\.\\D:"), nullptr);

    ULARGE_INTEGER total = {}, free = {};
    EXPECT_TRUE(GetDiskFreeSpaceExA("\\\\.\\D:\\", nullptr, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);

    std::filesystem::remove(mountPoint);
    std::filesystem::create_symlink("/proc", mountPoint);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetDiskFreeSpaceExA("\\\\.\\D:\\", nullptr, &total, &free));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_READY));

    // As the program sees it: unknown free space, while the partition's counters go on.
    Unit *stick = list.find("\\\\.\\D:");
    stick->kind = DRIVE_FIXED;
    stick->enabled = 1;
    GeneralOptions options = {};
    GeneralOptions *optionsAddress = &options;
    fixtureSetCounters(machine, "sda1", 0, 5);
    EXPECT_EQ(sampleUnits(&list.cursor, &optionsAddress), 1);
    EXPECT_EQ(stick->percent, -1);
    EXPECT_EQ(stick->totalScaled, 0u);
    EXPECT_EQ(stick->activity, ACT_WRITE);

    // Mounted again where it was: known again.
    std::filesystem::remove(mountPoint);
    std::filesystem::create_symlink(volume, mountPoint);
    EXPECT_TRUE(GetDiskFreeSpaceExA("\\\\.\\D:\\", nullptr, &total, &free));
    EXPECT_EQ(sampleUnits(&list.cursor, &optionsAddress), 1);
    EXPECT_GE(stick->percent, 0);
}

} // namespace
