// The unit list view (control 145 of dialog 100) driven through Win32 only, as the program
// drives it: the same expectations hold under Wine and on the layer.
#include "platform/win32.h"
#include "res/resource.h"

#include "tests/support/known_differences.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Not used by the program; the test locates rows with them.
constexpr UINT kLvmGetItemRect = LVM_FIRST + 14;
constexpr int kLvirIcon = 1;
constexpr int kLvirLabel = 2;
constexpr UINT kState1 = INDEXTOSTATEIMAGEMASK(1);
constexpr UINT kState2 = INDEXTOSTATEIMAGEMASK(2);

struct Notice {
    UINT code;
    int item;
    UINT newState;
    UINT oldState;
    UINT changed;
    bool operator==(const Notice &o) const
    {
        return code == o.code && item == o.item && newState == o.newState && oldState == o.oldState &&
               changed == o.changed;
    }
};

std::ostream &operator<<(std::ostream &out, const Notice &n)
{
    const char *name = n.code == NM_CLICK ? "NM_CLICK" : n.code == LVN_ITEMCHANGING ? "CHANGING" : "CHANGED";
    return out << "{" << name << " item " << n.item << " new 0x" << std::hex << n.newState << " old 0x"
               << n.oldState << " changed 0x" << n.changed << std::dec << "}";
}

Notice changing(int item, UINT now, UINT old, UINT changed = LVIF_STATE) { return {LVN_ITEMCHANGING, item, now, old, changed}; }
Notice changed(int item, UINT now, UINT old, UINT what = LVIF_STATE) { return {LVN_ITEMCHANGED, item, now, old, what}; }
Notice click(int item) { return {NM_CLICK, item, 0, 0, 0}; }

std::vector<Notice> notices;
std::function<void(HWND dialog, HWND list)> scenario;

INT_PTR CALLBACK recordingDialog(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetTimer(dialog, 1, 10, nullptr);
        return TRUE;
    case WM_TIMER:
        KillTimer(dialog, 1);
        scenario(dialog, GetDlgItem(dialog, IDC_UNIT_LIST));
        EndDialog(dialog, 1);
        return TRUE;
    case WM_NOTIFY: {
        auto *header = reinterpret_cast<NMHDR *>(lParam);
        if (header->idFrom != IDC_UNIT_LIST)
            return FALSE;
        if (header->code == LVN_ITEMCHANGING || header->code == LVN_ITEMCHANGED) {
            auto *nm = reinterpret_cast<NMLISTVIEW *>(lParam);
            notices.push_back({header->code, nm->iItem, nm->uNewState, nm->uOldState, nm->uChanged});
        } else if (header->code == NM_CLICK) {
            notices.push_back(click(reinterpret_cast<NMITEMACTIVATE *>(lParam)->iItem));
        }
        return FALSE;
    }
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

// Runs the scenario on a timer tick inside the dialog's modal loop.
void runInDialog(std::function<void(HWND dialog, HWND list)> steps)
{
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    notices.clear();
    scenario = std::move(steps);
    ASSERT_EQ(1, DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, recordingDialog, 0));
}

const char *const kTitles[7] = {"Unit", "Type", "Free %", "Tray", "Volumename", "Filesystem", "Port 0x378"};

struct Row {
    const char *cells[7];
    bool enabled;
};
// In list order; the build inserts them at the top from the last one.
const Row kRows[4] = {
    {{"\\\\.\\PhysicalDrive0", "Drive: No Root", "-1%", "Yes", "", "", "No"}, true},
    {{"C:", "Drive: Fixed", "30%", "Yes", "System", "NTFS", "0x378"}, false},
    {{"RAM Usage", "Extension", "70%", "Yes", "", "", "No"}, true},
    {{"VRAM Usage", "Extension", "55%", "No", "", "", "No"}, false},
};

LRESULT setText(HWND list, int item, int subItem, const char *text)
{
    LVITEMA lv{};
    lv.iSubItem = subItem;
    lv.pszText = const_cast<char *>(text);
    return SendMessageA(list, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
}

LRESULT setState(HWND list, int item, UINT state, UINT mask)
{
    LVITEMA lv{};
    lv.state = state;
    lv.stateMask = mask;
    return SendMessageA(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
}

UINT state(HWND list, int item, UINT mask) { return UINT(SendMessageA(list, LVM_GETITEMSTATE, item, mask)); }

int selected(HWND list) { return int(SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); }

std::string text(HWND list, int item, int subItem, int room = 260, LRESULT *length = nullptr)
{
    char buffer[300];
    std::memset(buffer, 0xcc, sizeof buffer);
    LVITEMA lv{};
    lv.iSubItem = subItem;
    lv.pszText = buffer;
    lv.cchTextMax = room;
    LRESULT n = SendMessageA(list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
    if (length)
        *length = n;
    return buffer;
}

int find(HWND list, int start, const char *what)
{
    LVFINDINFOA info{};
    info.flags = LVFI_STRING;
    info.psz = what;
    return int(SendMessageA(list, LVM_FINDITEMA, WPARAM(start), reinterpret_cast<LPARAM>(&info)));
}

// The build of the unit list view: columns, then every row inserted at the top.
void build(HWND list)
{
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0)) {
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    for (int c = 0; c < 7; ++c) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_CENTER;
        column.pszText = const_cast<char *>(kTitles[c]);
        column.iSubItem = c;
        EXPECT_EQ(c, SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column)));
    }
    for (int r = 3; r >= 0; --r) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<char *>(kRows[r].cells[0]);
        EXPECT_EQ(0, SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE);
        for (int c = 1; c < 7; ++c) {
            setText(list, 0, c, kRows[r].cells[c]);
            SendMessageA(list, LVM_SETCOLUMNWIDTH, c, c == 1 ? LVSCW_AUTOSIZE : LVSCW_AUTOSIZE_USEHEADER);
        }
        setState(list, 0, INDEXTOSTATEIMAGEMASK(kRows[r].enabled ? 2 : 1), LVIS_STATEIMAGEMASK);
    }
}

POINT rowPoint(HWND list, int item, int part, int dx)
{
    RECT rect{};
    rect.left = part;
    EXPECT_TRUE(SendMessageA(list, kLvmGetItemRect, item, reinterpret_cast<LPARAM>(&rect)));
    return POINT{(part == kLvirIcon ? rect.left : (rect.left + rect.right) / 2) + dx, (rect.top + rect.bottom) / 2};
}

void clickAt(HWND list, POINT p)
{
    SendMessageA(list, WM_LBUTTONDOWN, 0x0001 /* MK_LBUTTON */, MAKELPARAM(p.x, p.y));
    SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

} // namespace

TEST(ListView, BuildsColumnsRowsTextsAndCheckBoxesAsTheUnitListDoes)
{
    runInDialog([](HWND, HWND list) {
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(0, SendMessageA(list, LVM_DELETECOLUMN, 0, 0)); // no column yet
        build(list);
        EXPECT_EQ(DWORD(0x4025), DWORD(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
        ASSERT_EQ(4, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 7; ++c) {
                LRESULT length = -1;
                EXPECT_EQ(kRows[r].cells[c], text(list, r, c, 260, &length)) << r << "," << c;
                EXPECT_EQ(LRESULT(std::strlen(kRows[r].cells[c])), length);
            }
        // A short buffer gets what fits and the terminator, as lstrcpyn gives. Wine's ANSI
        // path copies one byte more and no terminator.
        LRESULT length = -1;
        std::string shortText = text(list, 2, 0, 4, &length);
        if (expectWindowsAnswer(true)) {
            EXPECT_EQ("RAM", shortText);
            EXPECT_EQ(3, length);
        } else {
            EXPECT_NE("RAM", shortText);
        }
        char buffer[260];
        std::memset(buffer, 0xcc, sizeof buffer);
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_STATE;
        item.iItem = 1;
        item.pszText = buffer;
        item.cchTextMax = 260;
        item.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
        EXPECT_TRUE(SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        EXPECT_STREQ("C:", buffer);
        EXPECT_EQ(kState1, item.state);
        item.iItem = 4;
        EXPECT_FALSE(SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));

        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(kRows[r].enabled ? 2u : 1u, state(list, r, LVIS_STATEIMAGEMASK) >> 12) << r;
        EXPECT_EQ(-1, selected(list)); // the build selects nothing

        // Column widths: fitted, the title counted only by _USEHEADER; a column fitted to
        // "30%" and friends is narrower than one that also fits "Free %".
        for (int c = 0; c < 7; ++c)
            EXPECT_GT(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0), 0) << c;
        EXPECT_TRUE(SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE));
        LRESULT texts = SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0);
        EXPECT_TRUE(SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER));
        EXPECT_GT(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), texts);
        EXPECT_TRUE(SendMessageA(list, LVM_SETCOLUMNWIDTH, 3, 57));
        EXPECT_EQ(57, SendMessageA(list, LVM_GETCOLUMNWIDTH, 3, 0));
        EXPECT_FALSE(SendMessageA(list, LVM_SETCOLUMNWIDTH, 7, 40));
        EXPECT_EQ(0, SendMessageA(list, LVM_GETCOLUMNWIDTH, 7, 0));

        // The loop that clears the columns ends when the control answers 0; the rows stay.
        int deleted = 0;
        while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0) && deleted < 20)
            ++deleted;
        EXPECT_EQ(7, deleted);
        EXPECT_EQ(4, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ("RAM Usage", text(list, 2, 0));
        EXPECT_TRUE(SendMessageA(list, LVM_DELETEALLITEMS, 0, 0));
        EXPECT_EQ(0, SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ(-1, find(list, -1, "C:"));
    });
}

TEST(ListView, FindsWholeTextsIgnoringCaseAfterTheStart)
{
    runInDialog([](HWND, HWND list) {
        build(list);
        struct {
            int start;
            const char *text;
            int expected;
        } cases[] = {
            /* 0 */ {-1, "C:", 1},
            /* 1 */ {-1, "c:", 1},
            /* 2 */ {-1, "ram usage", 2},
            /* 3 */ {-1, "VRAM USAGE", 3},
            /* 4 */ {-1, "RAM", -1},        // not a prefix search
            /* 5 */ {-1, "RAM Usage ", -1}, // nor a shorter text
            /* 6 */ {2, "RAM Usage", -1},   // the search starts after the start
            /* 7 */ {1, "RAM Usage", 2},
            /* 8 */ {3, "C:", -1},
            /* 9 */ {-1, "", -1},
            /* 10 */ {-5, "C:", -1},
        };
        for (const auto &c : cases)
            EXPECT_EQ(c.expected, find(list, c.start, c.text)) << c.start << " " << c.text;
    });
}

TEST(ListView, NotifiesStateChangesAsWindowsDoes)
{
    runInDialog([](HWND, HWND list) {
        build(list);
        notices.clear();
        // A new state image: the pair; the same image again: only the question.
        EXPECT_TRUE(setState(list, 1, kState2, LVIS_STATEIMAGEMASK));
        EXPECT_TRUE(setState(list, 1, kState2, LVIS_STATEIMAGEMASK));
        EXPECT_EQ(kState2, state(list, 1, LVIS_STATEIMAGEMASK));
        EXPECT_TRUE(setState(list, 1, kState1, LVIS_STATEIMAGEMASK));
        EXPECT_EQ((std::vector<Notice>{changing(1, kState2, kState1), changed(1, kState2, kState1),
                                       changing(1, kState2, kState2),
                                       changing(1, kState1, kState2), changed(1, kState1, kState2)}),
                  notices);

        // Sub-item texts change silently; the first column's text is announced.
        notices.clear();
        EXPECT_TRUE(setText(list, 2, 2, "71%"));
        EXPECT_EQ("71%", text(list, 2, 2));
        EXPECT_TRUE(notices.empty());
        EXPECT_TRUE(setText(list, 3, 0, "VRAM"));
        EXPECT_TRUE(setText(list, 3, 0, "VRAM"));
        EXPECT_EQ("VRAM", text(list, 3, 0));
        EXPECT_EQ((std::vector<Notice>{changing(3, 0, 0, LVIF_TEXT), changed(3, 0, 0, LVIF_TEXT),
                                       changing(3, 0, 0, LVIF_TEXT)}),
                  notices);
        EXPECT_FALSE(setText(list, 3, 7, "x")); // no such column
        EXPECT_FALSE(setText(list, 4, 1, "x")); // no such row

        // What the dialog does on NM_CLICK: clear the selected row, select the clicked one.
        notices.clear();
        EXPECT_TRUE(setState(list, 2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));
        EXPECT_EQ(2, selected(list));
        EXPECT_EQ(-1, SendMessageA(list, LVM_GETNEXTITEM, 2, LVNI_SELECTED));
        EXPECT_TRUE(setState(list, selected(list), 0, LVIS_SELECTED));
        EXPECT_TRUE(setState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));
        EXPECT_EQ(0, selected(list));
        EXPECT_EQ(UINT(LVIS_SELECTED | LVIS_FOCUSED), state(list, 0, LVIS_SELECTED | LVIS_FOCUSED));
        EXPECT_EQ(0u, state(list, 2, LVIS_SELECTED | LVIS_FOCUSED));
        const UINT s2 = kState2, s1 = kState1, both = LVIS_SELECTED | LVIS_FOCUSED;
        EXPECT_EQ((std::vector<Notice>{
                      changing(2, s2 | both, s2), changed(2, s2 | both, s2),
                      changing(2, s2 | LVIS_FOCUSED, s2 | both), changed(2, s2 | LVIS_FOCUSED, s2 | both),
                      changing(0, s2 | both, s2),
                      changing(2, s2, s2 | LVIS_FOCUSED), changed(2, s2, s2 | LVIS_FOCUSED), // focus leaves row 2
                      changed(0, s2 | both, s2),
                  }),
                  notices);
        (void)s1;

        // Every item: the focus cannot go to all of them; the selection can go from all.
        notices.clear();
        EXPECT_FALSE(setState(list, -1, LVIS_FOCUSED, LVIS_FOCUSED));
        EXPECT_TRUE(notices.empty());
        EXPECT_TRUE(setState(list, -1, 0, LVIS_SELECTED));
        EXPECT_EQ(-1, selected(list));
        EXPECT_TRUE(setState(list, -1, 0, LVIS_SELECTED)); // nothing selected: answered at once
        EXPECT_EQ(5u, notices.size()); // the question to each row, one change, no more
        EXPECT_FALSE(setState(list, 9, LVIS_SELECTED, LVIS_SELECTED));
    });
}

TEST(ListView, ClicksToggleBoxesSelectRowsAndReportTheRow)
{
    runInDialog([](HWND, HWND list) {
        build(list);
        const UINT both = LVIS_SELECTED | LVIS_FOCUSED;

        // A row: selected and focused on the press, NM_CLICK on the release.
        notices.clear();
        clickAt(list, rowPoint(list, 3, kLvirLabel, 0));
        EXPECT_EQ(3, selected(list));
        EXPECT_EQ((std::vector<Notice>{changing(3, kState1 | both, kState1), changed(3, kState1 | both, kState1),
                                       click(3)}),
                  notices);

        // A check box: NM_CLICK, then the box turns; the selection stays where it was.
        notices.clear();
        clickAt(list, rowPoint(list, 1, kLvirIcon, -8));
        EXPECT_EQ(kState2, state(list, 1, LVIS_STATEIMAGEMASK));
        EXPECT_EQ(3, selected(list));
        EXPECT_EQ((std::vector<Notice>{click(1), changing(1, kState2, kState1), changed(1, kState2, kState1)}),
                  notices);
        clickAt(list, rowPoint(list, 1, kLvirIcon, -8));
        EXPECT_EQ(kState1, state(list, 1, LVIS_STATEIMAGEMASK));

        // Below the last row: the selection goes, and NM_CLICK names no row.
        RECT last{};
        last.left = kLvirLabel;
        SendMessageA(list, kLvmGetItemRect, 3, reinterpret_cast<LPARAM>(&last));
        notices.clear();
        clickAt(list, POINT{(last.left + last.right) / 2, last.bottom + 6});
        EXPECT_EQ(-1, selected(list));
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(click(-1), notices.back());
        EXPECT_EQ(0u, state(list, 3, LVIS_SELECTED));
    });
}
