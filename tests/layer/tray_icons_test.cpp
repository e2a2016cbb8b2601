// The tray icon manager as the notification area sees it: which Shell_NotifyIconA calls each
// pass makes, what the icons look like and say, what the pass leaves to the keyboard LED,
// and that passes hold no more icons or GDI objects than they started with.
#include "indicators/icon_drawing.h"
#include "indicators/tray_icons.h"
#include "platform/gdi_objects.h"
#include "platform/layer_testing.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Runs body inside a live dialog (template 100, a procedure of the test's own): the tray
// icons need an owner window, and their templates come from that window's module.
void inDialog(const std::function<void(HWND)> &body)
{
    DLGPROC procedure = [](HWND dialog, UINT message, WPARAM, LPARAM lParam) -> INT_PTR {
        if (message != WM_INITDIALOG)
            return FALSE;
        (*reinterpret_cast<const std::function<void(HWND)> *>(lParam))(dialog);
        EndDialog(dialog, 0);
        return TRUE;
    };
    ASSERT_EQ(0, DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, procedure,
                                 reinterpret_cast<LPARAM>(&body)));
}

// A machine with one physical disk, drive C and both meters, all monitored, and the
// program's default options (the alternative icon set, one icon per Unit).
struct Machine {
    Unit *cursor = nullptr;
    Unit *physical, *driveC, *ram, *vram;
    GeneralOptions options = {};

    Machine()
    {
        trayState = {};
        add("", 0, 0);
        physical = add("\\\\.\\PHYSICALDRIVE0", DRIVE_NO_ROOT_DIR, 100);
        driveC = add("\\\\.\\C:", DRIVE_FIXED, 101);
        ram = add("RAM Usage", KIND_RAM, 102);
        vram = add("VRAM Usage", KIND_VIRTUAL_RAM, 103);
        add("", 0, 0);
        for (Unit *unit : {physical, driveC, ram, vram})
            unit->enabled = 1;
        physical->percent = -1;
        physical->scaleLetter = ' ';
        std::strcpy(driveC->volumeName, "SYSTEM");
        std::strcpy(driveC->fileSystem, "NTFS");
        driveC->freeScaled = 232;
        driveC->totalScaled = 465;
        driveC->scaleLetter = 'G';
        driveC->percent = 50;
        ram->percent = 37;
        ram->memFreeMb = 2580;
        ram->memTotalMb = 4096;
        vram->percent = 40;
        vram->virtFreeMb = 3686;
        vram->virtTotalMb = 6144;
        options.alternativeIcons = 1;
        options.colorRam = {64, 64, 255};
        options.colorVram = {228, 128, 16};
        options.colorBackground = {64, 0, 64};
    }

    ~Machine()
    {
        for (Unit *unit = unitListHead(cursor), *next; unit; unit = next) {
            next = unit->next;
            for (HICON icon : {unit->iconIdle, unit->iconRead, unit->iconWrite, unit->iconReadWrite, unit->iconMeter})
                if (icon)
                    DestroyIcon(icon);
            std::free(unit);
        }
    }

    Unit *add(const char *path, int32_t kind, int32_t id)
    {
        unitListAppend(&cursor);
        std::strcpy(cursor->path, path);
        cursor->kind = kind;
        cursor->unitId = id;
        cursor->changed = id != 0; // as discovery leaves them
        return cursor;
    }

    // One update pass; the calls it made, as "ADD 103", "MODIFY 0", "DELETE 101".
    std::vector<std::string> pass(HWND dialog, std::vector<TrayCall> *calls = nullptr)
    {
        std::vector<TrayCall> made;
        layerRecordTrayCalls(&made);
        updateTrayIcons(dialog, &cursor, &options);
        layerRecordTrayCalls(nullptr);
        std::vector<std::string> names;
        for (const TrayCall &call : made)
            names.push_back(std::string(call.message == NIM_ADD      ? "ADD "
                                        : call.message == NIM_MODIFY ? "MODIFY "
                                                                     : "DELETE ") +
                            std::to_string(call.id));
        if (calls)
            *calls = made;
        return names;
    }
};

using Calls = std::vector<std::string>;

QRgb pixel(const QImage &image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

TEST(TrayIcons, PerUnitIconsAreAddedUnlabelledThenShownAndOnlyChangesAreSent)
{
    inDialog([](HWND dialog) {
        Machine machine;
        std::vector<TrayCall> calls;

        // Added in backward-walk order, each the idle lamp with "No update yet".
        EXPECT_EQ((Calls{"ADD 103", "ADD 102", "ADD 101", "ADD 100"}), machine.pass(dialog, &calls));
        for (const TrayCall &call : calls) {
            EXPECT_EQ(trayState.templateIdle, call.icon);
            EXPECT_EQ("No update yet", call.tip);
        }
        EXPECT_EQ(4, layerTrayIconCount());

        // The next pass labels them and gives the real tooltips.
        machine.driveC->activity = ACT_READ;
        machine.ram->activity = ACT_METER;
        machine.vram->activity = ACT_METER;
        EXPECT_EQ((Calls{"MODIFY 103", "MODIFY 102", "MODIFY 101", "MODIFY 100"}), machine.pass(dialog, &calls));
        EXPECT_EQ("Virtual RAM:\nUsage: 40%\nFree: 3686MB / 6144MB", calls[0].tip);
        EXPECT_EQ("RAM:\nUsage: 37%\nFree: 2580MB / 4096MB", calls[1].tip);
        EXPECT_EQ("Drive: \\\\.\\C:\nVolume: SYSTEM\nFilesystem: NTFS\nFree capacity: 232 / 465GB (50%)", calls[2].tip);
        EXPECT_EQ("Drive: \\\\.\\PHYSICALDRIVE0\nVolume: \nFilesystem: \nFree capacity: 0 / 0 B (-1%)", calls[3].tip);
        EXPECT_EQ(machine.driveC->iconRead, calls[2].icon);
        EXPECT_EQ(machine.physical->iconIdle, calls[3].icon);
        EXPECT_EQ(machine.ram->iconMeter, calls[1].icon);
        EXPECT_EQ(calls[2].tip, layerTrayIconTip(dialog, 101));

        // What the tray shows: C reading lights the upper (green) bar of the alternative set
        // and keeps the lower one dark; the RAM meter at 37 % fills its lower part in RAM blue.
        QImage lamp = layerTrayIconImage(dialog, 101);
        ASSERT_EQ(QSize(32, 32), lamp.size());
        EXPECT_EQ(0x00FF00u, pixel(lamp, 5, 6));
        EXPECT_EQ(0x800000u, pixel(lamp, 5, 24));
        QImage meter = layerTrayIconImage(dialog, 102);
        EXPECT_EQ(0x4040FFu, pixel(meter, 1, 29));
        EXPECT_EQ(0x400040u, pixel(meter, 1, 2));

        // Nothing changed: nothing is sent.
        EXPECT_EQ(Calls{}, machine.pass(dialog));

        // One Unit changed: one call.
        machine.driveC->activity = ACT_WRITE;
        machine.driveC->changed = 1;
        EXPECT_EQ(Calls{"MODIFY 101"}, machine.pass(dialog, &calls));
        EXPECT_EQ(machine.driveC->iconWrite, calls[0].icon);

        removeAllTrayIcons(dialog, &machine.cursor);
        EXPECT_EQ(0, layerTrayIconCount());
    });
}

TEST(TrayIcons, UntickedUnitIsDeletedAndComesBackWithItsOwnLamps)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.pass(dialog);
        machine.pass(dialog);
        const HICON idle = machine.driveC->iconIdle;
        const int icons = layerIconCount();

        machine.driveC->enabled = 0;
        EXPECT_EQ(Calls{"DELETE 101"}, machine.pass(dialog));
        EXPECT_EQ(Calls{}, machine.pass(dialog));

        machine.driveC->enabled = 1;
        machine.driveC->showInTray = 0;
        EXPECT_EQ(Calls{}, machine.pass(dialog));
        machine.driveC->showInTray = 1;
        std::vector<TrayCall> calls;
        EXPECT_EQ(Calls{"ADD 101"}, machine.pass(dialog, &calls));
        EXPECT_EQ(trayState.templateIdle, calls[0].icon);
        EXPECT_EQ(Calls{"MODIFY 101"}, machine.pass(dialog, &calls));
        // The lamps drawn before, not new ones.
        EXPECT_EQ(idle, calls[0].icon);
        EXPECT_EQ(icons, layerIconCount());

        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

TEST(TrayIcons, SingleIconModeCombinesChangedUnitsAndSwitchesBothWays)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.pass(dialog);
        machine.pass(dialog);

        // Entering: every Unit's icon goes (forward order) and the single lamp comes. The tail
        // placeholder, marked changed when the icon set was loaded and never shown on its
        // own, is folded in at once: one renewal.
        machine.options.singleIconMode = 1;
        std::vector<TrayCall> calls;
        EXPECT_EQ((Calls{"DELETE 100", "DELETE 101", "DELETE 102", "DELETE 103", "ADD 0", "MODIFY 0"}),
                  machine.pass(dialog, &calls));
        EXPECT_EQ(trayState.templateIdle, calls[4].icon);
        EXPECT_EQ("TallowLAMP", calls[4].tip);
        EXPECT_EQ(trayState.templateIdle, calls[5].icon);
        EXPECT_EQ(Calls{}, machine.pass(dialog));

        // A drive read: the read lamp.
        machine.driveC->activity = ACT_READ;
        machine.driveC->changed = 1;
        EXPECT_EQ(Calls{"MODIFY 0"}, machine.pass(dialog, &calls));
        EXPECT_EQ(trayState.templateRead, calls[0].icon);

        // Read on one drive, write on the other: both.
        machine.driveC->changed = 1;
        machine.physical->activity = ACT_WRITE;
        machine.physical->changed = 1;
        machine.pass(dialog, &calls);
        EXPECT_EQ(trayState.templateReadWrite, calls.back().icon);

        // A meter that moved is visited first and its 9 keeps the idle lamp for the pass.
        machine.vram->activity = ACT_METER;
        machine.vram->changed = 1;
        machine.driveC->changed = 1;
        EXPECT_EQ((Calls{"MODIFY 0", "MODIFY 0"}), machine.pass(dialog, &calls));
        EXPECT_EQ(trayState.templateIdle, calls[0].icon);
        EXPECT_EQ(trayState.templateIdle, calls[1].icon);

        // Static icon: always the idle lamp.
        machine.options.staticIcon = 1;
        machine.driveC->changed = 1;
        EXPECT_EQ(Calls{"MODIFY 0"}, machine.pass(dialog, &calls));
        EXPECT_EQ(trayState.templateIdle, calls[0].icon);
        machine.options.staticIcon = 0;

        // Stopping monitoring leaves the single lamp; leaving the mode deletes it and adds
        // every Unit's own icon again, unlabelled first.
        removeUnitIcons(dialog, &machine.cursor);
        EXPECT_EQ(1, layerTrayIconCount());
        machine.options.singleIconMode = 0;
        EXPECT_EQ((Calls{"DELETE 0", "ADD 103", "ADD 102", "ADD 101", "ADD 100"}), machine.pass(dialog, &calls));
        EXPECT_EQ("No update yet", calls[1].tip);
        EXPECT_EQ((Calls{"MODIFY 103", "MODIFY 102", "MODIFY 101", "MODIFY 100"}), machine.pass(dialog));

        // At shutdown in single icon mode nothing stays behind.
        machine.options.singleIconMode = 1;
        machine.pass(dialog);
        EXPECT_EQ(1, layerTrayIconCount());
        removeAllTrayIcons(dialog, &machine.cursor);
        EXPECT_EQ(0, layerTrayIconCount());
        EXPECT_EQ(0, trayState.singleIconShown);
    });
}

TEST(TrayIcons, SwitchingTheIconSetRedrawsEveryLampWithoutHoldingMore)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.pass(dialog);
        machine.pass(dialog);
        const HICON alternativeIdle = trayState.templateIdle;
        EXPECT_EQ(0x008000u, pixel(layerTrayIconImage(dialog, 101), 5, 6));

        machine.options.alternativeIcons = 0;
        std::vector<TrayCall> calls;
        EXPECT_EQ((Calls{"MODIFY 103", "MODIFY 102", "MODIFY 101", "MODIFY 100"}), machine.pass(dialog, &calls));
        EXPECT_NE(alternativeIdle, trayState.templateIdle);
        EXPECT_EQ(machine.driveC->iconIdle, calls[2].icon);
        // The standard idle lamp: a dark blue square.
        EXPECT_EQ(0x004080u, pixel(layerTrayIconImage(dialog, 101), 5, 6));
        EXPECT_EQ(0x004080u, pixel(layerTrayIconImage(dialog, 101), 5, 24));

        // Back and forth again: the lamps of the set left behind are released.
        const int icons = layerIconCount();
        machine.options.alternativeIcons = 1;
        machine.pass(dialog);
        machine.options.alternativeIcons = 0;
        machine.pass(dialog);
        EXPECT_EQ(icons, layerIconCount());

        // In single icon mode the lamp is renewed in the same pass: every Unit was marked
        // changed, and the last renewal shows the other set's idle lamp.
        machine.options.singleIconMode = 1;
        machine.pass(dialog);
        machine.options.alternativeIcons = 1;
        machine.pass(dialog, &calls);
        ASSERT_FALSE(calls.empty());
        for (const TrayCall &call : calls)
            EXPECT_EQ(NIM_MODIFY, call.message);
        EXPECT_EQ(0u, calls.back().id);
        EXPECT_EQ(alternativeIdle, calls.back().icon);

        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

TEST(TrayIcons, TooltipsAndLabelsOfEveryKind)
{
    inDialog([](HWND dialog) {
        Machine machine;
        // A disk numbered 12 is labelled with its first digit; a removable drive that the
        // settings enable is labelled "!" and has the drive tooltip.
        std::strcpy(machine.physical->path, "\\\\.\\PHYSICALDRIVE12");
        machine.driveC->kind = DRIVE_REMOVABLE;
        // A tooltip longer than the tip field is cut at 127 characters.
        std::string longPath(100, 'x');
        std::strcpy(machine.ram->path, longPath.c_str());
        machine.ram->kind = DRIVE_FIXED;
        machine.pass(dialog);
        std::vector<TrayCall> calls;
        machine.pass(dialog, &calls);
        ASSERT_EQ(4u, calls.size());
        const std::string full = "Drive: " + longPath + "\nVolume: \nFilesystem: \nFree capacity: 0 / 0";
        EXPECT_EQ(127u, calls[1].tip.size());
        EXPECT_EQ(full.substr(0, 127), calls[1].tip);
        EXPECT_EQ(full.substr(0, 127), layerTrayIconTip(dialog, 102));
        EXPECT_EQ(0, std::strncmp(calls[2].tip.c_str(), "Drive: \\\\.\\C:\nVolume: SYSTEM", 28));

        // The labels differ by their drawn character: compare each lamp with a fresh drawing.
        auto looksLike = [](HICON icon, const char *label) {
            HICON drawn = drawLabelIcon(trayState.templateIdle, label);
            const bool same = layerIconImage(icon) == layerIconImage(drawn);
            DestroyIcon(drawn);
            return same;
        };
        EXPECT_TRUE(looksLike(machine.physical->iconIdle, "1"));
        EXPECT_FALSE(looksLike(machine.physical->iconIdle, "2"));
        EXPECT_TRUE(looksLike(machine.driveC->iconIdle, "!"));
        EXPECT_TRUE(looksLike(machine.vram->iconIdle, "-"));

        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

TEST(TrayIcons, ForgottenIconsAreAddedAgainAtTheNextPass)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.pass(dialog);
        machine.pass(dialog);
        // What a restarted shell leaves: no icon at all.
        removeAllTrayIcons(dialog, &machine.cursor);
        for (Unit *unit : {machine.physical, machine.driveC, machine.ram, machine.vram})
            unit->trayIconAdded = unit->unitId;

        forgetTrayIcons(&machine.cursor);
        EXPECT_EQ((Calls{"ADD 103", "ADD 102", "ADD 101", "ADD 100"}), machine.pass(dialog));
        EXPECT_EQ((Calls{"MODIFY 103", "MODIFY 102", "MODIFY 101", "MODIFY 100"}), machine.pass(dialog));
        EXPECT_EQ(4, layerTrayIconCount());

        // The single lamp too.
        machine.options.singleIconMode = 1;
        machine.pass(dialog);
        forgetTrayIcons(&machine.cursor);
        removeAllTrayIcons(dialog, &machine.cursor);
        EXPECT_EQ(1, layerTrayIconCount()); // forgotten: not deleted by the program
        NOTIFYICONDATAA gone = {};
        gone.cbSize = NOTIFYICONDATAA_V3_SIZE;
        gone.hWnd = dialog;
        Shell_NotifyIconA(NIM_DELETE, &gone);
        EXPECT_EQ("ADD 0", machine.pass(dialog).at(0));
        EXPECT_EQ(1, layerTrayIconCount());
        removeAllTrayIcons(dialog, &machine.cursor);
        EXPECT_EQ(0, layerTrayIconCount());
    });
}

TEST(TrayIcons, AThousandMeterRedrawsHoldAConstantNumberOfObjects)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.ram->activity = ACT_METER;
        machine.pass(dialog);
        machine.pass(dialog);
        const int icons = layerIconCount();
        const int objects = layerGdiObjectCount();
        for (int i = 0; i < 1000; ++i) {
            machine.ram->percent = i % 101;
            machine.ram->changed = 1;
            ASSERT_EQ(Calls{"MODIFY 102"}, machine.pass(dialog));
        }
        EXPECT_EQ(icons, layerIconCount());
        EXPECT_EQ(objects, layerGdiObjectCount());
        // The last drawing shows the last value: 90 % fills all but the top rows.
        EXPECT_EQ(90, machine.ram->percent);
        EXPECT_EQ(0x4040FFu, pixel(layerTrayIconImage(dialog, 102), 1, 5));
        EXPECT_EQ(0x400040u, pixel(layerTrayIconImage(dialog, 102), 1, 2));
        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

TEST(TrayIcons, AFailedLabelDrawingIsRetriedWithoutLosingTheOtherLamps)
{
    inDialog([](HWND dialog) {
        Machine machine;
        machine.pass(dialog);
        // An idle template that cannot be drawn from: every refresh finds no idle lamp and
        // draws the Unit's lamps again; those of the refresh before must not pile up.
        const HICON idle = trayState.templateIdle;
        trayState.templateIdle = reinterpret_cast<HICON>(uintptr_t(0x7ffe));
        machine.pass(dialog);
        EXPECT_EQ(nullptr, machine.driveC->iconIdle);
        EXPECT_NE(nullptr, machine.driveC->iconRead);
        const int icons = layerIconCount();
        for (int i = 0; i < 10; ++i) {
            machine.driveC->changed = 1;
            ASSERT_EQ(Calls{"MODIFY 101"}, machine.pass(dialog));
        }
        EXPECT_EQ(icons, layerIconCount());
        trayState.templateIdle = idle;
        machine.driveC->changed = 1;
        machine.pass(dialog);
        EXPECT_NE(nullptr, machine.driveC->iconIdle);
        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

// ---------------------------------------------------------------------------------------
// The Scroll Lock LED, watched on a real X server: every toggle of its indicator is counted.

struct LedWatch {
    Display *display = nullptr;
    int xkbEvent = 0;
    unsigned scrollBit = 0;

    LedWatch()
    {
        if (!std::getenv("DISPLAY"))
            return;
        int opcode, error, major = XkbMajorVersion, minor = XkbMinorVersion;
        display = XkbOpenDisplay(nullptr, &xkbEvent, &error, &major, &minor, &opcode);
        if (!display)
            return;
        // The keymap as shipped: Scroll Lock is no modifier, and the layer sets the indicator.
        int index = -1;
        XkbGetNamedIndicator(display, XInternAtom(display, "Scroll Lock", False), &index, nullptr, nullptr, nullptr);
        scrollBit = index >= 0 ? 1u << index : 0;
        XkbSelectEventDetails(display, XkbUseCoreKbd, XkbIndicatorStateNotify, scrollBit, scrollBit);
        XSync(display, False);
    }

    ~LedWatch()
    {
        if (display)
            XCloseDisplay(display);
    }

    bool lit()
    {
        unsigned state = 0;
        XkbGetIndicatorState(display, XkbUseCoreKbd, &state);
        return state & scrollBit;
    }

    int toggles()
    {
        XSync(display, False);
        int count = 0;
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == xkbEvent) {
                auto *xkb = reinterpret_cast<XkbEvent *>(&event);
                if (xkb->any.xkb_type == XkbIndicatorStateNotify && (xkb->indicators.changed & scrollBit))
                    ++count;
            }
        }
        return count;
    }
};

TEST(TrayIcons, TheKeyboardLedIsSetOncePerPassFromTheWholePass)
{
    LedWatch led;
    if (!led.display || !led.scrollBit)
        GTEST_SKIP() << "needs an X server with XKB";
    inDialog([&led](HWND dialog) {
        Machine machine;
        machine.options.singleIconMode = 1;
        machine.options.keyboardLed = 1;
        machine.pass(dialog);
        machine.pass(dialog);
        if (led.lit())
            machine.pass(dialog);
        led.toggles();
        ASSERT_FALSE(led.lit());

        // A drive read: on, with one toggle.
        machine.driveC->activity = ACT_READ;
        machine.driveC->changed = 1;
        machine.pass(dialog);
        EXPECT_TRUE(led.lit());
        EXPECT_EQ(1, led.toggles());

        // Read again: it stays on, never switched off and on within the pass.
        machine.driveC->changed = 1;
        machine.pass(dialog);
        EXPECT_TRUE(led.lit());
        EXPECT_EQ(0, led.toggles());

        // Nothing changed: off.
        machine.pass(dialog);
        EXPECT_FALSE(led.lit());
        EXPECT_EQ(1, led.toggles());

        // Leaving single icon mode switches it off, as the last pass with the lamp left it.
        machine.driveC->changed = 1;
        machine.pass(dialog);
        led.toggles();
        machine.options.singleIconMode = 0;
        machine.pass(dialog);
        EXPECT_FALSE(led.lit());
        EXPECT_EQ(1, led.toggles());

        removeAllTrayIcons(dialog, &machine.cursor);
    });
}

} // namespace
