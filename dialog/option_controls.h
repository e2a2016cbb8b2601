#pragma once

#include "units/unit.h"

// The list view is built once in the life of the process, at the first refresh.
struct OptionControlsState {
    BOOL listViewBuilt;
};
extern OptionControlsState optionControlsState;

// Sets every option control from the records; the first call also builds the list view.
void refreshOptionControls(HWND dialog, Unit **shown, GeneralOptions *options);

// Applies one bit button of the "Read" or "Write" row to the selected Unit's masks.
void togglePortBit(HWND dialog, int id, Unit **cursor);

// The change handler of an option check box or edit.
void handleOptionCommand(HWND dialog, int id, int code, Unit **cursor, GeneralOptions *options);
