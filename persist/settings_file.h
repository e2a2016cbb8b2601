#pragma once

#include "units/unit.h"

// Reads GeneralOptions and every visited Unit's options from the settings file.
void loadSettings(Unit **cursor, GeneralOptions *options);

// Writes them back, with the window rectangle taken from the live dialog. A save in which a
// write fails says so in one message box.
void saveSettings(Unit **cursor, GeneralOptions *options);
