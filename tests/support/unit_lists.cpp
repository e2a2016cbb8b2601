#include "tests/support/unit_lists.h"

#include <cstdlib>

void freeUnitList(Unit *cursor)
{
    for (Unit *unit = cursor ? unitListHead(cursor) : nullptr; unit;) {
        Unit *next = unit->next;
        std::free(unit);
        unit = next;
    }
}
