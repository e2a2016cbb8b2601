// The process start-up of the Linux program, as Windows' start-up code runs a GUI program:
// the layer's Qt application, the command-line tail by the C runtime's rule, then WinMain
// and its result as the exit code. SIGINT and SIGTERM end the program as its close box does: through a self-pipe
// the layer posts WM_CLOSE to the program's dialog (and to any open message box first), also
// from inside a Sleep, which the signal cuts short; a second signal ends the process at once.
#include "platform/layer_qt.h"
#include "platform/user32_window.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    // The code the signal cut into may be about to read errno: a full pipe must not change it.
    const int saved = errno;
    char byte = char(number);
    ssize_t written = write(signalPipe[1], &byte, 1);
    (void)written;
    errno = saved;
}

void closeOnSignal()
{
    char byte;
    while (read(signalPipe[0], &byte, 1) > 0) {
        const std::vector<HWND> &windows = layerWindows();
        if (windows.empty())
            std::_Exit(128 + byte);
        // Newest first: message boxes answer, then the dialog closes.
        for (auto it = windows.rbegin(); it != windows.rend(); ++it)
            PostMessageA(*it, WM_CLOSE, 0, 0);
    }
}

void installSignalHandling()
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, layerApplication());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, closeOnSignal);
    layerWatchCloseSignals(signalPipe[0], closeOnSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The next signal gets the default action: a program stuck somewhere still ends.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// WinMain's lpCmdLine as the C runtime's start-up code cuts it: past the program's name, quoted
// (to the closing quote, or the end) or up to the first blank, and the blanks after it.
char *runtimeTail(char *line)
{
    char *p = line;
    if (*p == '"') {
        for (++p; *p && *p != '"'; ++p) {
        }
        if (*p)
            ++p;
    } else {
        while ((unsigned char)*p > ' ')
            ++p;
    }
    while (*p && (unsigned char)*p <= ' ')
        ++p;
    return p;
}

} // namespace

int main()
{
    layerApplication();
    installSignalHandling();
    // In GetCommandLineA's buffer, as on Windows.
    return WinMain(GetModuleHandleA(NULL), NULL, runtimeTail(GetCommandLineA()), SW_SHOWNORMAL);
}
