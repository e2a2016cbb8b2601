// COMCTL32: the list view ("SysListView32") in report view, drawn by a QTableWidget.
//
// Supported, with Windows' semantics (Wine's comctl32 serves as the reference):
//   LVM_DELETEALLITEMS; LVM_INSERTCOLUMNA (LVCF_FMT, LVCF_WIDTH, LVCF_TEXT, LVCF_SUBITEM;
//   LVCFMT_LEFT, _RIGHT, _CENTER; column 0 always left-aligned); LVM_DELETECOLUMN;
//   LVM_SETCOLUMNWIDTH (pixels, LVSCW_AUTOSIZE, LVSCW_AUTOSIZE_USEHEADER); LVM_GETCOLUMNWIDTH;
//   LVM_INSERTITEMA (LVIF_TEXT, LVIF_PARAM, LVIF_STATE without selection or focus);
//   LVM_GETITEMCOUNT; LVM_SETITEMTEXTA; LVM_GETITEMTEXTA; LVM_GETITEMA (LVIF_TEXT, LVIF_STATE,
//   LVIF_PARAM); LVM_SETITEMSTATE and LVM_GETITEMSTATE (LVIS_SELECTED, LVIS_FOCUSED,
//   LVIS_STATEIMAGEMASK; item -1 is every item); LVM_GETNEXTITEM (LVNI_ALL, LVNI_SELECTED,
//   LVNI_FOCUSED); LVM_FINDITEMA (LVFI_STRING; any other search, or none, finds nothing);
//   LVM_SET/GETEXTENDEDLISTVIEWSTYLE (LVS_EX_GRIDLINES, _CHECKBOXES, _FULLROWSELECT,
//   _LABELTIP); LVM_GETITEMRECT (LVIR_BOUNDS, LVIR_ICON, LVIR_LABEL); LVS_SHOWSELALWAYS;
//   WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONUP and
//   WM_KEYDOWN (arrows, Home, End, Space), which are also the paths the widget's own mouse
//   and keys take.
//   Notifications: LVN_ITEMCHANGING and LVN_ITEMCHANGED (state changes, text of column 0),
//   NM_CLICK, NM_DBLCLK and NM_RCLICK (NMITEMACTIVATE).
// Not supported (asserts in debug builds): views other than report, LVS_OWNERDATA, sorting,
// text callbacks, image lists and icons, label editing, any other LVM_ message or flag.
// Not sent, as the program reads none of them: LVN_INSERTITEM, LVN_DELETEITEM,
// LVN_DELETEALLITEMS, LVN_ITEMACTIVATE, NM_SETFOCUS, NM_KILLFOCUS, NM_RELEASEDCAPTURE,
// WM_CONTEXTMENU, custom draw.
// Mouse modifiers (Ctrl, Shift) are ignored; LVM_FINDITEMA folds ASCII letters only.
#include "platform/user32_template.h"
#include "platform/user32_window.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableWidget>
#include <QToolTip>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Windows' padding around texts when a column is sized to them.
constexpr int kTrailingLabelPadding = 12;
constexpr int kTrailingHeaderPadding = 11;
constexpr int kDefaultColumnWidth = 10; // a column inserted without LVCF_WIDTH

constexpr UINT kLvsTypeMask = 0x0003;
constexpr UINT kLvcfmtJustifyMask = 0x0003;
constexpr UINT kLvcfmtRight = 0x0001;
constexpr UINT kLvmGetItemRect = LVM_FIRST + 14;
constexpr int kLvirBounds = 0;
constexpr int kLvirIcon = 1;
constexpr int kLvirLabel = 2;
constexpr UINT kStateMasks = LVIS_SELECTED | LVIS_FOCUSED | LVIS_STATEIMAGEMASK;
constexpr DWORD kExtendedStyles =
    LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP;
constexpr UINT kLvsShowSelAlways = 0x0008;
constexpr UINT kNmDblClk = UINT(-3);
constexpr UINT kNmRClick = UINT(-5);
constexpr WPARAM kVkSpace = 0x20, kVkEnd = 0x23, kVkHome = 0x24, kVkUp = 0x26, kVkDown = 0x28;
const LPSTR kTextCallback = reinterpret_cast<LPSTR>(-1);

struct ListRow {
    UINT state; // LVIS_ bits, the state image index included
    LPARAM param;
    std::vector<std::string> texts; // by sub-item; absent ones read as empty
};

class ListViewWidget;

struct ListColumn {
    int format;
    int sizing; // LVSCW_AUTOSIZE or LVSCW_AUTOSIZE_USEHEADER while sized to its texts, else 0
};

struct ListView {
    HWND window;
    ListViewWidget *widget;
    DWORD extendedStyle;
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
    bool buttonDown;
    int buttonDownItem; // a selected row pressed again: the release leaves it selected alone
    bool rightButtonDown;
};

struct HitTest {
    int item;       // the row under the point, or -1
    int subItem;    // the column under the point, or -1
    bool checkBox;  // on the row's check box
    POINT point;
};

LRESULT onButtonDown(ListView *view, POINT point);
LRESULT onButtonUp(ListView *view, POINT point);
LRESULT onButtonDoubleClick(ListView *view, POINT point);
LRESULT onRightButtonDown(ListView *view, POINT point);
LRESULT onRightButtonUp(ListView *view, POINT point);
void showSelection(ListView *view);
LRESULT onKeyDown(ListView *view, WPARAM key);

// The control's widget. It owns the control's record, so both go together when the dialog
// is destroyed. Mouse and keys are not left to Qt: they take the paths that the window
// messages take, so that selection and notifications follow Windows.
class ListViewWidget : public QTableWidget {
public:
    explicit ListViewWidget(QWidget *parent) : QTableWidget(parent), view{} {}

    ListView view;

    // Client coordinates (Windows': inside the border, the header included) to the
    // viewport's and back.
    QPoint viewportPoint(POINT client) const
    {
        return QPoint(client.x, client.y) + contentsRect().topLeft() - viewport()->geometry().topLeft();
    }
    QRect clientRect(QRect viewportRect) const
    {
        return viewportRect.translated(viewport()->geometry().topLeft() - contentsRect().topLeft());
    }

    // Where the check box of a row's first cell is drawn, in viewport coordinates.
    QRect checkIndicator(int row) const
    {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(model()->index(row, 0));
        option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
        return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
    }
    int cellMargin() const { return style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1; }

    // Windows' rows are one line of text (or a check box) high, not Qt's roomier default.
    void fitRowHeight()
    {
        int line = std::max(fontMetrics().height(), style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this));
        verticalHeader()->setMinimumSectionSize(0);
        verticalHeader()->setDefaultSectionSize(line + 4);
    }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            fitRowHeight();
        QTableWidget::changeEvent(event);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            onButtonDown(&view, clientPoint(event));
        else if (event->button() == Qt::RightButton)
            onRightButtonDown(&view, clientPoint(event));
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            onButtonUp(&view, clientPoint(event));
        else if (event->button() == Qt::RightButton)
            onRightButtonUp(&view, clientPoint(event));
    }
    // Qt's second press of a double click is Windows' WM_LBUTTONDBLCLK.
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            onButtonDoubleClick(&view, clientPoint(event));
        else if (event->button() == Qt::RightButton)
            onRightButtonDown(&view, clientPoint(event));
    }
    void mouseMoveEvent(QMouseEvent *) override {}
    void keyPressEvent(QKeyEvent *event) override
    {
        WPARAM key = 0;
        switch (event->key()) {
        case Qt::Key_Up: key = kVkUp; break;
        case Qt::Key_Down: key = kVkDown; break;
        case Qt::Key_Home: key = kVkHome; break;
        case Qt::Key_End: key = kVkEnd; break;
        case Qt::Key_Space: key = kVkSpace; break;
        default: event->ignore(); return; // Tab, Enter, Esc: the dialog's
        }
        onKeyDown(&view, key);
    }
    // Qt would make the first row current on focus; Windows leaves the focus where it is.
    void focusInEvent(QFocusEvent *event) override
    {
        QWidget::focusInEvent(event);
        showSelection(&view);
        viewport()->update();
    }
    // Windows draws the selection of a list without the focus only with LVS_SHOWSELALWAYS.
    void focusOutEvent(QFocusEvent *event) override
    {
        QWidget::focusOutEvent(event);
        showSelection(&view);
        viewport()->update();
    }
    bool viewportEvent(QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip)
            return showLabelTip(static_cast<QHelpEvent *>(event));
        return QTableWidget::viewportEvent(event);
    }

private:
    POINT clientPoint(QMouseEvent *event) const
    {
        QPoint p = event->position().toPoint() + viewport()->geometry().topLeft() - contentsRect().topLeft();
        return POINT{p.x(), p.y()};
    }
    // LVS_EX_LABELTIP: the whole text of a cell too narrow for it.
    bool showLabelTip(QHelpEvent *event)
    {
        QModelIndex index = indexAt(event->pos());
        QTableWidgetItem *cell = index.isValid() ? item(index.row(), index.column()) : nullptr;
        if (!(view.extendedStyle & LVS_EX_LABELTIP) || !cell) {
            QToolTip::hideText();
            return true;
        }
        QRect rect = visualRect(index);
        int room = rect.width() - 2 * cellMargin();
        if (index.column() == 0 && cell->data(Qt::CheckStateRole).isValid())
            room -= checkIndicator(index.row()).width() + cellMargin();
        if (fontMetrics().horizontalAdvance(cell->text()) > room)
            QToolTip::showText(event->globalPos(), cell->text(), viewport(), rect);
        else
            QToolTip::hideText();
        return true;
    }
};

LRESULT unsupported(const char *what, UINT message)
{
    std::fprintf(stderr, "TallowLAMP layer: list view: unsupported %s (message 0x%x)\n", what, message);
    assert(!"unsupported list view request");
    return 0;
}

QString fromAnsi(const std::string &text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }

const std::string &cellText(const ListRow &row, int subItem)
{
    static const std::string empty;
    return subItem >= 0 && size_t(subItem) < row.texts.size() ? row.texts[subItem] : empty;
}

int stateImage(UINT state) { return int((state & LVIS_STATEIMAGEMASK) >> 12); }

bool hasCheckBox(const ListView *view, const ListRow &row)
{
    int image = stateImage(row.state);
    return (view->extendedStyle & LVS_EX_CHECKBOXES) && (image == 1 || image == 2);
}

int itemCount(const ListView *view) { return int(view->rows.size()); }

bool validItem(const ListView *view, int item) { return item >= 0 && item < itemCount(view); }

int focusedItem(const ListView *view)
{
    for (int i = 0; i < itemCount(view); ++i)
        if (view->rows[i].state & LVIS_FOCUSED)
            return i;
    return -1;
}

// --- drawing: the widget follows the record ---------------------------------------------

Qt::Alignment columnAlignment(const ListView *view, int column)
{
    // Windows draws the first column left-aligned whatever its format.
    int justify = column == 0 ? LVCFMT_LEFT : int(view->columns[column].format & kLvcfmtJustifyMask);
    Qt::Alignment horizontal = justify == LVCFMT_CENTER ? Qt::AlignHCenter
                             : justify == int(kLvcfmtRight) ? Qt::AlignRight : Qt::AlignLeft;
    return horizontal | Qt::AlignVCenter;
}

QTableWidgetItem *cellItem(ListView *view, int row, int column)
{
    QTableWidgetItem *cell = view->widget->item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        view->widget->setItem(row, column, cell);
    }
    return cell;
}

void showCell(ListView *view, int row, int column)
{
    QTableWidgetItem *cell = cellItem(view, row, column);
    cell->setText(fromAnsi(cellText(view->rows[row], column)));
    cell->setTextAlignment(columnAlignment(view, column));
}

void showRowState(ListView *view, int row)
{
    ListViewWidget *widget = view->widget;
    const ListRow &record = view->rows[row];
    int columns = int(view->columns.size());
    if (columns > 0) {
        QTableWidgetItem *first = cellItem(view, row, 0);
        if (hasCheckBox(view, record)) {
            first->setFlags(first->flags() | Qt::ItemIsUserCheckable);
            first->setCheckState(stateImage(record.state) == 2 ? Qt::Checked : Qt::Unchecked);
        } else {
            first->setFlags(first->flags() & ~Qt::ItemIsUserCheckable);
            first->setData(Qt::CheckStateRole, QVariant());
        }
        // Without LVS_EX_FULLROWSELECT Windows highlights the first cell only.
        int last = (view->extendedStyle & LVS_EX_FULLROWSELECT) ? columns - 1 : 0;
        QItemSelection cells(widget->model()->index(row, 0), widget->model()->index(row, columns - 1));
        widget->selectionModel()->select(cells, QItemSelectionModel::Deselect);
        bool drawn = widget->hasFocus() || (view->window->style & kLvsShowSelAlways);
        if ((record.state & LVIS_SELECTED) && drawn)
            widget->selectionModel()->select(
                QItemSelection(widget->model()->index(row, 0), widget->model()->index(row, last)),
                QItemSelectionModel::Select);
    }
    int focus = focusedItem(view);
    QModelIndex current = focus >= 0 && columns > 0 ? widget->model()->index(focus, 0) : QModelIndex();
    if (widget->selectionModel()->currentIndex() != current)
        widget->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
}

void showRow(ListView *view, int row)
{
    for (int column = 0; column < int(view->columns.size()); ++column)
        showCell(view, row, column);
    showRowState(view, row);
}

void showSelection(ListView *view)
{
    for (int row = 0; row < itemCount(view); ++row)
        showRowState(view, row);
}

void showAllRows(ListView *view)
{
    for (int row = 0; row < itemCount(view); ++row)
        showRow(view, row);
}

// --- notifications ------------------------------------------------------------------------

LRESULT notifyItem(ListView *view, UINT code, int item, UINT newState, UINT oldState, UINT changed)
{
    NMLISTVIEW nm{};
    nm.hdr.code = code;
    nm.iItem = item;
    nm.uNewState = newState;
    nm.uOldState = oldState;
    nm.uChanged = changed;
    nm.lParam = validItem(view, item) ? view->rows[item].param : 0;
    return layerNotifyParent(view->window, &nm.hdr);
}

void notifyClick(ListView *view, const HitTest &hit, UINT code = NM_CLICK)
{
    NMITEMACTIVATE nm{};
    nm.hdr.code = code;
    nm.iItem = hit.item;
    nm.iSubItem = hit.subItem;
    nm.ptAction = hit.point;
    nm.lParam = validItem(view, hit.item) ? view->rows[hit.item].param : 0;
    layerNotifyParent(view->window, &nm.hdr);
}

// --- items --------------------------------------------------------------------------------

// Windows: LVN_ITEMCHANGING first, even when nothing changes (a non-zero answer vetoes);
// then the change, during which the item that had the focus loses it with a pair of
// notifications of its own; then LVN_ITEMCHANGED, only when something changed.
BOOL changeItemState(ListView *view, int item, UINT state, UINT mask)
{
    if (!validItem(view, item))
        return FALSE;
    UINT old = view->rows[item].state;
    UINT now = (old & ~mask) | (state & mask);
    if (notifyItem(view, LVN_ITEMCHANGING, item, now, old, LVIF_STATE) || !validItem(view, item))
        return FALSE;
    if (now == old)
        return TRUE;
    view->rows[item].state = now;
    if ((mask & LVIS_FOCUSED) && (now & LVIS_FOCUSED)) {
        for (int other = 0; other < itemCount(view); ++other)
            if (other != item && (view->rows[other].state & LVIS_FOCUSED))
                changeItemState(view, other, 0, LVIS_FOCUSED);
        if (!validItem(view, item))
            return TRUE;
        view->widget->scrollTo(view->widget->model()->index(item, 0));
    }
    showRowState(view, item);
    notifyItem(view, LVN_ITEMCHANGED, item, now, old, LVIF_STATE);
    return TRUE;
}

BOOL setItemState(ListView *view, int item, UINT state, UINT mask)
{
    if (mask & ~kStateMasks)
        return unsupported("item state bits", LVM_SETITEMSTATE);
    if (item != -1)
        return changeItemState(view, item, state, mask);
    // Windows: "every item" never takes the focus, and clearing a selection that no item
    // has is answered at once.
    if (state & mask & LVIS_FOCUSED)
        return FALSE;
    if (state == 0 && mask == LVIS_SELECTED &&
        std::none_of(view->rows.begin(), view->rows.end(), [](const ListRow &r) { return r.state & LVIS_SELECTED; }))
        return TRUE;
    BOOL all = TRUE;
    for (int i = 0; i < itemCount(view); ++i)
        if (!changeItemState(view, i, state, mask))
            all = FALSE;
    return all;
}

// Windows notifies a new text of the first column only; sub-items change silently.
BOOL setItemText(ListView *view, int item, int subItem, LPCSTR text)
{
    if (text == kTextCallback)
        return BOOL(unsupported("text callback", LVM_SETITEMTEXTA));
    if (!validItem(view, item) || subItem < 0)
        return FALSE;
    std::string value = text ? text : "";
    ListRow &row = view->rows[item];
    if (subItem > 0) {
        if (subItem >= int(view->columns.size()))
            return FALSE;
        if (row.texts.size() <= size_t(subItem))
            row.texts.resize(subItem + 1);
        row.texts[subItem] = value;
        showCell(view, item, subItem);
        return TRUE;
    }
    bool changed = cellText(row, 0) != value;
    if (notifyItem(view, LVN_ITEMCHANGING, item, 0, 0, LVIF_TEXT) || !validItem(view, item))
        return FALSE;
    if (!changed)
        return TRUE;
    view->rows[item].texts.resize(std::max<size_t>(view->rows[item].texts.size(), 1));
    view->rows[item].texts[0] = value;
    if (!view->columns.empty())
        showCell(view, item, 0);
    notifyItem(view, LVN_ITEMCHANGED, item, 0, 0, LVIF_TEXT);
    return TRUE;
}

LRESULT insertItem(ListView *view, const LVITEMA *item)
{
    if (!item || item->iSubItem != 0 || item->iItem < 0)
        return -1;
    if ((item->mask & ~(LVIF_TEXT | LVIF_PARAM | LVIF_STATE)) ||
        ((item->mask & LVIF_STATE) && (item->state & (LVIS_SELECTED | LVIS_FOCUSED))) ||
        ((item->mask & LVIF_TEXT) && item->pszText == kTextCallback))
        return unsupported("item insertion flags", LVM_INSERTITEMA) - 1;
    ListRow row{};
    if (item->mask & LVIF_STATE)
        row.state = item->state & kStateMasks;
    // Windows: with check boxes every new item starts unticked, whatever state it was given.
    if (view->extendedStyle & LVS_EX_CHECKBOXES)
        row.state = (row.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(1);
    if (item->mask & LVIF_PARAM)
        row.param = item->lParam;
    row.texts.emplace_back((item->mask & LVIF_TEXT) && item->pszText ? item->pszText : "");
    int index = std::min(item->iItem, itemCount(view));
    view->rows.insert(view->rows.begin() + index, std::move(row));
    view->widget->insertRow(index);
    showRow(view, index);
    return index;
}

LRESULT deleteAllItems(ListView *view)
{
    view->rows.clear();
    view->buttonDownItem = -1;
    view->widget->setRowCount(0);
    return TRUE;
}

// Copies as lstrcpynA does: at most size - 1 characters and the terminator.
int copyText(const std::string &text, LPSTR buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    size_t count = std::min(text.size(), size_t(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return int(std::strlen(buffer));
}

LRESULT getItem(ListView *view, LVITEMA *item)
{
    if (!item || !validItem(view, item->iItem))
        return FALSE;
    if (item->mask & ~(LVIF_TEXT | LVIF_STATE | LVIF_PARAM))
        return unsupported("item query flags", LVM_GETITEMA);
    const ListRow &row = view->rows[item->iItem];
    if (item->mask & LVIF_TEXT)
        copyText(cellText(row, item->iSubItem), item->pszText, item->cchTextMax);
    if (item->mask & LVIF_STATE)
        item->state = item->iSubItem ? 0 : row.state & item->stateMask;
    if (item->mask & LVIF_PARAM)
        item->lParam = row.param;
    return TRUE;
}

LRESULT getItemText(ListView *view, int index, LVITEMA *item)
{
    if (!item || !validItem(view, index))
        return 0;
    item->mask = LVIF_TEXT;
    item->iItem = index;
    return copyText(cellText(view->rows[index], item->iSubItem), item->pszText, item->cchTextMax);
}

LRESULT getNextItem(ListView *view, int start, UINT flags)
{
    if (flags & ~UINT(LVNI_SELECTED | LVNI_FOCUSED))
        return unsupported("LVNI_ direction", LVM_GETNEXTITEM) - 1;
    if (start < -1 || start >= itemCount(view))
        return -1;
    UINT mask = ((flags & LVNI_SELECTED) ? UINT(LVIS_SELECTED) : 0) | ((flags & LVNI_FOCUSED) ? UINT(LVIS_FOCUSED) : 0);
    if (flags & LVNI_FOCUSED) {
        int focus = focusedItem(view);
        if (focus < 0 || (view->rows[focus].state & mask) != mask)
            return -1;
        return focus == start ? -1 : focus;
    }
    for (int i = start + 1; i < itemCount(view); ++i)
        if ((view->rows[i].state & mask) == mask)
            return i;
    return -1;
}

bool sameTextIgnoringCase(const std::string &a, const char *b)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

LRESULT findItem(ListView *view, int start, const LVFINDINFOA *info)
{
    // Windows finds nothing where nothing was asked; the layer searches whole texts only.
    if (!info || info->flags != LVFI_STRING || !info->psz)
        return -1;
    for (int i = start + 1; i >= 0 && i < itemCount(view); ++i)
        if (sameTextIgnoringCase(cellText(view->rows[i], 0), info->psz))
            return i;
    return -1;
}

// --- columns ------------------------------------------------------------------------------

LRESULT insertColumn(ListView *view, int index, const LVCOLUMNA *column)
{
    if (!column || index < 0)
        return -1;
    if ((column->mask & ~(LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM)) ||
        ((column->mask & LVCF_FMT) && (column->fmt & ~int(kLvcfmtJustifyMask))) ||
        ((column->mask & LVCF_WIDTH) && column->cx < 0))
        return unsupported("column flags", LVM_INSERTCOLUMNA) - 1;
    index = std::min(index, int(view->columns.size()));
    view->columns.insert(view->columns.begin() + index, {(column->mask & LVCF_FMT) ? column->fmt : LVCFMT_LEFT, 0});
    // Windows moves the sub-items from here on one column right; the item's own text stays.
    size_t shifted = size_t(std::max(index, 1));
    for (ListRow &row : view->rows)
        if (row.texts.size() > shifted)
            row.texts.insert(row.texts.begin() + shifted, std::string());
    QTableWidget *widget = view->widget;
    widget->insertColumn(index);
    auto *title = new QTableWidgetItem(fromAnsi((column->mask & LVCF_TEXT) && column->pszText ? column->pszText : ""));
    title->setTextAlignment(columnAlignment(view, index));
    widget->setHorizontalHeaderItem(index, title);
    widget->horizontalHeader()->resizeSection(index, (column->mask & LVCF_WIDTH) ? column->cx : kDefaultColumnWidth);
    if (index == 0 && widget->columnCount() > 1) // the old first column now takes its format
        widget->horizontalHeaderItem(1)->setTextAlignment(columnAlignment(view, 1));
    showAllRows(view);
    return index;
}

// Windows: deleting the first column leaves every text where it was.
LRESULT deleteColumn(ListView *view, int index)
{
    if (index < 0 || index >= int(view->columns.size()))
        return FALSE;
    view->columns.erase(view->columns.begin() + index);
    if (index > 0)
        for (ListRow &row : view->rows)
            if (row.texts.size() > size_t(index))
                row.texts.erase(row.texts.begin() + index);
    view->widget->removeColumn(index);
    if (index == 0 && view->widget->columnCount() > 0)
        view->widget->horizontalHeaderItem(0)->setTextAlignment(columnAlignment(view, 0));
    showAllRows(view);
    return TRUE;
}

// The width that shows every text of a column, as Windows measures it.
int textsWidth(ListView *view, int column)
{
    QFontMetrics metrics = view->widget->fontMetrics();
    int widest = 0;
    for (const ListRow &row : view->rows)
        widest = std::max(widest, metrics.horizontalAdvance(fromAnsi(cellText(row, column))));
    int width = widest + kTrailingLabelPadding;
    if (column == 0 && (view->extendedStyle & LVS_EX_CHECKBOXES))
        width += view->widget->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, view->widget) +
                 2 * view->widget->cellMargin();
    return width;
}

int titleWidth(ListView *view, int column)
{
    QHeaderView *header = view->widget->horizontalHeader();
    QString title = view->widget->horizontalHeaderItem(column)->text();
    return std::max(header->fontMetrics().horizontalAdvance(title) + kTrailingHeaderPadding,
                    header->sectionSizeHint(column));
}

// What the list shows to the right of a column, inside the border and any vertical scroll bar.
int roomFrom(ListView *view, int column)
{
    ListViewWidget *widget = view->widget;
    int width = widget->contentsRect().width();
    int rowsHeight = widget->verticalHeader()->length();
    if (rowsHeight > widget->contentsRect().height() - widget->horizontalHeader()->sizeHint().height())
        width -= widget->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, widget);
    return width - widget->horizontalHeader()->sectionPosition(column);
}

// Windows: LVSCW_AUTOSIZE fits the texts; LVSCW_AUTOSIZE_USEHEADER fits texts and title, and
// the last column fills what is left of the list (here never narrower than its fit).
int fitWidth(ListView *view, int column, int sizing)
{
    int texts = textsWidth(view, column);
    return sizing == LVSCW_AUTOSIZE ? texts : std::max(texts, titleWidth(view, column));
}

int autosizedWidth(ListView *view, int column, int sizing)
{
    int width = fitWidth(view, column, sizing);
    if (sizing == LVSCW_AUTOSIZE_USEHEADER && column == int(view->columns.size()) - 1)
        width = std::max(width, roomFrom(view, column));
    return width;
}

// Columns sized to their texts fit the list in "MS Sans Serif", whose narrow capitals and
// digits the stand-in fonts lack: where their fits do not fit here, the list's font is
// narrowed, as the dialog's is for its captions, and they are sized again.
void fitAutosizedColumns(ListView *view)
{
    QHeaderView *header = view->widget->horizontalHeader();
    for (;;) {
        int total = 0;
        for (size_t column = 0; column < view->columns.size(); ++column) {
            int sizing = view->columns[column].sizing;
            total += sizing ? fitWidth(view, int(column), sizing) : header->sectionSize(int(column));
        }
        int room = roomFrom(view, 0);
        QFont font = view->widget->font();
        int stretch = font.stretch() == QFont::AnyStretch ? 100 : font.stretch();
        if (total <= room || stretch <= kNarrowestFont)
            return;
        font.setStretch(std::max(kNarrowestFont, std::min(stretch - 1, stretch * room / total)));
        view->widget->setFont(font);
        for (size_t column = 0; column < view->columns.size(); ++column)
            if (int sizing = view->columns[column].sizing)
                header->resizeSection(int(column), autosizedWidth(view, int(column), sizing));
    }
}

LRESULT setColumnWidth(ListView *view, int column, int width)
{
    if (column < 0 || column >= int(view->columns.size()))
        return FALSE;
    int sizing = width >= 0 ? 0 : width < LVSCW_AUTOSIZE_USEHEADER ? LVSCW_AUTOSIZE : width;
    view->columns[column].sizing = sizing;
    view->widget->horizontalHeader()->resizeSection(column, sizing ? autosizedWidth(view, column, sizing) : width);
    if (sizing)
        fitAutosizedColumns(view);
    return TRUE;
}

LRESULT getColumnWidth(ListView *view, int column)
{
    if (column < 0 || column >= int(view->columns.size()))
        return 0;
    return view->widget->horizontalHeader()->sectionSize(column);
}

LRESULT setExtendedStyle(ListView *view, DWORD mask, DWORD style)
{
    DWORD old = view->extendedStyle;
    DWORD now = mask ? (old & ~mask) | (style & mask) : style;
    if (now & ~kExtendedStyles)
        return unsupported("extended style", LVM_SETEXTENDEDLISTVIEWSTYLE);
    view->extendedStyle = now;
    // Windows gives every item an unticked box when check boxes come on.
    if ((now & ~old) & LVS_EX_CHECKBOXES)
        setItemState(view, -1, INDEXTOSTATEIMAGEMASK(1), LVIS_STATEIMAGEMASK);
    view->widget->setShowGrid(now & LVS_EX_GRIDLINES);
    showAllRows(view);
    return old;
}

// --- mouse and keys -----------------------------------------------------------------------

// The area at the left of a row's first cell that belongs to its check box.
QRect checkBoxArea(ListView *view, int row)
{
    QRect cell = view->widget->visualRect(view->widget->model()->index(row, 0));
    QRect indicator = view->widget->checkIndicator(row);
    return QRect(cell.left(), cell.top(), indicator.right() + view->widget->cellMargin() - cell.left() + 1, cell.height());
}

HitTest hitTest(ListView *view, POINT point)
{
    HitTest hit{-1, -1, false, point};
    ListViewWidget *widget = view->widget;
    QPoint p = widget->viewportPoint(point);
    if (!widget->viewport()->rect().contains(p))
        return hit;
    hit.subItem = widget->columnAt(p.x());
    if (hit.subItem < 0)
        return hit;
    hit.item = widget->rowAt(p.y());
    hit.checkBox = hit.item >= 0 && hit.subItem == 0 && hasCheckBox(view, view->rows[hit.item]) &&
                   checkBoxArea(view, hit.item).contains(p);
    return hit;
}

void toggleCheckBox(ListView *view, int item)
{
    int image = stateImage(view->rows[item].state);
    if (image == 1 || image == 2)
        changeItemState(view, item, INDEXTOSTATEIMAGEMASK(image ^ 3), LVIS_STATEIMAGEMASK);
}

// Windows' single selection: every other row loses its selection, then the row takes
// selection and focus.
void selectOnly(ListView *view, int item)
{
    for (int other = 0; other < itemCount(view); ++other)
        if (other != item && (view->rows[other].state & LVIS_SELECTED))
            changeItemState(view, other, 0, LVIS_SELECTED);
    changeItemState(view, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

bool onRow(const ListView *view, const HitTest &hit)
{
    return hit.item >= 0 && (hit.subItem == 0 || (view->extendedStyle & LVS_EX_FULLROWSELECT));
}

void deselectAll(ListView *view)
{
    for (int item = 0; item < itemCount(view); ++item)
        if (view->rows[item].state & LVIS_SELECTED)
            changeItemState(view, item, 0, LVIS_SELECTED);
}

// Windows: a press on a check box sends NM_CLICK and toggles the box, selecting nothing; a
// press on a row selects it (a row selected already only takes the focus until the release);
// a press elsewhere clears the selection. NM_CLICK otherwise follows on the release.
LRESULT onButtonDown(ListView *view, POINT point)
{
    view->buttonDown = true;
    view->buttonDownItem = -1;
    HitTest hit = hitTest(view, point);
    if (onRow(view, hit) && hit.checkBox) {
        notifyClick(view, hit);
        if (validItem(view, hit.item))
            toggleCheckBox(view, hit.item);
        view->buttonDown = false;
    } else if (onRow(view, hit)) {
        if (view->rows[hit.item].state & LVIS_SELECTED) {
            view->buttonDownItem = hit.item;
            changeItemState(view, hit.item, LVIS_FOCUSED, LVIS_FOCUSED);
        } else {
            selectOnly(view, hit.item);
        }
    } else {
        deselectAll(view);
    }
    view->widget->setFocus(Qt::MouseFocusReason);
    return 0;
}

LRESULT onButtonUp(ListView *view, POINT point)
{
    if (!view->buttonDown)
        return 0;
    view->buttonDown = false;
    HitTest hit = hitTest(view, point);
    notifyClick(view, hit);
    if (hit.item != -1 && hit.item == view->buttonDownItem && validItem(view, hit.item))
        selectOnly(view, hit.item);
    view->buttonDownItem = -1;
    return 0;
}

// Windows: the second press of a double click reports NM_DBLCLK, and on a check box turns the
// box once more, so two quick clicks count as two (Wine reports it but turns the box once).
// Its release is no click of its own.
LRESULT onButtonDoubleClick(ListView *view, POINT point)
{
    view->buttonDown = false;
    view->buttonDownItem = -1;
    HitTest hit = hitTest(view, point);
    notifyClick(view, hit, kNmDblClk);
    if (onRow(view, hit) && hit.checkBox && validItem(view, hit.item))
        toggleCheckBox(view, hit.item);
    return 0;
}

// Windows: a right press focuses the row under it and selects it alone unless it is selected
// already (a box is not turned); off the rows it clears the selection. NM_RCLICK follows on
// the release.
LRESULT onRightButtonDown(ListView *view, POINT point)
{
    view->rightButtonDown = true;
    HitTest hit = hitTest(view, point);
    if (!onRow(view, hit))
        deselectAll(view);
    else if (view->rows[hit.item].state & LVIS_SELECTED)
        changeItemState(view, hit.item, LVIS_FOCUSED, LVIS_FOCUSED);
    else
        selectOnly(view, hit.item);
    view->widget->setFocus(Qt::MouseFocusReason);
    return 0;
}

LRESULT onRightButtonUp(ListView *view, POINT point)
{
    if (!view->rightButtonDown)
        return 0;
    view->rightButtonDown = false;
    notifyClick(view, hitTest(view, point), kNmRClick);
    return 0;
}

LRESULT onKeyDown(ListView *view, WPARAM key)
{
    int focus = focusedItem(view);
    int count = itemCount(view);
    int target = -1;
    switch (key) {
    case kVkSpace:
        if (focus < 0)
            return 0;
        if (view->extendedStyle & LVS_EX_CHECKBOXES)
            toggleCheckBox(view, focus);
        target = focus;
        break;
    case kVkUp: target = focus > 0 ? focus - 1 : -1; break;
    case kVkDown: target = focus + 1 < count ? focus + 1 : -1; break;
    case kVkHome: target = count > 0 ? 0 : -1; break;
    case kVkEnd: target = count - 1; break;
    default: return 0;
    }
    if (validItem(view, target) && (target != focus || key == kVkSpace))
        selectOnly(view, target);
    return 0;
}

LRESULT getItemRect(ListView *view, int item, RECT *rect)
{
    if (!rect || !validItem(view, item) || view->columns.empty())
        return FALSE;
    ListViewWidget *widget = view->widget;
    QRect first = widget->visualRect(widget->model()->index(item, 0));
    QRect result;
    int checkRight = hasCheckBox(view, view->rows[item]) ? checkBoxArea(view, item).right() + 1 : first.left();
    switch (rect->left) {
    case kLvirBounds:
        result = first.united(widget->visualRect(widget->model()->index(item, int(view->columns.size()) - 1)));
        break;
    case kLvirIcon: // no image list: an empty icon right of the check box
        result = QRect(checkRight, first.top(), 0, first.height());
        break;
    case kLvirLabel:
        result = QRect(checkRight, first.top(), first.right() + 1 - checkRight, first.height());
        break;
    default:
        return unsupported("LVIR_ code", kLvmGetItemRect);
    }
    result = widget->clientRect(result);
    *rect = RECT{result.left(), result.top(), result.left() + result.width(), result.top() + result.height()};
    return TRUE;
}

POINT pointFrom(LPARAM lParam)
{
    return POINT{int16_t(LOWORD(lParam)), int16_t(HIWORD(lParam))};
}

} // namespace

QWidget *createListViewWidget(HWND window, QWidget *parentWidget)
{
    assert((window->style & kLvsTypeMask) == LVS_REPORT && "only the report view is supported");
    auto *widget = new ListViewWidget(parentWidget);
    widget->view.window = window;
    widget->view.widget = widget;
    widget->view.buttonDownItem = -1;
    window->classData = &widget->view;

    widget->setColumnCount(0);
    widget->setRowCount(0);
    widget->verticalHeader()->hide();
    widget->fitRowHeight();
    widget->setShowGrid(false);
    widget->setWordWrap(false);
    widget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The record decides what is selected; the widget only shows it.
    widget->setSelectionMode(QAbstractItemView::NoSelection);
    widget->setTabKeyNavigation(false);
    widget->setFocusPolicy(Qt::ClickFocus);
    widget->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView *header = widget->horizontalHeader();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionsClickable(!(window->style & LVS_NOSORTHEADER));
    header->setHighlightSections(false);
    if (!(window->style & WS_BORDER))
        widget->setFrameShape(QFrame::NoFrame);
    return widget;
}

LRESULT listViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND__ *record = layerWindow(window);
    auto *view = record ? static_cast<ListView *>(record->classData) : nullptr;
    if (!view)
        return 0;
    switch (message) {
    case LVM_GETITEMCOUNT: return itemCount(view);
    case LVM_GETITEMA: return getItem(view, reinterpret_cast<LVITEMA *>(lParam));
    case LVM_INSERTITEMA: return insertItem(view, reinterpret_cast<const LVITEMA *>(lParam));
    case LVM_DELETEALLITEMS: return deleteAllItems(view);
    case LVM_GETNEXTITEM: return getNextItem(view, int(wParam), UINT(lParam));
    case LVM_FINDITEMA: return findItem(view, int(wParam), reinterpret_cast<const LVFINDINFOA *>(lParam));
    case kLvmGetItemRect: return getItemRect(view, int(wParam), reinterpret_cast<RECT *>(lParam));
    case LVM_INSERTCOLUMNA: return insertColumn(view, int(wParam), reinterpret_cast<const LVCOLUMNA *>(lParam));
    case LVM_DELETECOLUMN: return deleteColumn(view, int(wParam));
    case LVM_GETCOLUMNWIDTH: return getColumnWidth(view, int(wParam));
    case LVM_SETCOLUMNWIDTH: return setColumnWidth(view, int(wParam), int16_t(LOWORD(lParam)));
    case LVM_SETITEMSTATE: {
        auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        return item ? setItemState(view, int(wParam), item->state, item->stateMask) : FALSE;
    }
    case LVM_GETITEMSTATE:
        return validItem(view, int(wParam)) ? view->rows[int(wParam)].state & UINT(lParam) : 0;
    case LVM_GETITEMTEXTA: return getItemText(view, int(wParam), reinterpret_cast<LVITEMA *>(lParam));
    case LVM_SETITEMTEXTA: {
        auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        return item ? setItemText(view, int(wParam), item->iSubItem, item->pszText) : FALSE;
    }
    case LVM_SETEXTENDEDLISTVIEWSTYLE: return setExtendedStyle(view, DWORD(wParam), DWORD(lParam));
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return view->extendedStyle;
    case WM_LBUTTONDOWN: return onButtonDown(view, pointFrom(lParam));
    case WM_LBUTTONUP: return onButtonUp(view, pointFrom(lParam));
    case WM_LBUTTONDBLCLK: return onButtonDoubleClick(view, pointFrom(lParam));
    case WM_RBUTTONDOWN: return onRightButtonDown(view, pointFrom(lParam));
    case WM_RBUTTONUP: return onRightButtonUp(view, pointFrom(lParam));
    case WM_KEYDOWN: return onKeyDown(view, wParam);
    default:
        if (message >= LVM_FIRST && message < LVM_FIRST + 0x100)
            return unsupported("message", message);
        return 0; // what DefWindowProc answers to the rest the layer may send
    }
}
