#include "units/discovery.h"

#include <cstdio>
#include <cstring>

namespace {

// Appends a Unit for a candidate and names it; null when memory ran out, and the candidate is
// then left out rather than written over the Unit before it.
Unit *appendUnit(Unit **list, const char *path, int32_t kind)
{
    if (!unitListAppend(list))
        return nullptr;
    Unit *unit = *list;
    std::snprintf(unit->path, sizeof unit->path, "%s", path);
    unit->kind = kind;
    return unit;
}

void numberUnit(Unit *unit, int32_t &nextId)
{
    unit->unitId = nextId++;
    unit->changed = 1;
}

} // namespace

bool deviceOpens(const char *path)
{
    HANDLE device = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(device);
    return true;
}

int readVolumeInfo(const char *devicePath, Unit *cursor)
{
    char label[MAX_PATH] = {};
    char fileSystem[MAX_PATH] = {};
    char root[MAX_PATH];
    std::snprintf(root, sizeof root, "%s\\", devicePath + 4);
    DWORD serialNumber, maximumComponentLength, fileSystemFlags;
    if (GetVolumeInformationA(root, label, sizeof label, &serialNumber, &maximumComponentLength, &fileSystemFlags,
                              fileSystem, sizeof fileSystem)) {
        // Terminated even if the platform filled the buffers to the brim; both then fit.
        label[sizeof label - 1] = 0;
        fileSystem[sizeof fileSystem - 1] = 0;
        std::strcpy(cursor->volumeName, label);
        std::strcpy(cursor->fileSystem, fileSystem);
    } else {
        std::strcpy(cursor->volumeName, "N/A");
        std::strcpy(cursor->fileSystem, "N/A");
    }
    return 0;
}

int discoverUnits(Unit **cursor)
{
    Unit *list = nullptr;
    int32_t nextId = 100;
    char candidate[MAX_PATH];

    // Without the head placeholder there is no list to build.
    Unit *head = appendUnit(&list, "", DRIVE_UNKNOWN);
    if (!head) {
        *cursor = nullptr;
        return 0;
    }
    head->notListed = 1;

    for (int number = 0; number < 255; ++number) {
        std::snprintf(candidate, sizeof candidate, "\\\\.\\PHYSICALDRIVE%d", number);
        if (!deviceOpens(candidate))
            continue;
        if (Unit *unit = appendUnit(&list, candidate, int32_t(GetDriveTypeA(candidate + 4))))
            numberUnit(unit, nextId);
    }

    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        std::snprintf(candidate, sizeof candidate, "\\\\.\\%c:", letter);
        if (!deviceOpens(candidate))
            continue;
        Unit *unit = appendUnit(&list, candidate, int32_t(GetDriveTypeA(candidate + 4)));
        if (!unit)
            continue;
        readVolumeInfo(candidate, unit);
        if (unit->kind != DRIVE_FIXED)
            unit->notListed = 1;
        numberUnit(unit, nextId);
    }

    if (Unit *unit = appendUnit(&list, "RAM Usage", KIND_RAM))
        numberUnit(unit, nextId);
    if (Unit *unit = appendUnit(&list, "VRAM Usage", KIND_VIRTUAL_RAM))
        numberUnit(unit, nextId);

    if (Unit *tail = appendUnit(&list, "", DRIVE_UNKNOWN))
        tail->notListed = 1;

    *cursor = list;
    return 0;
}
