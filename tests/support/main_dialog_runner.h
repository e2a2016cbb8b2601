// Runs the program's real main dialog (template 100, mainDialogProc) in the test process and
// drives it with scripted steps, one per tick of a test timer: ticks come only when the
// queue is empty, so every step sees the dialog settled.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <string>
#include <vector>

using DialogStep = std::function<void(HWND dialog)>;

struct DialogRun {
    INT_PTR result = 0;
    std::vector<UINT> clicks;      // ids of the WM_COMMANDs with code 0 (buttons, Enter, Esc)
    std::vector<UINT> notices;     // every WM_COMMAND as MAKELONG(id, code), in order
    int pollTicks = 0;           // WM_TIMER 1025 ticks seen
    uint32_t pollIntervalAtFirstStart = 0;
    DWORD msInDelayedStart = 0;  // spent handling the delayed-start message
};

// The settings file the program reads beside the running executable.
std::string settingsPathBesideExecutable();

// Forgets everything a previous run left in the program's process-wide records.
void resetProgramState();

// Writes the settings file (or removes it for an empty text), runs the dialog and the steps
// and returns when the dialog has ended. A step may end the dialog itself; after the last
// step the runner closes it with WM_CLOSE. launchedAtStartup stands for the start-up switch.
DialogRun runMainDialog(const std::string &settingsText, const std::vector<DialogStep> &steps,
                        UINT stepIntervalMs = 30, bool launchedAtStartup = false);
