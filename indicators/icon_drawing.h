#pragma once

#include "units/unit.h"

// A copy of the template with the label drawn in its middle; the template stays valid.
HICON drawLabelIcon(HICON templateIcon, const char *label);

// A new meter icon showing the Unit's percent as a bar and a number. The given icon is
// released when the new one is made.
HICON drawMeterIcon(HICON icon, const Unit *unit, const GeneralOptions *options);
