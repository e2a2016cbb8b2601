// The Scroll Lock LED on a real X server (Xvfb in the test runs): set once, and left alone while
// the user holds the key.
#include "indicators/hardware_outputs.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int lit()
{
    return GetKeyState(VK_SCROLL) & 1;
}

} // namespace

TEST(KeyboardLed, SetOnceAndNeverFlippedWhileTheKeyIsHeld)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display";
    // Xvfb's keymap lets Scroll Lock drive its indicator only once it is a lock modifier. The
    // layer's connection is opened first: a server left without clients resets its keymap.
    GetKeyState(VK_SCROLL);
    if (std::system("xmodmap -e 'add mod3 = Scroll_Lock' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmodmap is missing";
    setKeyboardLed(VK_SCROLL, 0);
    setKeyboardLed(VK_SCROLL, 1);
    if (!lit())
        GTEST_SKIP() << "Scroll Lock does not toggle its indicator on this display";

    for (int call = 0; call < 3; ++call) {
        setKeyboardLed(VK_SCROLL, 1);
        EXPECT_EQ(lit(), 1) << "call " << call;
    }

    // The user presses Scroll Lock and keeps it down; the lock lets go only at the release.
    keybd_event(VK_SCROLL, 0x46, 0, 0);
    SHORT held = GetKeyState(VK_SCROLL);
    EXPECT_LT(held, 0) << "the sign bit says the key is down";
    EXPECT_EQ(held & 1, 1);
    for (int call = 0; call < 5; ++call)
        setKeyboardLed(VK_SCROLL, 1);
    EXPECT_EQ(GetKeyState(VK_SCROLL), held) << "no synthetic press while the key is held";
    keybd_event(VK_SCROLL, 0x46, KEYEVENTF_KEYUP, 0);

    EXPECT_GE(GetKeyState(VK_SCROLL), 0) << "released";
    setKeyboardLed(VK_SCROLL, 1);
    EXPECT_EQ(lit(), 1);
    setKeyboardLed(VK_SCROLL, 0);
    EXPECT_EQ(lit(), 0);
    setKeyboardLed(VK_SCROLL, 0);
    EXPECT_EQ(lit(), 0);
}
