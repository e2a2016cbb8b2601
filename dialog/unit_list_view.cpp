// The unit list view: one row per listed Unit, tied to its Unit by the path in column 0.
#include "dialog/unit_list_view.h"

#include "res/resource.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const kColumnTitles[] = {"Unit", "Type", "Free %", "Tray", "Volumename", "Filesystem", "Port 0x378"};
enum { COLUMN_UNIT, COLUMN_TYPE, COLUMN_FREE, COLUMN_TRAY, COLUMN_VOLUME, COLUMN_FILESYSTEM, COLUMN_PORT, COLUMN_COUNT };

const char *typeText(int32_t kind)
{
    switch (kind) {
    case DRIVE_UNKNOWN: return "Drive: Unknown";
    case DRIVE_NO_ROOT_DIR: return "Drive: No Root";
    case DRIVE_REMOVABLE: return "Drive: Removable";
    case DRIVE_FIXED: return "Drive: Fixed";
    case DRIVE_REMOTE: return "Drive: Remote";
    case DRIVE_CDROM: return "Drive: CD-ROM";
    case DRIVE_RAMDISK: return "Drive: RAM-Disk";
    case KIND_RAM:
    case KIND_VIRTUAL_RAM: return "Extension";
    }
    return "???";
}

// Drives show their free space, meters their load turned into what is free.
void formatFree(const Unit *unit, char (&text)[16])
{
    bool meter = unit->kind == KIND_RAM || unit->kind == KIND_VIRTUAL_RAM;
    std::snprintf(text, sizeof text, "%d%%", meter ? 100 - unit->percent : unit->percent);
}

void setCell(HWND list, int row, int column, const char *text)
{
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.iSubItem = column;
    item.pszText = const_cast<char *>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

void sizeColumn(HWND list, int column, int how)
{
    SendMessageA(list, LVM_SETCOLUMNWIDTH, (WPARAM)column, how);
}

// The cells that follow the Unit while the program runs.
void setChangingCells(HWND list, int row, const Unit *unit)
{
    char free[16];
    formatFree(unit, free);
    setCell(list, row, COLUMN_FREE, free);
    setCell(list, row, COLUMN_TRAY, unit->showInTray ? "Yes" : "No");
    setCell(list, row, COLUMN_PORT, unit->portEnabled ? "0x378" : "No");
}

} // namespace

int buildUnitListView(HWND, HWND list, Unit **cursor)
{
    if (!list)
        return 0;
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0))
        ;
    if (!*cursor)
        return 0;
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    for (int column = 0; column < COLUMN_COUNT; ++column) {
        LVCOLUMNA header;
        std::memset(&header, 0, sizeof header);
        header.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        header.fmt = LVCFMT_CENTER;
        header.pszText = const_cast<char *>(kColumnTitles[column]);
        header.iSubItem = column;
        SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)column, (LPARAM)&header);
    }
    // From the tail to the head, each row inserted at the top: the rows end in list order.
    for (Unit *unit = unitListTail(*cursor); unit; unit = unit->prev) {
        if (unit->notListed)
            continue;
        LVITEMA item;
        std::memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.pszText = unit->path;
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        sizeColumn(list, COLUMN_UNIT, LVSCW_AUTOSIZE);
        setCell(list, 0, COLUMN_TYPE, typeText(unit->kind));
        sizeColumn(list, COLUMN_TYPE, LVSCW_AUTOSIZE);
        setChangingCells(list, 0, unit);
        setCell(list, 0, COLUMN_VOLUME, unit->volumeName);
        setCell(list, 0, COLUMN_FILESYSTEM, unit->fileSystem);
        for (int column = COLUMN_FREE; column < COLUMN_COUNT; ++column)
            sizeColumn(list, column, LVSCW_AUTOSIZE_USEHEADER);

        LVITEMA box;
        std::memset(&box, 0, sizeof box);
        box.stateMask = LVIS_STATEIMAGEMASK;
        box.state = INDEXTOSTATEIMAGEMASK(unit->enabled ? 2 : 1);
        SendMessageA(list, LVM_SETITEMSTATE, 0, (LPARAM)&box);
    }
    return 0;
}

int refreshUnitListView(HWND dialog, Unit **cursor, GeneralOptions *)
{
    if (!IsWindowVisible(dialog) || !*cursor)
        return 0;
    HWND list = GetDlgItem(dialog, IDC_UNIT_LIST);
    forEachUnitForward(*cursor, [list](Unit *unit) {
        if (unit->notListed)
            return;
        LVFINDINFOA find;
        std::memset(&find, 0, sizeof find);
        find.flags = LVFI_STRING;
        find.psz = unit->path;
        int row = (int)SendMessageA(list, LVM_FINDITEMA, (WPARAM)-1, (LPARAM)&find);
        if (row >= 0)
            setChangingCells(list, row, unit);
    });
    return 1;
}
