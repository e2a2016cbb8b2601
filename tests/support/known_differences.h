// Where Wine, our stand-in for Windows in the tests, is known to answer otherwise than Windows
// does. A case marked so must still differ on Wine: a mark that no longer holds fails.
#pragma once

// True when the test runs under Wine (its ntdll exports wine_get_version).
bool runningOnWine();

// Whether the case, marked as one where Wine differs, should be expected to match.
inline bool expectWindowsAnswer(bool wineDiffers)
{
    return !(wineDiffers && runningOnWine());
}
