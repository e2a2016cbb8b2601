// The list view as the user's mouse and focus reach it on the layer: Qt's own events, not
// window messages. Two quick clicks on a box turn it twice and report the double click; a
// right click selects its row; the selection shows only while the list has the focus
// (the control has no LVS_SHOWSELALWAYS).
#include "dialog/unit_list_view.h"
#include "platform/layer_testing.h"
#include "res/resource.h"
#include "tests/support/unit_lists.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr UINT kNmDblClk = UINT(-3);
constexpr UINT kNmRClick = UINT(-5);

std::function<void(HWND dialog, HWND list)> scenario;
std::vector<UINT> clicks; // NM_CLICK, NM_DBLCLK, NM_RCLICK, in order

INT_PTR CALLBACK listDialog(HWND dialog, UINT message, WPARAM, LPARAM lParam)
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
        UINT code = reinterpret_cast<NMHDR *>(lParam)->code;
        if (code == NM_CLICK || code == kNmDblClk || code == kNmRClick)
            clicks.push_back(code);
        return FALSE;
    }
    }
    return FALSE;
}

// RAM and VRAM rows, both unticked.
Unit *twoMeters()
{
    Unit *cursor = nullptr;
    const char *paths[] = {"", "RAM Usage", "VRAM Usage", ""};
    for (const char *path : paths) {
        unitListAppend(&cursor);
        std::strcpy(cursor->path, path);
        cursor->kind = KIND_RAM;
        cursor->notListed = !path[0];
    }
    return cursor;
}

void run(std::function<void(HWND dialog, HWND list)> steps)
{
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    clicks.clear();
    scenario = std::move(steps);
    ASSERT_EQ(1, DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, listDialog, 0));
}

QTableWidget *table(HWND list)
{
    return qobject_cast<QTableWidget *>(layerWindowWidget(list));
}

// A mouse event at a point of the list's viewport, delivered as Qt delivers the user's.
void mouse(QTableWidget *widget, QEvent::Type type, Qt::MouseButton button, QPoint at)
{
    QWidget *viewport = widget->viewport();
    Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

QPoint boxCentre(QTableWidget *widget, int row)
{
    QRect cell = widget->visualRect(widget->model()->index(row, 0));
    int indicator = widget->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget);
    return QPoint(cell.left() + indicator / 2 + 3, cell.center().y());
}

UINT boxState(HWND list, int row)
{
    return UINT(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK)) >> 12;
}

} // namespace

TEST(ListViewInput, DoubleClickOnABoxTurnsItTwiceAndRightClickSelects)
{
    Unit *cursor = twoMeters();
    run([&](HWND dialog, HWND list) {
        buildUnitListView(dialog, list, &cursor);
        QTableWidget *widget = table(list);
        ASSERT_NE(nullptr, widget);
        QPoint box = boxCentre(widget, 0);
        mouse(widget, QEvent::MouseButtonPress, Qt::LeftButton, box);
        mouse(widget, QEvent::MouseButtonRelease, Qt::LeftButton, box);
        EXPECT_EQ(2u, boxState(list, 0));
        mouse(widget, QEvent::MouseButtonDblClick, Qt::LeftButton, box);
        mouse(widget, QEvent::MouseButtonRelease, Qt::LeftButton, box);
        EXPECT_EQ(1u, boxState(list, 0));
        EXPECT_EQ((std::vector<UINT>{NM_CLICK, kNmDblClk}), clicks);

        clicks.clear();
        QPoint text = widget->visualRect(widget->model()->index(1, 2)).center();
        mouse(widget, QEvent::MouseButtonPress, Qt::RightButton, text);
        mouse(widget, QEvent::MouseButtonRelease, Qt::RightButton, text);
        EXPECT_EQ(1, SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
        EXPECT_EQ((std::vector<UINT>{kNmRClick}), clicks);
        EXPECT_EQ(1u, boxState(list, 1));
    });
    freeUnitList(cursor);
}

TEST(ListViewInput, TheSelectionShowsOnlyWhileTheListHasTheFocus)
{
    Unit *cursor = twoMeters();
    run([&](HWND dialog, HWND list) {
        buildUnitListView(dialog, list, &cursor);
        QTableWidget *widget = table(list);
        ASSERT_NE(nullptr, widget);
        widget->window()->activateWindow();
        SetFocus(list);
        LVITEMA item{};
        item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
        QApplication::processEvents();
        bool focused = widget->hasFocus();
        EXPECT_TRUE(focused) << "the list did not get the focus";
        EXPECT_FALSE(widget->selectionModel()->selectedIndexes().isEmpty());

        SetFocus(GetDlgItem(dialog, IDC_POLL_INTERVAL));
        QApplication::processEvents();
        EXPECT_FALSE(widget->hasFocus());
        EXPECT_TRUE(widget->selectionModel()->selectedIndexes().isEmpty());
        // Only the drawing changed: the row is still selected.
        EXPECT_EQ(1, SendMessageA(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));

        SetFocus(list);
        QApplication::processEvents();
        EXPECT_FALSE(widget->selectionModel()->selectedIndexes().isEmpty());
    });
    freeUnitList(cursor);
}
