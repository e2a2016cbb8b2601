// The parallel port byte, as the recording port library beside the test executable sees it.
#include "indicators/hardware_outputs.h"
#include "tests/support/out32_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

// As at the start of the process: no library loaded, every line dark, an empty log.
void resetPort()
{
    if (portState.portLibrary)
        FreeLibrary(portState.portLibrary);
    portState = PortState{};
    startOut32Log();
}

Unit portUnit(uint8_t readMask, uint8_t writeMask)
{
    Unit unit{};
    unit.enabled = 1;
    unit.kind = DRIVE_FIXED;
    unit.portEnabled = 1;
    unit.portReadMask = readMask;
    unit.portWriteMask = writeMask;
    return unit;
}

int pass(Unit *unit, int8_t activity)
{
    unit->activity = activity;
    return writePortActivity(unit);
}

std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int value : values)
        text.push_back(char(value));
    return text;
}

// Moves a file aside for the life of the record, and back whatever happens in between.
struct FileAside {
    std::filesystem::path path;
    std::filesystem::path aside;
    explicit FileAside(const std::string &file) : path(file), aside(file + ".aside")
    {
        std::filesystem::rename(path, aside);
    }
    ~FileAside()
    {
        std::error_code ignored;
        std::filesystem::rename(aside, path, ignored);
    }
};

} // namespace

TEST(PortOutput, OneUnitLightsItsReadAndWriteLines)
{
    resetPort();
    Unit unit = portUnit(1, 2);
    EXPECT_EQ(pass(&unit, ACT_IDLE), 0);
    EXPECT_EQ(readOut32Log(), "") << "all idle at start: nothing written";
    ASSERT_NE(portState.portOut, nullptr) << "the recorder beside the executable is loaded";

    pass(&unit, ACT_READ);       // 1
    pass(&unit, ACT_READ);       // unchanged: not written again
    pass(&unit, ACT_IDLE);       // 0
    pass(&unit, ACT_WRITE);      // 2
    pass(&unit, ACT_READ_WRITE); // 3
    pass(&unit, ACT_IDLE);       // 0
    pass(&unit, ACT_READ);       // 1
    pass(&unit, ACT_WRITE);      // 3: the read lines stay lit until an idle pass
    EXPECT_EQ(pass(&unit, ACT_IDLE), 0); // 0
    EXPECT_EQ(readOut32Log(), bytes({1, 0, 2, 3, 0, 1, 3, 0}));
}

TEST(PortOutput, MetersClearTheirLinesAndUnitsShareBits)
{
    resetPort();
    Unit meter = portUnit(0xFF, 0xFF);
    meter.kind = KIND_RAM;
    pass(&meter, ACT_METER);
    pass(&meter, ACT_IDLE);
    pass(&meter, ACT_METER);
    EXPECT_EQ(readOut32Log(), "") << "a meter never lights a line";

    // Visited from the tail: the later Unit reads and sets bit 0, the first one is idle and
    // clears it again within the same pass.
    Unit first = portUnit(1, 0);
    Unit later = portUnit(1, 0);
    pass(&later, ACT_READ);
    pass(&first, ACT_IDLE);
    EXPECT_EQ(readOut32Log(), bytes({1, 0}));

    // A meter folded after a reading drive clears that drive's lines too (its masks cover them).
    pass(&later, ACT_READ);
    pass(&meter, ACT_METER);
    EXPECT_EQ(readOut32Log(), bytes({1, 0, 1, 0}));
}

TEST(PortOutput, MissingLibraryIsTriedAgainAtEveryCall)
{
    resetPort();
    Unit unit = portUnit(1, 2);
    {
        FileAside hidden(out32LibraryPath());
        EXPECT_EQ(pass(&unit, ACT_READ), -1);
        EXPECT_EQ(pass(&unit, ACT_READ), -1);
        EXPECT_EQ(portState.portLibrary, nullptr);
        EXPECT_EQ(portState.portReadBits, 0) << "nothing is folded without the library";
    }
    EXPECT_EQ(pass(&unit, ACT_READ), 0);
    EXPECT_NE(portState.portLibrary, nullptr);
    EXPECT_EQ(readOut32Log(), bytes({1}));
}

TEST(PortOutput, LibraryIsNeverTakenFromTheCurrentDirectory)
{
    resetPort();
    namespace fs = std::filesystem;
    fs::path library(out32LibraryPath());
    fs::path planted = fs::temp_directory_path() / "tallowlamp_port_cwd";
    fs::create_directories(planted);
    fs::copy_file(library, planted / library.filename(), fs::copy_options::overwrite_existing);
    fs::path home = fs::current_path();
    Unit unit = portUnit(1, 2);
    {
        FileAside hidden(library.string());
        fs::current_path(planted);
        EXPECT_EQ(pass(&unit, ACT_READ), -1);
        EXPECT_EQ(portState.portLibrary, nullptr);
        fs::current_path(home);
    }
    std::error_code ignored;
    fs::remove_all(planted, ignored);
    EXPECT_EQ(pass(&unit, ACT_READ), 0);
}
