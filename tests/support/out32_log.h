// The log of the recording port library (tests/support/out32_recorder), which the test
// executables find beside themselves under the name the program loads.
#pragma once

#include <string>

// Points TALLOWLAMP_OUT32_LOG at an empty file beside the test executable.
void startOut32Log();

// The bytes written to port 0x378 since startOut32Log, in order.
std::string readOut32Log();

// The recording library's file beside the test executable (inpout32.dll, libinpout32.so).
std::string out32LibraryPath();
