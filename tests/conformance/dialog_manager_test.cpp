// The dialog manager, the queue and the controls, driven through Win32 alone over the
// program's own dialog 100: the same cases run on Windows (Wine) and on the Linux layer.
// Each test runs the dialog modally and acts from a timer inside the modal loop, so the
// steps see the queue as the program does; a recorder keeps the messages that reach the
// dialog procedure.
#include "platform/win32.h"
#include "res/resource.h"

#include "tests/support/known_differences.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Entry {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Entry &) const = default;
};

void PrintTo(const Entry &entry, std::ostream *out)
{
    *out << "{0x" << std::hex << entry.message << ", 0x" << entry.wParam << ", 0x" << entry.lParam << "}";
}

using Step = std::function<void(HWND dialog)>;
// Answers a message for the test; nullopt-like -1 leaves it to the recorder's default.
using Handler = std::function<INT_PTR(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)>;

constexpr UINT_PTR kStepTimer = 0x5157;
constexpr INT_PTR kEndedByScript = 0x600d;
constexpr INT_PTR kNotHandled = -1;

struct Session {
    std::vector<Entry> log;
    std::vector<Step> steps;
    size_t nextStep = 0;
    Step onInit;
    Handler handler;
};

Session *session;

bool recorded(UINT message, WPARAM wParam)
{
    if (message == WM_TIMER)
        return wParam != kStepTimer;
    return message == WM_INITDIALOG || message == WM_COMMAND || message == WM_CLOSE || message == WM_PAINT ||
           (message >= WM_APP && message < WM_APP + 0x100);
}

INT_PTR CALLBACK recorderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kStepTimer) {
        if (session->nextStep < session->steps.size())
            session->steps[session->nextStep++](dialog);
        else
            EndDialog(dialog, kEndedByScript);
        return TRUE;
    }
    if (recorded(message, wParam))
        session->log.push_back({message, wParam, lParam});
    if (message == WM_INITDIALOG) {
        SetTimer(dialog, kStepTimer, 60, NULL);
        if (session->onInit)
            session->onInit(dialog);
        return TRUE;
    }
    if (session->handler) {
        INT_PTR answer = session->handler(dialog, message, wParam, lParam);
        if (answer != kNotHandled)
            return answer;
    }
    // WM_CLOSE and WM_PAINT go on to the default processing.
    return FALSE;
}

INT_PTR runDialog(Session &script)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    session = &script;
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, recorderProc, 0x1234);
    session = nullptr;
    return result;
}

std::vector<Entry> only(const std::vector<Entry> &log, UINT message)
{
    std::vector<Entry> kept;
    for (const Entry &entry : log)
        if (entry.message == message)
            kept.push_back(entry);
    return kept;
}

size_t firstIndex(const std::vector<Entry> &log, UINT message, WPARAM wParam)
{
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].message == message && (message == WM_PAINT || log[i].wParam == wParam))
            return i;
    return size_t(-1);
}

bool noDisplay()
{
#ifdef _WIN32
    return false;
#else
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    return platform && std::strcmp(platform, "offscreen") == 0;
#endif
}

} // namespace

TEST(DialogManager, PostedMessagesComeBeforeThePaintAndThePaintBeforeTheTimer)
{
    constexpr UINT_PTR kTimer = 77;
    Session script;
    script.onInit = [](HWND dialog) {
        SetTimer(dialog, kTimer, 10, NULL);
        PostMessageA(dialog, WM_APP, 1, 2);
        PostMessageA(dialog, WM_APP + 1, 3, 4);
        Sleep(50); // the timer is due before the loop starts
    };
    script.steps = {[](HWND dialog) { KillTimer(dialog, kTimer); }};
    ASSERT_EQ(kEndedByScript, runDialog(script));

    ASSERT_FALSE(script.log.empty());
    EXPECT_EQ(WM_INITDIALOG, script.log[0].message);
    EXPECT_EQ(0x1234, script.log[0].lParam);
    size_t app = firstIndex(script.log, WM_APP, 1);
    size_t app1 = firstIndex(script.log, WM_APP + 1, 3);
    size_t paint = firstIndex(script.log, WM_PAINT, 0);
    size_t timer = firstIndex(script.log, WM_TIMER, kTimer);
    ASSERT_NE(size_t(-1), paint);
    ASSERT_NE(size_t(-1), timer);
    EXPECT_EQ(1u, app);
    EXPECT_EQ(2u, app1);
    EXPECT_LT(app1, paint);
    EXPECT_LT(paint, timer);
    EXPECT_EQ((Entry{WM_APP + 1, 3, 4}), script.log[app1]);
}

TEST(DialogManager, TimersCoalesceReplaceAndDieQuietly)
{
    constexpr UINT_PTR kTimer = 78;
    int waiting = 0;
    UINT_PTR replaced = 0;
    BOOL killedUnknown = TRUE, killedKnown = FALSE;
    size_t ticksBeforeReplacing = 0;
    Session script;
    script.steps = {
        [&](HWND dialog) {
            SetTimer(dialog, kTimer, 50, NULL);
            Sleep(500); // ten periods pass while the program is busy
            MSG msg;
            while (PeekMessageA(&msg, dialog, WM_TIMER, WM_TIMER, PM_REMOVE))
                waiting += msg.wParam == kTimer;
        },
        [&](HWND dialog) {
            ticksBeforeReplacing = only(script.log, WM_TIMER).size();
            replaced = SetTimer(dialog, kTimer, 5000, NULL);
        },
        [&](HWND dialog) {
            killedKnown = KillTimer(dialog, kTimer);
            killedUnknown = KillTimer(dialog, 0xbad);
        },
    };
    ASSERT_EQ(kEndedByScript, runDialog(script));
    // A timer that fell due many times while nothing was read gives one WM_TIMER, not a burst.
    EXPECT_EQ(1, waiting);
    EXPECT_EQ(kTimer, replaced);
    EXPECT_TRUE(killedKnown);
    EXPECT_FALSE(killedUnknown);
    // Replaced by a 5 s period, the timer never ticked again before it was killed.
    EXPECT_EQ(ticksBeforeReplacing, only(script.log, WM_TIMER).size());
}

TEST(DialogManager, RegisteredMessagesAreSharedByNameWithoutRegardToCase)
{
    UINT first = RegisterWindowMessageA("TallowLAMP conformance message");
    UINT again = RegisterWindowMessageA("TALLOWLAMP CONFORMANCE MESSAGE");
    UINT other = RegisterWindowMessageA("TallowLAMP conformance message 2");
    EXPECT_GE(first, 0xC000u);
    EXPECT_LE(first, 0xFFFFu);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, RegisterWindowMessageA(""));
}

TEST(DialogManager, EditTextChangesNotifyFromInsideTheSettingCall)
{
    std::vector<Entry> duringInt, duringSameText;
    UINT valueSeenByHandler = 0;
    HWND edit = NULL;
    Session script;
    script.handler = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDC_POLL_INTERVAL, EN_CHANGE))
            valueSeenByHandler = GetDlgItemInt(dialog, IDC_POLL_INTERVAL, NULL, FALSE);
        return kNotHandled;
    };
    script.steps = {[&](HWND dialog) {
        edit = GetDlgItem(dialog, IDC_POLL_INTERVAL);
        size_t before = script.log.size();
        EXPECT_TRUE(SetDlgItemInt(dialog, IDC_POLL_INTERVAL, 4321, FALSE));
        duringInt.assign(script.log.begin() + before, script.log.end());
        // The same text again is a change all the same.
        before = script.log.size();
        SetWindowTextA(edit, "4321");
        duringSameText.assign(script.log.begin() + before, script.log.end());
    }};
    ASSERT_EQ(kEndedByScript, runDialog(script));
    Entry update = {WM_COMMAND, MAKEWPARAM(IDC_POLL_INTERVAL, EN_UPDATE), (LPARAM)edit};
    Entry change = {WM_COMMAND, MAKEWPARAM(IDC_POLL_INTERVAL, EN_CHANGE), (LPARAM)edit};
    EXPECT_EQ((std::vector<Entry>{update, change}), duringInt);
    EXPECT_EQ((std::vector<Entry>{update, change}), duringSameText);
    EXPECT_EQ(4321u, valueSeenByHandler);
}

TEST(DialogManager, ClicksFlipAutoCheckBoxesBeforeNotifyingAndSetCheckStaysSilent)
{
    std::vector<Entry> duringClick, duringBitClick, duringCheck;
    UINT stateSeenByHandler = 99, stateAfterClick = 99, bitAfterClick = 99, stateAfterCheck = 99;
    HWND box = NULL, bit = NULL;
    Session script;
    script.handler = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDC_SHOW_IN_TRAY, BN_CLICKED))
            stateSeenByHandler = IsDlgButtonChecked(dialog, IDC_SHOW_IN_TRAY);
        return kNotHandled;
    };
    script.steps = {[&](HWND dialog) {
        box = GetDlgItem(dialog, IDC_SHOW_IN_TRAY);
        bit = GetDlgItem(dialog, IDC_WRITE_BIT3);
        size_t before = script.log.size();
        SendMessageA(box, BM_CLICK, 0, 0);
        duringClick.assign(script.log.begin() + before, script.log.end());
        stateAfterClick = IsDlgButtonChecked(dialog, IDC_SHOW_IN_TRAY);

        before = script.log.size();
        SendMessageA(bit, BM_CLICK, 0, 0);
        duringBitClick.assign(script.log.begin() + before, script.log.end());
        bitAfterClick = (UINT)SendMessageA(bit, BM_GETCHECK, 0, 0);

        before = script.log.size();
        CheckDlgButton(dialog, IDC_SHOW_IN_TRAY, BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_READ_BIT1, BST_CHECKED);
        SendMessageA(bit, BM_SETCHECK, BST_UNCHECKED, 0);
        duringCheck.assign(script.log.begin() + before, script.log.end());
        stateAfterCheck = IsDlgButtonChecked(dialog, IDC_SHOW_IN_TRAY) | IsDlgButtonChecked(dialog, IDC_READ_BIT1) << 1 |
                          (UINT)SendMessageA(bit, BM_GETCHECK, 0, 0) << 2;
    }};
    ASSERT_EQ(kEndedByScript, runDialog(script));
    EXPECT_EQ((std::vector<Entry>{{WM_COMMAND, MAKEWPARAM(IDC_SHOW_IN_TRAY, BN_CLICKED), (LPARAM)box}}), duringClick);
    EXPECT_EQ(BST_CHECKED, stateSeenByHandler); // flipped before the parent heard of it
    EXPECT_EQ(BST_CHECKED, stateAfterClick);
    EXPECT_EQ((std::vector<Entry>{{WM_COMMAND, MAKEWPARAM(IDC_WRITE_BIT3, BN_CLICKED), (LPARAM)bit}}), duringBitClick);
    EXPECT_EQ(BST_CHECKED, bitAfterClick);
    EXPECT_TRUE(duringCheck.empty());
    EXPECT_EQ(2u, stateAfterCheck); // only the read bit 1 ticked
}

TEST(DialogManager, DialogItemTextAndNumbers)
{
    struct Case {
        const char *text;
        BOOL isSigned;
        UINT value;
        BOOL translated;
    };
    const Case cases[] = {
        /* 0 */ {"1500", FALSE, 1500, TRUE},
        /* 1 */ {"", FALSE, 0, FALSE},
        /* 2 */ {"  42", FALSE, 42, TRUE},
        /* 3 */ {"3000000000", FALSE, 3000000000u, TRUE},
        /* 4 */ {"4294967296", FALSE, 0, FALSE},
        /* 5 */ {"-5", TRUE, UINT(-5), TRUE},
        /* 6 */ {"3000000000", TRUE, 0, FALSE},
        /* 7 */ {"x1", FALSE, 0, FALSE},
    };
    std::vector<std::pair<UINT, BOOL>> got;
    char truncated[8], missing[8];
    UINT truncatedLength = 99, missingLength = 99;
    Session script;
    script.steps = {[&](HWND dialog) {
        for (const Case &c : cases) {
            SetDlgItemTextA(dialog, IDC_STARTUP_DELAY, c.text);
            BOOL translated = 0x77;
            UINT value = GetDlgItemInt(dialog, IDC_STARTUP_DELAY, &translated, c.isSigned);
            got.push_back({value, translated});
        }
        SetDlgItemTextA(dialog, IDC_STARTUP_DELAY, "123456789");
        std::memset(truncated, 0xcc, sizeof truncated);
        truncatedLength = GetDlgItemTextA(dialog, IDC_STARTUP_DELAY, truncated, sizeof truncated);
        std::memset(missing, 0xcc, sizeof missing);
        missingLength = GetDlgItemTextA(dialog, 4242, missing, sizeof missing);
    }};
    ASSERT_EQ(kEndedByScript, runDialog(script));
    ASSERT_EQ(std::size(cases), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(cases[i].value, got[i].first) << "case " << i;
        EXPECT_EQ(cases[i].translated, got[i].second) << "case " << i;
    }
    EXPECT_EQ(7u, truncatedLength);
    EXPECT_STREQ("1234567", truncated);
    EXPECT_EQ(0u, missingLength);
    EXPECT_EQ(0, missing[0]);
}

TEST(DialogManager, EnterAndEscapeOnAnEditBecomeCommands)
{
    HWND apply = NULL, quit = NULL;
    Session script;
    script.steps = {
        [&](HWND dialog) {
            apply = GetDlgItem(dialog, IDC_APPLY);
            quit = GetDlgItem(dialog, IDC_QUIT);
            HWND edit = GetDlgItem(dialog, IDC_POLL_INTERVAL);
            SetFocus(edit);
            PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
        },
        [&](HWND dialog) {
            HWND edit = GetDlgItem(dialog, IDC_STARTUP_DELAY);
            SetFocus(edit);
            PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
        },
    };
    ASSERT_EQ(kEndedByScript, runDialog(script));
    std::vector<Entry> commands, focus;
    for (const Entry &entry : only(script.log, WM_COMMAND)) {
        WORD code = HIWORD(entry.wParam);
        (code == EN_SETFOCUS || code == EN_KILLFOCUS ? focus : commands).push_back(entry);
    }
    // Enter: the default button's command ("Apply" is the template's default button and
    // IDOK); Esc: IDCANCEL with the Cancel button ("Quit") as the control.
    EXPECT_EQ((std::vector<Entry>{{WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)apply},
                                  {WM_COMMAND, IDCANCEL, (LPARAM)quit}}),
              commands);
    // The edits tell the dialog as the focus moves from one to the other.
    ASSERT_GE(focus.size(), 3u);
    EXPECT_EQ(MAKEWPARAM(IDC_POLL_INTERVAL, EN_SETFOCUS), focus[0].wParam);
    EXPECT_EQ(MAKEWPARAM(IDC_POLL_INTERVAL, EN_KILLFOCUS), focus[1].wParam);
    EXPECT_EQ(MAKEWPARAM(IDC_STARTUP_DELAY, EN_SETFOCUS), focus[2].wParam);
}

TEST(DialogManager, TabMovesTheFocusAlongTheTabStopsInTemplateOrder)
{
    std::vector<int> focused;
    Session script;
    auto tab = [&](HWND dialog) { PostMessageA(GetFocus() ? GetFocus() : dialog, WM_KEYDOWN, VK_TAB, 1); };
    auto note = [&](HWND) { focused.push_back(GetDlgCtrlID(GetFocus())); };
    script.steps = {
        [&](HWND dialog) {
            // WM_INITDIALOG answered TRUE: the first tab stop has the focus.
            note(dialog);
            SetFocus(GetDlgItem(dialog, IDC_POLL_INTERVAL));
            tab(dialog);
        },
        [&](HWND dialog) {
            note(dialog);
            // A disabled control is passed over.
            EnableWindow(GetDlgItem(dialog, IDC_QUIT), FALSE);
            tab(dialog);
        },
        [&](HWND dialog) {
            note(dialog);
            SetFocus(GetDlgItem(dialog, IDC_START_WITH_OS));
            tab(dialog);
        },
        note,
    };
    ASSERT_EQ(kEndedByScript, runDialog(script));
    // About is the first control; after edit 143 comes Apply; with Quit disabled Apply is
    // followed by "Show in tray"; after "Start with os" the edit 150 ("Delay seconds" is
    // not a tab stop).
    EXPECT_EQ((std::vector<int>{IDC_ABOUT, IDC_APPLY, IDC_SHOW_IN_TRAY, IDC_STARTUP_DELAY}), focused);
}

TEST(DialogManager, CloseAnsweredFalseBecomesCancelAndEndDialogEndsAfterTheMessage)
{
    HWND quit = NULL;
    BOOL visibleAfterEnd = TRUE, windowAfterEnd = FALSE;
    Session script;
    script.handler = [&](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_APP + 5) {
            EndDialog(dialog, 4711);
            // Hidden at once, destroyed only when the loop has ended.
            visibleAfterEnd = IsWindowVisible(dialog);
            windowAfterEnd = IsWindow(dialog);
            PostMessageA(dialog, WM_APP + 6, 0, 0);
            return TRUE;
        }
        return kNotHandled;
    };
    script.steps = {
        [&](HWND dialog) {
            quit = GetDlgItem(dialog, IDC_QUIT);
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) { PostMessageA(dialog, WM_APP + 5, 0, 0); },
    };
    EXPECT_EQ(4711, runDialog(script));
    EXPECT_EQ((std::vector<Entry>{{WM_CLOSE, 0, 0}, {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)quit}}),
              std::vector<Entry>(script.log.end() - 3, script.log.end() - 1));
    EXPECT_EQ(WM_APP + 5, script.log.back().message); // WM_APP + 6 never came
    EXPECT_FALSE(visibleAfterEnd);
    EXPECT_TRUE(windowAfterEnd);
}

TEST(DialogManager, WindowPlacementRoundTrip)
{
    static_assert(sizeof(WINDOWPLACEMENT) == 44);
    WINDOWPLACEMENT read;
    RECT outer = {}, moved = {};
    BOOL gotPlacement = FALSE, setPlacement = FALSE, setBadLength = TRUE;
    DWORD badLengthError = 0;
    WINDOWPLACEMENT after = {};
    Session script;
    script.steps = {[&](HWND dialog) {
        std::memset(&read, 0xcc, sizeof read);
        read.length = sizeof read;
        gotPlacement = GetWindowPlacement(dialog, &read);
        GetWindowRect(dialog, &outer);

        WINDOWPLACEMENT wanted = read;
        wanted.rcNormalPosition = {150, 120, 720, 560};
        setPlacement = SetWindowPlacement(dialog, &wanted);
        GetWindowRect(dialog, &moved);
        after.length = sizeof after;
        GetWindowPlacement(dialog, &after);

        wanted.length = 0;
        SetLastError(0xdeadbeef);
        setBadLength = SetWindowPlacement(dialog, &wanted);
        badLengthError = GetLastError();
    }};
    ASSERT_EQ(kEndedByScript, runDialog(script));
    ASSERT_TRUE(gotPlacement);
    EXPECT_EQ(44u, read.length);
    EXPECT_EQ((UINT)SW_SHOWNORMAL, read.showCmd);
    // The normal rectangle is the outer one, frame included.
    EXPECT_EQ(outer.left, read.rcNormalPosition.left);
    EXPECT_EQ(outer.top, read.rcNormalPosition.top);
    EXPECT_EQ(outer.right, read.rcNormalPosition.right);
    EXPECT_EQ(outer.bottom, read.rcNormalPosition.bottom);
    EXPECT_TRUE(setPlacement);
    EXPECT_EQ(150, moved.left);
    EXPECT_EQ(120, moved.top);
    EXPECT_EQ(720, moved.right);
    EXPECT_EQ(560, moved.bottom);
    EXPECT_EQ(720, after.rcNormalPosition.right);
    EXPECT_EQ(560, after.rcNormalPosition.bottom);
    EXPECT_FALSE(setBadLength);
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, badLengthError);
}

TEST(DialogManager, MessageBoxRunsItsOwnLoopWhileTimersTick)
{
    if (noDisplay())
        GTEST_SKIP() << "without a display a message box answers at once";
    constexpr UINT_PTR kBoxTimer = 90, kTicker = 91;
    constexpr const char *kCaption = "TallowLAMP conformance box";
    int ticksWhileOpen = 0, answerOk = 0, answerNo = 0, answerClosed = 0;
    HWND box = NULL;
    int phase = 0;
    Session script;
    script.handler = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_TIMER && wParam == kBoxTimer) {
            KillTimer(dialog, kBoxTimer);
            answerOk = MessageBoxA(dialog, "Answered by a posted IDOK.", kCaption, MB_OK | MB_ICONINFORMATION);
            phase = 1;
            answerNo = MessageBoxA(dialog, "Answered by a posted IDNO.", kCaption, MB_YESNO | MB_ICONEXCLAMATION);
            phase = 2;
            answerClosed = MessageBoxA(dialog, "Answered by WM_CLOSE.", kCaption, MB_OK);
            phase = 3;
            return TRUE;
        }
        if (message == WM_TIMER && wParam == kTicker) {
            if (phase == 0 && ++ticksWhileOpen == 5) {
                box = FindWindowA("#32770", kCaption);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            } else if (phase == 1) {
                PostMessageA(FindWindowA("#32770", kCaption), WM_COMMAND, IDNO, 0);
                phase = 10;
            } else if (phase == 2) {
                PostMessageA(FindWindowA("#32770", kCaption), WM_CLOSE, 0, 0);
                phase = 20;
            }
            return TRUE;
        }
        return kNotHandled;
    };
    script.steps = {[&](HWND dialog) {
                        SetTimer(dialog, kTicker, 20, NULL);
                        SetTimer(dialog, kBoxTimer, 10, NULL);
                    },
                    [&](HWND dialog) {
                        // Steps tick inside the boxes' loops too: wait for the last answer.
                        if (phase != 3)
                            --session->nextStep;
                        else
                            KillTimer(dialog, kTicker);
                    }};
    ASSERT_EQ(kEndedByScript, runDialog(script));
    EXPECT_NE((HWND)NULL, box);
    EXPECT_NE(FindWindowA("#32770", kCaption), box); // gone with its answer
    EXPECT_EQ(5, ticksWhileOpen);
    EXPECT_EQ(IDOK, answerOk);
    EXPECT_EQ(IDNO, answerNo);
    // Closing a box without a Cancel button answers its OK; Wine answers IDCANCEL.
    if (expectWindowsAnswer(true))
        EXPECT_EQ(IDOK, answerClosed);
    else
        EXPECT_EQ(IDCANCEL, answerClosed);
    EXPECT_EQ(3, phase);
}

TEST(DialogManager, AMissingTemplateFailsWithMinusOne)
{
    constexpr DWORD kErrorResourceNameNotFound = 1814;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(-1, DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(4242), NULL, recorderProc, 0));
    EXPECT_EQ(kErrorResourceNameNotFound, GetLastError());
}
