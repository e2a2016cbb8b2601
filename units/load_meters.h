#pragma once

#include "units/unit.h"

// Byte counts above 1 MiB in whole MiB; 1 MiB or less gives 0.
uint32_t megabytes(ULONGLONG bytes);

// Physical memory load as the platform reports it; fills memFreeMb and memTotalMb.
int32_t sampleRamLoad(Unit **current);

// Commit load, rounded up; fills virtFreeMb and virtTotalMb.
int32_t sampleVirtualLoad(Unit **current);
