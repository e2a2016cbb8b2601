#pragma once

#include "units/unit.h"

// Process-wide values of the sampling pass.
struct SamplerState {
    uint8_t diskperfPromptPending;
    int32_t lastRamValue;
    int32_t lastVirtualValue;
};
extern SamplerState samplerState;

// One poll pass over the enabled drives and meters. Returns 1 after a complete pass.
int sampleUnits(Unit **cursor, GeneralOptions **options);

// Free space, percentage and size scale of a drive from its volume's byte counts.
void storeFreeSpace(Unit *unit, ULONGLONG total, ULONGLONG free);
