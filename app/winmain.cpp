// The entry: single instance, one processor, the start-up switch, then the main dialog
// until it ends. The dialog's result is the exit code.
#include "app/command_line.h"
#include "app/main_dialog.h"
#include "app/startup.h"
#include "res/resource.h"

// The tail is taken from the process's command line, not from the start-up code's argument,
// so that both builds read it by the same rule.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // Kept open for the life of the process: the name is the instance marker.
    HANDLE mutex = CreateMutexA(NULL, TRUE, "TallowLAMP");
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(NULL, "TallowLAMP is already running!", "Warning", MB_OK | MB_ICONEXCLAMATION);
        return 5;
    }
    SetProcessAffinityMask(GetCurrentProcess(), 1);
    noteStartupSwitch(commandLineTail(GetCommandLineA()));

    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFFFFFFFF};
    InitCommonControlsEx(&controls);
    return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, mainDialogProc, 0);
}
