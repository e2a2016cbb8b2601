// The machine the layer reads: files under /proc, /sys and /dev, rooted at TALLOWLAMP_SYSROOT
// when it is set, and the table of drives built from them (physical drives by number, logical
// drives by letter). The variable is read and the table built when a device is first used;
// a poll never rescans. The keyboards' LEDs (sys/class/leds/<name>/{brightness,max_brightness})
// are read under the same root by user32_keyboard_logind.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// TALLOWLAMP_SYSROOT, or "" for the real machine; the same pointer until the layer is told
// to forget the machine.
const char *sysrootPrefix();

// TALLOWLAMP_SYSROOT (or nothing) followed by "/" and relative. False when it does not fit.
bool sysrootPath(char *buffer, size_t size, const char *relative);

// \\.\PHYSICALDRIVEn: the n-th whole disk among sys/block/* in the kernel's name order.
struct MachineDisk {
    std::string name;     // "vda"
    std::string statPath; // its sysfs counters
};

// \\.\X:
struct MachineLetter {
    bool present;
    bool network;         // nfs, cifs, sshfs, 9p...: no counters, the handle opens the mount
    bool removable;
    bool cdrom;
    std::string device;   // block device name ("vda1"); empty when no block device backs it
    std::string statPath; // sysfs counters of that device; empty without one
    std::string mountPoint;
    std::string fileSystem;
    std::string label;
    bool fileSystemIdKnown;     // statvfs's f_fsid of the mount point at discovery
    unsigned long fileSystemId; // (block devices only)
};

struct Machine {
    std::vector<MachineDisk> disks;
    MachineLetter letters[26]; // 'A' + index; A: and B: stay absent
};

const Machine &currentMachine();

// 'A' to 'Z' for "X:" followed by nothing or by one separator, either case; 0 otherwise.
char driveLetterOf(const char *text);
