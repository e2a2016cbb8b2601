#include "tests/support/main_dialog_runner.h"

#include "app/main_dialog.h"
#include "app/startup.h"
#include "dialog/option_controls.h"
#include "indicators/tray_icons.h"
#include "res/resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const UINT_PTR kStepTimer = 0x7e57;

const std::vector<DialogStep> *currentSteps;
size_t nextStep;
UINT stepInterval;
DialogRun *currentRun;

INT_PTR CALLBACK scriptedProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kStepTimer) {
        if (nextStep < currentSteps->size())
            (*currentSteps)[nextStep++](dialog);
        else {
            KillTimer(dialog, kStepTimer);
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    if (message == WM_TIMER && wParam == TIMER_POLL)
        ++currentRun->pollTicks;
    if (message == WM_COMMAND) {
        currentRun->notices.push_back((UINT)MAKELONG(LOWORD(wParam), HIWORD(wParam)));
        if (HIWORD(wParam) == 0)
            currentRun->clicks.push_back(LOWORD(wParam));
        if (wParam == IDC_START && currentRun->pollIntervalAtFirstStart == 0)
            currentRun->pollIntervalAtFirstStart = generalOptions.pollInterval;
    }
    DWORD start = GetTickCount();
    INT_PTR result = mainDialogProc(dialog, message, wParam, lParam);
    if (message == WM_DELAYED_START)
        currentRun->msInDelayedStart += GetTickCount() - start;
    if (message == WM_INITDIALOG)
        SetTimer(dialog, kStepTimer, stepInterval, NULL);
    return result;
}

} // namespace

std::string settingsPathBesideExecutable()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    PathRemoveFileSpecA(path);
    PathAppendA(path, "TallowLAMP.ini");
    return path;
}

void resetProgramState()
{
    // The Units of a previous run are released here: the program itself never frees them.
    for (Unit *unit = unitListHead(unitCursor); unit;) {
        Unit *next = unit->next;
        for (HICON icon : {unit->iconIdle, unit->iconRead, unit->iconWrite, unit->iconReadWrite, unit->iconMeter})
            if (icon)
                DestroyIcon(icon);
        std::free(unit);
        unit = next;
    }
    unitCursor = nullptr;
    std::memset(&generalOptions, 0, sizeof generalOptions);
    MonitoringOn = FALSE;
    LaunchedAtStartup = FALSE;
    optionControlsState = {};
    trayState = {};
}

DialogRun runMainDialog(const std::string &settingsText, const std::vector<DialogStep> &steps, UINT stepIntervalMs,
                        bool launchedAtStartup)
{
    resetProgramState();
    LaunchedAtStartup = launchedAtStartup;
    std::string path = settingsPathBesideExecutable();
    std::remove(path.c_str());
    if (!settingsText.empty()) {
        if (std::FILE *file = std::fopen(path.c_str(), "wb")) {
            std::fwrite(settingsText.data(), 1, settingsText.size(), file);
            std::fclose(file);
        }
    }
    DialogRun run;
    currentRun = &run;
    currentSteps = &steps;
    nextStep = 0;
    stepInterval = stepIntervalMs;
    run.result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, scriptedProc, 0);
    currentRun = nullptr;
    return run;
}
