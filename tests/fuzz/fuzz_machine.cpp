// The machine table (sysroot.cpp) from a random /sys, /dev and mountinfo, through
// TALLOWLAMP_SYSROOT and the calls that use it. The input is text: lines up to one "--" line
// make the tree, tab-separated, each file's text getting a line end:
//   disk  <dev> <removable> <stat> <size>  sys/block/disk/{dev,removable,stat,size} (given
//                                          fields only; size 2097152 when not given)
//   disk/part <dev> <stat>                 sys/block/disk/part/{dev,stat}
//   @label <target>                        dev/disk/by-label/label, a link to target
//   =path <text>                           any file below sys or dev (dm-0/dm/name...)
//   >path <target>                         any link below dev (dev/mapper/root...)
// and everything after it is proc/self/mountinfo.
// Properties: A: and B: never exist; C: is the root mount's; the other letters run from D:
// without a gap, each with a block device of its own or a network source; every counter path
// lies in the tree; the physical drives are distinct whole disks of the tree; the drive calls
// answer for every letter and drive number without reading past a buffer.
#include "platform/layer_testing.h"
#include "platform/sysroot.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool usableName(const std::string &name)
{
    return !name.empty() && name.size() < 256 && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

void putFile(const std::string &folder, const char *name, const std::vector<std::string> &fields, size_t index)
{
    if (index < fields.size())
        writeFile(folder + "/" + name, fields[index] + "\n");
}

// A path of usable names below sys or dev.
bool usablePath(const std::string &path)
{
    std::vector<std::string> names = split(path, '/');
    return names.size() >= 2 && (names[0] == "sys" || names[0] == "dev") &&
           std::all_of(names.begin(), names.end(), usableName);
}

void buildTree(const std::string &root, std::string_view input)
{
    size_t split_at = input.find("--\n");
    std::string_view tree = input.substr(0, split_at);
    std::string_view mounts = split_at == std::string_view::npos ? std::string_view() : input.substr(split_at + 3);
    makeFolders(root + "/sys/block");
    makeFolders(root + "/dev/disk/by-label");
    makeFolders(root + "/proc/self");
    writeFile(root + "/proc/self/mountinfo", mounts);
    for (const std::string &line : split(tree, '\n')) {
        std::vector<std::string> fields = split(line, '\t');
        if (fields[0].size() > 1 && (fields[0][0] == '=' || fields[0][0] == '>')) {
            std::string path = fields[0].substr(1);
            if (!usablePath(path) || fields.size() < 2 || fields[1].find('\0') != std::string::npos)
                continue;
            std::string full = root + "/" + path;
            if (!makeFolders(full.substr(0, full.rfind('/'))))
                continue;
            if (fields[0][0] == '=')
                writeFile(full, fields[1] + "\n");
            else if (symlink(fields[1].c_str(), full.c_str()) != 0) {
            }
            continue;
        }
        if (fields[0].size() > 1 && fields[0][0] == '@') {
            std::string label = fields[0].substr(1);
            if (usableName(label) && fields.size() > 1 && fields[1].find('\0') == std::string::npos)
                if (symlink(fields[1].c_str(), (root + "/dev/disk/by-label/" + label).c_str()) != 0) {
                }
            continue;
        }
        std::vector<std::string> names = split(fields[0], '/');
        if (names.size() > 2 || !std::all_of(names.begin(), names.end(), usableName))
            continue;
        std::string folder = root + "/sys/block/" + names[0] + (names.size() == 2 ? "/" + names[1] : "");
        if (!makeFolders(folder))
            continue;
        putFile(folder, "dev", fields, 1);
        if (names.size() == 1) {
            putFile(folder, "removable", fields, 2);
            putFile(folder, "stat", fields, 3);
            writeFile(folder + "/size", fields.size() > 4 ? fields[4] + "\n" : "2097152\n");
        } else {
            putFile(folder, "stat", fields, 2);
        }
    }
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

void checkDriveCalls(const Machine &machine)
{
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const MachineLetter &drive = machine.letters[letter - 'A'];
        char root[] = {letter, ':', '\\', 0};
        UINT type = GetDriveTypeA(root);
        if (!drive.present) {
            if (type != DRIVE_NO_ROOT_DIR)
                fuzzFailure("absent %s has drive type %u", root, type);
            continue;
        }
        if (type != DRIVE_REMOTE && type != DRIVE_CDROM && type != DRIVE_REMOVABLE && type != DRIVE_FIXED)
            fuzzFailure("%s has drive type %u", root, type);
        // Names cut to a buffer of exactly its size.
        for (DWORD size : {DWORD(1), DWORD(drive.label.size() + 1), DWORD(drive.fileSystem.size() + 1)}) {
            std::unique_ptr<char[]> label(new char[size]), fileSystem(new char[size]);
            GetVolumeInformationA(root, label.get(), size, nullptr, nullptr, nullptr, fileSystem.get(), size);
        }
        if (drive.statPath.empty())
            continue; // a network letter's handle is its mount point, outside the tree
        char device[] = {'\\', '\\', '.', '\\', letter, ':', 0};
        HANDLE handle = CreateFileA(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            DISK_PERFORMANCE performance;
            DWORD returned;
            DeviceIoControl(handle, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance, &returned,
                            nullptr);
            CloseHandle(handle);
        }
    }
    for (size_t number = 0; number <= machine.disks.size(); ++number) {
        std::string name = "\\\\.\\PHYSICALDRIVE" + std::to_string(number);
        HANDLE handle = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        if (number == machine.disks.size() && handle != INVALID_HANDLE_VALUE)
            fuzzFailure("%s opens with %zu disks", name.c_str(), machine.disks.size());
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
}

void checkMachine(const std::string &root, const Machine &machine)
{
    std::string block = root + "/sys/block/";
    for (int index : {0, 1})
        if (machine.letters[index].present)
            fuzzFailure("%c: exists", 'A' + index);
    const MachineLetter &c = machine.letters['C' - 'A'];
    if (c.present && c.mountPoint != "/")
        fuzzFailure("C: is mounted at %s", printable(c.mountPoint).c_str());
    std::vector<std::string> devices;
    bool gap = false;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const MachineLetter &drive = machine.letters[letter - 'A'];
        if (!drive.present) {
            gap = letter != 'C';
            continue;
        }
        if (gap)
            fuzzFailure("%c: follows an absent letter", letter);
        if (letter != 'C' && drive.mountPoint == "/")
            fuzzFailure("%c: is mounted at /", letter);
        if (drive.device.empty()) {
            if (!drive.statPath.empty())
                fuzzFailure("%c: has counters but no device", letter);
            if (letter != 'C' && !drive.network)
                fuzzFailure("%c: has neither a device nor a network source", letter);
            continue;
        }
        if (!startsWith(drive.statPath, block))
            fuzzFailure("%c: counts at %s, outside the tree", letter, printable(drive.statPath).c_str());
        if (std::find(devices.begin(), devices.end(), drive.device) != devices.end())
            fuzzFailure("%c: shares device %s", letter, printable(drive.device).c_str());
        devices.push_back(drive.device);
    }
    std::vector<std::string> disks;
    for (const MachineDisk &disk : machine.disks) {
        if (std::find(disks.begin(), disks.end(), disk.name) != disks.end())
            fuzzFailure("disk %s twice", printable(disk.name).c_str());
        disks.push_back(disk.name);
        for (const char *stacked : {"loop", "dm-", "md", "sr"})
            if (startsWith(disk.name, stacked))
                fuzzFailure("%s is a physical drive", printable(disk.name).c_str());
        struct stat folder;
        if (disk.statPath != block + disk.name + "/stat" || stat((block + disk.name).c_str(), &folder) != 0)
            fuzzFailure("disk %s counts at %s", printable(disk.name).c_str(), printable(disk.statPath).c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string root = scratchFolder() + "/machine";
    static bool pointed = setenv("TALLOWLAMP_SYSROOT", root.c_str(), 1) == 0;
    (void)pointed;
    emptyFolder(root);
    buildTree(root, std::string_view(reinterpret_cast<const char *>(data), size));
    layerForgetMachine();
    const Machine &machine = currentMachine();
    checkMachine(root, machine);
    checkDriveCalls(machine);
    return 0;
}
