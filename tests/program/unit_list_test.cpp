#include "tests/support/unit_lists.h"
#include "units/unit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Head placeholder, the given paths, tail placeholder; the cursor ends on the tail.
Unit *buildList(const std::vector<std::string> &paths)
{
    Unit *cursor = nullptr;
    EXPECT_TRUE(unitListAppend(&cursor));
    for (const std::string &path : paths) {
        EXPECT_TRUE(unitListAppend(&cursor));
        std::strcpy(cursor->path, path.c_str());
    }
    EXPECT_TRUE(unitListAppend(&cursor));
    return cursor;
}

std::vector<std::string> forwardPaths(Unit *cursor)
{
    std::vector<std::string> paths;
    forEachUnitForward(cursor, [&](Unit *unit) { paths.push_back(unit->path); });
    return paths;
}

std::vector<std::string> backwardPaths(Unit *cursor)
{
    std::vector<std::string> paths;
    forEachUnitBackward(cursor, [&](Unit *unit) { paths.push_back(unit->path); });
    return paths;
}

} // namespace

TEST(UnitList, AppendLinksNewZeroedUnitsAtTheTail)
{
    Unit *cursor = nullptr;
    ASSERT_TRUE(unitListAppend(&cursor));
    Unit *first = cursor;
    EXPECT_EQ(nullptr, first->prev);
    EXPECT_EQ(nullptr, first->next);
    EXPECT_EQ(1, first->showInTray);
    EXPECT_EQ(0, first->enabled);
    EXPECT_STREQ("", first->path);

    ASSERT_TRUE(unitListAppend(&cursor));
    Unit *second = cursor;
    // Appending from a cursor in the middle still goes to the tail.
    cursor = first;
    ASSERT_TRUE(unitListAppend(&cursor));
    Unit *third = cursor;
    EXPECT_EQ(second, first->next);
    EXPECT_EQ(third, second->next);
    EXPECT_EQ(second, third->prev);
    EXPECT_EQ(nullptr, third->next);
    freeUnitList(cursor);
}

TEST(UnitList, WalksVisitThePlaceholdersOnTheirOwnSideOnly)
{
    Unit *cursor = buildList({"RAM Usage", "VRAM Usage"});
    // The four-Unit list of a machine with no openable device.
    EXPECT_EQ((std::vector<std::string>{"", "RAM Usage", "VRAM Usage"}), forwardPaths(cursor));
    EXPECT_EQ((std::vector<std::string>{"", "VRAM Usage", "RAM Usage"}), backwardPaths(cursor));
    // The walks start from wherever the cursor is.
    Unit *middle = unitListHead(cursor)->next;
    EXPECT_EQ(forwardPaths(cursor), forwardPaths(middle));
    EXPECT_EQ(backwardPaths(cursor), backwardPaths(middle));
    EXPECT_EQ(nullptr, unitListHead(cursor)->prev);
    EXPECT_EQ(nullptr, unitListTail(middle)->next);
    freeUnitList(cursor);
}

TEST(UnitList, FindByPathIsExactAndFallsBackToTheTail)
{
    Unit *cursor = buildList({"\\\\.\\PHYSICALDRIVE0", "\\\\.\\C:", "RAM Usage", "VRAM Usage"});
    Unit *tail = unitListTail(cursor);
    Unit *middle = unitListHead(cursor)->next->next;

    EXPECT_STREQ("\\\\.\\C:", unitListFindByPath(tail, "\\\\.\\C:")->path);
    EXPECT_EQ(middle, unitListFindByPath(middle, "\\\\.\\C:"));
    EXPECT_STREQ("VRAM Usage", unitListFindByPath(middle, "VRAM Usage")->path);
    EXPECT_EQ(tail, unitListFindByPath(middle, "\\\\.\\c:"));
    EXPECT_EQ(tail, unitListFindByPath(middle, "RAM"));
    EXPECT_EQ(tail, unitListFindByPath(middle, "RAM Usage "));
    freeUnitList(cursor);
}
