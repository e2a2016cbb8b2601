#pragma once

#include "units/unit.h"

// Fills the list view with one row per listed Unit.
int buildUnitListView(HWND dialog, HWND list, Unit **cursor);

// Renews the changing columns while the dialog is visible.
int refreshUnitListView(HWND dialog, Unit **cursor, GeneralOptions *options);
