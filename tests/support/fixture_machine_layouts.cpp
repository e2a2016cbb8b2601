#include "tests/support/fixture_machine_layouts.h"

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

const char kFedoraLuksName[] = "luks-7b4b2c1e-0f5d-4c8a-9d2e-3e1f6a8b9c0d";

namespace {

std::string relativeTo(const FixtureMachine &machine, const std::string &path)
{
    return fs::relative(path, machine.root).string();
}

void link(const FixtureMachine &machine, const std::string &relative, const std::string &target)
{
    fs::path at = fs::path(machine.root) / relative;
    fs::create_directories(at.parent_path());
    fs::create_symlink(target, at);
}

// sys/devices/<parent>/<name> with the files the kernel writes, and sys/block/<name> -> it.
void addDisk(FixtureMachine &machine, const std::string &parent, const std::string &name, int major, int minor,
             unsigned long long sectors, bool removable = false)
{
    std::string folder = "sys/devices/" + parent + "/" + name;
    std::string majorMinor = std::to_string(major) + ":" + std::to_string(minor);
    fixtureWriteFile(machine, folder + "/dev", majorMinor + "\n");
    fixtureWriteFile(machine, folder + "/size", std::to_string(sectors) + "\n");
    fixtureWriteFile(machine, folder + "/removable", removable ? "1\n" : "0\n");
    fixtureWriteFile(machine, folder + "/ro", "0\n");
    fixtureWriteFile(machine, folder + "/uevent",
                     "MAJOR=" + std::to_string(major) + "\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" + name +
                         "\nDEVTYPE=disk\n");
    for (const char *sub : {"queue", "holders", "slaves", "power", "trace"})
        fs::create_directories(fs::path(machine.root) / folder / sub);
    link(machine, "sys/block/" + name, "../devices/" + parent + "/" + name);
    machine.blocks[name] = (fs::path(machine.root) / folder).string();
    fixtureSetCounters(machine, name, 0, 0);
}

void addPartition(FixtureMachine &machine, const std::string &disk, int number, const std::string &name, int major,
                  int minor, unsigned long long start, unsigned long long sectors)
{
    std::string folder = relativeTo(machine, machine.blocks.at(disk)) + "/" + name;
    fixtureWriteFile(machine, folder + "/dev", std::to_string(major) + ":" + std::to_string(minor) + "\n");
    fixtureWriteFile(machine, folder + "/partition", std::to_string(number) + "\n");
    fixtureWriteFile(machine, folder + "/start", std::to_string(start) + "\n");
    fixtureWriteFile(machine, folder + "/size", std::to_string(sectors) + "\n");
    fixtureWriteFile(machine, folder + "/ro", "0\n");
    fixtureWriteFile(machine, folder + "/uevent",
                     "MAJOR=" + std::to_string(major) + "\nMINOR=" + std::to_string(minor) + "\nDEVNAME=" + name +
                         "\nDEVTYPE=partition\nPARTN=" + std::to_string(number) + "\n");
    fs::create_directories(fs::path(machine.root) / folder / "holders");
    machine.blocks[name] = (fs::path(machine.root) / folder).string();
    fixtureSetCounters(machine, name, 0, 0);
}

// dm-<minor> with its device-mapper name and uuid, the devices under it, and udev's
// /dev/mapper link.
void addMapper(FixtureMachine &machine, int minor, const std::string &name, const std::string &uuid,
               std::initializer_list<std::string> slaves, unsigned long long sectors)
{
    std::string dm = "dm-" + std::to_string(minor);
    addDisk(machine, "virtual/block", dm, 253, minor, sectors);
    std::string folder = relativeTo(machine, machine.blocks.at(dm));
    fixtureWriteFile(machine, folder + "/dm/name", name + "\n");
    fixtureWriteFile(machine, folder + "/dm/uuid", uuid + "\n");
    fixtureWriteFile(machine, folder + "/dm/suspended", "0\n");
    for (const std::string &slave : slaves) {
        std::string slaveFolder = machine.blocks.at(slave);
        link(machine, folder + "/slaves/" + slave, fs::relative(slaveFolder, machine.blocks.at(dm) + "/slaves").string());
        link(machine, relativeTo(machine, slaveFolder) + "/holders/" + dm,
             fs::relative(machine.blocks.at(dm), slaveFolder + "/holders").string());
    }
    link(machine, "dev/mapper/" + name, "../" + dm);
}

// Snaps: squashfs images on loop devices, and one spare loop device of size 0 as the kernel
// keeps them.
void addLoops(FixtureMachine &machine, int count)
{
    for (int n = 0; n <= count; ++n) {
        std::string name = "loop" + std::to_string(n);
        addDisk(machine, "virtual/block", name, 7, n, n < count ? 8 + 1024ull * n : 0);
        if (n < count)
            fixtureWriteFile(machine, relativeTo(machine, machine.blocks.at(name)) + "/loop/backing_file",
                             "/var/lib/snapd/snaps/snap" + std::to_string(n) + ".snap\n");
    }
}

// A mount table as the kernel wrote it; every mount point but "/" becomes a folder of the
// machine, since the layer uses mount points as they stand.
void setMountInfo(FixtureMachine &machine, const std::string &table)
{
    std::istringstream lines(table);
    machine.mountLines.clear();
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        std::string field[5];
        for (std::string &f : field)
            fields >> f;
        std::string rest;
        std::getline(fields, rest);
        if (field[4] != "/") {
            fs::create_directories(machine.root + field[4]);
            field[4] = machine.root + field[4];
        }
        machine.mountLines.push_back(field[0] + " " + field[1] + " " + field[2] + " " + field[3] + " " + field[4] +
                                     rest + "\n");
    }
    std::string text;
    for (const std::string &line : machine.mountLines)
        text += line;
    fixtureWriteFile(machine, "proc/self/mountinfo", text);
}

const char kNvmeController[] = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";

// The pseudo file systems every systemd machine mounts.
const char kSystemMounts[] = R"(22 28 0:21 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw
23 28 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:14 - proc proc rw
24 28 0:5 / /dev rw,nosuid,relatime shared:2 - devtmpfs udev rw,size=8001204k,nr_inodes=2000301,mode=755,inode64
25 24 0:23 / /dev/pts rw,nosuid,noexec,relatime shared:3 - devpts devpts rw,gid=5,mode=620,ptmxmode=000
26 28 0:24 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,size=1609620k,mode=755,inode64
)";

const char kSnaps[][40] = {
    "bare/5", "core18/2790", "core18/2796", "core20/1974", "core20/2015", "core22/858", "core22/864",
    "firefox/3068", "firefox/3131", "gnome-3-38-2004/140", "gnome-3-38-2004/143", "gnome-42-2204/132",
    "gnome-42-2204/141", "gtk-common-themes/1535", "snap-store/638", "snap-store/959", "snapd/19993",
    "snapd/20092", "snapd-desktop-integration/57", "snapd-desktop-integration/83", "thunderbird/369",
    "thunderbird/374", "code/139", "code/141", "vlc/3078", "spotify/72",
};

std::string snapMounts(int count, int firstId)
{
    std::string lines;
    for (int n = 0; n < count; ++n)
        lines += std::to_string(firstId + n) + " 28 7:" + std::to_string(n) + " / /snap/" + kSnaps[n] +
                 " ro,nodev,relatime shared:" + std::to_string(30 + n) + " - squashfs /dev/loop" +
                 std::to_string(n) + " ro,errors=continue,threads=single\n";
    return lines;
}

} // namespace

void buildUbuntuSnapDesktop(FixtureMachine &machine)
{
    addDisk(machine, kNvmeController, "nvme0n1", 259, 0, 1000215216);
    addPartition(machine, "nvme0n1", 1, "nvme0n1p1", 259, 1, 2048, 1048576);
    addPartition(machine, "nvme0n1", 2, "nvme0n1p2", 259, 2, 1050624, 999162511);
    addDisk(machine, "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0/block", "sda", 8, 0, 3907029168);
    addPartition(machine, "sda", 1, "sda1", 8, 1, 2048, 3907027087);
    addLoops(machine, 26);
    addDisk(machine, "pci0000:00/0000:00:17.0/ata4/host3/target3:0:0/3:0:0:0/block", "sr0", 11, 0, 0, true);
    link(machine, "dev/disk/by-label/Data", "../../sda1");
    setMountInfo(machine, std::string(kSystemMounts) +
                              "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
                              "30 24 0:26 / /dev/shm rw,nosuid,nodev shared:4 - tmpfs tmpfs rw,inode64\n"
                              "32 22 0:28 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 "
                              "cgroup2 rw,nsdelegate,memory_recursiveprot\n" +
                              snapMounts(26, 50) +
                              "80 28 259:1 / /boot/efi rw,relatime shared:60 - vfat /dev/nvme0n1p1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,"
                              "errors=remount-ro\n"
                              "81 28 8:1 / /mnt/data rw,relatime shared:62 - ext4 /dev/sda1 rw\n"
                              "82 26 0:50 / /run/user/1000 rw,nosuid,nodev,relatime shared:420 - tmpfs tmpfs "
                              "rw,size=1609616k,nr_inodes=402404,mode=700,uid=1000,gid=1000,inode64\n"
                              "83 82 0:51 / /run/user/1000/doc rw,nosuid,nodev,relatime shared:436 - fuse.portal "
                              "portal rw,user_id=1000,group_id=1000\n"
                              "84 26 0:24 /snapd/ns /run/snapd/ns rw,nosuid,nodev,noexec,relatime - tmpfs tmpfs "
                              "rw,size=1609620k,mode=755,inode64\n"
                              "85 84 0:4 mnt:[4026532521] /run/snapd/ns/snap-store.mnt rw - nsfs nsfs rw\n");
}

void buildFedoraBtrfsOnLuks(FixtureMachine &machine)
{
    addDisk(machine, kNvmeController, "nvme0n1", 259, 0, 1000215216);
    addPartition(machine, "nvme0n1", 1, "nvme0n1p1", 259, 1, 2048, 1228800);
    addPartition(machine, "nvme0n1", 2, "nvme0n1p2", 259, 2, 1230848, 2097152);
    addPartition(machine, "nvme0n1", 3, "nvme0n1p3", 259, 3, 3328000, 996886528);
    addMapper(machine, 0, kFedoraLuksName,
              std::string("CRYPT-LUKS2-7b4b2c1e0f5d4c8a9d2e3e1f6a8b9c0d-") + kFedoraLuksName, {"nvme0n1p3"},
              996853760);
    addDisk(machine, "virtual/block", "zram0", 252, 0, 16777216);
    link(machine, "dev/disk/by-label/fedora_localhost-live", "../../dm-0");
    std::string luks = std::string("/dev/mapper/") + kFedoraLuksName;
    std::string btrfs = " - btrfs " + luks + " rw,seclabel,compress=zstd:1,ssd,discard=async,space_cache=v2,";
    setMountInfo(machine, "60 1 0:32 /root / rw,relatime shared:1" + btrfs +
                              "subvolid=257,subvol=/root\n" + kSystemMounts +
                              "61 28 0:36 / /tmp rw,nosuid,nodev shared:38 - tmpfs tmpfs "
                              "rw,seclabel,nr_inodes=1048576,inode64\n"
                              "62 60 259:2 / /boot rw,relatime shared:40 - ext4 /dev/nvme0n1p2 rw,seclabel\n"
                              "64 60 0:32 /home /home rw,relatime shared:42" +
                              btrfs +
                              "subvolid=256,subvol=/home\n"
                              "66 62 259:1 / /boot/efi rw,relatime shared:44 - vfat /dev/nvme0n1p1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=ascii,shortname=winnt,"
                              "errors=remount-ro\n");
}

void buildUbuntuLvmOnLuks(FixtureMachine &machine)
{
    addDisk(machine, kNvmeController, "nvme0n1", 259, 0, 1000215216);
    addPartition(machine, "nvme0n1", 1, "nvme0n1p1", 259, 1, 2048, 1048576);
    addPartition(machine, "nvme0n1", 2, "nvme0n1p2", 259, 2, 1050624, 3608576);
    addPartition(machine, "nvme0n1", 3, "nvme0n1p3", 259, 3, 4659200, 995553935);
    addMapper(machine, 0, "nvme0n1p3_crypt", "CRYPT-LUKS2-0a1b2c3d4e5f40718293a4b5c6d7e8f9-nvme0n1p3_crypt",
              {"nvme0n1p3"}, 995520143);
    addMapper(machine, 1, "vgubuntu-root",
              "LVM-Hk3hQ2qYv0mXgq0yK3sV4tEJ9pN8cR2wTm1dQ7fL0bZcXa5sD6eF9gH2jK4lM7nP", {"dm-0"}, 993402880);
    addMapper(machine, 2, "vgubuntu-swap_1",
              "LVM-Hk3hQ2qYv0mXgq0yK3sV4tEJ9pN8cR2wR8sT1uV4wX7yZ0aB3cD6eF9gH2jK5lM8", {"dm-0"}, 2097152);
    link(machine, "dev/vgubuntu/root", "../dm-1");
    link(machine, "dev/vgubuntu/swap_1", "../dm-2");
    addLoops(machine, 3);
    setMountInfo(machine, std::string(kSystemMounts) +
                              "28 1 253:1 / / rw,relatime shared:1 - ext4 /dev/mapper/vgubuntu-root "
                              "rw,errors=remount-ro\n" +
                              snapMounts(3, 50) +
                              "61 28 259:2 / /boot rw,relatime shared:33 - ext4 /dev/nvme0n1p2 rw\n"
                              "64 61 259:1 / /boot/efi rw,relatime shared:35 - vfat /dev/nvme0n1p1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,"
                              "errors=remount-ro\n");
}

void buildNvmeWorkstation(FixtureMachine &machine)
{
    // Listed as readdir gives them, which is no order at all.
    addDisk(machine, "pci0000:00/0000:00:03.0/0000:03:00.0/nvme/nvme10", "nvme10n1", 259, 4, 7814037168);
    addPartition(machine, "nvme10n1", 1, "nvme10n1p1", 259, 5, 2048, 7814035087);
    addDisk(machine, kNvmeController, "nvme0n1", 259, 0, 1000215216);
    addPartition(machine, "nvme0n1", 1, "nvme0n1p1", 259, 1, 2048, 1048576);
    addPartition(machine, "nvme0n1", 2, "nvme0n1p2", 259, 2, 1050624, 999162511);
    addDisk(machine, "pci0000:00/0000:00:01.0/0000:01:00.0/nvme/nvme2", "nvme2n1", 259, 6, 3907029168);
    addPartition(machine, "nvme2n1", 1, "nvme2n1p1", 259, 7, 2048, 3907027087);
    struct Shelf {
        const char *name;
        int major, minor, target;
    };
    for (Shelf disk : {Shelf{"sdaa", 65, 160, 26}, {"sdz", 65, 144, 25}, {"sdb", 8, 16, 1}, {"sda", 8, 0, 0}})
        addDisk(machine, "pci0000:00/0000:00:1f.2/host0/target0:0:" + std::to_string(disk.target) + "/block",
                disk.name, disk.major, disk.minor, 23437770752);
    setMountInfo(machine, std::string(kSystemMounts) +
                              "28 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
                              "61 28 259:7 / /home rw,relatime shared:33 - xfs /dev/nvme2n1p1 "
                              "rw,attr2,inode64,logbufs=8,logbsize=32k,noquota\n"
                              "62 28 259:5 / /srv rw,relatime shared:34 - ext4 /dev/nvme10n1p1 rw\n"
                              "64 28 259:1 / /boot/efi rw,relatime shared:35 - vfat /dev/nvme0n1p1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,"
                              "errors=remount-ro\n");
}

namespace {
const char kCardReader[] = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host4/target4:0:0";
}

void buildLaptopWithCardReader(FixtureMachine &machine)
{
    addDisk(machine, "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block", "sda", 8, 0, 500118192);
    addPartition(machine, "sda", 1, "sda1", 8, 1, 2048, 1048576);
    addPartition(machine, "sda", 2, "sda2", 8, 2, 1050624, 499065487);
    addDisk(machine, std::string(kCardReader) + "/4:0:0:0/block", "sdb", 8, 16, 0, true);
    addDisk(machine, std::string(kCardReader) + "/4:0:0:1/block", "sdc", 8, 32, 0, true);
    setMountInfo(machine, std::string(kSystemMounts) +
                              "28 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
                              "61 28 8:1 / /boot/efi rw,relatime shared:33 - vfat /dev/sda1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,"
                              "errors=remount-ro\n");
}

void insertCard(FixtureMachine &machine)
{
    std::string folder = relativeTo(machine, machine.blocks.at("sdb"));
    fixtureWriteFile(machine, folder + "/size", "62333952\n");
    addPartition(machine, "sdb", 1, "sdb1", 8, 17, 8192, 62325760);
}

void buildEmmcBoard(FixtureMachine &machine)
{
    const std::string host = "platform/fe310000.mmc/mmc_host/mmc0/mmc0:0001/block";
    addDisk(machine, host, "mmcblk0", 179, 0, 61071360);
    // The boot areas and rpmb hang under the disk in sys/devices, and have sys/block links too.
    std::string disk = "platform/fe310000.mmc/mmc_host/mmc0/mmc0:0001/block/mmcblk0";
    addDisk(machine, disk, "mmcblk0boot0", 179, 8, 8192);
    addDisk(machine, disk, "mmcblk0boot1", 179, 16, 8192);
    addDisk(machine, disk, "mmcblk0rpmb", 179, 24, 8192);
    addPartition(machine, "mmcblk0", 1, "mmcblk0p1", 179, 1, 2048, 1048576);
    addPartition(machine, "mmcblk0", 2, "mmcblk0p2", 179, 2, 1050624, 60020703);
    addDisk(machine, "platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa/block", "mmcblk1", 179, 32, 62333952);
    addPartition(machine, "mmcblk1", 1, "mmcblk1p1", 179, 33, 8192, 62325760);
    link(machine, "dev/disk/by-label/SDCARD", "../../mmcblk1p1");
    setMountInfo(machine, std::string(kSystemMounts) +
                              "28 1 179:2 / / rw,noatime shared:1 - ext4 /dev/mmcblk0p2 rw\n"
                              "61 28 179:1 / /boot/efi rw,relatime shared:33 - vfat /dev/mmcblk0p1 "
                              "rw,fmask=0077,dmask=0077,codepage=437,iocharset=ascii,shortname=mixed,"
                              "errors=remount-ro\n"
                              "90 26 179:33 / /media/pi/SDCARD rw,nosuid,nodev,relatime shared:77 - vfat "
                              "/dev/mmcblk1p1 rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,"
                              "iocharset=ascii,shortname=mixed,showexec,utf8,flush,errors=remount-ro\n");
}
