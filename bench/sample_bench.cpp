// One sampling pass over 1, 8 and 64 enabled drives of a machine in a folder, next to the
// least such a pass can cost: opening, reading and closing the same counter files. The pass
// must stay within 1.5 times that loop and grow linearly with the drives.
#include "tests/support/machine_testing.h"
#include "units/discovery.h"
#include "units/drive_sampling.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string diskName(int index)
{
    return std::string("sd") + char('a' + index / 26 % 26) + char('a' + index % 26);
}

void buildDisks(FixtureMachine &machine, int drives)
{
    for (int i = 0; i < drives; ++i) {
        fixtureAddDisk(machine, diskName(i), 8, i * 16);
        fixtureSetCounters(machine, diskName(i), 1000 + i, 2000 + i, 8000, 16000);
    }
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    pointLayerAt(machine.root.c_str());
}

void samplePass(benchmark::State &state)
{
    FixtureMachine machine;
    buildDisks(machine, int(state.range(0)));
    samplerState.diskperfPromptPending = 0;
    Unit *cursor = nullptr;
    discoverUnits(&cursor);
    int enabled = 0;
    forEachUnitForward(cursor, [&](Unit *unit) {
        if (unit->kind == DRIVE_NO_ROOT_DIR)
            unit->enabled = 1, ++enabled;
    });
    if (enabled != state.range(0))
        state.SkipWithError("the machine's drives were not all found");
    GeneralOptions options = {};
    GeneralOptions *optionsAddress = &options;
    for (auto _ : state)
        benchmark::DoNotOptimize(sampleUnits(&cursor, &optionsAddress));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    for (Unit *unit = unitListHead(cursor); unit;) {
        Unit *next = unit->next;
        std::free(unit);
        unit = next;
    }
    pointLayerAt(nullptr);
}

void openReadClose(benchmark::State &state)
{
    FixtureMachine machine;
    buildDisks(machine, int(state.range(0)));
    std::vector<std::string> paths;
    for (int i = 0; i < state.range(0); ++i)
        paths.push_back(machine.root + "/sys/block/" + diskName(i) + "/stat");
    char text[512];
    for (auto _ : state) {
        for (const std::string &path : paths) {
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            benchmark::DoNotOptimize(pread(fd, text, sizeof text, 0));
            close(fd);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    pointLayerAt(nullptr);
}

} // namespace

BENCHMARK(samplePass)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(openReadClose)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK_MAIN();
