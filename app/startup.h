#pragma once

#include "units/unit.h"

// Set when the command line carries the start-up switch (a start at log-on).
extern BOOL LaunchedAtStartup;

// Lower-cases the command-line tail in place and notes the start-up switch.
void noteStartupSwitch(char *commandTail);

// First step of the dialog's initialisation: the UnitList, the window icon, the first Start.
int dialogBootstrap(HWND dialog, WPARAM wParam, LPARAM lParam, Unit **cursor);
