// The main thread's stack below the caller goes back to the kernel: a deep call's pages stop
// counting as the process's own, also when the stack has grown since the last call; the
// caller's frame keeps its data, and deep calls run again.
#include "platform/posix_stack.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>

namespace {

// Deeper than the stack has been before in this process, so that it grows: 1 MB.
constexpr int kDepth = 64;
constexpr size_t kBlock = 16 * 1024;

// Private_Dirty of the main thread's stack, in kB (-1 when not found).
long stackDirtyKb()
{
    std::ifstream smaps("/proc/self/smaps");
    bool inStack = false;
    for (std::string line; std::getline(smaps, line);) {
        if (line.find("Private_Dirty:") == 0 && inStack)
            return std::stol(line.substr(14));
        if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' '))
            inStack = line.size() >= 7 && line.compare(line.size() - 7, 7, "[stack]") == 0;
    }
    return -1;
}

// Writes every page of a block at each level and sums what it wrote back up.
__attribute__((noinline)) unsigned runDeep(int depth)
{
    volatile unsigned char block[kBlock];
    for (size_t i = 0; i < kBlock; i += 256)
        block[i] = static_cast<unsigned char>(depth + i / 256);
    unsigned below = depth > 1 ? runDeep(depth - 1) : 0;
    unsigned sum = below;
    for (size_t i = 0; i < kBlock; i += 256)
        sum += block[i];
    return sum;
}

} // namespace

TEST(GiveBackStack, DeepPagesGoTheCallersFrameStaysDeepCallsRunAgain)
{
    char kept[8192];
    for (size_t i = 0; i < sizeof kept; ++i)
        kept[i] = char(i * 7);
    layerGiveBackStack(); // the stack as it is now: the deep call below makes it grow
    const unsigned first = runDeep(kDepth);
    const long deep = stackDirtyKb();
    ASSERT_GE(deep, long(kDepth * kBlock / 1024)) << "the deep call did not reach the stack's pages";

    const size_t given = layerGiveBackStack();
    const long after = stackDirtyKb();
    EXPECT_GE(given, (kDepth - 1) * kBlock); // the keep below the caller may hold one block
    EXPECT_LE(after, deep - long((kDepth - 2) * kBlock / 1024)) << "given back " << given << " bytes";
    for (size_t i = 0; i < sizeof kept; ++i)
        ASSERT_EQ(kept[i], char(i * 7)) << "at " << i;
    EXPECT_EQ(layerGiveBackStack(), 0u) << "nothing ran deeper since: nothing to give back";

    EXPECT_EQ(runDeep(kDepth), first);
    EXPECT_GE(stackDirtyKb(), long(kDepth * kBlock / 1024));
    EXPECT_GE(layerGiveBackStack(), (kDepth - 1) * kBlock) << "a later call gives back as the first did";
}
