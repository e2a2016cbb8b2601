// The layer's window record, shared by the dialog manager, the controls and the list view.
// An HWND points at one of these; every entry point checks it with layerWindow() first, so a
// stale or foreign handle is refused rather than dereferenced.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

class QFont;
class QWidget;

// A control class's procedure: gets every message sent to a control of that class (text,
// check state, list view messages). Returns what Windows' class procedure would return.
typedef LRESULT (*ControlProc)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct HWND__ {
    uint32_t magic;          // kWindowMagic while alive
    HWND parent;             // the dialog for a control; null for a top-level window
    int id;                  // control id (GetDlgCtrlID); 0 for top-level windows
    DWORD style;
    DWORD exStyle;
    std::string className;   // lower case: "#32770", "button", "edit", "static", "syslistview32"
    QWidget *widget;         // the Qt widget standing for the window
    DLGPROC dialogProc;      // dialogs only
    ControlProc controlProc; // controls only
    void *classData;         // owned by the control's class (e.g. the list view's rows)
    HINSTANCE instance;

    // Kept by the window manager of the layer (user32_*.cpp).
    std::vector<HWND> children; // a dialog's controls in template order (tab and z order)
    HWND owner = nullptr;       // top-level windows: the owner window given at creation
    bool needsPaint = false;    // top-level windows: a WM_PAINT is due once visible
    bool ended = false;         // dialogs: EndDialog was called
    INT_PTR endResult = 0;
    bool ownerDisabled = false; // dialogs: the modal loop disabled the owner, EndDialog enables it
    bool framePending = false;  // top-level windows: placed before the window manager framed it
    RECT framedRect = {};       //   at this outer rectangle, given again once the frame is known
};

constexpr uint32_t kWindowMagic = 0x57494e44; // 'WIND'

// The record of a live window, or null.
HWND__ *layerWindow(HWND window);

// Sends WM_NOTIFY from a control to its parent, filling hwndFrom and idFrom; returns the
// parent's answer. Used by controls that notify (the list view).
LRESULT layerNotifyParent(HWND control, NMHDR *header);

// Sends WM_COMMAND (id, code) from a control to its parent.
LRESULT layerCommandParent(HWND control, WORD code);

// ---------------------------------------------------------------------------------------
// Inside the window manager (user32_window.cpp, user32_message.cpp, user32_dialog.cpp,
// user32_controls.cpp, user32_msgbox.cpp).

// Whether a window manager runs on the program's X display (x11_session.cpp); false
// elsewhere.
bool layerX11WindowManagerRuns();

// Debug builds stop, with the message, at a Win32 feature the layer does not have.
void layerUnsupported(const char *what);

constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorResourceNameNotFound = 1814;
constexpr DWORD kErrorInvalidIndex = 1413;
constexpr DWORD kErrorCannotFindWndClass = 1407;

// A new live window record (not yet with a widget), the child of parent when given.
HWND layerNewWindow(HWND parent, const char *className, DWORD style, DWORD exStyle, int id,
                    HINSTANCE instance);
// Destroys a window and its children: WM_DESTROY to each, timers and posted messages
// dropped, widgets deleted, records freed.
void layerDestroyWindow(HWND window);
// Records the Qt widget of a window, so that focus and keys map back to it.
void layerAttachWidget(HWND window, QWidget *widget);
// The live window whose widget is widget or its nearest ancestor that has one; or null.
HWND layerWindowFromWidget(QWidget *widget);
// The live top-level windows, oldest first.
const std::vector<HWND> &layerWindows();

// Calls the window's procedure with Windows' dialog and control semantics.
LRESULT layerCallWindow(HWND__ *window, UINT message, WPARAM wParam, LPARAM lParam);
// The dialog manager's answer (user32_dialog.cpp): the dialog procedure, then the default
// dialog processing when it returns FALSE.
LRESULT layerDialogCall(HWND__ *dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Gives a top-level window its client size; the user cannot change it (no sizing border).
void layerSetClientSize(HWND window, int width, int height);

// Focus as the dialog manager moves it: Tab selects an edit's text, as Windows does.
void layerFocusWindow(HWND window, bool byTab);

// Drops the timers and posted messages of a window that goes (user32_message.cpp).
void layerForgetWindowMessages(HWND window);
// Whatever may have armed a timer of Qt's outside its loop calls this, so that the next wait
// asks Qt again instead of trusting its last look.
void layerQtTouched();

// The widget of a control of a built-in class, or the list view (user32_controls.cpp);
// fills controlProc. False for a class the layer does not have.
bool layerCreateControlWidget(HWND window, QWidget *parentWidget, const char *text);

// A top-level dialog window (user32_dialog.cpp): record, Qt window, caption, font. Its
// controls are added by the caller.
HWND layerCreateDialogWindow(HWND owner, DWORD style, DWORD exStyle, const char *caption,
                             const QFont &font, DLGPROC procedure, HINSTANCE instance);
// Runs the modal loop of a dialog until EndDialog, then destroys it; returns the result.
// showWhenIdle: show the dialog when the queue first runs dry (a template without
// WS_VISIBLE: DialogBox shows its dialog whatever the template says).
INT_PTR layerRunModal(HWND dialog, bool showWhenIdle);

// Qt's key events as Windows delivers them (user32_dialog.cpp): Enter, Esc and Tab become
// WM_KEYDOWN posted to the focused control, for the modal loop's IsDialogMessageA.
void layerInstallKeyRouting();

// The list view class (comctl32_listview.cpp): creates the widget for a new control whose
// record is already filled (id, style, parent), and handles its messages.
QWidget *createListViewWidget(HWND window, QWidget *parentWidget);
LRESULT listViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
