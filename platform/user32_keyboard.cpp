// Synthesised key presses and key states of the lock keys, on X11 or the keyboards' LEDs.
//
// Supports: keybd_event and GetKeyState for VK_SCROLL, VK_NUMLOCK and VK_CAPITAL. The toggle
// state (bit 0) is the XKB indicator of the key's name ("Scroll Lock", ...), the held state
// (sign bit, 0xFF80 as Windows answers) the key's bit in the server's keymap. Where the key
// locks a modifier (Caps Lock and Num Lock always; Scroll Lock after `xmodmap -e "add mod3 =
// Scroll_Lock"`), a press or release is an XTest event on its keycode, and applications see
// the key as on Windows. Where it locks none (Scroll Lock in the stock keymaps of Debian,
// Ubuntu and Fedora) a key press would light nothing: the press then flips the indicator
// itself (XkbSetNamedIndicator), its release does nothing, and no key event reaches any
// application. The display is opened once, on first use. Without X11 (no DISPLAY, no XTest,
// no XKB) both do nothing and GetKeyState answers 0. The scan code and the extended-key flag
// are not needed by X and are ignored.
// Where X's indicator lights no physical keyboard, a Wayland session (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE=wayland) or an X server that is XWayland (its XWAYLAND extension, from
// Xwayland 23.1), Scroll Lock is the keyboards' scrolllock LEDs through logind instead
// (user32_keyboard_logind.cpp): a press toggles them, a release does nothing; Num Lock and
// Caps Lock there do nothing and answer 0, as the compositor keeps those locks itself. The
// choice is made once, at first use.
// Not supported (asserts in debug builds): any other virtual key.
#include "platform/win32.h"

#include "platform/layer_testing.h"
#include "platform/user32_keyboard_logind.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace {

struct LockKey {
    int virtualKey;
    KeySym keysym;
    const char *indicatorName;
    KeyCode keycode; // 0 until the display is open, or when the keyboard lacks the key
    Atom indicator;
    bool pressed;    // an XTest press is out: its release must follow it there
};

LockKey lockKeys[] = {
    {VK_SCROLL, XK_Scroll_Lock, "Scroll Lock", 0, 0, false},
    {0x90 /* VK_NUMLOCK */, XK_Num_Lock, "Num Lock", 0, 0, false},
    {0x14 /* VK_CAPITAL */, XK_Caps_Lock, "Caps Lock", 0, 0, false},
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

enum class Route { Undecided, Display, SessionLeds };
Route route = Route::Undecided;

bool onSessionLeds()
{
    if (route == Route::Undecided) {
        const char *wayland = std::getenv("WAYLAND_DISPLAY"), *session = std::getenv("XDG_SESSION_TYPE");
        bool leds = (wayland && *wayland) || (session && std::strcmp(session, "wayland") == 0);
        int opcode, event, error;
        Display *display = leds ? nullptr : keyboardDisplay();
        leds = leds || (display && XQueryExtension(display, "XWAYLAND", &opcode, &event, &error));
        route = leds ? Route::SessionLeds : Route::Display;
    }
    return route == Route::SessionLeds;
}

// Asked at each press, not kept: the user may change the keymap while the program runs.
bool locksAModifier(Display *display, KeyCode keycode)
{
    XModifierKeymap *map = keycode ? XGetModifierMapping(display) : nullptr;
    if (!map)
        return false;
    bool found = false;
    for (int i = 0; i < 8 * map->max_keypermod && !found; ++i)
        found = map->modifiermap[i] == keycode;
    XFreeModifiermap(map);
    return found;
}

bool indicatorLit(Display *display, const LockKey &key)
{
    Bool lit = False;
    XkbGetNamedIndicator(display, key.indicator, nullptr, &lit, nullptr, nullptr);
    return lit;
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
    if (key && onSessionLeds())
        return SHORT(virtualKey == VK_SCROLL ? sessionScrollLockLit() : 0);
    Display *display = keyboardDisplay();
    if (!key || !display)
        return 0;
    int state = indicatorLit(display, *key) ? 1 : 0;
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
    bool release = flags & KEYEVENTF_KEYUP;
    if (key && onSessionLeds()) {
        if (virtualKey == VK_SCROLL && !release)
            sessionScrollLockPress();
        return;
    }
    Display *display = keyboardDisplay();
    if (!key || !display)
        return;
    if (release ? key->pressed : locksAModifier(display, key->keycode)) {
        XTestFakeKeyEvent(display, key->keycode, release ? False : True, CurrentTime);
        key->pressed = !release;
    } else if (!release) {
        XkbSetNamedIndicator(display, key->indicator, True, !indicatorLit(display, *key), False, nullptr);
    }
    // The server has acted on it (indicator included) before the caller looks again.
    XSync(display, False);
    // Keymap notices come along with the replies; nothing here reads them, so they go.
    XEvent event;
    while (QLength(display) > 0)
        XNextEvent(display, &event);
}

void layerForgetKeyboard()
{
    route = Route::Undecided;
    sessionLedsForget();
}
