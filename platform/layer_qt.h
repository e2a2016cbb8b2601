// The layer's one Qt application, created on first use by whatever call needs it (the
// program's start-up, or a test that opens a dialog or draws an icon).
#pragma once

class QApplication;

QApplication *layerApplication();

// The process start-up's pipe of close signals (SIGINT, SIGTERM) and what delivers them as
// WM_CLOSE: a long Sleep (the delayed start's) ends when one arrives, and delivers it at once.
void layerWatchCloseSignals(int pipeFd, void (*deliver)());
