// The layer's one Qt application, created on first use by whatever call needs it (the
// program's start-up, or a test that opens a dialog or draws an icon).
#pragma once

class QApplication;

QApplication *layerApplication();
