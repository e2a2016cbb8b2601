#include "platform/layer_qt.h"

#include <QApplication>
#include <cstdlib>
#include <malloc.h>

QApplication *layerApplication()
{
    static QApplication *application = nullptr;
    if (!application) {
        // Without a display the program still runs: invisible windows, console tray.
        if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The program's work is on one thread; Qt's helper threads (X events, D-Bus) allocate
        // little, and an arena of their own each would keep pages dirty for the whole run.
        mallopt(M_ARENA_MAX, 1);
        static int argc = 1;
        static char name[] = "TallowLAMP";
        static char *argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
        application->setQuitOnLastWindowClosed(false);
    }
    return application;
}
