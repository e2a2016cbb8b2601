// Discovery on a machine in a folder, for the Linux layer's tests.
#pragma once

#include "platform/layer_testing.h"
#include "tests/support/fixture_machine.h"
#include "units/discovery.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Points the layer at a machine in a folder, or (null) at this one.
inline void pointLayerAt(const char *root)
{
    if (root)
        setenv("TALLOWLAMP_SYSROOT", root, 1);
    else
        unsetenv("TALLOWLAMP_SYSROOT");
    layerForgetMachine();
}

// Points the layer at a machine for the life of the test.
struct UseMachine {
    explicit UseMachine(const FixtureMachine &machine) { pointLayerAt(machine.root.c_str()); }
    ~UseMachine() { pointLayerAt(nullptr); }
};

struct DiscoveredList {
    Unit *cursor = nullptr;
    DiscoveredList() { discoverUnits(&cursor); }
    ~DiscoveredList()
    {
        for (Unit *unit = unitListHead(cursor); unit;) {
            Unit *next = unit->next;
            std::free(unit);
            unit = next;
        }
    }
    Unit *find(const char *path) const
    {
        Unit *unit = unitListFindByPath(cursor, path);
        return unit->next ? unit : nullptr;
    }
};

inline std::string describe(const Unit *unit)
{
    char text[1024];
    std::snprintf(text, sizeof text, "%d %s kind=%d listed=%d label=[%s] fs=[%s]", unit->unitId, unit->path,
                  unit->kind, !unit->notListed, unit->volumeName, unit->fileSystem);
    return text;
}

inline std::vector<std::string> describeList(Unit *cursor)
{
    std::vector<std::string> lines;
    forEachUnitForward(cursor, [&](Unit *unit) { lines.push_back(describe(unit)); });
    return lines;
}
