// The shared records: one Unit per monitored item, chained into the UnitList, and the one
// GeneralOptions record. Plain data; every operation takes them by address.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// UnitKind: the platform's drive-type codes, and the program's own two meter kinds.
enum : int32_t {
    KIND_RAM = 4096,
    KIND_VIRTUAL_RAM = 4097,
};

// ActivityState: 1 = write and 2 = read also read as a bit set.
enum : int8_t {
    ACT_IDLE = 0,
    ACT_WRITE = 1,
    ACT_READ = 2,
    ACT_READ_WRITE = 3,
    ACT_METER = 9,
};

struct Unit {
    Unit *next;
    Unit *prev;
    int32_t unitId;
    char path[MAX_PATH];
    BOOL enabled;
    int32_t kind;
    BOOL showInTray;
    int32_t trayIconAdded;
    int8_t activity;
    HICON iconIdle;
    HICON iconRead;
    HICON iconWrite;
    HICON iconReadWrite;
    HICON iconMeter;
    BOOL changed;
    uint32_t lastWriteCount;
    uint32_t lastReadCount;
    int32_t percent;
    uint32_t freeScaled;
    uint32_t totalScaled;
    uint32_t scaleDivisor;
    char scaleLetter;
    int16_t portEnabled;
    uint8_t portReadMask;
    uint8_t portWriteMask;
    char volumeName[266];
    char fileSystem[MAX_PATH];
    BOOL notListed;
    uint32_t memFreeMb;
    uint32_t memTotalMb;
    uint32_t virtFreeMb;
    uint32_t virtTotalMb;
};

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

struct GeneralOptions {
    BOOL startWithOs;
    int32_t startWithOsDelay;
    char programFolder[MAX_PATH];
    char iniPath[MAX_PATH];
    BOOL windowVisible;
    uint32_t pollInterval;
    uint32_t pollIntervalMeters;
    BOOL alternativeIcons;
    BOOL singleIconMode;
    BOOL keyboardLed;
    BOOL staticIcon;
    BOOL showCpuUsage;
    BOOL showFreeMem;
    BOOL colorCpuDynamic;
    Rgb colorCpu;
    Rgb colorRam;
    Rgb colorVram;
    Rgb colorBackground;
    HWND dialogWindow;
    int32_t windowPosTop;
    int32_t windowPosLeft;
    int32_t windowPosRight;
    int32_t windowPosBottom;
    BOOL placementPending;
    uint32_t pollTimerId;
    uint32_t listTimerId;
    uint32_t refreshTimerId;
};

// Allocates a zero-filled Unit (showInTray 1), links it after the list's tail and moves the
// cursor to it. False, with list and cursor untouched, when memory runs out.
bool unitListAppend(Unit **cursor);

// The ends of the list, reached from any Unit.
Unit *unitListHead(Unit *cursor);
Unit *unitListTail(Unit *cursor);

// The Unit whose path equals text byte for byte; the tail placeholder when none does.
Unit *unitListFindByPath(Unit *cursor, const char *text);

// Forward walk: the head placeholder and every real Unit, in list order.
template <typename Visit> void forEachUnitForward(Unit *cursor, Visit visit)
{
    for (Unit *unit = unitListHead(cursor); unit && unit->next; unit = unit->next)
        visit(unit);
}

// Backward walk: the tail placeholder and every real Unit, in reverse list order.
template <typename Visit> void forEachUnitBackward(Unit *cursor, Visit visit)
{
    for (Unit *unit = unitListTail(cursor); unit && unit->prev; unit = unit->prev)
        visit(unit);
}
