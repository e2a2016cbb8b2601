// Scroll Lock on the keyboards' own LEDs, for sessions where X's indicator lights none
// (user32_keyboard_logind.cpp; user32_keyboard.cpp chooses it).
#pragma once

// 1 when any keyboard's scrolllock LED is lit; 0 when none is, or none can be driven.
int sessionScrollLockLit();

// What a press of Scroll Lock does: every such LED to the opposite of that state.
void sessionScrollLockPress();

// Closes what the LEDs hold (files, the bus), so that the next use looks again.
void sessionLedsForget();
