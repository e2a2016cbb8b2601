// The main dialog driven through Win32 only: runs on the layer and under Wine alike.
#include "app/main_dialog.h"
#include "res/resource.h"
#include "tests/support/main_dialog_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string controlText(HWND dialog, int id)
{
    char text[64];
    std::memset(text, 0xcc, sizeof text);
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string fileText(const std::string &path)
{
    std::string text;
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

void press(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

} // namespace

TEST(MainDialog, StartsMonitoringWithTheLoadedIntervalAfterInitialisation)
{
    std::string title, caption;
    bool placementPendingAtStep = true;
    std::vector<DialogStep> steps = {[&](HWND dialog) {
        char text[128] = "";
        GetWindowTextA(dialog, text, sizeof text);
        title = text;
        caption = controlText(dialog, IDC_START);
    }};
    steps.resize(20, [](HWND) {}); // about a second at 50 ms a step
    steps.push_back([&](HWND) { placementPendingAtStep = generalOptions.placementPending; });
    DialogRun run = runMainDialog("[GENERALOPTIONS]\r\nPollinterval=400\r\n", steps, 50);
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(0u, title.rfind("TallowLAMP V1.05 - ", 0)) << title;
    EXPECT_EQ("Disable", caption);
    // The posted Start ran after the settings were loaded, so the timer took their interval.
    // The edits' change notifications during initialisation come first, the Start after them.
    const UINT startClick = MAKELONG(IDC_START, BN_CLICKED), pollChange = MAKELONG(IDC_POLL_INTERVAL, EN_CHANGE);
    auto start = std::find(run.notices.begin(), run.notices.end(), startClick);
    ASSERT_NE(run.notices.end(), start);
    EXPECT_NE(start, std::find(run.notices.begin(), start, pollChange));
    EXPECT_EQ(run.notices.end(), std::find(start, run.notices.end(), pollChange));
    EXPECT_EQ(400u, run.pollIntervalAtFirstStart);
    EXPECT_EQ(TIMER_POLL, (int)generalOptions.pollTimerId);
    // About a second of steps at 400 ms: the default 100 ms would have ticked about ten times.
    EXPECT_GE(run.pollTicks, 1);
    EXPECT_LE(run.pollTicks, 4);
    EXPECT_FALSE(placementPendingAtStep);
}

TEST(MainDialog, StartPressedTwiceStopsAndRestarts)
{
    std::string afterFirst, afterSecond;
    BOOL monitoringAfterFirst = TRUE, monitoringAfterSecond = FALSE, pollTimerKilled = FALSE;
    runMainDialog("", {[&](HWND dialog) {
                           press(dialog, IDC_START);
                           afterFirst = controlText(dialog, IDC_START);
                           monitoringAfterFirst = MonitoringOn;
                           // Stopped means the poll timer is gone: killing it again fails.
                           pollTimerKilled = !KillTimer(dialog, TIMER_POLL);
                       },
                       [&](HWND dialog) {
                           press(dialog, IDC_START);
                           afterSecond = controlText(dialog, IDC_START);
                           monitoringAfterSecond = MonitoringOn;
                       }});
    EXPECT_EQ("Enable", afterFirst);
    EXPECT_FALSE(monitoringAfterFirst);
    EXPECT_TRUE(pollTimerKilled);
    EXPECT_EQ("Disable", afterSecond);
    EXPECT_TRUE(monitoringAfterSecond);
}

TEST(MainDialog, TrayDoubleClicksShowAndHideFromAnUncountedStart)
{
    std::vector<std::pair<BOOL, BOOL>> seen; // windowVisible, IsWindowVisible
    auto doubleClick = [&](HWND dialog) {
        SendMessageA(dialog, WM_TRAY_CALLBACK, 100, WM_LBUTTONDBLCLK);
        seen.push_back({generalOptions.windowVisible, IsWindowVisible(dialog)});
    };
    runMainDialog("", {[&](HWND dialog) { seen.push_back({generalOptions.windowVisible, IsWindowVisible(dialog)}); },
                       doubleClick, doubleClick, doubleClick,
                       [&](HWND dialog) {
                           // Other mouse messages on a tray icon do nothing.
                           SendMessageA(dialog, WM_TRAY_CALLBACK, 100, WM_RBUTTONDOWN);
                           seen.push_back({generalOptions.windowVisible, IsWindowVisible(dialog)});
                       }});
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ(std::make_pair(BOOL(0), BOOL(1)), seen[0]); // shown, but not counted as shown
    EXPECT_EQ(std::make_pair(BOOL(1), BOOL(1)), seen[1]); // first double click only brings it up
    EXPECT_EQ(0, seen[2].first);
    EXPECT_FALSE(seen[2].second);
    EXPECT_EQ(std::make_pair(BOOL(1), BOOL(1)), seen[3]);
    EXPECT_EQ(seen[3], seen[4]);
}

TEST(MainDialog, EnterSavesAndEscapeEndsWithZero)
{
    std::string path = settingsPathBesideExecutable();
    bool savedWhileOpen = false;
    DialogRun run = runMainDialog("", {[&](HWND dialog) {
                                           HWND edit = GetDlgItem(dialog, IDC_POLL_INTERVAL);
                                           SetFocus(edit);
                                           PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
                                       },
                                       [&](HWND dialog) {
                                           savedWhileOpen = IsWindow(dialog) &&
                                                            fileText(path).find("Pollinterval=100") != std::string::npos;
                                           HWND edit = GetDlgItem(dialog, IDC_POLL_INTERVAL);
                                           SetFocus(edit);
                                           PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
                                       },
                                       [](HWND dialog) {
                                           // Escape must have ended the dialog before this step.
                                           ADD_FAILURE() << "dialog still open after Esc";
                                           EndDialog(dialog, 99);
                                       }});
    EXPECT_TRUE(savedWhileOpen);
    EXPECT_EQ(0, run.result);
    ASSERT_GE(run.clicks.size(), 3u);
    EXPECT_EQ(IDC_APPLY, (int)run.clicks[run.clicks.size() - 2]);
    EXPECT_EQ(IDC_QUIT, (int)run.clicks.back());
    std::remove(path.c_str());
}

TEST(MainDialog, FirstPaintPlacesTheWindowAtTheSavedRectangle)
{
    RECT normal = {};
    runMainDialog("[GENERALOPTIONS]\r\nWindowPosLeft=150\r\nWindowPosTop=120\r\n"
                  "WindowPosRight=720\r\nWindowPosBottom=560\r\n",
                  {[&](HWND dialog) {
                      WINDOWPLACEMENT placement = {};
                      placement.length = sizeof placement;
                      GetWindowPlacement(dialog, &placement);
                      normal = placement.rcNormalPosition;
                  }});
    EXPECT_EQ(150, normal.left);
    EXPECT_EQ(120, normal.top);
    EXPECT_EQ(720, normal.right);
    EXPECT_EQ(560, normal.bottom);
}

TEST(MainDialog, QuitAndTrayRightDoubleClickEndTheProgramWithoutSaving)
{
    std::string path = settingsPathBesideExecutable();
    DialogRun quit = runMainDialog("", {[](HWND dialog) { press(dialog, IDC_QUIT); },
                                        [](HWND dialog) { EndDialog(dialog, 99); }});
    EXPECT_EQ(0, quit.result);
    DialogRun tray = runMainDialog("", {[](HWND dialog) { SendMessageA(dialog, WM_TRAY_CALLBACK, 0, WM_RBUTTONDBLCLK); },
                                        [](HWND dialog) { EndDialog(dialog, 99); }});
    EXPECT_EQ(0, tray.result);
    EXPECT_TRUE(fileText(path).empty());
}

TEST(MainDialog, EditRulesBringTheLoadedNumbersIntoRange)
{
    std::string pollText, delayText;
    runMainDialog("[GENERALOPTIONS]\r\nPollinterval=5\r\nStartwithosdelay=0\r\nPollintervalmeters=70000\r\n",
                  {[&](HWND dialog) {
                      pollText = controlText(dialog, IDC_POLL_INTERVAL);
                      delayText = controlText(dialog, IDC_STARTUP_DELAY);
                  }});
    // The fields are corrected while the edits keep showing what was set.
    EXPECT_EQ(25u, generalOptions.pollInterval);
    EXPECT_EQ(1, generalOptions.startWithOsDelay);
    EXPECT_EQ(10000u, generalOptions.pollIntervalMeters);
    EXPECT_EQ("5", pollText);
    EXPECT_EQ("0", delayText);
}
