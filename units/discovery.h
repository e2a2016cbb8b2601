#pragma once

#include "units/unit.h"

// Builds the UnitList once at start-up: physical drives, logical drives C to Z, the two
// meters, between the two placeholders. Leaves the cursor on the tail placeholder.
int discoverUnits(Unit **cursor);

// The device opens for a query (no access rights asked); the handle is closed at once.
bool deviceOpens(const char *path);

// Label and file system of a logical drive into the Unit the cursor points at.
int readVolumeInfo(const char *devicePath, Unit *cursor);
