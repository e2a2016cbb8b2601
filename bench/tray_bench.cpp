// One poll tick with nothing changed (sampleUnits, then updateTrayIcons) against the least a
// tick can cost: opening, reading and closing each monitored disk's counter file. The tick
// must send nothing to the tray and stay within 1.5 times that loop.
#include "indicators/tray_icons.h"
#include "platform/layer_testing.h"
#include "res/resource.h"
#include "tests/support/machine_testing.h"
#include "units/discovery.h"
#include "units/drive_sampling.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A machine of `disks` whole disks (no mounts: physical drives only) under a fresh folder.
std::string buildMachine(int disks)
{
    const fs::path root = fs::temp_directory_path() / ("tray_bench_" + std::to_string(getpid()) + "_" +
                                                       std::to_string(disks));
    fs::remove_all(root);
    fs::create_directories(root / "proc/self");
    std::ofstream(root / "proc/self/mountinfo") << "";
    std::ofstream(root / "proc/meminfo") << "MemTotal: 8000000 kB\nMemAvailable: 5000000 kB\n";
    for (int i = 0; i < disks; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "sd%c%c", 'a' + i / 26, 'a' + i % 26);
        const fs::path disk = root / "sys/block" / name;
        fs::create_directories(disk);
        std::ofstream(disk / "dev") << "8:" << i * 16 << "\n";
        std::ofstream(disk / "size") << "1000000\n";
        std::ofstream(disk / "removable") << "0\n";
        std::ofstream(disk / "stat") << "    1000 0 8000 0     500 0 4000 0 0 0 0 0 0 0 0\n";
    }
    return root.string();
}

struct Program {
    Unit *cursor = nullptr;
    GeneralOptions options = {};
    GeneralOptions *optionsAddress = &options;
    std::vector<std::string> statFiles;
};

Program *startProgram(int disks)
{
    const std::string root = buildMachine(disks);
    pointLayerAt(root.c_str());
    auto *program = new Program();
    discoverUnits(&program->cursor);
    forEachUnitForward(program->cursor, [&](Unit *unit) { unit->enabled = unit->kind == DRIVE_NO_ROOT_DIR; });
    program->options.alternativeIcons = 1;
    program->options.pollInterval = 100;
    for (const auto &entry : fs::directory_iterator(root + "/sys/block"))
        program->statFiles.push_back(entry.path().string() + "/stat");
    // The templates as the dialog's module gives them; then two ticks: add, then label.
    HINSTANCE module = GetModuleHandleA(nullptr);
    trayState.loadedIconSet = 1;
    trayState.templateRead = LoadIconA(module, MAKEINTRESOURCEA(IDI_ALT_READ));
    trayState.templateWrite = LoadIconA(module, MAKEINTRESOURCEA(IDI_ALT_WRITE));
    trayState.templateReadWrite = LoadIconA(module, MAKEINTRESOURCEA(IDI_ALT_READWRITE));
    trayState.templateIdle = LoadIconA(module, MAKEINTRESOURCEA(IDI_ALT_IDLE));
    trayState.templateMeter = LoadIconA(module, MAKEINTRESOURCEA(IDI_METER));
    for (int i = 0; i < 2; ++i) {
        sampleUnits(&program->cursor, &program->optionsAddress);
        updateTrayIcons(nullptr, &program->cursor, &program->options);
    }
    return program;
}

void BM_IdleTick(benchmark::State &state)
{
    Program *program = startProgram(int(state.range(0)));
    std::vector<TrayCall> calls;
    layerRecordTrayCalls(&calls);
    for (auto _ : state) {
        sampleUnits(&program->cursor, &program->optionsAddress);
        updateTrayIcons(nullptr, &program->cursor, &program->options);
    }
    layerRecordTrayCalls(nullptr);
    if (!calls.empty())
        state.SkipWithError("an idle tick sent something to the tray");
    removeAllTrayIcons(nullptr, &program->cursor);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The tray's share of a tick: a walk that finds nothing changed, and the yield at its end.
void BM_IdleTrayPass(benchmark::State &state)
{
    Program *program = startProgram(int(state.range(0)));
    std::vector<TrayCall> calls;
    layerRecordTrayCalls(&calls);
    for (auto _ : state)
        updateTrayIcons(nullptr, &program->cursor, &program->options);
    layerRecordTrayCalls(nullptr);
    if (!calls.empty())
        state.SkipWithError("an idle pass sent something to the tray");
    removeAllTrayIcons(nullptr, &program->cursor);
}

void BM_CounterFiles(benchmark::State &state)
{
    Program *program = startProgram(int(state.range(0)));
    char buffer[256];
    for (auto _ : state) {
        for (const std::string &path : program->statFiles) {
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            benchmark::DoNotOptimize(pread(fd, buffer, sizeof buffer, 0));
            close(fd);
        }
    }
    removeAllTrayIcons(nullptr, &program->cursor);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_IdleTick)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(BM_IdleTrayPass)->Arg(1)->Arg(64);
BENCHMARK(BM_CounterFiles)->Arg(1)->Arg(8)->Arg(64);

} // namespace

BENCHMARK_MAIN();
