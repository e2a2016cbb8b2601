#pragma once

#include "units/unit.h"

// Reads GeneralOptions and every visited Unit's options from the settings file.
void loadSettings(Unit **cursor, GeneralOptions *options);

// Writes them back, with the window rectangle taken from the live dialog.
void saveSettings(Unit **cursor, GeneralOptions *options);
