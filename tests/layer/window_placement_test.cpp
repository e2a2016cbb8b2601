// SetWindowPlacement as Windows does it, on the screen the tests run on (no window manager,
// so the window has Windows' frame of a dialog around its client): a rectangle wholly off the screens comes back into
// the work area at its size; one partly on a screen stays where it is; one of no size, or
// turned inside out, keeps the dialog's own size, so that the window stays whole.
#include "platform/layer_testing.h"
#include "res/resource.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

std::function<void(HWND)> check;

INT_PTR CALLBACK placementProc(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        check(dialog);
        EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

RECT placed(HWND dialog, RECT wanted)
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    EXPECT_TRUE(GetWindowPlacement(dialog, &placement));
    placement.rcNormalPosition = wanted;
    EXPECT_TRUE(SetWindowPlacement(dialog, &placement));
    EXPECT_TRUE(GetWindowPlacement(dialog, &placement));
    return placement.rcNormalPosition;
}

::testing::AssertionResult within(const RECT &r, const QRect &area)
{
    if (r.left >= area.left() && r.top >= area.top() && r.right <= area.right() + 1 && r.bottom <= area.bottom() + 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << r.left << "," << r.top << "," << r.right << "," << r.bottom << " outside "
                                         << area.left() << "," << area.top() << "," << area.right() + 1 << ","
                                         << area.bottom() + 1;
}

} // namespace

TEST(WindowPlacement, ARectangleOutOfReachComesBackWhole)
{
    check = [](HWND dialog) {
        QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        RECT own;
        ASSERT_TRUE(GetWindowRect(dialog, &own));
        // The template's size, as the dialog has it before any placement, in a dialog's frame
        // of 3 pixels and a 25-pixel caption.
        LONG width = own.right - own.left, height = own.bottom - own.top;
        EXPECT_EQ(522 + 6, width);
        EXPECT_EQ(377 + 31, height);

        // No size, or inside out: the window's size stays, at the rectangle's corner.
        RECT empty[] = {{200, 150, 200, 150}, {400, 300, 100, 100}, {300, 200, 310, 200}};
        for (const RECT &wanted : empty) {
            RECT r = placed(dialog, wanted);
            EXPECT_EQ(wanted.left, r.left);
            EXPECT_EQ(wanted.top, r.top);
            EXPECT_EQ(width, r.right - r.left);
            EXPECT_EQ(height, r.bottom - r.top);
        }
        // A corner off the screen with no size: on the screen, whole.
        RECT r = placed(dialog, {-9000, -9000, -9000, -9000});
        EXPECT_TRUE(within(r, area));
        EXPECT_EQ(width, r.right - r.left);

        struct {
            RECT wanted;
            const char *what;
        } offScreen[] = {
            {{3000, -2000, 3530, -1590}, "beyond the right and above"},
            {{-5000, 100, -4470, 510}, "far to the left"},
            {{100, 9000, 630, 9410}, "far below"},
        };
        for (const auto &c : offScreen) {
            r = placed(dialog, c.wanted);
            EXPECT_TRUE(within(r, area)) << c.what;
            EXPECT_EQ(530, r.right - r.left) << c.what;
            EXPECT_EQ(410, r.bottom - r.top) << c.what;
        }

        // Partly on the screen: Windows leaves it where it is.
        RECT partly = {area.right() - 100, 50, area.right() + 430, 460};
        r = placed(dialog, partly);
        EXPECT_EQ(partly.left, r.left);
        EXPECT_EQ(partly.right, r.right);

        // The default rectangle: the client is where that frame leaves it, and it comes back.
        r = placed(dialog, {100, 100, 630, 510});
        EXPECT_EQ(QRect(103, 128, 524, 379), layerWindowWidget(dialog)->geometry());
        EXPECT_TRUE(r.left == 100 && r.top == 100 && r.right == 630 && r.bottom == 510)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    };
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "THIS MACHINE DIFFERS: no display to place windows on (run it under Xvfb, as ctest is)";
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    ASSERT_EQ(1, DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, placementProc, 0));
}
