#pragma once

#include "units/unit.h"

typedef void(WINAPI *Out32Function)(short port, short value);

// Process-wide state of the parallel port output.
struct PortState {
    HMODULE portLibrary;
    Out32Function portOut;
    uint8_t portReadBits;
    uint8_t portWriteBits;
    uint8_t portLastOutput;
};
extern PortState portState;

// Folds the Unit's activity into the port byte and writes the byte when it changed.
// Returns -1 when the port library cannot be loaded.
int writePortActivity(const Unit *unit);

// Whether the LED is lit because setKeyboardLed lit it (not the user).
struct KeyboardLedState {
    uint8_t litByProgram;
};
extern KeyboardLedState keyboardLedState;

// Brings the key's toggle state (and so its LED) to the wanted state, 1 lit or 0 dark.
void setKeyboardLed(int virtualKey, int wanted);

// Puts out the LED if setKeyboardLed lit it, once the LED no longer shows activity (monitoring
// stopped, the program ending, the option or single icon mode switched off); one the user lit
// is left alone.
void putOutKeyboardLed(int virtualKey);
