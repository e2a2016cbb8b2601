// The option controls: each change goes straight into the records; only Apply saves.
#include "dialog/option_controls.h"

#include "dialog/unit_list_view.h"
#include "persist/run_value.h"
#include "res/resource.h"

#include <cstdio>

OptionControlsState optionControlsState;

namespace {

// Bit n of a mask belongs to the button captioned n + 1 in its row.
const int kReadBitIds[8] = {IDC_READ_BIT1, IDC_READ_BIT2, IDC_READ_BIT3, IDC_READ_BIT4,
                            IDC_READ_BIT5, IDC_READ_BIT6, IDC_READ_BIT7, IDC_READ_BIT8};
const int kWriteBitIds[8] = {IDC_WRITE_BIT1, IDC_WRITE_BIT2, IDC_WRITE_BIT3, IDC_WRITE_BIT4,
                             IDC_WRITE_BIT5, IDC_WRITE_BIT6, IDC_WRITE_BIT7, IDC_WRITE_BIT8};

void check(HWND dialog, int id, bool on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

BOOL isChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
}

uint32_t clampUnsigned(uint32_t value, uint32_t low, uint32_t high)
{
    return value < low ? low : value > high ? high : value;
}

int32_t clampSigned(int32_t value, int32_t low, int32_t high)
{
    return value < low ? low : value > high ? high : value;
}

// The controls of the selected Unit: usable only while a row is selected, so that nothing
// the user sets there is kept by a placeholder, which no indicator shows and nothing saves.
void enableUnitControls(HWND dialog, bool on)
{
    EnableWindow(GetDlgItem(dialog, IDC_SHOW_IN_TRAY), on);
    EnableWindow(GetDlgItem(dialog, IDC_PORT_OUTPUT), on);
    for (int bit = 0; bit < 8; ++bit) {
        EnableWindow(GetDlgItem(dialog, kReadBitIds[bit]), on);
        EnableWindow(GetDlgItem(dialog, kWriteBitIds[bit]), on);
    }
}

const char *errorReason(LSTATUS error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return "access was denied";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return "the place for it was not found";
    case ERROR_DISK_FULL: return "the disk is full";
    case ERROR_INSUFFICIENT_BUFFER: return "the program's path is too long";
    }
    return "the system refused it";
}

// "Start with os" follows the start entry: a change the system refused is undone and explained.
void startWithOsChanged(HWND dialog, GeneralOptions *options)
{
    options->startWithOs = isChecked(dialog, IDC_START_WITH_OS);
    LSTATUS error = setStartWithOs(options->startWithOs == 1);
    if (error == ERROR_SUCCESS)
        return;
    options->startWithOs = !options->startWithOs;
    check(dialog, IDC_START_WITH_OS, options->startWithOs);
    char text[256];
    std::snprintf(text, sizeof text, "The entry that starts TallowLAMP at log-on could not be %s: %s (error %ld).",
                  options->startWithOs ? "removed" : "written", errorReason(error), (long)error);
    MessageBoxA(dialog, text, "Start with os", MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

void refreshOptionControls(HWND dialog, Unit **shown, GeneralOptions *options)
{
    if (!optionControlsState.listViewBuilt) {
        optionControlsState.listViewBuilt = 1;
        buildUnitListView(dialog, GetDlgItem(dialog, IDC_UNIT_LIST), shown);
    }
    if (const Unit *unit = *shown) {
        enableUnitControls(dialog, !unit->notListed);
        check(dialog, IDC_SHOW_IN_TRAY, unit->showInTray);
        check(dialog, IDC_PORT_OUTPUT, unit->portEnabled);
        for (int bit = 0; bit < 8; ++bit) {
            check(dialog, kReadBitIds[bit], unit->portReadMask >> bit & 1);
            check(dialog, kWriteBitIds[bit], unit->portWriteMask >> bit & 1);
        }
    }
    EnableWindow(GetDlgItem(dialog, IDC_KEYBOARD_LED), options->singleIconMode != 0);
    EnableWindow(GetDlgItem(dialog, IDC_STATIC_ICON), options->singleIconMode && options->keyboardLed);
    check(dialog, IDC_SINGLE_ICON, options->singleIconMode);
    check(dialog, IDC_START_WITH_OS, options->startWithOs);
    check(dialog, IDC_ALTERNATIVE_ICONS, options->alternativeIcons);
    check(dialog, IDC_KEYBOARD_LED, options->keyboardLed);
    check(dialog, IDC_STATIC_ICON, options->staticIcon);
    // Each of these sends EN_CHANGE before it returns, whose handler brings the field into range.
    SetDlgItemInt(dialog, IDC_STARTUP_DELAY, (UINT)options->startWithOsDelay, FALSE);
    SetDlgItemInt(dialog, IDC_POLL_INTERVAL, options->pollInterval, FALSE);
    SetDlgItemInt(dialog, IDC_METER_INTERVAL, options->pollIntervalMeters, FALSE);
}

void togglePortBit(HWND dialog, int id, Unit **cursor)
{
    for (int bit = 0; bit < 8; ++bit) {
        uint8_t *mask = id == kReadBitIds[bit]    ? &(*cursor)->portReadMask
                        : id == kWriteBitIds[bit] ? &(*cursor)->portWriteMask
                                                  : nullptr;
        if (!mask)
            continue;
        if (isChecked(dialog, id))
            *mask = uint8_t(*mask | 1u << bit);
        else
            *mask = uint8_t(*mask & ~(1u << bit));
        return;
    }
}

void handleOptionCommand(HWND dialog, int id, int code, Unit **cursor, GeneralOptions *options)
{
    switch (id) {
    case IDC_SHOW_IN_TRAY:
        (*cursor)->showInTray = isChecked(dialog, id);
        break;
    case IDC_PORT_OUTPUT:
        (*cursor)->portEnabled = (int16_t)isChecked(dialog, id);
        refreshOptionControls(dialog, cursor, options);
        break;
    case IDC_START_WITH_OS:
        startWithOsChanged(dialog, options);
        break;
    case IDC_ALTERNATIVE_ICONS:
        options->alternativeIcons = isChecked(dialog, id);
        break;
    case IDC_SINGLE_ICON:
        options->singleIconMode = isChecked(dialog, id);
        refreshOptionControls(dialog, cursor, options);
        break;
    case IDC_KEYBOARD_LED:
        options->keyboardLed = isChecked(dialog, id);
        refreshOptionControls(dialog, cursor, options);
        break;
    case IDC_STATIC_ICON:
        options->staticIcon = isChecked(dialog, id);
        break;
    }
    if (code != EN_CHANGE)
        return;
    // An empty or unreadable edit reads as 0 and is raised like any small number.
    switch (id) {
    case IDC_POLL_INTERVAL:
        options->pollInterval = clampUnsigned(GetDlgItemInt(dialog, id, NULL, FALSE), 25, 10000);
        break;
    case IDC_METER_INTERVAL:
        options->pollIntervalMeters = clampUnsigned(GetDlgItemInt(dialog, id, NULL, FALSE), 25, 10000);
        break;
    case IDC_STARTUP_DELAY:
        options->startWithOsDelay = clampSigned((int32_t)GetDlgItemInt(dialog, id, NULL, FALSE), 1, 300);
        break;
    }
}
