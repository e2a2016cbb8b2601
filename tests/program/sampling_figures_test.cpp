// The figures the sampler derives from a volume's and the memory's byte counts.
#include "units/drive_sampling.h"
#include "units/load_meters.h"

#include <gtest/gtest.h>

namespace {

TEST(FreeSpace, PercentAndScaleAtTheBounds)
{
    struct Case {
        ULONGLONG total, free;
        int32_t percent;
        uint32_t divisor;
        char letter;
        uint32_t freeScaled, totalScaled;
    };
    const Case cases[] = {
        {500107862016ull, 250053931008ull, 50, 1073741824, 'G', 232, 465}, // 0
        {1073741825ull, 1073741825ull, 100, 1073741824, 'G', 1, 1},        // 1: just above 1 GiB
        {1073741824ull, 536870912ull, 50, 1048576, 'M', 512, 1024},        // 2: exactly 1 GiB is shown in M
        {1048577ull, 1ull, 0, 1048576, 'M', 0, 1},                         // 3
        {1048576ull, 1048576ull, 100, 1, ' ', 1048576, 1048576},           // 4: exactly 1 MiB in bytes
        {500107862016ull, 0, 0, 1073741824, 'G', 0, 465},                  // 5: a full volume is 0 %, not unknown
        {0, 0, -1, 1, ' ', 0, 0},                                          // 6: unknown (a physical drive)
        {1000, 999, 99, 1, ' ', 999, 1000},                                // 7: truncated, not rounded
        {~0ull, ~0ull / 3, 33, 1073741824, 'G', uint32_t(~0ull / 3 / 1073741824), uint32_t(~0ull / 1073741824)},
    };
    for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
        Unit unit = {};
        storeFreeSpace(&unit, cases[i].total, cases[i].free);
        EXPECT_EQ(unit.percent, cases[i].percent) << "case " << i;
        EXPECT_EQ(unit.scaleDivisor, cases[i].divisor) << "case " << i;
        EXPECT_EQ(unit.scaleLetter, cases[i].letter) << "case " << i;
        EXPECT_EQ(unit.freeScaled, cases[i].freeScaled) << "case " << i;
        EXPECT_EQ(unit.totalScaled, cases[i].totalScaled) << "case " << i;
        EXPECT_EQ(unit.changed, 0) << "case " << i;
    }
}

TEST(Megabytes, OneMebibyteOrLessIsZero)
{
    EXPECT_EQ(megabytes(0), 0u);
    EXPECT_EQ(megabytes(1048576), 0u);
    EXPECT_EQ(megabytes(1048577), 1u);
    EXPECT_EQ(megabytes(8589934592ull), 8192u);
    EXPECT_EQ(megabytes(3758096384ull), 3584u);
}

} // namespace
