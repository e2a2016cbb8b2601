#pragma once

#include "units/unit.h"

// Process-wide state of the notification area.
struct TrayState {
    HICON templateIdle;
    HICON templateRead;
    HICON templateWrite;
    HICON templateReadWrite;
    HICON templateMeter;
    int32_t loadedIconSet;
    BOOL singleIconShown;
};
extern TrayState trayState;

// One update pass: adds, modifies and deletes tray icons for the Units that changed, and
// drives the port and LED outputs.
int updateTrayIcons(HWND dialog, Unit **cursor, GeneralOptions *options);

// Deletes every Unit's own icon; the single icon stays.
int removeUnitIcons(HWND dialog, Unit **cursor);

// Deletes every icon of the program.
int removeAllTrayIcons(HWND dialog, Unit **cursor);

// The notification area was recreated (the shell restarted): every icon is gone, so the
// next pass adds them again.
void forgetTrayIcons(Unit **cursor);
