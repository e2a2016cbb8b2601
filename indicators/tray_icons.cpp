// The lamps in the notification area: one per shown Unit, or one combined lamp, kept in step
// with the Units' states by one pass per poll tick. Only what changed reaches the shell.
#include "indicators/tray_icons.h"

#include "indicators/hardware_outputs.h"
#include "indicators/icon_drawing.h"
#include "res/resource.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

TrayState trayState;

namespace {

const char kNoUpdateYet[] = "No update yet";
const char kSingleTip[] = "TallowLAMP";
const char kPhysicalDrivePrefix[] = "\\\\.\\PHYSICALDRIVE";
const char kLogicalDrivePrefix[] = "\\\\.\\";

NOTIFYICONDATAA makeRecord(HWND dialog)
{
    NOTIFYICONDATAA record = {};
    record.cbSize = NOTIFYICONDATAA_V3_SIZE;
    record.hWnd = dialog;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = WM_TRAY_CALLBACK;
    return record;
}

// The tip field holds 127 characters and the terminator; longer texts are cut there.
__attribute__((format(printf, 2, 3))) void formatTip(NOTIFYICONDATAA *record, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(record->szTip, sizeof record->szTip, format, arguments);
    va_end(arguments);
    // Some C runtimes leave a cut text unterminated.
    record->szTip[sizeof record->szTip - 1] = 0;
}

// Runs on every pass, idle ones too: a copy, not a format.
void setTip(NOTIFYICONDATAA *record, const char *text)
{
    std::strncpy(record->szTip, text, sizeof record->szTip - 1);
    record->szTip[sizeof record->szTip - 1] = 0;
}

void formatTooltip(NOTIFYICONDATAA *record, const Unit *unit)
{
    switch (unit->kind) {
    case KIND_RAM:
        formatTip(record, "RAM:\nUsage: %d%%\nFree: %dMB / %dMB", unit->percent, (int)unit->memFreeMb,
                  (int)unit->memTotalMb);
        break;
    case KIND_VIRTUAL_RAM:
        formatTip(record, "Virtual RAM:\nUsage: %d%%\nFree: %dMB / %dMB", unit->percent,
                  (int)unit->virtFreeMb, (int)unit->virtTotalMb);
        break;
    default:
        formatTip(record, "Drive: %s\nVolume: %s\nFilesystem: %s\nFree capacity: %u / %u%cB (%d%%)",
                  unit->path, unit->volumeName, unit->fileSystem, (unsigned)unit->freeScaled,
                  (unsigned)unit->totalScaled, unit->scaleLetter, unit->percent);
        break;
    }
}

// The character behind a path's prefix, or nothing when the path is shorter than the prefix.
const char *behindPrefix(const char *path, const char *prefix)
{
    const size_t length = std::strlen(prefix);
    return std::strncmp(path, prefix, length) == 0 ? path + length : "";
}

void makeLabel(char *label, size_t size, const Unit *unit)
{
    switch (unit->kind) {
    case DRIVE_NO_ROOT_DIR:
        std::snprintf(label, size, "%1.1s", behindPrefix(unit->path, kPhysicalDrivePrefix));
        break;
    case DRIVE_FIXED:
        std::snprintf(label, size, "%1.1s", behindPrefix(unit->path, kLogicalDrivePrefix));
        break;
    case KIND_RAM:
    case KIND_VIRTUAL_RAM:
        std::snprintf(label, size, "-");
        break;
    default:
        std::snprintf(label, size, "!");
        break;
    }
}

bool isTemplate(HICON icon)
{
    return icon == trayState.templateIdle || icon == trayState.templateRead ||
           icon == trayState.templateWrite || icon == trayState.templateReadWrite ||
           icon == trayState.templateMeter;
}

// A failed drawing may hand back the shared template itself: that one is not the Unit's.
void releaseUnitIcon(HICON *icon)
{
    if (*icon && !isTemplate(*icon))
        DestroyIcon(*icon);
    *icon = nullptr;
}

void releaseUnitIcons(Unit *unit)
{
    releaseUnitIcon(&unit->iconIdle);
    releaseUnitIcon(&unit->iconRead);
    releaseUnitIcon(&unit->iconWrite);
    releaseUnitIcon(&unit->iconReadWrite);
    releaseUnitIcon(&unit->iconMeter);
}

void loadIconSet(HWND dialog, Unit *cursor, const GeneralOptions *options)
{
    trayState.loadedIconSet = options->alternativeIcons;
    forEachUnitBackward(cursor, [](Unit *unit) {
        releaseUnitIcons(unit);
        unit->changed = 1;
    });
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(dialog, GWLP_HINSTANCE);
    const bool alternative = options->alternativeIcons != 0;
    trayState.templateRead = LoadIconA(instance, MAKEINTRESOURCEA(alternative ? IDI_ALT_READ : IDI_STD_READ));
    trayState.templateWrite = LoadIconA(instance, MAKEINTRESOURCEA(alternative ? IDI_ALT_WRITE : IDI_STD_WRITE));
    trayState.templateReadWrite =
        LoadIconA(instance, MAKEINTRESOURCEA(alternative ? IDI_ALT_READWRITE : IDI_STD_READWRITE));
    trayState.templateIdle = LoadIconA(instance, MAKEINTRESOURCEA(alternative ? IDI_ALT_IDLE : IDI_STD_IDLE));
    trayState.templateMeter = LoadIconA(instance, MAKEINTRESOURCEA(IDI_METER));
}

// Draws the Unit's five labelled lamps once per icon set (again only after a failed drawing),
// then picks the one for its state and writes its tooltip into the record.
void refreshUnitIcon(NOTIFYICONDATAA *record, Unit *unit, const GeneralOptions *options)
{
    if (!unit->iconIdle) {
        // What a failed drawing left behind would otherwise leak when drawn over.
        releaseUnitIcons(unit);
        char label[8];
        makeLabel(label, sizeof label, unit);
        unit->iconIdle = drawLabelIcon(trayState.templateIdle, label);
        unit->iconRead = drawLabelIcon(trayState.templateRead, label);
        unit->iconWrite = drawLabelIcon(trayState.templateWrite, label);
        unit->iconReadWrite = drawLabelIcon(trayState.templateReadWrite, label);
        unit->iconMeter = drawLabelIcon(trayState.templateMeter, label);
    }
    switch (unit->activity) {
    case ACT_WRITE:
        record->hIcon = unit->iconWrite;
        break;
    case ACT_READ:
        record->hIcon = unit->iconRead;
        break;
    case ACT_READ_WRITE:
        record->hIcon = unit->iconReadWrite;
        break;
    case ACT_METER: {
        // A drawing that fails early hands back nothing and keeps the old icon alive: show
        // that one rather than lose it.
        HICON drawn = drawMeterIcon(unit->iconMeter, unit, options);
        if (drawn)
            unit->iconMeter = drawn;
        record->hIcon = unit->iconMeter;
        break;
    }
    default:
        record->hIcon = unit->iconIdle;
        break;
    }
    record->uID = (UINT)unit->unitId;
    formatTooltip(record, unit);
}

HICON singleIconFor(int combined, HICON current)
{
    switch (combined) {
    case ACT_IDLE:
        return trayState.templateIdle;
    case ACT_WRITE:
        return trayState.templateWrite;
    case ACT_READ:
        return trayState.templateRead;
    case ACT_READ_WRITE:
        return trayState.templateReadWrite;
    default:
        return current; // a meter's 9 is in it
    }
}

} // namespace

int updateTrayIcons(HWND dialog, Unit **cursor, GeneralOptions *options)
{
    if (!*cursor)
        return 0;
    if (!trayState.templateRead || trayState.loadedIconSet != options->alternativeIcons)
        loadIconSet(dialog, *cursor, options);

    NOTIFYICONDATAA record = makeRecord(dialog);
    record.uID = 0;
    record.hIcon = trayState.templateIdle;
    setTip(&record, kNoUpdateYet);
    int combined = 0;
    bool singlePending = false;
    bool ledDue = false;

    forEachUnitBackward(*cursor, [&](Unit *unit) {
        if (unit->enabled && unit->portEnabled)
            writePortActivity(unit);

        if (!options->singleIconMode) {
            if (!unit->showInTray || !unit->enabled) {
                if (unit->trayIconAdded) {
                    record.uID = (UINT)unit->unitId;
                    unit->trayIconAdded = 0;
                    Shell_NotifyIconA(NIM_DELETE, &record);
                }
            } else if (!unit->trayIconAdded) {
                record.uID = (UINT)unit->unitId;
                unit->trayIconAdded = unit->unitId;
                unit->changed = 1;
                record.hIcon = trayState.templateIdle;
                setTip(&record, kNoUpdateYet);
                Shell_NotifyIconA(NIM_ADD, &record);
            } else if (unit->changed) {
                refreshUnitIcon(&record, unit, options);
                Shell_NotifyIconA(NIM_MODIFY, &record);
                unit->changed = 0;
            }
        } else if (unit->changed) {
            combined |= unit->activity;
            singlePending = true;
            unit->changed = 0;
        }

        if (trayState.singleIconShown) {
            record.hIcon = singleIconFor(combined, record.hIcon);
            ledDue = true;
            if (singlePending) {
                setTip(&record, kSingleTip);
                if (options->staticIcon)
                    record.hIcon = trayState.templateIdle;
                record.uID = 0;
                Shell_NotifyIconA(NIM_MODIFY, &record);
                singlePending = false;
            }
        } else if (options->singleIconMode) {
            removeUnitIcons(dialog, cursor);
            record.uID = 0;
            record.hIcon = trayState.templateIdle;
            setTip(&record, kSingleTip);
            Shell_NotifyIconA(NIM_ADD, &record);
            trayState.singleIconShown = 1;
        }

        if (!options->singleIconMode && trayState.singleIconShown) {
            record.uID = 0;
            Shell_NotifyIconA(NIM_DELETE, &record);
            trayState.singleIconShown = 0;
        }
    });

    // Once per pass, from the pass's whole combined state: setting it after every Unit would
    // flip the key off and on again whenever a Unit late in the walk had changed.
    if (ledDue && options->keyboardLed)
        setKeyboardLed(VK_SCROLL, combined != 0 ? 1 : 0);
    else
        putOutKeyboardLed(VK_SCROLL);

    Sleep(0);
    return 0;
}

int removeUnitIcons(HWND dialog, Unit **cursor)
{
    NOTIFYICONDATAA record = makeRecord(dialog);
    record.uID = 0;
    record.hIcon = nullptr;
    forEachUnitForward(*cursor, [&](Unit *unit) {
        if (unit->trayIconAdded) {
            record.uID = (UINT)unit->unitId;
            Shell_NotifyIconA(NIM_DELETE, &record);
            unit->trayIconAdded = 0;
        }
    });
    return 0;
}

int removeAllTrayIcons(HWND dialog, Unit **cursor)
{
    removeUnitIcons(dialog, cursor);
    if (trayState.singleIconShown) {
        NOTIFYICONDATAA record = makeRecord(dialog);
        record.uID = 0;
        Shell_NotifyIconA(NIM_DELETE, &record);
        trayState.singleIconShown = 0;
    }
    return 0;
}

void forgetTrayIcons(Unit **cursor)
{
    for (Unit *unit = unitListHead(*cursor); unit; unit = unit->next) {
        unit->trayIconAdded = 0;
        unit->changed = 1;
    }
    trayState.singleIconShown = 0;
}
