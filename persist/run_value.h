#pragma once

#include "platform/win32.h"

// Writes (enable) or removes the Run value that starts the program at log-on.
void setStartWithOs(BOOL enable);
