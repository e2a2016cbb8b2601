// The dialog's own logic, driven as a user drives it: clicks on its controls, rows of its
// list view, typed numbers and its timers, all as messages to the real dialog (template 100,
// mainDialogProc). Win32 only: the same expectations hold on the layer and under Wine. The
// rows used are the two load meters, which every machine has.
#include "app/main_dialog.h"
#include "app/startup.h"
#include "dialog/unit_list_view.h"
#include "indicators/tray_icons.h"
#include "res/resource.h"
#include "tests/support/call_recorder.h"
#include "tests/support/main_dialog_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

// Not used by the program; the test locates rows with them.
constexpr UINT kLvmGetItemRect = LVM_FIRST + 14;
constexpr int kLvirLabel = 2;
constexpr WPARAM kMkLButton = 0x0001;

const int kUnitControls[] = {IDC_SHOW_IN_TRAY, IDC_PORT_OUTPUT, IDC_READ_BIT1, IDC_READ_BIT2, IDC_READ_BIT3,
                             IDC_READ_BIT4, IDC_READ_BIT5, IDC_READ_BIT6, IDC_READ_BIT7, IDC_READ_BIT8,
                             IDC_WRITE_BIT1, IDC_WRITE_BIT2, IDC_WRITE_BIT3, IDC_WRITE_BIT4, IDC_WRITE_BIT5,
                             IDC_WRITE_BIT6, IDC_WRITE_BIT7, IDC_WRITE_BIT8};

void press(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool ticked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

bool enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// How many of the unit controls are usable: all or none is what the dialog should show.
int enabledUnitControls(HWND dialog)
{
    int count = 0;
    for (int id : kUnitControls)
        count += enabled(dialog, id);
    return count;
}

HWND unitList(HWND dialog)
{
    return GetDlgItem(dialog, IDC_UNIT_LIST);
}

int rowOf(HWND dialog, const char *path)
{
    LVFINDINFOA find{};
    find.flags = LVFI_STRING;
    find.psz = path;
    return (int)SendMessageA(unitList(dialog), LVM_FINDITEMA, (WPARAM)-1, (LPARAM)&find);
}

std::string cell(HWND dialog, int row, int column)
{
    char text[64];
    std::memset(text, 0xcc, sizeof text);
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(unitList(dialog), LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
    return text;
}

// A click on a row's text, as the mouse gives it: the list view and the dialog do the rest.
void clickRow(HWND dialog, const char *path)
{
    HWND list = unitList(dialog);
    int row = rowOf(dialog, path);
    ASSERT_GE(row, 0) << path;
    RECT rect{};
    rect.left = kLvirLabel;
    ASSERT_TRUE(SendMessageA(list, kLvmGetItemRect, (WPARAM)row, (LPARAM)&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(list, WM_LBUTTONDOWN, kMkLButton, point);
    SendMessageA(list, WM_LBUTTONUP, 0, point);
}

// The list loses its selection (as a click on empty space does it).
void deselectAll(HWND dialog)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    SendMessageA(unitList(dialog), LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&item);
}

Unit *unitNamed(const char *path)
{
    Unit *unit = unitListFindByPath(unitCursor, path);
    EXPECT_STREQ(path, unit->path);
    return unit;
}

void typeInto(HWND dialog, int id, const char *text)
{
    SetDlgItemTextA(dialog, id, text);
}

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run value's text, or "" when there is none.
std::string runValue(bool *found)
{
    HKEY key = nullptr;
    char data[600] = "";
    DWORD size = sizeof data;
    *found = false;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return "";
    *found = RegQueryValueExA(key, "TallowLAMP", nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size) ==
             ERROR_SUCCESS;
    RegCloseKey(key);
    return *found ? data : "";
}

void putRunValue(bool present, const std::string &text)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (present)
        RegSetValueExA(key, "TallowLAMP", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                       DWORD(text.size() + 1));
    else
        RegDeleteValueA(key, "TallowLAMP");
    RegCloseKey(key);
}

} // namespace

// Until a row is selected, and again once none is, the unit controls are greyed: a tick there
// would land on a placeholder that nothing shows or saves, or on a Unit no longer selected.
TEST(DialogLogic, UnitControlsAreUsableOnlyWhileARowIsSelected)
{
    std::vector<int> usable;
    std::vector<std::string> selectedPath;
    Unit *ram = nullptr;
    auto note = [&](HWND dialog) {
        usable.push_back(enabledUnitControls(dialog));
        selectedPath.push_back(unitCursor->path);
    };
    runMainDialog("", {[&](HWND dialog) { note(dialog); },
                       [&](HWND dialog) {
                           clickRow(dialog, "RAM Usage");
                           note(dialog);
                           ram = unitNamed("RAM Usage");
                           press(dialog, IDC_PORT_OUTPUT);
                       },
                       [&](HWND dialog) {
                           deselectAll(dialog);
                           note(dialog);
                       },
                       [&](HWND dialog) {
                           clickRow(dialog, "VRAM Usage");
                           note(dialog);
                       }});
    ASSERT_EQ(4u, usable.size()); // every step ran
    const int all = int(sizeof kUnitControls / sizeof kUnitControls[0]);
    EXPECT_EQ((std::vector<int>{0, all, 0, all}), usable);
    EXPECT_EQ((std::vector<std::string>{"", "RAM Usage", "", "VRAM Usage"}), selectedPath);
    ASSERT_NE(nullptr, ram);
    EXPECT_EQ(1, ram->portEnabled);
}

TEST(DialogLogic, CheckBoxesSetTheirFieldsAndGreyTheLedAndStaticIcon)
{
    struct Seen {
        bool ledEnabled, staticEnabled;
    };
    std::vector<Seen> seen;
    auto note = [&](HWND dialog) { seen.push_back({enabled(dialog, IDC_KEYBOARD_LED), enabled(dialog, IDC_STATIC_ICON)}); };
    GeneralOptions after{};
    BOOL showInTray = -1, portEnabled = -1;
    std::string portCell;
    runMainDialog("", {[&](HWND dialog) {
                           note(dialog);                      // single 0, LED 0
                           press(dialog, IDC_SINGLE_ICON);    // single 1, LED 0
                           note(dialog);
                           press(dialog, IDC_KEYBOARD_LED);   // single 1, LED 1
                           note(dialog);
                           press(dialog, IDC_SINGLE_ICON);    // single 0, LED 1
                           note(dialog);
                           press(dialog, IDC_STATIC_ICON);    // greyed boxes still take a message
                           press(dialog, IDC_ALTERNATIVE_ICONS);
                       },
                       [&](HWND dialog) {
                           clickRow(dialog, "VRAM Usage");
                           press(dialog, IDC_SHOW_IN_TRAY);
                           press(dialog, IDC_PORT_OUTPUT);
                           Unit *vram = unitNamed("VRAM Usage");
                           showInTray = vram->showInTray;
                           portEnabled = vram->portEnabled;
                           // The list shows the port at its next refresh.
                           SendMessageA(dialog, WM_TIMER, TIMER_LIST, 0);
                           portCell = cell(dialog, rowOf(dialog, "VRAM Usage"), 6);
                           after = generalOptions;
                       }});
    ASSERT_EQ(4u, seen.size());
    EXPECT_FALSE(seen[0].ledEnabled);
    EXPECT_FALSE(seen[0].staticEnabled);
    EXPECT_TRUE(seen[1].ledEnabled);
    EXPECT_FALSE(seen[1].staticEnabled);
    EXPECT_TRUE(seen[2].ledEnabled);
    EXPECT_TRUE(seen[2].staticEnabled);
    EXPECT_FALSE(seen[3].ledEnabled);
    EXPECT_FALSE(seen[3].staticEnabled);
    // Greying kept the LED's tick and field.
    EXPECT_EQ(0, after.singleIconMode);
    EXPECT_EQ(1, after.keyboardLed);
    EXPECT_EQ(0, after.alternativeIcons); // "Yes" by default, unticked once
    EXPECT_EQ(0, showInTray);             // ticked by default, unticked once
    EXPECT_EQ(1, portEnabled);
    EXPECT_EQ("0x378", portCell);
}

TEST(DialogLogic, StaticIconBoxSetsItsFieldWhenUsable)
{
    BOOL staticIcon = -1, stillLed = -1;
    runMainDialog("[GENERALOPTIONS]\r\nSingleIconMode=Yes\r\nKeyboardLED=Yes\r\n",
                  {[&](HWND dialog) {
                      EXPECT_TRUE(ticked(dialog, IDC_KEYBOARD_LED));
                      EXPECT_TRUE(enabled(dialog, IDC_STATIC_ICON));
                      press(dialog, IDC_STATIC_ICON);
                      staticIcon = generalOptions.staticIcon;
                      press(dialog, IDC_KEYBOARD_LED);
                      stillLed = generalOptions.keyboardLed;
                      EXPECT_FALSE(enabled(dialog, IDC_STATIC_ICON));
                      EXPECT_TRUE(ticked(dialog, IDC_STATIC_ICON));
                  }});
    EXPECT_EQ(1, staticIcon);
    EXPECT_EQ(0, stillLed);
    EXPECT_EQ(1, generalOptions.staticIcon);
}

TEST(DialogLogic, BitButtonsSetTheirBitOfTheSelectedUnit)
{
    std::vector<std::pair<int, int>> masks; // read, write
    runMainDialog("", {[&](HWND dialog) {
                      clickRow(dialog, "RAM Usage");
                      Unit *ram = unitNamed("RAM Usage");
                      auto note = [&] { masks.push_back({ram->portReadMask, ram->portWriteMask}); };
                      press(dialog, IDC_WRITE_BIT1); // caption 1: bit 0
                      note();
                      press(dialog, IDC_WRITE_BIT3); // caption 3: bit 2, id 128
                      note();
                      press(dialog, IDC_READ_BIT8);
                      note();
                      press(dialog, IDC_WRITE_BIT1);
                      note();
                      press(dialog, IDC_READ_BIT2);
                      note();
                  }});
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x01}, {0, 0x05}, {0x80, 0x05}, {0x80, 0x04}, {0x82, 0x04}}),
              masks);
}

TEST(DialogLogic, TypedNumbersAreBroughtIntoRange)
{
    struct Typed {
        int id;
        const char *text;
        long long stored;
    };
    const Typed typed[] = {
        /* 0 */ {IDC_POLL_INTERVAL, "20000", 10000},
        /* 1 */ {IDC_POLL_INTERVAL, "5", 25},
        /* 2 */ {IDC_POLL_INTERVAL, "250", 250},
        /* 3 */ {IDC_STARTUP_DELAY, "", 1},
        /* 4 */ {IDC_STARTUP_DELAY, "500", 300},
        /* 5 */ {IDC_STARTUP_DELAY, "3000000000", 1}, // above 2^31: negative as a signed number
        /* 6 */ {IDC_STARTUP_DELAY, "42", 42},
        /* 7 */ {IDC_METER_INTERVAL, "3", 25},
        /* 8 */ {IDC_METER_INTERVAL, "60000", 10000},
    };
    std::vector<long long> values;
    std::string shown;
    runMainDialog("", {[&](HWND dialog) {
                      for (const Typed &t : typed) {
                          typeInto(dialog, t.id, t.text);
                          values.push_back(t.id == IDC_POLL_INTERVAL   ? generalOptions.pollInterval
                                           : t.id == IDC_STARTUP_DELAY ? generalOptions.startWithOsDelay
                                                                       : generalOptions.pollIntervalMeters);
                      }
                      char text[16] = "";
                      GetDlgItemTextA(dialog, IDC_POLL_INTERVAL, text, sizeof text);
                      shown = text;
                  }});
    ASSERT_EQ(sizeof typed / sizeof typed[0], values.size());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(typed[i].stored, values[i]) << i;
    EXPECT_EQ("250", shown); // what was typed stays in the edit
}

// "Start with os" changes the entry at once, without Apply; the machine's own value is kept.
TEST(DialogLogic, StartWithOsWritesAndRemovesTheEntryAtOnce)
{
    bool hadValue = false;
    std::string saved = runValue(&hadValue);
    putRunValue(false, "");

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string command = "\"" + std::string(path, length) + "\" /STARTUP";
    std::vector<std::string> values;
    std::vector<BOOL> fields;
    CallRecorder recorder;
    runMainDialog("", {[&](HWND dialog) {
                      bool found = false;
                      press(dialog, IDC_START_WITH_OS);
                      values.push_back(runValue(&found));
                      fields.push_back(generalOptions.startWithOs);
                      press(dialog, IDC_START_WITH_OS);
                      std::string value = runValue(&found);
                      values.push_back(found ? value + " (found)" : value);
                      fields.push_back(generalOptions.startWithOs);
                      press(dialog, IDC_START_WITH_OS);
                      values.push_back(runValue(&found));
                      fields.push_back(generalOptions.startWithOs && ticked(dialog, IDC_START_WITH_OS));
                  }});
    bool found = false;
    std::string left = runValue(&found);
    putRunValue(hadValue, saved);
    EXPECT_EQ((std::vector<std::string>{command, "", command}), values);
    EXPECT_EQ((std::vector<BOOL>{1, 0, 1}), fields);
    EXPECT_TRUE(recorder.messageBoxes.empty());
    // Quitting without Apply leaves the entry, while the settings file knows nothing of it.
    EXPECT_EQ(command, left);
}

TEST(DialogLogic, ListRefreshRenewsFreeAndPortColumnsOnlyWhileShown)
{
    std::vector<std::string> cells;
    std::vector<int> answers;
    runMainDialog("", {[&](HWND dialog) {
                      Unit *ram = unitNamed("RAM Usage");
                      Unit *vram = unitNamed("VRAM Usage");
                      ram->percent = 30;
                      ram->portEnabled = 1;
                      vram->percent = 100;
                      SendMessageA(dialog, WM_TIMER, TIMER_LIST, 0);
                      int row = rowOf(dialog, "RAM Usage");
                      cells.push_back(cell(dialog, row, 2));
                      cells.push_back(cell(dialog, row, 6));
                      cells.push_back(cell(dialog, rowOf(dialog, "VRAM Usage"), 2));
                      answers.push_back(refreshUnitListView(dialog, &unitCursor, &generalOptions));

                      press(dialog, IDC_HIDE);
                      ram->percent = 90;
                      ram->portEnabled = 0;
                      answers.push_back(refreshUnitListView(dialog, &unitCursor, &generalOptions));
                      cells.push_back(cell(dialog, row, 2));
                      cells.push_back(cell(dialog, row, 6));
                  }});
    EXPECT_EQ((std::vector<std::string>{"70%", "0x378", "0%", "70%", "0x378"}), cells);
    EXPECT_EQ((std::vector<int>{1, 0}), answers);
}

TEST(DialogLogic, RedrawTimerMarksEveryUnitOfTheForwardWalkChanged)
{
    std::vector<std::string> marked;
    BOOL tailMarked = -1;
    UINT_PTR redrawTimer = 0;
    runMainDialog("", {[&](HWND dialog) {
                      redrawTimer = generalOptions.refreshTimerId;
                      for (Unit *unit = unitListHead(unitCursor); unit; unit = unit->next)
                          unit->changed = 0;
                      SendMessageA(dialog, WM_TIMER, TIMER_REDRAW, 0);
                      for (Unit *unit = unitListHead(unitCursor); unit && unit->next; unit = unit->next)
                          if (!unit->changed)
                              marked.push_back(std::string("not marked: ") + unit->path);
                      tailMarked = unitListTail(unitCursor)->changed;
                  }});
    EXPECT_EQ(UINT_PTR(TIMER_REDRAW), redrawTimer);
    EXPECT_TRUE(marked.empty()) << marked.front();
    EXPECT_EQ(0, tailMarked); // the forward walk stops before the tail placeholder
}

// A start at log-on: the dialog hides, the program waits the delay, then the two posted
// Start commands stop and re-arm monitoring.
TEST(DialogLogic, DelayedStartHidesWaitsAndRestartsMonitoring)
{
    BOOL visible = -1, counted = -1, monitoring = -1;
    DialogRun run = runMainDialog("[GENERALOPTIONS]\r\nStartwithosdelay=1\r\n",
                                  {[&](HWND dialog) {
                                      visible = IsWindowVisible(dialog);
                                      counted = generalOptions.windowVisible;
                                      monitoring = MonitoringOn;
                                  }},
                                  30, true);
    EXPECT_FALSE(visible);
    EXPECT_EQ(0, counted);
    EXPECT_TRUE(monitoring);
    EXPECT_GE(run.msInDelayedStart, 990u); // the tick count's steps may round down a little
    EXPECT_EQ(3, std::count(run.clicks.begin(), run.clicks.end(), UINT(IDC_START)));

    DialogRun plain = runMainDialog("[GENERALOPTIONS]\r\nStartwithosdelay=1\r\n",
                                    {[&](HWND dialog) { visible = IsWindowVisible(dialog); }});
    EXPECT_TRUE(visible);
    EXPECT_LT(plain.msInDelayedStart, 500u);
    EXPECT_EQ(1, std::count(plain.clicks.begin(), plain.clicks.end(), UINT(IDC_START)));
}

TEST(DialogLogic, AboutBoxAndOnlineHelp)
{
    CallRecorder recorder;
    HWND shownBy = nullptr;
    std::string folder;
    runMainDialog("", {[&](HWND dialog) {
                      shownBy = dialog;
                      folder = generalOptions.programFolder;
                      press(dialog, IDC_ABOUT);
                      press(dialog, IDC_ONLINE_HELP);
                  }});
    ASSERT_EQ(1u, recorder.messageBoxes.size());
    const MessageBoxCall &about = recorder.messageBoxes[0];
    EXPECT_EQ(shownBy, about.owner);
    EXPECT_EQ("About TallowLAMP V1.05", about.caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), about.type);
    // Build time and date as the compiler writes them, then the credits after an empty line.
    EXPECT_TRUE(std::regex_match(about.text, std::regex("TallowLAMP: Compiled: [0-2][0-9]:[0-5][0-9]:[0-5][0-9], "
                                                        "[A-Z][a-z][a-z] [ 1-3][0-9] 20[0-9][0-9]\r\n\r\n[^\r\n].*",
                                                        std::regex::extended)))
        << about.text;

    ASSERT_EQ(1u, recorder.launches.size());
    const ShellExecuteCall &help = recorder.launches[0];
    EXPECT_EQ("open", help.verb);
    // The page that ships beside the program, opened as a file.
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(0u, help.file.rfind(folder, 0)) << help.file;
    EXPECT_EQ(folder.size() + 10, help.file.size()) << help.file;
    EXPECT_EQ("help.html", help.file.substr(help.file.size() - 9));
    EXPECT_FALSE(help.parameters);
    EXPECT_FALSE(help.directory);
    EXPECT_EQ(SW_SHOW, help.show);
}

// An Apply whose writes fail says so in one box, not one a key: the settings are not kept.
TEST(DialogLogic, ApplyThatCannotSaveSaysSo)
{
    CallRecorder recorder;
    HWND shownBy = nullptr;
    std::string path;
    runMainDialog("", {[&](HWND dialog) {
                      shownBy = dialog;
                      path = generalOptions.iniPath;
                      // A folder where the file belongs: no write reaches it, on either system.
                      std::filesystem::create_directory(path);
                      press(dialog, IDC_APPLY);
                  }});
    std::filesystem::remove(path);
    ASSERT_EQ(1u, recorder.messageBoxes.size());
    const MessageBoxCall &box = recorder.messageBoxes[0];
    EXPECT_EQ(shownBy, box.owner);
    EXPECT_EQ("TallowLAMP", box.caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), box.type);
    // The path, then the system's reason in its own words, with one full stop.
    std::string start = "The settings could not be saved to " + path + ": ";
    ASSERT_EQ(0u, box.text.rfind(start, 0)) << box.text;
    std::string reason = box.text.substr(start.size());
    EXPECT_TRUE(std::regex_match(reason, std::regex("[A-Z][^.\r\n]*[^. ]\\.", std::regex::extended))) << box.text;
}

// WM_CLOSE leaves no icon of the program in the notification area, the single one included.
TEST(DialogLogic, CloseRemovesEveryTrayIcon)
{
    for (bool single : {false, true}) {
        std::vector<UINT> iconsBefore;
        std::vector<UINT> iconsAfter;
        std::string settings = "[RAM Usage]\r\nEnabled=Yes\r\n[VRAM Usage]\r\nEnabled=Yes\r\n";
        if (single)
            settings += "[GENERALOPTIONS]\r\nSingleIconMode=Yes\r\n";
        auto present = [](HWND dialog, UINT id) {
            NOTIFYICONDATAA record{};
            record.cbSize = sizeof record;
            record.hWnd = dialog;
            record.uID = id;
            record.uFlags = NIF_TIP;
            std::strcpy(record.szTip, "probe");
            return Shell_NotifyIconA(NIM_MODIFY, &record) != FALSE;
        };
        DialogRun run = runMainDialog(settings, {[](HWND) {}, [](HWND) {}, [](HWND) {},
                                                 [&](HWND dialog) {
                                                     std::vector<UINT> ids = {0};
                                                     for (Unit *u = unitListHead(unitCursor); u; u = u->next)
                                                         if (u->unitId)
                                                             ids.push_back(UINT(u->unitId));
                                                     for (UINT id : ids)
                                                         if (present(dialog, id))
                                                             iconsBefore.push_back(id);
                                                     mainDialogProc(dialog, WM_CLOSE, 0, 0);
                                                     for (UINT id : ids)
                                                         if (present(dialog, id))
                                                             iconsAfter.push_back(id);
                                                 }},
                                      60);
        EXPECT_EQ(0, run.result);
        EXPECT_EQ(single ? 1u : 2u, iconsBefore.size()) << "single " << single;
        EXPECT_TRUE(iconsAfter.empty()) << "single " << single;
        for (Unit *unit = unitListHead(unitCursor); unit; unit = unit->next)
            EXPECT_EQ(0, unit->trayIconAdded) << unit->path;
        EXPECT_EQ(0, trayState.singleIconShown);
    }
}
