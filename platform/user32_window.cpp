// USER32 windows: the records behind HWND, visibility, focus, geometry and class icons.
//
// Supported: ShowWindow (SW_HIDE, SW_SHOWNORMAL, SW_SHOW, SW_MINIMIZE, SW_SHOWMINIMIZED,
// SW_RESTORE), IsWindowVisible, IsWindow, SetForegroundWindow, GetForegroundWindow,
// GetActiveWindow, SetFocus, GetFocus, UpdateWindow, InvalidateRect (whole windows),
// GetWindowRect, GetWindowPlacement and SetWindowPlacement (rcNormalPosition is the outer
// rectangle, frame included, brought back onto a screen as Windows does; where no frame can
// be measured, Windows' frame of a dialog; showCmd normal or minimised), MoveWindow, GetWindowLongA (GWL_STYLE, GWL_EXSTYLE, GWL_ID, GWL_HINSTANCE),
// GetClassLongA and SetClassLongA (GCL_HICON, shared by every window of the class as on
// Windows), FindWindowA (class and caption, both without regard to case, among top-level
// windows, newest first).
// Not supported: maximised windows, other GWL_ and GCL_ indexes, class atoms in FindWindowA.
//
// A window is a record (user32_window.h) and a Qt widget. The record is the truth for
// WS_VISIBLE, WS_DISABLED and the focus, so that everything answers the same on Qt's
// offscreen platform, where windows are never really shown or activated.
#include "platform/gdi_objects.h"
#include "platform/layer_qt.h"
#include "platform/layer_testing.h"
#include "platform/shell32_tray.h"
#include "platform/user32_window.h"

#include <QApplication>
#include <QFont>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace {

struct Windows {
    std::vector<HWND> all;       // every live record, controls included
    std::vector<HWND> topLevels; // oldest first
    HWND focus = nullptr;
    HWND foreground = nullptr;
    bool focusTracked = false;
    std::vector<std::pair<std::string, HICON>> classIcons;
};

Windows windows;

constexpr LONG kGwlExStyle = -20;
constexpr int kShowMaximized = 3;

HWND topLevelOf(HWND window)
{
    while (window->parent)
        window = window->parent;
    return window;
}

bool isMinimized(HWND window)
{
    return window->widget && (window->widget->windowState() & Qt::WindowMinimized);
}

// Windows' frame of a dialog with a caption (XP's default theme: 3 pixels around it and a
// 25-pixel caption). Where the window manager or compositor draws a frame the layer cannot
// measure (Wayland, or X with no window manager), a top-level window is taken to have this
// one: the rectangle less it is the client, as on Windows, and the rectangle comes back the
// same from the window.
const QMargins kWindowsDialogFrame(3, 3 + 25, 3, 3);

bool frameUnseen()
{
    static const QString platform = QGuiApplication::platformName();
    return platform.startsWith("wayland") || (platform == "xcb" && !layerX11WindowManagerRuns());
}

// No client can place its window on Wayland: the rectangle keeps the place it was given.
bool placeUnknown()
{
    static const bool wayland = QGuiApplication::platformName().startsWith("wayland");
    return wayland;
}

// The outer rectangle of a top-level window whose client is there, where no frame is seen.
QRect aroundUnseenFrame(HWND window, const QRect &client)
{
    QRect outer = client.marginsAdded(kWindowsDialogFrame);
    if (placeUnknown())
        outer.moveTopLeft(QPoint(window->framedRect.left, window->framedRect.top));
    return outer;
}

QRect outerRect(HWND window)
{
    QWidget *widget = window->widget;
    if (window->parent)
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return frameUnseen() ? aroundUnseenFrame(window, widget->geometry()) : widget->frameGeometry();
}

void setOuterRect(HWND window, const QRect &outer);

// A reparenting window manager tells the frame only once it has taken the window, which may
// be after the rectangle was given, and Qt sees no move when the client stays where it was.
// So the window is looked at for a few seconds, and the rectangle given again once a frame
// shows: the frame, not the client, must cover it, or the window would grow by its frame at
// every Apply and restart.
void watchFrame(HWND window)
{
    QWidget *widget = window->widget;
    auto *timer = new QTimer(widget);
    QObject::connect(timer, &QTimer::timeout, [widget, timer, ticks = 0]() mutable {
        HWND window = layerWindowFromWidget(widget);
        if (!window || !window->framePending || ++ticks > 60) {
            if (window)
                window->framePending = false;
            timer->deleteLater();
        } else if (widget->frameGeometry() != widget->geometry()) {
            const RECT &r = window->framedRect;
            setOuterRect(window, QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
        }
    });
    timer->start(50);
}

// Places a top-level window so that its frame covers outer.
void setOuterRect(HWND window, const QRect &outer)
{
    QWidget *widget = window->widget;
    window->framedRect = {outer.left(), outer.top(), outer.left() + outer.width(), outer.top() + outer.height()};
    if (frameUnseen()) {
        QRect client = outer.marginsRemoved(kWindowsDialogFrame);
        layerSetClientSize(window, std::max(1, client.width()), std::max(1, client.height()));
        widget->move(client.topLeft());
        return;
    }
    QRect frame = widget->frameGeometry(), inner = widget->geometry();
    QSize client(std::max(1, outer.width() - (frame.width() - inner.width())),
                 std::max(1, outer.height() - (frame.height() - inner.height())));
    layerSetClientSize(window, client.width(), client.height());
    widget->move(outer.topLeft());
    static const bool framed = QGuiApplication::platformName() != "offscreen";
    bool watching = window->framePending;
    window->framePending = framed && frame == inner;
    if (window->framePending && !watching)
        watchFrame(window);
}

// Windows: a rectangle that would leave the window wholly off the screens is moved into the
// nearest screen's work area.
QRect reachable(QRect outer)
{
    QRect nearest;
    long long distance = -1;
    for (QScreen *screen : QGuiApplication::screens()) {
        QRect area = screen->availableGeometry();
        if (area.intersects(outer))
            return outer;
        long long dx = std::max({0, area.left() - outer.right(), outer.left() - area.right()});
        long long dy = std::max({0, area.top() - outer.bottom(), outer.top() - area.bottom()});
        if (distance < 0 || dx * dx + dy * dy < distance) {
            distance = dx * dx + dy * dy;
            nearest = area;
        }
    }
    if (distance < 0)
        return outer;
    outer.moveRight(std::min(outer.right(), nearest.right()));
    outer.moveBottom(std::min(outer.bottom(), nearest.bottom()));
    outer.moveLeft(std::max(outer.left(), nearest.left()));
    outer.moveTop(std::max(outer.top(), nearest.top()));
    return outer;
}

HICON classIcon(const std::string &className)
{
    for (auto &[name, icon] : windows.classIcons)
        if (name == className)
            return icon;
    return nullptr;
}

// Qt's offscreen platform has no stacking order and says so on every raise().
void raise(QWidget *widget)
{
    static const bool stacked = QGuiApplication::platformName() != "offscreen";
    if (stacked)
        widget->raise();
}

void showIcon(HWND window, HICON icon)
{
    QImage image = layerIconImage(icon);
    window->widget->setWindowIcon(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
}

// Windows: an edit tells its parent when it gains and loses the focus, from inside the call
// that moves it.
void moveFocus(HWND window)
{
    HWND previous = layerWindow(windows.focus) ? windows.focus : nullptr;
    windows.focus = window;
    if (previous == window)
        return;
    if (previous && previous->className == "edit")
        layerCommandParent(previous, EN_KILLFOCUS);
    if (window && window->className == "edit")
        layerCommandParent(window, EN_SETFOCUS);
}

} // namespace

void layerUnsupported(const char *what)
{
#ifndef NDEBUG
    std::fprintf(stderr, "TallowLAMP platform layer: unsupported: %s\n", what);
    std::abort();
#else
    (void)what;
#endif
}

HWND__ *layerWindow(HWND window)
{
    if (!window)
        return nullptr;
    for (HWND live : windows.all)
        if (live == window)
            return window->magic == kWindowMagic ? window : nullptr;
    return nullptr;
}

const std::vector<HWND> &layerWindows()
{
    return windows.topLevels;
}

HWND layerNewWindow(HWND parent, const char *className, DWORD style, DWORD exStyle, int id, HINSTANCE instance)
{
    HWND window = new HWND__{};
    window->magic = kWindowMagic;
    window->parent = parent;
    window->id = id;
    window->style = style;
    window->exStyle = exStyle;
    window->className = className;
    for (char &c : window->className)
        c = char(std::tolower((unsigned char)c));
    window->instance = instance;
    windows.all.push_back(window);
    if (parent)
        parent->children.push_back(window);
    else
        windows.topLevels.push_back(window);
    return window;
}

void layerAttachWidget(HWND window, QWidget *widget)
{
    window->widget = widget;
    widget->setProperty("tallowHwnd", QVariant::fromValue<quintptr>(quintptr(window)));
    if (!window->parent)
        if (HICON icon = classIcon(window->className))
            showIcon(window, icon);
    if (!windows.focusTracked) {
        windows.focusTracked = true;
        // Clicks and Qt's own focus moves keep GetFocus true.
        QObject::connect(qApp, &QApplication::focusChanged, [](QWidget *, QWidget *now) {
            if (HWND window = layerWindowFromWidget(now))
                moveFocus(window);
        });
    }
}

HWND layerWindowFromWidget(QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        QVariant value = widget->property("tallowHwnd");
        if (value.isValid())
            return layerWindow((HWND)value.value<quintptr>());
    }
    return nullptr;
}

void layerDestroyWindow(HWND window)
{
    if (!layerWindow(window))
        return;
    // Windows: the window hears WM_DESTROY before its children do.
    layerCallWindow(window, WM_DESTROY, 0, 0);
    for (HWND child : std::vector<HWND>(window->children))
        layerDestroyWindow(child);
    if (windows.focus == window)
        windows.focus = nullptr;
    if (windows.foreground == window)
        windows.foreground = nullptr;
    layerForgetWindowMessages(window);
    std::erase(windows.all, window);
    std::erase(windows.topLevels, window);
    if (HWND parent = layerWindow(window->parent))
        std::erase(parent->children, window);
    window->magic = 0;
    // A top-level widget takes its controls' widgets with it; a control's goes alone.
    if (!window->parent || layerWindow(window->parent))
        delete window->widget;
    delete window;
}

void layerSetClientSize(HWND window, int width, int height)
{
    // Offscreen there is no user to resize anything, and Qt warns of size hints it drops.
    static const bool offscreen = QGuiApplication::platformName() == "offscreen";
    if (offscreen)
        window->widget->resize(width, height);
    else
        window->widget->setFixedSize(width, height);
}

void layerFocusWindow(HWND window, bool byTab)
{
    moveFocus(window);
    if (window && window->widget)
        window->widget->setFocus(byTab ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

LRESULT layerNotifyParent(HWND control, NMHDR *header)
{
    HWND__ *window = layerWindow(control);
    if (!window || !window->parent)
        return 0;
    header->hwndFrom = control;
    header->idFrom = UINT_PTR(window->id);
    return SendMessageA(window->parent, WM_NOTIFY, WPARAM(window->id), (LPARAM)header);
}

LRESULT layerCommandParent(HWND control, WORD code)
{
    HWND__ *window = layerWindow(control);
    if (!window || !window->parent)
        return 0;
    return SendMessageA(window->parent, WM_COMMAND, MAKEWPARAM(window->id, code), (LPARAM)control);
}

BOOL ShowWindow(HWND window, int command)
{
    layerQtTouched();
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    QWidget *widget = record->widget;
    bool wasVisible = record->style & WS_VISIBLE;
    bool wasMinimized = isMinimized(record);
    // Without a tray host a window reached through its lamps is kept on the task bar.
    if (command == SW_HIDE && !record->parent && !record->ended && layerTrayHidingWindow(window))
        command = SW_MINIMIZE;
    switch (command) {
    case SW_HIDE:
        record->style &= ~WS_VISIBLE;
        widget->hide();
        // A hidden window needs no font engines until it is shown again, and each engine
        // Qt keeps holds its own copy of the face's shaping tables.
        if (wasVisible && !record->parent)
            QFont::cleanup();
        return wasVisible;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOW:
        record->style |= WS_VISIBLE;
        if (record->parent) {
            widget->show();
            return wasVisible;
        }
        if (command == SW_SHOW)
            widget->show();
        else
            widget->showNormal();
        raise(widget);
        widget->activateWindow();
        windows.foreground = record;
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        record->style |= WS_VISIBLE;
        widget->showMinimized();
        break;
    default:
        layerUnsupported("ShowWindow command");
        return wasVisible;
    }
    if (!record->parent && (!wasVisible || (wasMinimized && !isMinimized(record))))
        record->needsPaint = true;
    return wasVisible;
}

BOOL IsWindowVisible(HWND window)
{
    HWND__ *record = layerWindow(window);
    if (!record)
        return FALSE;
    for (; record; record = record->parent)
        if (!(record->style & WS_VISIBLE))
            return FALSE;
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    return layerWindow(window) != nullptr;
}

BOOL SetForegroundWindow(HWND window)
{
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget)
        return FALSE;
    record = topLevelOf(record);
    raise(record->widget);
    record->widget->activateWindow();
    windows.foreground = record;
    return TRUE;
}

HWND GetForegroundWindow(void)
{
    if (HWND active = layerWindowFromWidget(QApplication::activeWindow()))
        return topLevelOf(active);
    if (layerWindow(windows.foreground) && (windows.foreground->style & WS_VISIBLE))
        return windows.foreground;
    return nullptr;
}

HWND GetActiveWindow(void)
{
    return GetForegroundWindow();
}

HWND SetFocus(HWND window)
{
    HWND previous = layerWindow(windows.focus) ? windows.focus : nullptr;
    if (!window) {
        if (previous && previous->widget)
            previous->widget->clearFocus();
        moveFocus(nullptr);
        return previous;
    }
    if (!layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    layerFocusWindow(window, false);
    return previous;
}

HWND GetFocus(void)
{
    return layerWindow(windows.focus) ? windows.focus : nullptr;
}

BOOL UpdateWindow(HWND window)
{
    HWND__ *record = layerWindow(window);
    if (!record)
        return FALSE;
    if (record->parent) {
        if (record->widget)
            record->widget->repaint();
        return TRUE;
    }
    // Windows sends the pending paint at once, past the queue.
    if (record->needsPaint && IsWindowVisible(window)) {
        record->needsPaint = false;
        SendMessageA(window, WM_PAINT, 0, 0);
    }
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT *, BOOL)
{
    if (!window) {
        for (HWND topLevel : windows.topLevels) {
            topLevel->needsPaint = true;
            topLevel->widget->update();
        }
        return TRUE;
    }
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    if (!record->parent)
        record->needsPaint = true;
    if (record->widget)
        record->widget->update();
    return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect)
{
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget || !rect) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    QRect outer = outerRect(record);
    *rect = {outer.left(), outer.top(), outer.left() + outer.width(), outer.top() + outer.height()};
    return TRUE;
}

BOOL GetWindowPlacement(HWND window, WINDOWPLACEMENT *placement)
{
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget || !placement) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    QWidget *widget = record->widget;
    QRect outer = outerRect(record);
    if (isMinimized(record) && !record->parent) {
        QRect frame = widget->frameGeometry(), inner = widget->geometry();
        QRect normal = widget->normalGeometry();
        outer = frameUnseen() ? aroundUnseenFrame(record, normal)
                              : normal.adjusted(frame.left() - inner.left(), frame.top() - inner.top(),
                                                frame.right() - inner.right(), frame.bottom() - inner.bottom());
    }
    placement->length = sizeof *placement;
    placement->flags = 0;
    placement->showCmd = isMinimized(record)                                ? SW_SHOWMINIMIZED
                         : (widget->windowState() & Qt::WindowMaximized) ? kShowMaximized
                                                                         : SW_SHOWNORMAL;
    placement->ptMinPosition = {-1, -1};
    placement->ptMaxPosition = {-1, -1};
    placement->rcNormalPosition = {outer.left(), outer.top(), outer.left() + outer.width(),
                                   outer.top() + outer.height()};
    return TRUE;
}

BOOL SetWindowPlacement(HWND window, const WINDOWPLACEMENT *placement)
{
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    if (!placement || placement->length != sizeof *placement) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const RECT &r = placement->rcNormalPosition;
    QRect outer(QPoint(r.left, r.top), QSize(r.right - r.left, r.bottom - r.top));
    if (record->parent) {
        record->widget->setGeometry(outer);
    } else if (outer.isEmpty()) {
        // A rectangle of no size keeps the window's own: a dialog has no sizing border, so the
        // user could never make a window of one pixel whole again.
        QRect own = outerRect(record);
        own.moveTopLeft(outer.topLeft());
        own = reachable(own);
        // Moved, not sized: a frame that a window manager adds later must not shrink it.
        if (frameUnseen())
            setOuterRect(record, own);
        else
            record->widget->move(own.topLeft());
    } else {
        setOuterRect(record, reachable(outer));
    }
    ShowWindow(window, int(placement->showCmd));
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL)
{
    HWND__ *record = layerWindow(window);
    if (!record || !record->widget) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    if (record->parent)
        record->widget->setGeometry(x, y, width, height);
    else
        setOuterRect(record, QRect(x, y, width, height));
    return TRUE;
}

LONG GetWindowLongA(HWND window, int index)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    switch (index) {
    case GWL_STYLE:
        return LONG(record->style);
    case kGwlExStyle:
        return LONG(record->exStyle);
    case GWL_ID:
        return record->id;
    case GWL_HINSTANCE:
        return LONG(intptr_t(record->instance));
    }
    layerUnsupported("GetWindowLongA index");
    SetLastError(kErrorInvalidIndex);
    return 0;
}

DWORD GetClassLongA(HWND window, int index)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    if (index != GCL_HICON) {
        layerUnsupported("GetClassLongA index");
        SetLastError(kErrorInvalidIndex);
        return 0;
    }
    return DWORD(uintptr_t(classIcon(record->className)));
}

DWORD SetClassLongA(HWND window, int index, LONG value)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    if (index != GCL_HICON) {
        layerUnsupported("SetClassLongA index");
        SetLastError(kErrorInvalidIndex);
        return 0;
    }
    HICON icon = (HICON)(uintptr_t)(DWORD)value;
    HICON previous = classIcon(record->className);
    auto found = std::find_if(windows.classIcons.begin(), windows.classIcons.end(),
                              [&](const auto &entry) { return entry.first == record->className; });
    if (found != windows.classIcons.end())
        found->second = icon;
    else
        windows.classIcons.push_back({record->className, icon});
    // The class's icon is every one of its windows' title bar icon.
    for (HWND topLevel : windows.topLevels)
        if (topLevel->className == record->className && topLevel->widget)
            showIcon(topLevel, icon);
    return DWORD(uintptr_t(previous));
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName)
{
    if (className && IS_INTRESOURCE(className)) {
        layerUnsupported("FindWindowA by class atom");
        return nullptr;
    }
    for (auto it = windows.topLevels.rbegin(); it != windows.topLevels.rend(); ++it) {
        HWND window = *it;
        if (className && strcasecmp(className, window->className.c_str()) != 0)
            continue;
        if (windowName) {
            QByteArray caption = window->widget ? window->widget->windowTitle().toUtf8() : QByteArray();
            if (strcasecmp(windowName, caption.constData()) != 0)
                continue;
        }
        return window;
    }
    return nullptr;
}

QWidget *layerWindowWidget(HWND window)
{
    HWND__ *record = layerWindow(window);
    return record ? record->widget : nullptr;
}

// Handles are small numbers in this layer, so the 32-bit calls carry them whole.
LONG_PTR GetWindowLongPtrA(HWND window, int index)
{
    return GetWindowLongA(window, index);
}

ULONG_PTR SetClassLongPtrA(HWND window, int index, LONG_PTR value)
{
    return SetClassLongA(window, index, LONG(value));
}
