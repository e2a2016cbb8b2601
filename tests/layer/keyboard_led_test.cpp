// The Scroll Lock LED on a real X server (Xvfb in the test runs), watched by an X client that
// holds the keyboard focus and records every key event it gets, as the user's editor would.
// First on the keymap as X and the distributions ship it (Scroll Lock locks no modifier),
// then as `xmodmap -e "add mod3 = Scroll_Lock"` leaves it.
#include "indicators/hardware_outputs.h"

#include <gtest/gtest.h>
// After GoogleTest: X11 defines None and Bool as macros.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct FocusedClient {
    Display *display = nullptr;
    Window window = 0;
    KeyCode scrollLock = 0;
    Atom indicator = 0;

    FocusedClient()
    {
        int event, error, opcode, major = XkbMajorVersion, minor = XkbMinorVersion;
        display = XkbOpenDisplay(nullptr, &event, &error, &major, &minor, &opcode);
        if (!display)
            return;
        scrollLock = XKeysymToKeycode(display, XK_Scroll_Lock);
        indicator = XInternAtom(display, "Scroll Lock", False);
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 50, 50, 0, 0, 0);
        XSelectInput(display, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(display, window);
        for (XEvent mapped; XWindowEvent(display, window, StructureNotifyMask, &mapped), mapped.type != MapNotify;) {
        }
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
    }

    ~FocusedClient()
    {
        if (display)
            XCloseDisplay(display);
    }

    bool lit()
    {
        Bool on = False;
        XkbGetNamedIndicator(display, indicator, nullptr, &on, nullptr, nullptr);
        return on;
    }

    bool scrollLockIsAModifier()
    {
        XModifierKeymap *map = XGetModifierMapping(display);
        bool found = false;
        for (int i = 0; i < 8 * map->max_keypermod; ++i)
            found = found || (scrollLock && map->modifiermap[i] == scrollLock);
        XFreeModifiermap(map);
        return found;
    }

    // The key events that reached the window since the last call: "press Scroll_Lock", ...
    std::vector<std::string> keys()
    {
        XSync(display, False);
        std::vector<std::string> seen;
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress || event.type == KeyRelease) {
                const char *name = XKeysymToString(XkbKeycodeToKeysym(display, event.xkey.keycode, 0, 0));
                seen.push_back(std::string(event.type == KeyPress ? "press " : "release ") + (name ? name : "?"));
            }
        }
        return seen;
    }

    // The user's own hand on the keyboard.
    void key(KeySym keysym, bool down)
    {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, CurrentTime);
        XSync(display, False);
    }
};

// Scroll Lock made a lock modifier for the life of the test, as xmodmap would make it.
struct LockModifierKeymap {
    Display *display;
    XModifierKeymap *original;

    explicit LockModifierKeymap(FocusedClient &client) : display(client.display)
    {
        original = XGetModifierMapping(display);
        XModifierKeymap *map = XInsertModifiermapEntry(XGetModifierMapping(display), client.scrollLock, Mod3MapIndex);
        XSetModifierMapping(display, map);
        XFreeModifiermap(map);
        XSync(display, False);
    }
    ~LockModifierKeymap()
    {
        XSetModifierMapping(display, original);
        XFreeModifiermap(original);
        XSync(display, False);
    }
};

using Keys = std::vector<std::string>;

int toggleBit()
{
    return GetKeyState(VK_SCROLL) & 1;
}

TEST(KeyboardLed, OnAStockKeymapTheLedFollowsAndNoApplicationSeesAKey)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display";
    // The layer's own connection first: a server left without clients resets its keymap.
    GetKeyState(VK_SCROLL);
    FocusedClient client;
    ASSERT_NE(client.display, nullptr);
    ASSERT_NE(client.scrollLock, 0);
    if (client.scrollLockIsAModifier())
        GTEST_SKIP() << "THIS DISPLAY'S KEYMAP MAKES SCROLL LOCK A MODIFIER: the stock-keymap case did not run";

    // The recorder hears a key that is typed.
    client.key(XK_a, true);
    client.key(XK_a, false);
    ASSERT_EQ(client.keys(), (Keys{"press a", "release a"}));

    for (int round = 0; round < 3; ++round) {
        setKeyboardLed(VK_SCROLL, 1);
        EXPECT_TRUE(client.lit()) << "round " << round;
        EXPECT_EQ(toggleBit(), 1);
        setKeyboardLed(VK_SCROLL, 1);
        EXPECT_TRUE(client.lit());
        setKeyboardLed(VK_SCROLL, 0);
        EXPECT_FALSE(client.lit()) << "round " << round;
        EXPECT_EQ(toggleBit(), 0);
    }
    EXPECT_EQ(client.keys(), Keys{}) << "the LED was driven by key presses";

    // The user holds Scroll Lock: the layer says so; the LED still follows the program, and
    // the application sees the user's key and nothing else.
    client.key(XK_Scroll_Lock, true);
    EXPECT_LT(GetKeyState(VK_SCROLL), 0);
    setKeyboardLed(VK_SCROLL, 1);
    for (int call = 0; call < 5; ++call)
        setKeyboardLed(VK_SCROLL, 1);
    EXPECT_TRUE(client.lit());
    client.key(XK_Scroll_Lock, false);
    EXPECT_GE(GetKeyState(VK_SCROLL), 0);
    EXPECT_EQ(client.keys(), (Keys{"press Scroll_Lock", "release Scroll_Lock"}));

    // The program puts out the LED it lit, and leaves alone one the user lit.
    putOutKeyboardLed(VK_SCROLL);
    EXPECT_FALSE(client.lit());
    XkbSetNamedIndicator(client.display, client.indicator, True, True, False, nullptr); // xset led named
    XSync(client.display, False);
    setKeyboardLed(VK_SCROLL, 1);
    putOutKeyboardLed(VK_SCROLL);
    EXPECT_TRUE(client.lit()) << "the user's LED was put out";
    XkbSetNamedIndicator(client.display, client.indicator, True, False, False, nullptr);
    EXPECT_EQ(client.keys(), Keys{});
}

TEST(KeyboardLed, WhereScrollLockIsALockModifierTheKeyIsPressedAsBefore)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display";
    GetKeyState(VK_SCROLL);
    FocusedClient client;
    ASSERT_NE(client.display, nullptr);
    LockModifierKeymap keymap(client);
    setKeyboardLed(VK_SCROLL, 0);
    client.keys();

    setKeyboardLed(VK_SCROLL, 1);
    EXPECT_TRUE(client.lit());
    EXPECT_EQ(client.keys(), (Keys{"press Scroll_Lock", "release Scroll_Lock"}));
    for (int call = 0; call < 3; ++call)
        setKeyboardLed(VK_SCROLL, 1);
    EXPECT_EQ(client.keys(), Keys{});

    // The user presses Scroll Lock and keeps it down: the lock lets go only at the release,
    // and no synthetic press comes while the key is held.
    client.key(XK_Scroll_Lock, true);
    SHORT held = GetKeyState(VK_SCROLL);
    EXPECT_LT(held, 0) << "the sign bit says the key is down";
    for (int call = 0; call < 5; ++call)
        setKeyboardLed(VK_SCROLL, 1);
    EXPECT_EQ(GetKeyState(VK_SCROLL), held);
    client.key(XK_Scroll_Lock, false);
    EXPECT_EQ(client.keys(), (Keys{"press Scroll_Lock", "release Scroll_Lock"}));

    // The release unlocked it; the program lights it again, and puts out what it lit.
    setKeyboardLed(VK_SCROLL, 1);
    EXPECT_EQ(toggleBit(), 1);
    putOutKeyboardLed(VK_SCROLL);
    EXPECT_FALSE(client.lit());
    EXPECT_EQ(client.keys(),
              (Keys{"press Scroll_Lock", "release Scroll_Lock", "press Scroll_Lock", "release Scroll_Lock"}));
}

} // namespace
