// The Scroll Lock LED on a real X server (Xvfb in the test runs), watched by an X client that
// holds the keyboard focus and records every key event it gets, as the user's editor would.
// On the keymap as X and the distributions ship it (Scroll Lock locks no modifier): the layer,
// and the whole program's dialog with its timers while a disk is written; then the keymap as
// `xmodmap -e "add mod3 = Scroll_Lock"` leaves it. Then a Wayland session: the keyboards' own
// LEDs, through a stand-in logind on a private system bus.
#include "indicators/hardware_outputs.h"
#include "platform/layer_qt.h"
#include "res/resource.h"
#include "tests/support/fixture_machine.h"
#include "tests/support/machine_testing.h"
#include "tests/support/main_dialog_runner.h"

#include <gtest/gtest.h>
// After GoogleTest: X11 defines None and Bool as macros.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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

// The lock keys choose X or the keyboards' LEDs once; each test here says which it means.
void chooseSession(const char *type)
{
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_SESSION_TYPE", type, 1);
    layerForgetKeyboard();
}

// The recorder on the display as it comes: the keymap as shipped, Scroll Lock no modifier.
class StockKeymap : public ::testing::Test {
protected:
    std::unique_ptr<FocusedClient> recorder;

    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "no X display";
        chooseSession("x11");
        // The layer's own connection first: a server left without clients resets its keymap.
        GetKeyState(VK_SCROLL);
        recorder = std::make_unique<FocusedClient>();
        ASSERT_NE(recorder->display, nullptr);
        ASSERT_NE(recorder->scrollLock, 0);
        if (recorder->scrollLockIsAModifier())
            GTEST_SKIP() << "THIS DISPLAY'S KEYMAP MAKES SCROLL LOCK A MODIFIER: the stock-keymap case did not run";
    }
};

TEST_F(StockKeymap, TheLedFollowsAndNoApplicationSeesAKey)
{
    FocusedClient &client = *recorder;

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
    chooseSession("x11");
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

// The whole program in single icon mode with the LED option: the dialog's own timers, the
// Start button and the end, while the disk is used, on the keymap as shipped.
TEST_F(StockKeymap, TheProgramLightsItOnActivityAndPutsItOutWhenMonitoringStopsAndAtTheEnd)
{
    FocusedClient &client = *recorder;
    FixtureMachine machine;
    fixtureAddDisk(machine, "sda", 8, 0);
    fixtureAddMount(machine, 8, 0, "/", "ext4", "/dev/sda");
    fixtureSetMemory(machine, 8388608, 3670016, 8388608, 2621440);
    UseMachine use(machine);
    setKeyboardLed(VK_SCROLL, 0);

    // The disk is written every step (60 ms). The LED shows the passes (150 ms) in which a
    // Unit's state changed: Disable is pressed, and later the program closed, the moment the
    // LED is seen lit.
    uint64_t writes = 10;
    int phase = 0, phaseSteps = 0;
    bool stoppedLit = false, litAfterStop = false, endedLit = false;
    auto step = [&](HWND dialog) {
        // The dialog may have taken the focus when it showed: the recorder holds it.
        XSetInputFocus(client.display, client.window, RevertToPointerRoot, CurrentTime);
        if (phase != 2)
            fixtureSetCounters(machine, "sda", 5, ++writes);
        bool lit = client.lit();
        ++phaseSteps;
        if (phase == 0 && lit) { // Disable
            stoppedLit = true;
            SendMessageA(GetDlgItem(dialog, IDC_START), BM_CLICK, 0, 0);
            phase = 1, phaseSteps = 0;
        } else if (phase == 1) {
            litAfterStop = litAfterStop || lit;
            if (phaseSteps == 8) { // Enable, and idle for a while
                SendMessageA(GetDlgItem(dialog, IDC_START), BM_CLICK, 0, 0);
                phase = 2, phaseSteps = 0;
            }
        } else if (phase == 2 && phaseSteps == 8) {
            phase = 3;
        } else if (phase == 3 && lit) {
            endedLit = true;
            client.key(XK_a, true); // the user types while it runs: the recorder hears it
            client.key(XK_a, false);
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        }
    };
    std::vector<DialogStep> steps(80, step);
    DialogRun run = runMainDialog("[GENERALOPTIONS]\r\nPollinterval=150\r\nSingleIconMode=Yes\r\nKeyboardLED=Yes\r\n"
                                  "[\\\\.\\C:]\r\nEnabled=Yes\r\n",
                                  steps, 60);
    EXPECT_EQ(run.result, 0);
    ASSERT_TRUE(stoppedLit) << "the LED never lit";
    EXPECT_FALSE(litAfterStop) << "monitoring stopped, the LED stayed lit";
    ASSERT_TRUE(endedLit) << "the LED never lit after monitoring started again";
    EXPECT_FALSE(client.lit()) << "the program ended, the LED stayed lit";
    EXPECT_EQ(client.keys(), (Keys{"press a", "release a"}));
    std::remove(settingsPathBesideExecutable().c_str());
}

// A Wayland session on a system bus of the test's own (or on none), with or without logind:
// the stand-in beside this test, under dbus-run-session, which prints its pid and the address.
struct WaylandSession {
    FILE *standIn = nullptr;
    pid_t pid = 0;

    WaylandSession(const FixtureMachine &machine, bool withBus, bool withLogind)
    {
        char address[512] = "unix:path=/nonexistent/socket";
        const std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "logind_stand_in";
        const std::string command = "exec dbus-run-session -- '" + program + (withLogind ? "' '" + machine.root : "") + "'";
        if (withBus && (standIn = popen(command.c_str(), "r")))
            std::fscanf(standIn, "%d %511s", &pid, address);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address, 1);
        chooseSession("wayland");
    }
    ~WaylandSession()
    {
        chooseSession("x11");
        if (pid > 0)
            kill(pid, SIGTERM);
        if (standIn)
            pclose(standIn);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
};

TEST(WaylandSession, ScrollLockTogglesEveryKeyboardsLedThroughLogindAndWithoutItNothing)
{
    layerApplication(); // the program's, made before the session's variables change
    FixtureMachine machine;
    const std::string leds[][2] = {{"input3::scrolllock", "1"}, {"input9::scrolllock", "255"}, {"input3::capslock", "1"}};
    for (const auto &[name, max] : leds) {
        fixtureWriteFile(machine, "sys/class/leds/" + name + "/brightness", "0\n");
        fixtureWriteFile(machine, "sys/class/leds/" + name + "/max_brightness", max + "\n");
    }
    const auto text = [](const std::string &path) {
        std::ifstream file(path);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const auto led = [&](const char *name) { return text(machine.root + "/sys/class/leds/" + name + "/brightness"); };
    const auto press = [] { keybd_event(VK_SCROLL, 0x45, KEYEVENTF_EXTENDEDKEY, 0); };
    const auto release = [] { keybd_event(VK_SCROLL, 0x45, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0); };
    const std::string on = "SetBrightness leds input3::scrolllock 1\nSetBrightness leds input9::scrolllock 255\n",
                      off = "SetBrightness leds input3::scrolllock 0\nSetBrightness leds input9::scrolllock 0\n";
    const struct { const char *what; void (*act)(); int lit; std::string calls; } steps[] = {
        {"press", press, 1, on}, {"release", release, 1, ""}, {"press again", press, 0, off},
        {"lit at each pass", [] { for (int pass = 0; pass < 5; ++pass) setKeyboardLed(VK_SCROLL, 1); }, 1, on},
        {"put out twice", [] { putOutKeyboardLed(VK_SCROLL); putOutKeyboardLed(VK_SCROLL); }, 0, off}};
    UseMachine use(machine);
    {
        WaylandSession session(machine, true, true);
        ASSERT_GT(session.pid, 0) << "the stand-in logind did not start";
        EXPECT_EQ(GetKeyState(VK_SCROLL), 0);
        std::string calls;
        for (const auto &step : steps) {
            step.act();
            EXPECT_EQ(text(machine.root + "/logind.log"), calls += step.calls) << step.what;
            EXPECT_EQ(GetKeyState(VK_SCROLL), step.lit) << step.what;
            EXPECT_EQ(led("input3::scrolllock") + led("input9::scrolllock"), step.lit ? "1\n255\n" : "0\n0\n") << step.what;
        }
        EXPECT_EQ(led("input3::capslock"), "0\n");
    }
    fixtureWriteFile(machine, "sys/class/leds/input3::scrolllock/brightness", "1\n"); // lit, by someone else
    for (bool withBus : {true, false}) {
        WaylandSession session(machine, withBus, false);
        ASSERT_EQ(session.pid > 0, withBus) << "the bus did not start";
        for (const auto &step : steps) {
            step.act();
            EXPECT_EQ(GetKeyState(VK_SCROLL), 0) << step.what << (withBus ? ", a bus without logind" : ", no bus");
            EXPECT_EQ(led("input3::scrolllock"), "1\n") << step.what << (withBus ? ", a bus without logind" : ", no bus");
        }
    }
}

} // namespace
