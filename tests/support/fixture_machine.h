// A machine in a folder for the Linux layer (TALLOWLAMP_SYSROOT): block devices with their
// counters, a mount table, labels and memory figures, in the kernel's own file formats.
// Plain files only, so it builds with either toolchain; only Linux tests point the layer at it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FixtureMachine {
    std::string root;                          // stands in for "/"
    std::vector<std::string> mountLines;       // proc/self/mountinfo, in order
    std::map<std::string, std::string> blocks; // device name -> its sysfs folder

    FixtureMachine();                          // a fresh, empty folder
    ~FixtureMachine();                         // removes it
    FixtureMachine(const FixtureMachine &) = delete;
    FixtureMachine &operator=(const FixtureMachine &) = delete;
};

// A whole disk in sys/block (counters 0); removable as its "removable" file says.
void fixtureAddDisk(FixtureMachine &machine, const std::string &name, int major, int minor,
                    bool removable = false);

// A partition of a disk: sys/block/<disk>/<name>.
void fixtureAddPartition(FixtureMachine &machine, const std::string &disk, const std::string &name, int major,
                         int minor);

// The device's stat file: operations and sectors read and written.
void fixtureSetCounters(FixtureMachine &machine, const std::string &device, uint64_t reads, uint64_t writes,
                        uint64_t sectorsRead = 0, uint64_t sectorsWritten = 0);

// A device's stat file goes away, as when the disk is unplugged.
void fixtureRemoveCounters(FixtureMachine &machine, const std::string &device);

// A line of the mount table; the mount point is used as it stands (make it with fixtureFolder).
void fixtureAddMount(FixtureMachine &machine, int major, int minor, const std::string &mountPoint,
                     const std::string &type, const std::string &source);

// dev/disk/by-label/<label> -> ../../<device>, the label spelled as udev spells it.
void fixtureAddLabel(FixtureMachine &machine, const std::string &label, const std::string &device);

// proc/meminfo with these figures in kB.
void fixtureSetMemory(FixtureMachine &machine, uint64_t memTotalKb, uint64_t memAvailableKb, uint64_t swapTotalKb,
                      uint64_t swapFreeKb);

// Any file of the machine, by its path relative to the root.
void fixtureWriteFile(FixtureMachine &machine, const std::string &relative, const std::string &text);

// A real folder inside the machine (outside its proc, sys and dev), for a mount point.
std::string fixtureFolder(FixtureMachine &machine, const std::string &name);
