// A day of polling, accelerated: 864,000 passes (24 hours at the default 100 ms) of the
// program's own poll (sampleUnits, then updateTrayIcons) inside its dialog, on a machine in a
// folder whose counters move at random, with a tray host attached (run it through
// bench/soak.sh: Xvfb and trayer). Now and then a Unit is ticked or unticked, the icon set and
// single icon mode switch, and every 600 passes the redraw timer marks every Unit changed.
// Icon (beside the lamps the Units hold), bitmap, brush, font and DC counts must come back to
// where they started, the resident
// memory grow by less than 1 MB, no tray item be left over, and no pass fail.
//   soak_bench [--benchmark_...]      TALLOW_SOAK_PASSES overrides the number of passes.
#include "indicators/tray_icons.h"
#include "platform/layer_testing.h"
#include "res/resource.h"
#include "tests/support/machine_testing.h"
#include "units/discovery.h"
#include "units/drive_sampling.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char *const kDisks[] = {"sda", "sdb", "sdc"};

// What must come back to where it was after the warm-up.
struct Figures {
    LayerGdiCounts gdi = {};
    int icons = 0;
    // A Unit keeps its drawn lamps until the icon set changes, even while unticked, so how many
    // it holds depends on the history; what must not move is the count beside them.
    int heldByUnits = 0;
    long rssKb = 0;
    // Bytes malloc hands out and bytes it keeps free: a leak grows the first, fragmentation the second.
    size_t heapUsed = 0, heapFree = 0;
};

struct Soak {
    FixtureMachine machine;
    Unit *cursor = nullptr;
    GeneralOptions options = {};
    std::mt19937 random{20261208};
    uint64_t reads[3] = {}, writes[3] = {};
    long passes = 0, done = 0, errors = 0, trayMismatches = 0;
    long switches = 0, toggles = 0;
    // Figures after the warm-up and at the end.
    Figures start, end;
    int trayEnd = -1;
    // The user's choices at the end of the warm-up, given back before the final count.
    std::vector<uint8_t> enabledAtStart;
    BOOL alternativeAtStart = 0, singleAtStart = 0;
};

long residentKb()
{
    long pages = 0, resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The icons the Units hold: their drawn lamps, not the shared templates.
int iconsHeldByUnits(Soak &soak)
{
    int held = 0;
    forEachUnitForward(soak.cursor, [&](Unit *unit) {
        for (HICON icon : {unit->iconIdle, unit->iconRead, unit->iconWrite, unit->iconReadWrite, unit->iconMeter})
            held += icon && icon != trayState.templateIdle && icon != trayState.templateRead &&
                    icon != trayState.templateWrite && icon != trayState.templateReadWrite &&
                    icon != trayState.templateMeter;
    });
    return held;
}

Figures takeFigures(Soak &soak)
{
    Figures figures;
    figures.gdi = layerGdiCounts();
    figures.icons = layerIconCount();
    figures.heldByUnits = iconsHeldByUnits(soak);
    figures.rssKb = residentKb();
    struct mallinfo2 heap = mallinfo2();
    figures.heapUsed = heap.uordblks;
    figures.heapFree = heap.fordblks;
    return figures;
}

// The tray items the program should show after a pass: one per ticked Unit, or the one lamp.
int expectedTrayItems(const Soak &soak)
{
    if (soak.options.singleIconMode)
        return 1;
    int shown = 0;
    forEachUnitForward(soak.cursor, [&](Unit *unit) { shown += unit->enabled && unit->showInTray; });
    return shown;
}

void moveCounters(Soak &soak)
{
    for (int i = 0; i < 3; ++i) {
        unsigned roll = soak.random() % 8;
        if (roll == 0)
            continue;
        soak.reads[i] += roll & 1 ? soak.random() % 50 + 1 : 0;
        soak.writes[i] += roll & 2 ? soak.random() % 50 + 1 : 0;
        fixtureSetCounters(soak.machine, kDisks[i], soak.reads[i], soak.writes[i], soak.reads[i] * 8,
                           soak.writes[i] * 8);
    }
    if (soak.random() % 16 == 0)
        fixtureSetMemory(soak.machine, 8388608, 1000000 + soak.random() % 7000000, 4194304, soak.random() % 4194304);
}

// What the user does now and then, at the dialog's pace.
void userActions(Soak &soak)
{
    long pass = soak.done;
    if (pass % 600 == 0) // the redraw timer
        forEachUnitForward(soak.cursor, [](Unit *unit) { unit->changed = 1; });
    if (pass % 997 == 0) {
        std::vector<Unit *> units;
        forEachUnitForward(soak.cursor, [&](Unit *unit) { units.push_back(unit); });
        Unit *unit = units[1 + soak.random() % (units.size() - 1)]; // not the head placeholder
        unit->enabled = !unit->enabled;
        ++soak.toggles;
    }
    if (pass % 4001 == 0)
        soak.options.alternativeIcons = !soak.options.alternativeIcons, ++soak.switches;
    if (pass % 6007 == 0)
        soak.options.singleIconMode = !soak.options.singleIconMode, ++soak.switches;
}

void onePass(Soak &soak, HWND dialog)
{
    moveCounters(soak);
    userActions(soak);
    GeneralOptions *options = &soak.options;
    if (!sampleUnits(&soak.cursor, &options))
        ++soak.errors;
    updateTrayIcons(dialog, &soak.cursor, &soak.options);
    if (layerTrayIconCount() != expectedTrayItems(soak))
        ++soak.trayMismatches;
    ++soak.done;
}

// The dialog's loop runs between batches, so the tray host and the display are served as in
// the program, where every pass is a timer tick.
INT_PTR CALLBACK soakProcedure(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    static Soak *soak;
    switch (message) {
    case WM_INITDIALOG:
        soak = reinterpret_cast<Soak *>(lParam);
        SetTimer(dialog, 1, 1, nullptr);
        return TRUE;
    case WM_TIMER: {
        bool warm = soak->done >= 20000;
        for (int i = 0; i < 500 && soak->done < soak->passes; ++i)
            onePass(*soak, dialog);
        if (!warm && soak->done >= 20000) {
            // Qt, fontconfig and the tray have made their caches: from here nothing may grow.
            forEachUnitForward(soak->cursor, [&](Unit *unit) { soak->enabledAtStart.push_back(unit->enabled != 0); });
            soak->alternativeAtStart = soak->options.alternativeIcons;
            soak->singleAtStart = soak->options.singleIconMode;
            soak->start = takeFigures(*soak);
        }
        if (soak->done >= soak->passes) {
            KillTimer(dialog, 1);
            // The choices of the warm-up's end again, every Unit redrawn, for the counts.
            size_t index = 0;
            forEachUnitForward(soak->cursor, [&](Unit *unit) {
                unit->enabled = soak->enabledAtStart[index++];
                unit->changed = 1;
            });
            soak->options.alternativeIcons = soak->alternativeAtStart;
            soak->options.singleIconMode = soak->singleAtStart;
            for (int i = 0; i < 2; ++i) {
                GeneralOptions *options = &soak->options;
                sampleUnits(&soak->cursor, &options);
                updateTrayIcons(dialog, &soak->cursor, &soak->options);
            }
            soak->end = takeFigures(*soak);
            removeAllTrayIcons(dialog, &soak->cursor);
            soak->trayEnd = layerTrayIconCount();
            EndDialog(dialog, 0);
        }
        return TRUE;
    }
    }
    return FALSE;
}

void soakDay(benchmark::State &state)
{
    for (auto _ : state) {
        Soak soak;
        const char *passes = std::getenv("TALLOW_SOAK_PASSES");
        soak.passes = passes ? std::atol(passes) : 864000;
        for (int i = 0; i < 3; ++i)
            fixtureAddDisk(soak.machine, kDisks[i], 8, i * 16);
        fixtureAddPartition(soak.machine, "sda", "sda1", 8, 1);
        fixtureAddMount(soak.machine, 8, 1, fixtureFolder(soak.machine, "root"), "ext4", "/dev/sda1");
        fixtureAddMount(soak.machine, 8, 16, fixtureFolder(soak.machine, "data"), "ext4", "/dev/sdb");
        fixtureAddLabel(soak.machine, "DATA", "sdb");
        fixtureSetMemory(soak.machine, 8388608, 3670016, 4194304, 2097152);
        pointLayerAt(soak.machine.root.c_str());
        samplerState = {};
        trayState = {};
        discoverUnits(&soak.cursor);
        forEachUnitForward(soak.cursor, [](Unit *unit) {
            unit->enabled = unit->path[0] != 0;
            unit->showInTray = 1;
        });
        soak.options.alternativeIcons = 1;
        soak.options.pollInterval = 100;
        soak.options.colorRam = {64, 64, 255};
        soak.options.colorVram = {228, 128, 16};
        soak.options.colorBackground = {64, 0, 64};
        INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                         soakProcedure, reinterpret_cast<LPARAM>(&soak));
        pointLayerAt(nullptr);

        state.counters["passes"] = double(soak.done);
        state.counters["errors"] = double(soak.errors);
        state.counters["tray_mismatches"] = double(soak.trayMismatches);
        state.counters["tray_items_left"] = double(soak.trayEnd);
        const Figures &start = soak.start, &end = soak.end;
        state.counters["icons_start"] = start.icons;
        state.counters["icons_end"] = end.icons;
        state.counters["icons_held_start"] = start.heldByUnits;
        state.counters["icons_held_end"] = end.heldByUnits;
        state.counters["bitmaps_start"] = start.gdi.bitmaps;
        state.counters["bitmaps_end"] = end.gdi.bitmaps;
        state.counters["brushes_start"] = start.gdi.brushes;
        state.counters["brushes_end"] = end.gdi.brushes;
        state.counters["fonts_start"] = start.gdi.fonts;
        state.counters["fonts_end"] = end.gdi.fonts;
        state.counters["dcs_start"] = start.gdi.dcs;
        state.counters["dcs_end"] = end.gdi.dcs;
        state.counters["rss_start_kb"] = double(start.rssKb);
        state.counters["rss_end_kb"] = double(end.rssKb);
        state.counters["toggles"] = double(soak.toggles);
        state.counters["switches"] = double(soak.switches);
        std::fprintf(stderr,
                     "soak: %ld passes, %ld errors, %ld tray mismatches, %d tray items left; icons %d -> %d (Units' "
                     "lamps %d -> %d), "
                     "bitmaps %d -> %d, brushes %d -> %d, fonts %d -> %d, DCs %d -> %d; RSS %ld -> %ld kB; "
                     "heap in use %zu -> %zu kB, free %zu -> %zu kB; %ld Unit toggles, %ld icon-set/mode switches\n",
                     soak.done, soak.errors, soak.trayMismatches, soak.trayEnd, start.icons, end.icons,
                     start.heldByUnits, end.heldByUnits, start.gdi.bitmaps, end.gdi.bitmaps, start.gdi.brushes,
                     end.gdi.brushes, start.gdi.fonts, end.gdi.fonts, start.gdi.dcs, end.gdi.dcs, start.rssKb,
                     end.rssKb, start.heapUsed / 1024, end.heapUsed / 1024, start.heapFree / 1024,
                     end.heapFree / 1024, soak.toggles, soak.switches);
        bool countsKept = start.icons - start.heldByUnits == end.icons - end.heldByUnits &&
                          start.gdi.bitmaps == end.gdi.bitmaps && start.gdi.brushes == end.gdi.brushes &&
                          start.gdi.fonts == end.gdi.fonts && start.gdi.dcs == end.gdi.dcs;
        if (result != 0 || soak.done != soak.passes)
            state.SkipWithError("the dialog did not run every pass");
        else if (soak.errors || soak.trayMismatches || soak.trayEnd != 0)
            state.SkipWithError("a pass failed, or the tray held other items than the Units'");
        else if (!countsKept)
            state.SkipWithError("icon or GDI object counts moved");
        else if (end.rssKb - start.rssKb >= 1024)
            state.SkipWithError("the resident memory grew by 1 MB or more");
    }
}

} // namespace

BENCHMARK(soakDay)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
