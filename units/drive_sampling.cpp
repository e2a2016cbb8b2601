#include "units/drive_sampling.h"

#include "units/load_meters.h"

#include <cstdlib>
#include <cstring>

SamplerState samplerState = {1, 0, 0};

namespace {

const char diskperfTitle[] = "TallowLAMP FAILURE";
const char diskperfText[] =
    "TallowLAMP ERROR:\n\nTallowLAMP can't display activity indicators since the systems performance counters "
    "have been disabled.\nthis might be fixed by running the following command: diskperf -y\ndo you want to try "
    "this now?\n";

void setActivity(Unit *unit, int8_t state)
{
    if (unit->activity != state) {
        unit->activity = state;
        unit->changed = 1;
    }
}

// Offered once per run. The flag is cleared before the box opens: timer ticks go on inside its
// message loop, and a nested pass must not open a second one.
void offerDiskperf()
{
    if (!samplerState.diskperfPromptPending)
        return;
    samplerState.diskperfPromptPending = 0;
    if (MessageBoxA(nullptr, diskperfText, diskperfTitle, MB_YESNO | MB_ICONHAND | MB_TASKMODAL) == IDYES)
        std::system("diskperf -y");
}

// One enabled drive. False when its device does not open now (a disk unplugged since start):
// it then shows idle and keeps its counts, and the pass goes on with the next Unit.
bool sampleDrive(Unit *unit)
{
    HANDLE device =
        CreateFileA(unit->path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        setActivity(unit, ACT_IDLE);
        return false;
    }

    DISK_PERFORMANCE performance;
    DWORD returned = 0;
    int8_t state = ACT_IDLE;
    if (DeviceIoControl(device, IOCTL_DISK_PERFORMANCE, nullptr, 0, &performance, sizeof performance, &returned,
                        nullptr)) {
        // A count that moved to 0 has wrapped: it is stored but shows nothing.
        if (performance.WriteCount != unit->lastWriteCount) {
            unit->lastWriteCount = performance.WriteCount;
            if (unit->lastWriteCount)
                state += ACT_WRITE;
        }
        if (performance.ReadCount != unit->lastReadCount) {
            unit->lastReadCount = performance.ReadCount;
            if (unit->lastReadCount)
                state += ACT_READ;
        }
    } else {
        // No counters: no activity to show, and the stored counts stay as they were.
        offerDiskperf();
    }
    setActivity(unit, state);

    // Room for the backslash; a copy, not a format: this runs for every drive on every pass.
    char root[MAX_PATH + 1];
    const size_t length = strnlen(unit->path, MAX_PATH - 1);
    std::memcpy(root, unit->path, length);
    root[length] = 0;
    PathAddBackslashA(root);
    ULARGE_INTEGER total = {}, freeBytes = {};
    if (!GetDiskFreeSpaceExA(root, nullptr, &total, &freeBytes))
        total.QuadPart = freeBytes.QuadPart = 0;
    storeFreeSpace(unit, total.QuadPart, freeBytes.QuadPart);

    CloseHandle(device);
    return true;
}

void sampleMeter(Unit **current, int32_t (*sample)(Unit **), int32_t &lastValue)
{
    int32_t value = sample(current);
    if (value != lastValue) {
        (*current)->changed = 1;
        (*current)->activity = ACT_METER;
        (*current)->percent = value;
        lastValue = value;
    }
}

} // namespace

void storeFreeSpace(Unit *unit, ULONGLONG total, ULONGLONG freeBytes)
{
    // A full volume is 0 %, not unknown; only a volume of unknown size is -1.
    int32_t percent = -1;
    if (total) {
        if (freeBytes > total)
            freeBytes = total;
        percent = int32_t(freeBytes <= ~0ULL / 100 ? freeBytes * 100 / total : freeBytes / (total / 100));
    }
    if (total > 1073741824) {
        unit->scaleDivisor = 1073741824;
        unit->scaleLetter = 'G';
    } else if (total > 1048576) {
        unit->scaleDivisor = 1048576;
        unit->scaleLetter = 'M';
    } else {
        unit->scaleDivisor = 1;
        unit->scaleLetter = ' ';
    }
    unit->freeScaled = uint32_t(freeBytes / unit->scaleDivisor);
    unit->totalScaled = uint32_t(total / unit->scaleDivisor);
    unit->percent = percent;
}

// Every enabled Unit is visited; the answer is 0 when some drive could not be opened.
int sampleUnits(Unit **cursor, GeneralOptions **options)
{
    (void)options;
    int complete = 1;
    for (Unit *unit = unitListHead(*cursor); unit && unit->next; unit = unit->next) {
        if (!unit->enabled)
            continue;
        if (unit->kind == DRIVE_FIXED || unit->kind == DRIVE_NO_ROOT_DIR) {
            if (!sampleDrive(unit))
                complete = 0;
        } else if (unit->kind == KIND_RAM) {
            sampleMeter(&unit, sampleRamLoad, samplerState.lastRamValue);
        } else if (unit->kind == KIND_VIRTUAL_RAM) {
            sampleMeter(&unit, sampleVirtualLoad, samplerState.lastVirtualValue);
        }
    }
    return complete;
}
