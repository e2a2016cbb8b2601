// UnitLists that tests build themselves: the program never frees its Units, a test does.
#pragma once

#include "units/unit.h"

// Frees every Unit of the list the cursor is in (nothing for a null cursor).
void freeUnitList(Unit *cursor);
