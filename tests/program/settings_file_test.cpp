// The settings file through loadSettings and saveSettings, compared byte for byte.
#include "persist/settings_file.h"
#include "tests/support/known_differences.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct HandBuiltList {
    Unit *cursor = nullptr;
    // Head placeholder, the given paths, tail placeholder; the cursor ends on the tail.
    explicit HandBuiltList(const std::vector<std::string> &paths)
    {
        EXPECT_TRUE(unitListAppend(&cursor));
        cursor->notListed = 1;
        for (const std::string &path : paths) {
            EXPECT_TRUE(unitListAppend(&cursor));
            std::snprintf(cursor->path, sizeof cursor->path, "%s", path.c_str());
        }
        EXPECT_TRUE(unitListAppend(&cursor));
        cursor->notListed = 1;
    }
    ~HandBuiltList()
    {
        for (Unit *unit = unitListHead(cursor); unit;) {
            Unit *next = unit->next;
            std::free(unit);
            unit = next;
        }
    }
    Unit *find(const char *path) const { return unitListFindByPath(cursor, path); }
};

struct SettingsFile {
    GeneralOptions options = {};
    std::string path;
    explicit SettingsFile(const char *name)
    {
        path = (std::filesystem::temp_directory_path() / name).string();
        std::remove(path.c_str());
        std::snprintf(options.iniPath, sizeof options.iniPath, "%s", path.c_str());
    }
    ~SettingsFile() { std::remove(path.c_str()); }
    void write(const std::string &bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

const std::vector<std::string> machinePaths = {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\C:", "RAM Usage", "VRAM Usage"};

std::string unitSection(const std::string &name, const char *enabled, const char *tray, const char *port,
                        const char *readMask, const char *writeMask)
{
    return "[" + name + "]\r\nEnabled=" + enabled + "\r\nTrayicon=" + tray + "\r\nParallelPortMonitorEnabled=" + port +
           "\r\nParallelPortSeparateRW=" + port + "\r\nParallelPortReadMask=" + readMask +
           "\r\nParallelPortWriteMask=" + writeMask + "\r\n";
}

const char defaultGeneralOptions[] = "[GENERALOPTIONS]\r\n"
                                     "StartWithOs=No\r\n"
                                     "AlternativeIcons=Yes\r\n"
                                     "Pollinterval=100\r\n"
                                     "Pollintervalmeters=1500\r\n"
                                     "Startwithosdelay=1\r\n"
                                     "ShowCPUUsage=No\r\n"
                                     "ShowFreeMem=No\r\n"
                                     "SingleIconMode=No\r\n"
                                     "KeyboardLED=No\r\n"
                                     "Staticicon=No\r\n"
                                     "Color_cpu_dynamic=Yes\r\n"
                                     "Color_cpu_red=16\r\n"
                                     "Color_cpu_green=128\r\n"
                                     "Color_cpu_blue=16\r\n"
                                     "Color_ram_red=64\r\n"
                                     "Color_ram_green=64\r\n"
                                     "Color_ram_blue=255\r\n"
                                     "Color_vram_red=228\r\n"
                                     "Color_vram_green=128\r\n"
                                     "Color_vram_blue=16\r\n"
                                     "Color_background_red=64\r\n"
                                     "Color_background_green=0\r\n"
                                     "Color_background_blue=64\r\n"
                                     "WindowPosTop=100\r\n"
                                     "WindowPosLeft=100\r\n"
                                     "WindowPosRight=630\r\n"
                                     "WindowPosBottom=510\r\n";

TEST(SettingsFile, AFirstRunTakesTheDefaultsAndTheFirstApplyWritesThemAll)
{
    SettingsFile file("tallow_settings_first.ini");
    HandBuiltList list(machinePaths);
    // Whatever the records held before, the load sets every persisted field.
    std::memset(&file.options.colorRam, 0xee, sizeof file.options.colorRam);
    file.options.pollInterval = 7;
    list.find("RAM Usage")->enabled = 1;
    list.find("RAM Usage")->portWriteMask = 9;

    loadSettings(&list.cursor, &file.options);
    const GeneralOptions &o = file.options;
    EXPECT_EQ(o.alternativeIcons, 1);
    EXPECT_EQ(o.startWithOs, 0);
    EXPECT_EQ(o.pollInterval, 100u);
    EXPECT_EQ(o.pollIntervalMeters, 1500u);
    EXPECT_EQ(o.startWithOsDelay, 1);
    EXPECT_EQ(o.colorCpuDynamic, 1);
    EXPECT_EQ(o.colorCpu.red, 16);
    EXPECT_EQ(o.colorRam.blue, 255);
    EXPECT_EQ(o.colorVram.red, 228);
    EXPECT_EQ(o.colorBackground.green, 0);
    EXPECT_EQ(o.windowPosRight, 630);
    EXPECT_EQ(o.windowPosBottom, 510);
    forEachUnitForward(list.cursor, [](Unit *unit) {
        EXPECT_EQ(unit->enabled, 0) << unit->path;
        EXPECT_EQ(unit->showInTray, 1) << unit->path;
        EXPECT_EQ(unit->portEnabled, 0) << unit->path;
        EXPECT_EQ(unit->portWriteMask, 0) << unit->path;
    });
    EXPECT_EQ(file.read(), ""); // loading creates nothing

    // The 27 general keys together, then one section per visited Unit, the head's first.
    saveSettings(&list.cursor, &file.options);
    std::string expected = defaultGeneralOptions;
    expected += unitSection("", "No", "Yes", "No", "0", "0");
    for (const std::string &path : machinePaths)
        expected += unitSection(path, "No", "Yes", "No", "0", "0");
    // Wine writes the empty-named section without its "[]", at the top of the file.
    if (expectWindowsAnswer(true))
        EXPECT_EQ(file.read(), expected);
    else
        EXPECT_NE(file.read(), expected) << "marked as differing on Wine but no longer does";

    // What was saved loads back, the head placeholder's options included.
    list.find("\\\\.\\C:")->enabled = 1;
    unitListHead(list.cursor)->portReadMask = 5;
    saveSettings(&list.cursor, &file.options);
    list.find("\\\\.\\C:")->enabled = 0;
    unitListHead(list.cursor)->portReadMask = 0;
    loadSettings(&list.cursor, &file.options);
    EXPECT_EQ(list.find("\\\\.\\C:")->enabled, 1);
    EXPECT_EQ(unitListHead(list.cursor)->portReadMask, 5);
}

TEST(SettingsFile, ReadsEveryValueForm)
{
    SettingsFile file("tallow_settings_forms.ini");
    HandBuiltList list(machinePaths);
    file.write("[GENERALOPTIONS]\r\n"
               "AlternativeIcons=NO\r\n"             // any case of "no" is false
               "StartWithOs=0\r\n"                   // anything else is true, 0 included
               "ShowCPUUsage=false\r\n"
               "ShowFreeMem=\r\n"                    // empty: true, not the default
               "Pollinterval=5\r\n"                  // no range at load
               "Pollintervalmeters=\r\n"             // empty: 0, not the default 1500
               "Startwithosdelay=  -3xyz\r\n"         // blanks, a sign, digits up to the first other
               "Color_cpu_red=300\r\n"               // bytes keep their low 8 bits
               "Color_cpu_green=-1\r\n"
               "Color_cpu_blue=abc\r\n"              // no digits: 0
               "Color_ram_red=" + std::string(62, '0') + "12\r\n" + // 64 characters: the 2 is cut
               "WindowPosLeft=4294967288\r\n"         // -8 written unsigned
               "WindowPosTop=4294967296\r\n"         // modulo 2^32
               "[\\\\.\\PHYSICALDRIVE0]\r\n"
               "Enabled=\r\n"
               "Trayicon=No\r\n"
               "ParallelPortMonitorEnabled=yes\r\n"
               "ParallelPortReadMask=0x0F\r\n"       // hexadecimal stops at the x
               "ParallelPortWriteMask=513\r\n");
    loadSettings(&list.cursor, &file.options);
    const GeneralOptions &o = file.options;
    EXPECT_EQ(o.alternativeIcons, 0);
    EXPECT_EQ(o.startWithOs, 1);
    EXPECT_EQ(o.showCpuUsage, 1);
    EXPECT_EQ(o.showFreeMem, 1);
    EXPECT_EQ(o.keyboardLed, 0); // missing: the default "No"
    EXPECT_EQ(o.pollInterval, 5u);
    EXPECT_EQ(o.pollIntervalMeters, 0u);
    EXPECT_EQ(o.startWithOsDelay, -3);
    EXPECT_EQ(o.colorCpu.red, 44);
    EXPECT_EQ(o.colorCpu.green, 255);
    EXPECT_EQ(o.colorCpu.blue, 0);
    EXPECT_EQ(o.colorRam.red, 1); // only 63 characters are read: the 2 is cut off
    EXPECT_EQ(o.colorRam.green, 64);
    EXPECT_EQ(o.windowPosLeft, -8);
    EXPECT_EQ(o.windowPosTop, 0);
    Unit *disk = list.find("\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(disk->enabled, 1);
    EXPECT_EQ(disk->showInTray, 0);
    EXPECT_EQ(disk->portEnabled, 1);
    EXPECT_EQ(disk->portReadMask, 0);
    EXPECT_EQ(disk->portWriteMask, 1);

    // Apply writes what was loaded, in decimal, and a negative field unsigned.
    saveSettings(&list.cursor, &file.options);
    std::string saved = file.read();
    for (const char *line : {"\r\nColor_cpu_red=44\r\n", "\r\nColor_cpu_green=255\r\n", "\r\nStartwithosdelay=4294967293\r\n",
                             "\r\nWindowPosLeft=4294967288\r\n", "\r\nParallelPortWriteMask=1\r\n",
                             "\r\nParallelPortReadMask=0\r\n", "\r\nPollinterval=5\r\n", "\r\nAlternativeIcons=No\r\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line;
    EXPECT_EQ(saved.find("0x0F"), std::string::npos);
}

TEST(SettingsFile, ApplyLeavesWhatItDoesNotOwn)
{
    SettingsFile file("tallow_settings_hand.ini");
    HandBuiltList list(machinePaths);
    // A hand-edited file: section and key names in any case, a comment, an absent drive.
    const std::string absent = "[\\\\.\\E:]\r\n; the USB disk\r\nEnabled=Yes\r\nParallelPortReadMask=3\r\n";
    file.write("[generaloptions]\r\nkeyboardled=yes\r\n" + absent +
               "[ram usage]\r\nenabled=1\r\n[\\\\.\\PHYSICALDRIVE0]\r\nEnabled=yes\r\nCustom=kept\r\n");
    loadSettings(&list.cursor, &file.options);
    EXPECT_EQ(file.options.keyboardLed, 1);
    EXPECT_EQ(list.find("\\\\.\\PHYSICALDRIVE0")->enabled, 1);
    EXPECT_EQ(list.find("RAM Usage")->enabled, 1);
    EXPECT_EQ(list.find("VRAM Usage")->enabled, 0);
    EXPECT_EQ(list.find("\\\\.\\C:")->enabled, 0);

    saveSettings(&list.cursor, &file.options);
    std::string saved = file.read();
    // The general keys go into the existing section, spelled as the file spells them.
    EXPECT_NE(saved.find("[generaloptions]\r\nkeyboardled=Yes\r\nStartWithOs=No\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(absent), std::string::npos) << saved;
    EXPECT_NE(saved.find("[ram usage]\r\nenabled=Yes\r\nTrayicon=Yes\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Enabled=Yes\r\nCustom=kept\r\nTrayicon=Yes\r\n"), std::string::npos) << saved;

    // When the drive returns, its section is found again by its path.
    HandBuiltList withUsb({"\\\\.\\PHYSICALDRIVE0", "\\\\.\\C:", "\\\\.\\E:", "RAM Usage", "VRAM Usage"});
    loadSettings(&withUsb.cursor, &file.options);
    EXPECT_EQ(withUsb.find("\\\\.\\E:")->enabled, 1);
    EXPECT_EQ(withUsb.find("\\\\.\\E:")->portReadMask, 3);
}

} // namespace
