// What the X session around the program offers, read through Qt's own X connection: whether
// a window manager runs (EWMH's _NET_SUPPORTING_WM_CHECK on the root window, which every
// current one sets). Not on X (Wayland, offscreen): there is none to ask, and the answer is no.
#include "platform/user32_window.h"

#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

bool layerX11WindowManagerRuns()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == 0)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *value = nullptr;
    bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                    &format, &items, &after, &value) == Success &&
                 type == XA_WINDOW && items == 1;
    if (value)
        XFree(value);
    return found;
}
