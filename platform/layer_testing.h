// Hooks of the Linux layer for its own tests and the program's Linux-only tests. Never used
// by the program. Each area adds its hooks in its own section.
#pragma once

#include "platform/win32.h"

// ---------------------------------------------------------------------------------------
// The machine (sysroot.cpp): forget the drive table and TALLOWLAMP_SYSROOT, so that the next
// device use reads the variable again and rebuilds the table from the files under it: after a
// test points the variable elsewhere, or adds or removes a disk in its fixture.
void layerForgetMachine();

// ---------------------------------------------------------------------------------------
// The lock keys (user32_keyboard.cpp): choose again between X's indicator and the keyboards'
// LEDs at the next use, and look for the LEDs and logind's bus again (after a test changed
// the session's variables, TALLOWLAMP_SYSROOT or DBUS_SYSTEM_BUS_ADDRESS).
void layerForgetKeyboard();

// ---------------------------------------------------------------------------------------
// GDI and icon objects (gdi32_objects.cpp): how many the process holds now, stock objects
// left out, so that a test can show that repeated drawing holds a constant number.
int layerGdiObjectCount();
int layerIconCount();
// The same by kind: bitmaps, brushes, fonts and DCs.
struct LayerGdiCounts {
    int bitmaps, brushes, fonts, dcs;
};
LayerGdiCounts layerGdiCounts();

// ---------------------------------------------------------------------------------------
// Icons (user32_icon.cpp): the icon LoadIconA makes of icon group id, read from a .res image
// other than the program's (the fuzz target's way in); null, with the error set, when it
// makes none. Not shared: DestroyIcon frees it.
HICON layerLoadIconIn(const unsigned char *image, size_t size, uint16_t id);

// ---------------------------------------------------------------------------------------
// The notification area (shell32_tray.cpp): every Shell_NotifyIconA call as the program made
// it (null stops recording), the icons present now, and what the tray shows for one of them.
#include <QIcon>
#include <QImage>
#include <string>
#include <vector>

struct TrayCall {
    DWORD message;   // NIM_ADD, NIM_MODIFY, NIM_DELETE
    UINT id;
    HICON icon;      // null without NIF_ICON
    std::string tip; // empty without NIF_TIP
};
void layerRecordTrayCalls(std::vector<TrayCall> *into);
int layerTrayIconCount();
QImage layerTrayIconImage(HWND owner, UINT id);
// The icon an XEmbed tray paints for it.
QIcon layerTrayIconShown(HWND owner, UINT id);
std::string layerTrayIconTip(HWND owner, UINT id);
// What a tray host does: an activation (a QSystemTrayIcon::ActivationReason), and "Quit"
// chosen from the icon's context menu.
void layerTrayActivate(HWND owner, UINT id, int reason);
void layerTrayChooseQuit(HWND owner, UINT id);

// ---------------------------------------------------------------------------------------
// Windows (user32_window.cpp): the Qt widget that stands for a window, so that a test can
// look at what the user sees (places, captions, fonts).
class QWidget;
QWidget *layerWindowWidget(HWND window);

// ---------------------------------------------------------------------------------------
// Profiles (kernel32_profile.cpp): the folder that stands for the executable's own when a
// profile beside it may be virtualised (null: the executable's own again).
void layerPlaceProgramForProfiles(const char *folder);
