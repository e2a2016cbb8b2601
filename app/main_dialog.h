#pragma once

#include "units/unit.h"

// The process-wide records of the running program.
extern GeneralOptions generalOptions;
extern Unit *unitCursor;
extern BOOL MonitoringOn;

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
