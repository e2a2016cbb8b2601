// The program's whole settings load from a hostile 2 MB settings file: a "GENERALOPTIONS"
// section of 60,000 lines with the real keys at its end, so that every lookup crosses all of
// it. The load must stay well under a second, and the cost of one lookup linear in the size.
#include "persist/settings_file.h"
#include "tests/support/machine_testing.h"
#include "units/discovery.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Section "GENERALOPTIONS" with filler lines before its keys, then a section per unit.
std::string settingsText(int fillerLines)
{
    std::string text = "[GENERALOPTIONS]\r\n";
    char line[64];
    for (int i = 0; i < fillerLines; ++i) {
        std::snprintf(line, sizeof line, "Note%06d=hand-written filler.\r\n", i);
        text += line;
    }
    text += "Pollinterval=250\r\nStartWithOs=Yes\r\nWindowPosLeft=4294967288\r\n";
    for (const char *unit : {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSICALDRIVE1", "\\\\.\\C:", "RAM Usage", "VRAM Usage"})
        text += std::string("[") + unit + "]\r\nEnabled=Yes\r\nParallelPortReadMask=15\r\n";
    return text;
}

struct Program {
    FixtureMachine machine;
    Unit *cursor = nullptr;
    GeneralOptions options = {};

    explicit Program(int fillerLines)
    {
        fixtureAddDisk(machine, "sda", 8, 0);
        fixtureAddDisk(machine, "sdb", 8, 16);
        fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
        pointLayerAt(machine.root.c_str());
        discoverUnits(&cursor);
        std::snprintf(options.iniPath, sizeof options.iniPath, "%s/TallowLAMP.ini", machine.root.c_str());
        std::ofstream(options.iniPath, std::ios::binary) << settingsText(fillerLines);
    }
    ~Program()
    {
        for (Unit *unit = unitListHead(cursor); unit;) {
            Unit *next = unit->next;
            std::free(unit);
            unit = next;
        }
        pointLayerAt(nullptr);
    }
};

void settingsLoad(benchmark::State &state)
{
    Program program(int(state.range(0)));
    for (auto _ : state) {
        loadSettings(&program.cursor, &program.options);
        benchmark::ClobberMemory();
    }
    if (program.options.pollInterval != 250 || program.options.windowPosLeft != -8)
        state.SkipWithError("the keys at the end of the section were not found");
    std::ifstream file(program.options.iniPath, std::ios::binary | std::ios::ate);
    state.counters["file_bytes"] = double(file.tellg());
}

} // namespace

// 60,000 lines make the 2 MB file; the smaller ones show the growth.
BENCHMARK(settingsLoad)->Arg(0)->Arg(15000)->Arg(60000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
