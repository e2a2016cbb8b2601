// The machine table of the layer.
// Supports: block devices from sys/block in the kernel's name order (nvme2n1 before nvme10n1,
// sdz before sdaa); partitions as sys/block/<disk>/<partition>; mounts from
// proc/self/mountinfo, matched to block devices by major:minor, else by the mount source (for
// file systems with an anonymous device, such as btrfs): /dev/mapper/<name> through each dm-N's
// dm/name, any other /dev link through its target, /dev/<name> as it stands; labels from
// dev/disk/by-label. Loop, ram, zram, nbd and zd devices, eMMC boot and rpmb areas and empty
// disks (size 0, as a card reader without a card) are no drives at all; dm-, md, sr and fd
// devices carry letters but are no physical drives.
// Not supported: more than 24 logical drives (the rest get no letter), mounts made after the
// table was built. An unmount is noticed only by the free-space query (the file-system id
// kept here no longer matches).
#include "platform/sysroot.h"

#include "platform/layer_testing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct BlockDevice {
    std::string name;
    std::string majorMinor; // "254:0", as in sys/block/<name>/dev and in mountinfo
    std::string statPath;
    std::string mapperName; // a dm-N's device-mapper name, as in /dev/mapper
    bool removable;
};

struct MachineCache {
    bool built;
    Machine machine;
    bool rootKnown;
    const char *root;
};

MachineCache &cache()
{
    static MachineCache instance;
    return instance;
}

// The first line of a small file, without its line end; empty when it cannot be read.
std::string firstLine(const std::string &path)
{
    char buffer[256];
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0)
        return {};
    buffer[got] = 0;
    buffer[std::strcspn(buffer, "\n")] = 0;
    return buffer;
}

// Names as the kernel numbers them: digit runs by value, and the letters that number sd, vd,
// xvd and hd disks as a count too (sdz, then sdaa). Families keep their alphabetical order.
size_t familyLength(const std::string &name)
{
    for (const char *lettered : {"xvd", "sd", "vd", "hd"})
        if (name.compare(0, std::strlen(lettered), lettered) == 0)
            return std::strlen(lettered);
    size_t length = 0;
    while (length < name.size() && std::isalpha(static_cast<unsigned char>(name[length])))
        ++length;
    return length;
}

// The end of the run of digits, or of letters, that starts at i; one character otherwise.
size_t runEnd(const std::string &text, size_t i)
{
    auto kindOf = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return std::isdigit(u) ? 1 : std::isalpha(u) ? 2 : 0;
    };
    int kind = kindOf(text[i]);
    if (!kind)
        return i + 1;
    while (i < text.size() && kindOf(text[i]) == kind)
        ++i;
    return i;
}

bool kernelNameLess(const std::string &a, const std::string &b)
{
    size_t i = familyLength(a), j = familyLength(b);
    if (int order = a.compare(0, i, b, 0, j))
        return order < 0;
    while (i < a.size() && j < b.size()) {
        size_t endA = runEnd(a, i), endB = runEnd(b, j);
        bool digits = std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]));
        bool letters = std::isalpha(static_cast<unsigned char>(a[i])) && std::isalpha(static_cast<unsigned char>(b[j]));
        if (digits) { // by value
            while (endA - i > 1 && a[i] == '0')
                ++i;
            while (endB - j > 1 && b[j] == '0')
                ++j;
        }
        if ((digits || letters) && endA - i != endB - j)
            return endA - i < endB - j; // a shorter number, or a shorter count in letters
        if (int order = a.compare(i, endA - i, b, j, endB - j))
            return order < 0;
        i = endA, j = endB;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> folderEntries(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), kernelNameLess);
    return names;
}

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Images (snaps' squashfs on loop), memory (ram, zram), network block devices, ZFS volumes
// and an eMMC's boot and replay-protected areas: neither physical drives nor letters.
bool isNoDrive(const std::string &name)
{
    for (const char *skipped : {"loop", "ram", "zram", "nbd", "zd"})
        if (startsWith(name, skipped))
            return true;
    return startsWith(name, "mmcblk") &&
           (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos);
}

// Stacked (dm-, md), optical (sr) and floppy (fd) devices carry letters, not disk numbers.
bool isWholeDiskName(const std::string &name)
{
    for (const char *skipped : {"dm-", "md", "sr", "fd"})
        if (startsWith(name, skipped))
            return false;
    return true;
}

bool isNetworkFileSystem(const std::string &type)
{
    for (const char *network : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p"})
        if (type == network)
            return true;
    return false;
}

// Every block device, disks and their partitions; whole disks in name order go to disks.
std::vector<BlockDevice> readBlockDevices(const std::string &root, std::vector<MachineDisk> &disks)
{
    std::vector<BlockDevice> devices;
    std::string block = root + "/sys/block/";
    for (const std::string &disk : folderEntries(block)) {
        std::string folder = block + disk + "/";
        // An empty slot (a card reader without its card, a drive without a disc) has size 0.
        if (isNoDrive(disk) || std::strtoull(firstLine(folder + "size").c_str(), nullptr, 10) == 0)
            continue;
        bool removable = firstLine(folder + "removable") == "1";
        devices.push_back({disk, firstLine(folder + "dev"), folder + "stat", firstLine(folder + "dm/name"), removable});
        if (isWholeDiskName(disk))
            disks.push_back({disk, folder + "stat"});
        for (const std::string &part : folderEntries(folder)) {
            if (!startsWith(part, disk.c_str()) || isNoDrive(part))
                continue;
            std::string majorMinor = firstLine(folder + part + "/dev");
            if (!majorMinor.empty())
                devices.push_back({part, majorMinor, folder + part + "/stat", {}, removable});
        }
    }
    return devices;
}

// Mount table fields are octal-escaped: "\040" for a blank.
std::string unescapeMountField(const char *field)
{
    std::string text;
    for (const char *p = field; *p; ++p) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' && p[3] >= '0' && p[3] <= '7') {
            text += char((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            text += *p;
        }
    }
    return text;
}

// udev spells unsafe characters of a label as "\xNN".
std::string unescapeLabel(const std::string &name)
{
    std::string text;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned value;
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3])) &&
            std::sscanf(name.c_str() + i + 2, "%2x", &value) == 1) {
            text += char(value);
            i += 3;
        } else {
            text += name[i];
        }
    }
    return text;
}

std::string labelOf(const std::string &root, const std::string &device)
{
    std::string folder = root + "/dev/disk/by-label/";
    for (const std::string &name : folderEntries(folder)) {
        char target[4096];
        ssize_t length = readlink((folder + name).c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = 0;
        const char *last = std::strrchr(target, '/');
        if (device == (last ? last + 1 : target))
            return unescapeLabel(name);
    }
    return {};
}

struct Mount {
    std::string majorMinor;
    std::string mountPoint;
    std::string type;
    std::string source;
};

std::vector<Mount> readMounts(const std::string &root)
{
    std::vector<Mount> mounts;
    FILE *file = std::fopen((root + "/proc/self/mountinfo").c_str(), "re");
    if (!file)
        return mounts;
    char *line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, file) > 0) {
        // id parent major:minor root mountpoint options [optional...] - type source superoptions
        char *fields[64];
        int count = 0;
        for (char *save = nullptr, *field = strtok_r(line, " \n", &save); field && count < 64;
             field = strtok_r(nullptr, " \n", &save))
            fields[count++] = field;
        int dash = 6;
        while (dash < count && std::strcmp(fields[dash], "-") != 0)
            ++dash;
        if (count < 5 || dash + 2 >= count)
            continue;
        mounts.push_back({fields[2], unescapeMountField(fields[4]), unescapeMountField(fields[dash + 1]),
                          unescapeMountField(fields[dash + 2])});
    }
    std::free(line);
    std::fclose(file);
    return mounts;
}

const BlockDevice *deviceNamed(const std::vector<BlockDevice> &devices, const std::string &name)
{
    for (const BlockDevice &device : devices)
        if (device.name == name)
            return &device;
    return nullptr;
}

// A mount's device by its major:minor; for an anonymous device (btrfs, also on LUKS or LVM)
// by the source it was mounted from, which for a file system on several devices names one.
const BlockDevice *backingDevice(const std::string &root, const std::vector<BlockDevice> &devices,
                                 const Mount &mount)
{
    for (const BlockDevice &device : devices)
        if (device.majorMinor == mount.majorMinor)
            return &device;
    if (!startsWith(mount.source, "/dev/"))
        return nullptr;
    if (startsWith(mount.source, "/dev/mapper/")) {
        std::string name = mount.source.substr(std::strlen("/dev/mapper/"));
        for (const BlockDevice &device : devices)
            if (!device.mapperName.empty() && device.mapperName == name)
                return &device;
    }
    // udev's links (/dev/mapper/x, /dev/<vg>/<lv>, /dev/disk/by-uuid/y) end in the device's name.
    char target[4096];
    ssize_t length = readlink((root + mount.source).c_str(), target, sizeof target - 1);
    if (length > 0) {
        target[length] = 0;
        const char *last = std::strrchr(target, '/');
        if (const BlockDevice *device = deviceNamed(devices, last ? last + 1 : target))
            return device;
    }
    return deviceNamed(devices, mount.source.substr(mount.source.rfind('/') + 1));
}

void buildMachine(const std::string &root, Machine &machine)
{
    machine = Machine{};
    std::vector<BlockDevice> devices = readBlockDevices(root, machine.disks);
    std::vector<Mount> mounts = readMounts(root);

    auto fill = [&](MachineLetter &letter, const Mount &mount, const BlockDevice *device) {
        letter.present = true;
        letter.network = isNetworkFileSystem(mount.type);
        letter.mountPoint = mount.mountPoint;
        letter.fileSystem = mount.type;
        if (device) {
            letter.device = device->name;
            letter.statPath = device->statPath;
            letter.removable = device->removable;
            letter.cdrom = startsWith(device->name, "sr");
            letter.label = labelOf(root, device->name);
            // Which file system is there now, so that the free-space query can tell it from
            // the folder underneath once it is unmounted. Network mounts are left alone: a
            // server that does not answer would hold discovery up.
            struct statvfs sizes;
            letter.fileSystemIdKnown = statvfs(letter.mountPoint.c_str(), &sizes) == 0;
            letter.fileSystemId = letter.fileSystemIdKnown ? sizes.f_fsid : 0;
        }
    };

    // One letter per device (or per network source); the root's device is C:'s.
    std::vector<std::string> lettered;
    const Mount *rootMount = nullptr;
    for (const Mount &mount : mounts)
        if (mount.mountPoint == "/")
            rootMount = &mount; // the last one is the one in sight
    if (rootMount) {
        const BlockDevice *device = backingDevice(root, devices, *rootMount);
        fill(machine.letters['C' - 'A'], *rootMount, device);
        lettered.push_back(device ? device->name : "net:" + rootMount->source);
    }
    char next = 'D';
    for (const Mount &mount : mounts) {
        if (&mount == rootMount || mount.mountPoint == "/" || next > 'Z')
            continue;
        const BlockDevice *device = backingDevice(root, devices, mount);
        std::string key;
        if (device)
            key = device->name;
        else if (isNetworkFileSystem(mount.type))
            key = "net:" + mount.source;
        else
            continue;
        if (std::find(lettered.begin(), lettered.end(), key) != lettered.end())
            continue;
        lettered.push_back(key);
        fill(machine.letters[next++ - 'A'], mount, device);
    }
}

} // namespace

// Read once: the variable is set before the program starts, and a test that changes it says
// so (layerForgetMachine). Every device call of a pass asks, and getenv walks the environment.
const char *sysrootPrefix()
{
    MachineCache &state = cache();
    if (!state.rootKnown) {
        const char *root = std::getenv("TALLOWLAMP_SYSROOT");
        state.root = root ? root : "";
        state.rootKnown = true;
    }
    return state.root;
}

bool sysrootPath(char *buffer, size_t size, const char *relative)
{
    int length = std::snprintf(buffer, size, "%s/%s", sysrootPrefix(), relative);
    return length >= 0 && size_t(length) < size;
}

const Machine &currentMachine()
{
    MachineCache &state = cache();
    if (!state.built) {
        buildMachine(sysrootPrefix(), state.machine);
        state.built = true;
    }
    return state.machine;
}

char driveLetterOf(const char *text)
{
    char letter = text ? char(text[0] & ~0x20) : 0;
    if (letter < 'A' || letter > 'Z' || text[1] != ':')
        return 0;
    if (text[2] && !((text[2] == '\\' || text[2] == '/') && !text[3]))
        return 0;
    return letter;
}

void layerForgetMachine()
{
    cache().built = false;
    cache().rootKnown = false;
}
