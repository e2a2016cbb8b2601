#include "platform/posix_stack.h"

#include <cstdint>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Room kept below the caller for this function's own frame and the calls it makes.
constexpr uintptr_t kKeep = 16 * 1024;

// The start of the mapping that holds address, from the kernel's list of the process's mappings.
uintptr_t mappingStart(uintptr_t address)
{
    FILE *maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return 0;
    uintptr_t found = 0;
    uintmax_t low = 0, high = 0;
    while (std::fscanf(maps, "%jx-%jx%*[^\n]", &low, &high) == 2) {
        if (low <= address && address < high) {
            found = uintptr_t(low);
            break;
        }
    }
    std::fclose(maps);
    return found;
}

} // namespace

__attribute__((noinline)) size_t layerGiveBackStack()
{
    static uintptr_t start = 0;
    volatile char here = 0;
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t end = (uintptr_t(&here) - kKeep) & ~(page - 1);
    unsigned char resident = 0;
    // A stack is used from the top down: nothing has run deeper than the kept room since the
    // last call unless the page just below it is back.
    if (start && start < end && mincore(reinterpret_cast<void *>(end - page), page, &resident) == 0 &&
        !(resident & 1))
        return 0;
    // The kernel keeps the page below a stack unmapped unless the stack has grown into it:
    // only then is the start looked up again.
    if (!start || mincore(reinterpret_cast<void *>(start - page), page, &resident) == 0)
        start = mappingStart(uintptr_t(&here));
    if (!start || start >= end)
        return 0;
    // Nothing below the stack pointer is live: a signal handler pushes its frame afresh.
    if (madvise(reinterpret_cast<void *>(start), end - start, MADV_DONTNEED) != 0)
        return 0;
    return end - start;
}
