// The main dialog's procedure: the program's dispatcher. Every piece of work after start-up
// begins as a message here and is handed to the operation that does it.
#include "app/main_dialog.h"

#include "app/startup.h"
#include "dialog/option_controls.h"
#include "dialog/unit_list_view.h"
#include "indicators/hardware_outputs.h"
#include "indicators/tray_icons.h"
#include "persist/settings_file.h"
#include "res/resource.h"
#include "units/drive_sampling.h"

#include <cstdio>
#include <cstring>

GeneralOptions generalOptions;
Unit *unitCursor;
BOOL MonitoringOn;

namespace {

const char kTitle[] = "TallowLAMP V1.05 - (C) 2007-2026 the TallowLAMP developers";
const char kCredits[] = "Disk lamps and memory meters for the notification area.\r\n"
                        "Written by the TallowLAMP developers.";
// The help page ships beside the program.
const char kHelpPage[] = "help.html";

// Broadcast to every top-level window when the notification area is created anew.
UINT taskbarCreatedMessage;

void startCommand(HWND dialog)
{
    KillTimer(dialog, TIMER_POLL);
    KillTimer(dialog, TIMER_LIST);
    removeUnitIcons(dialog, &unitCursor);
    putOutKeyboardLed(VK_SCROLL);
    Sleep(0);
    SetDlgItemTextA(dialog, IDC_START, "Enable");
    if (!MonitoringOn) {
        generalOptions.pollTimerId = (uint32_t)SetTimer(dialog, TIMER_POLL, generalOptions.pollInterval, NULL);
        generalOptions.listTimerId = (uint32_t)SetTimer(dialog, TIMER_LIST, 5000, NULL);
        generalOptions.refreshTimerId = (uint32_t)SetTimer(dialog, TIMER_REDRAW, 60000, NULL);
        MonitoringOn = TRUE;
        SetDlgItemTextA(dialog, IDC_START, "Disable");
    } else {
        MonitoringOn = FALSE;
    }
}

void showOrHide(HWND dialog)
{
    if (generalOptions.windowVisible == 1) {
        generalOptions.windowVisible = 0;
        ShowWindow(dialog, SW_HIDE);
    } else {
        generalOptions.windowVisible = 1;
        SetForegroundWindow(dialog);
        ShowWindow(dialog, SW_SHOWNORMAL);
    }
}

// A start at log-on hides the window and waits before monitoring begins: the two Start
// commands stop the timers armed at initialisation and arm them again after the wait.
void delayedStart(HWND dialog)
{
    if (!LaunchedAtStartup)
        return;
    ShowWindow(dialog, SW_HIDE);
    generalOptions.windowVisible = 0;
    Sleep((DWORD)generalOptions.startWithOsDelay * 1000);
    PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
    PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
}

void firstPaint(HWND dialog)
{
    if (!generalOptions.placementPending)
        return;
    WINDOWPLACEMENT placement;
    std::memset(&placement, 0, sizeof placement);
    placement.length = sizeof placement;
    GetWindowPlacement(dialog, &placement);
    placement.rcNormalPosition.left = generalOptions.windowPosLeft;
    placement.rcNormalPosition.top = generalOptions.windowPosTop;
    placement.rcNormalPosition.right = generalOptions.windowPosRight;
    placement.rcNormalPosition.bottom = generalOptions.windowPosBottom;
    SetWindowPlacement(dialog, &placement);
    generalOptions.placementPending = 0;
}

void setRowState(HWND list, int row, UINT state, UINT mask)
{
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.state = state;
    item.stateMask = mask;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)&item);
}

// A click moves the selection to the clicked row, so a click on a row's check box also
// selects that row and its Unit follows the box at once.
void listViewClicked(const NMITEMACTIVATE *click)
{
    // A click on empty space names row -1, which the list view reads as "every row".
    if (click->iItem < 0)
        return;
    HWND list = click->hdr.hwndFrom;
    int selected = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    setRowState(list, selected, 0, LVIS_SELECTED);
    setRowState(list, click->iItem, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    UpdateWindow(list);
}

void listViewItemChanged(HWND dialog, const NMLISTVIEW *change)
{
    HWND list = change->hdr.hwndFrom;
    if (SendMessageA(list, LVM_GETITEMSTATE, (WPARAM)change->iItem, LVIS_SELECTED) != LVIS_SELECTED) {
        // Once no row is selected the unit controls must stop editing the last selected Unit.
        if (unitCursor && !unitCursor->notListed && SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED) < 0) {
            unitCursor = unitListTail(unitCursor);
            refreshOptionControls(dialog, &unitCursor, &generalOptions);
        }
        return;
    }
    char text[MAX_PATH] = "";
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT;
    item.iItem = change->iItem;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item);
    Unit *unit = unitListFindByPath(unitCursor, text);
    LRESULT stateImage = SendMessageA(list, LVM_GETITEMSTATE, (WPARAM)change->iItem, LVIS_STATEIMAGEMASK) >> 12;
    unit->enabled = stateImage == 1 ? 0 : 1;
    unitCursor = unit;
    refreshOptionControls(dialog, &unitCursor, &generalOptions);
}

void aboutBox(HWND dialog)
{
    char text[4096];
    std::snprintf(text, sizeof text, "TallowLAMP: Compiled: %s, %s\r\n\r\n%s", __TIME__, __DATE__, kCredits);
    MessageBoxA(dialog, text, "About TallowLAMP V1.05", MB_OK | MB_ICONINFORMATION);
}

void onlineHelp()
{
    char page[MAX_PATH];
    std::memcpy(page, generalOptions.programFolder, MAX_PATH);
    PathAppendA(page, kHelpPage);
    ShellExecuteA(GetActiveWindow(), "open", page, NULL, NULL, SW_SHOW);
}

void shutdown(HWND dialog)
{
    KillTimer(dialog, TIMER_POLL);
    KillTimer(dialog, TIMER_LIST);
    removeAllTrayIcons(dialog, &unitCursor);
    putOutKeyboardLed(VK_SCROLL);
    EndDialog(dialog, 0);
}

void initialise(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    dialogBootstrap(dialog, wParam, lParam, &unitCursor);
    SetWindowTextA(dialog, kTitle);
    GetModuleFileNameA(NULL, generalOptions.iniPath, MAX_PATH);
    PathRemoveFileSpecA(generalOptions.iniPath);
    std::memcpy(generalOptions.programFolder, generalOptions.iniPath, MAX_PATH);
    PathAppendA(generalOptions.iniPath, "TallowLAMP.ini");
    generalOptions.dialogWindow = dialog;
    generalOptions.placementPending = 1;
    loadSettings(&unitCursor, &generalOptions);
    refreshOptionControls(dialog, &unitCursor, &generalOptions);
    PostMessageA(dialog, WM_DELAYED_START, 0, 0);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}

bool isPortBitButton(int id)
{
    return (id >= IDC_READ_BIT3 && id <= IDC_READ_BIT8) || id == IDC_READ_BIT1 || id == IDC_READ_BIT2 ||
           (id >= IDC_WRITE_BIT3 && id <= IDC_WRITE_BIT1);
}

INT_PTR command(HWND dialog, int id, int code)
{
    switch (id) {
    case IDC_APPLY:
        saveSettings(&unitCursor, &generalOptions);
        return 1;
    case IDC_QUIT:
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return 1;
    case IDC_START:
        startCommand(dialog);
        return 0;
    case IDC_ABOUT:
        aboutBox(dialog);
        return 1;
    case IDC_HIDE:
        ShowWindow(dialog, SW_HIDE);
        generalOptions.windowVisible = 0;
        return 0;
    case IDC_ONLINE_HELP:
        onlineHelp();
        return 0;
    case IDC_SHOW_IN_TRAY:
    case IDC_PORT_OUTPUT:
    case IDC_START_WITH_OS:
    case IDC_ALTERNATIVE_ICONS:
    case IDC_SINGLE_ICON:
    case IDC_KEYBOARD_LED:
    case IDC_STATIC_ICON:
    case IDC_POLL_INTERVAL:
    case IDC_METER_INTERVAL:
    case IDC_STARTUP_DELAY:
        handleOptionCommand(dialog, id, code, &unitCursor, &generalOptions);
        return 0;
    }
    if (isPortBitButton(id))
        togglePortBit(dialog, id, &unitCursor);
    return 0;
}

void timer(HWND dialog, UINT_PTR id)
{
    switch (id) {
    case TIMER_POLL: {
        GeneralOptions *options = &generalOptions;
        sampleUnits(&unitCursor, &options);
        updateTrayIcons(dialog, &unitCursor, &generalOptions);
        break;
    }
    case TIMER_LIST:
        refreshUnitListView(dialog, &unitCursor, &generalOptions);
        break;
    case TIMER_REDRAW:
        forEachUnitForward(unitCursor, [](Unit *unit) { unit->changed = 1; });
        break;
    }
}

void trayCallback(HWND dialog, LPARAM mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONDBLCLK:
        showOrHide(dialog);
        break;
    case WM_RBUTTONDBLCLK:
        Beep(440, 50);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        break;
    }
}

void notify(HWND dialog, const NMHDR *header)
{
    if (header->idFrom != IDC_UNIT_LIST)
        return;
    if (header->code == NM_CLICK)
        listViewClicked((const NMITEMACTIVATE *)header);
    else if (header->code == LVN_ITEMCHANGED)
        listViewItemChanged(dialog, (const NMLISTVIEW *)header);
}

} // namespace

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog, wParam, lParam);
        return 1;
    case WM_COMMAND:
        return command(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_TIMER:
        timer(dialog, wParam);
        return 0;
    case WM_NOTIFY:
        notify(dialog, (const NMHDR *)lParam);
        return 0;
    case WM_PAINT:
        firstPaint(dialog);
        return 0;
    case WM_CLOSE:
        shutdown(dialog);
        return 1;
    case WM_TRAY_CALLBACK:
        trayCallback(dialog, lParam);
        return 0;
    case WM_DELAYED_START:
        delayedStart(dialog);
        return 0;
    }
    if (message == taskbarCreatedMessage && taskbarCreatedMessage != 0)
        forgetTrayIcons(&unitCursor);
    return 0;
}
