// Synthesised key presses and key states of the lock keys, on X11.
//
// Supports: keybd_event and GetKeyState for VK_SCROLL, VK_NUMLOCK and VK_CAPITAL. A press or
// release is an XTest event on the keycode of the key's keysym; the toggle state (bit 0) is
// the XKB indicator of the same name ("Scroll Lock", ...), the held state (sign bit, 0xFF80 as
// Windows answers) the key's bit in the server's keymap. The display is opened once, on first
// use. Without X11 (no DISPLAY, no XTest, no XKB) both do nothing and GetKeyState answers 0.
// The scan code and the extended-key flag are not needed by X and are ignored.
// Not supported (asserts in debug builds): any other virtual key.
#include "platform/win32.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cassert>
#include <cstdlib>

namespace {

struct LockKey {
    int virtualKey;
    KeySym keysym;
    const char *indicatorName;
    KeyCode keycode; // 0 until the display is open, or when the keyboard lacks the key
    Atom indicator;
};

LockKey lockKeys[] = {
    {VK_SCROLL, XK_Scroll_Lock, "Scroll Lock", 0, 0},
    {0x90 /* VK_NUMLOCK */, XK_Num_Lock, "Num Lock", 0, 0},
    {0x14 /* VK_CAPITAL */, XK_Caps_Lock, "Caps Lock", 0, 0},
};

Display *keyboardDisplay()
{
    static bool tried = false;
    static Display *display = nullptr;
    if (tried)
        return display;
    tried = true;
    if (!std::getenv("DISPLAY"))
        return nullptr;
    display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int event, error, major = XkbMajorVersion, minor = XkbMinorVersion, opcode;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor) ||
        !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        display = nullptr;
        return nullptr;
    }
    for (LockKey &key : lockKeys) {
        key.keycode = XKeysymToKeycode(display, key.keysym);
        key.indicator = XInternAtom(display, key.indicatorName, False);
    }
    return display;
}

LockKey *lockKey(int virtualKey)
{
    for (LockKey &key : lockKeys)
        if (key.virtualKey == virtualKey)
            return &key;
    assert(!"only VK_SCROLL, VK_NUMLOCK and VK_CAPITAL are supported");
    return nullptr;
}

} // namespace

SHORT GetKeyState(int virtualKey)
{
    LockKey *key = lockKey(virtualKey);
    Display *display = keyboardDisplay();
    if (!key || !display)
        return 0;
    Bool lit = False;
    XkbGetNamedIndicator(display, key->indicator, nullptr, &lit, nullptr, nullptr);
    int state = lit ? 1 : 0;
    if (key->keycode) {
        char keys[32];
        XQueryKeymap(display, keys);
        if (keys[key->keycode / 8] & (1 << key->keycode % 8))
            state |= 0xFF80;
    }
    return SHORT(state);
}

void keybd_event(BYTE virtualKey, BYTE, DWORD flags, ULONG_PTR)
{
    LockKey *key = lockKey(virtualKey);
    Display *display = keyboardDisplay();
    if (!key || !display || !key->keycode)
        return;
    XTestFakeKeyEvent(display, key->keycode, (flags & KEYEVENTF_KEYUP) ? False : True, CurrentTime);
    // The server has acted on it (indicator included) before the caller looks again.
    XSync(display, False);
}
