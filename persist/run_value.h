#pragma once

#include "platform/win32.h"

// Writes (enable) or removes the Run value that starts the program at log-on. Answers
// ERROR_SUCCESS, or the error that left the registration as it was.
LSTATUS setStartWithOs(BOOL enable);
