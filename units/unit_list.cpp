#include "units/unit.h"

#include <cstdlib>
#include <cstring>

bool unitListAppend(Unit **cursor)
{
    Unit *unit = static_cast<Unit *>(std::calloc(1, sizeof(Unit)));
    if (!unit)
        return false;
    unit->showInTray = 1;
    if (*cursor) {
        Unit *tail = unitListTail(*cursor);
        tail->next = unit;
        unit->prev = tail;
    }
    *cursor = unit;
    return true;
}

Unit *unitListHead(Unit *cursor)
{
    if (cursor)
        while (cursor->prev)
            cursor = cursor->prev;
    return cursor;
}

Unit *unitListTail(Unit *cursor)
{
    if (cursor)
        while (cursor->next)
            cursor = cursor->next;
    return cursor;
}

Unit *unitListFindByPath(Unit *cursor, const char *text)
{
    Unit *unit = unitListHead(cursor);
    while (unit && unit->next && std::strcmp(unit->path, text) != 0)
        unit = unit->next;
    return unit;
}
