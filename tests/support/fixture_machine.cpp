#include "tests/support/fixture_machine.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

void writeText(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    // Written beside and renamed, as the kernel's files never show half a line to a reader.
    fs::path temporary = path;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    fs::rename(temporary, path);
}

std::string majorMinor(int major, int minor)
{
    return std::to_string(major) + ":" + std::to_string(minor);
}

} // namespace

FixtureMachine::FixtureMachine()
{
    std::random_device random;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path folder = fs::temp_directory_path() / ("tallow-machine-" + std::to_string(stamp) + "-" +
                                                   std::to_string(random()));
    fs::create_directories(folder);
    root = folder.string();
    writeText(folder / "proc/self/mountinfo", "");
    fs::create_directories(folder / "sys/block");
}

FixtureMachine::~FixtureMachine()
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void fixtureAddDisk(FixtureMachine &machine, const std::string &name, int major, int minor, bool removable)
{
    fs::path folder = fs::path(machine.root) / "sys/block" / name;
    writeText(folder / "dev", majorMinor(major, minor) + "\n");
    writeText(folder / "removable", removable ? "1\n" : "0\n");
    writeText(folder / "size", "2097152\n");
    fs::create_directories(folder / "queue"); // sysfs holds more than partitions
    machine.blocks[name] = folder.string();
    fixtureSetCounters(machine, name, 0, 0);
}

void fixtureAddPartition(FixtureMachine &machine, const std::string &disk, const std::string &name, int major,
                         int minor)
{
    fs::path folder = fs::path(machine.root) / "sys/block" / disk / name;
    writeText(folder / "dev", majorMinor(major, minor) + "\n");
    writeText(folder / "size", "1048576\n");
    machine.blocks[name] = folder.string();
    fixtureSetCounters(machine, name, 0, 0);
}

void fixtureSetCounters(FixtureMachine &machine, const std::string &device, uint64_t reads, uint64_t writes,
                        uint64_t sectorsRead, uint64_t sectorsWritten)
{
    // reads merged sectors ticks writes merged sectors ticks in-flight io-ticks queue-time, then
    // the discard and flush fields of newer kernels.
    char line[512];
    std::snprintf(line, sizeof line,
                  "%8llu %8u %8llu %8u %8llu %8u %8llu %8u %8u %8u %8u %8u %8u %8u %8u %8u %8u\n",
                  (unsigned long long)reads, 0u, (unsigned long long)sectorsRead, 12u, (unsigned long long)writes, 0u,
                  (unsigned long long)sectorsWritten, 34u, 0u, 56u, 78u, 0u, 0u, 0u, 0u, 0u, 0u);
    writeText(fs::path(machine.blocks.at(device)) / "stat", line);
}

void fixtureRemoveCounters(FixtureMachine &machine, const std::string &device)
{
    fs::remove(fs::path(machine.blocks.at(device)) / "stat");
}

void fixtureAddMount(FixtureMachine &machine, int major, int minor, const std::string &mountPoint,
                     const std::string &type, const std::string &source)
{
    // The kernel escapes blanks in paths as octal.
    std::string escaped;
    for (char c : mountPoint)
        escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    int id = 20 + int(machine.mountLines.size());
    machine.mountLines.push_back(std::to_string(id) + " 1 " + majorMinor(major, minor) + " / " + escaped +
                                 " rw,relatime shared:1 - " + type + " " + source + " rw\n");
    std::string table;
    for (const std::string &line : machine.mountLines)
        table += line;
    writeText(fs::path(machine.root) / "proc/self/mountinfo", table);
}

void fixtureAddLabel(FixtureMachine &machine, const std::string &label, const std::string &device)
{
    std::string name;
    for (unsigned char c : label) {
        if (c == ' ' || c == '/' || c == '\\' || c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            name += escaped;
        } else {
            name += char(c);
        }
    }
    fs::path folder = fs::path(machine.root) / "dev/disk/by-label";
    fs::create_directories(folder);
    fs::create_symlink("../../" + device, folder / name);
}

void fixtureSetMemory(FixtureMachine &machine, uint64_t memTotalKb, uint64_t memAvailableKb, uint64_t swapTotalKb,
                      uint64_t swapFreeKb)
{
    char text[1024];
    std::snprintf(text, sizeof text,
                  "MemTotal:       %llu kB\nMemFree:        %llu kB\nMemAvailable:   %llu kB\n"
                  "Buffers:          123456 kB\nCached:          2345678 kB\nSwapCached:            0 kB\n"
                  "SwapTotal:      %llu kB\nSwapFree:       %llu kB\nDirty:               120 kB\n",
                  (unsigned long long)memTotalKb, (unsigned long long)(memAvailableKb / 2),
                  (unsigned long long)memAvailableKb, (unsigned long long)swapTotalKb,
                  (unsigned long long)swapFreeKb);
    writeText(fs::path(machine.root) / "proc/meminfo", text);
}

void fixtureWriteFile(FixtureMachine &machine, const std::string &relative, const std::string &text)
{
    writeText(fs::path(machine.root) / relative, text);
}

std::string fixtureFolder(FixtureMachine &machine, const std::string &name)
{
    fs::path folder = fs::path(machine.root) / "mnt" / name;
    fs::create_directories(folder);
    return folder.string();
}
