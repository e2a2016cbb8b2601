#include "units/load_meters.h"

uint32_t megabytes(ULONGLONG bytes)
{
    return bytes > 1048576 ? uint32_t(bytes / 1048576) : 0;
}

int32_t sampleRamLoad(Unit **current)
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    // A failed query is no news: the meter keeps what it shows.
    if (!GlobalMemoryStatusEx(&status))
        return (*current)->percent;
    (*current)->memFreeMb = megabytes(status.ullAvailPhys);
    (*current)->memTotalMb = megabytes(status.ullTotalPhys);
    return int32_t(status.dwMemoryLoad);
}

int32_t sampleVirtualLoad(Unit **current)
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return (*current)->percent;
    (*current)->virtFreeMb = megabytes(status.ullAvailPageFile);
    (*current)->virtTotalMb = megabytes(status.ullTotalPageFile);
    if (status.ullTotalPageFile == 0)
        return 0;
    // Truncating the available share before subtracting rounds the load up.
    ULONGLONG available = status.ullAvailPageFile * 100 / status.ullTotalPageFile;
    return available >= 100 ? 0 : int32_t(100 - available);
}
