// USER32 messages and timers: the layer's one message queue, sitting on Qt's event loop.
//
// Supported: PostMessageA (to a window, or to the thread with a null window), SendMessageA
// (calls the procedure at once), GetMessageA and PeekMessageA (PM_REMOVE, PM_NOREMOVE; window
// and message-range filters), TranslateMessage (nothing to translate: no WM_CHAR),
// DispatchMessageA (timer call-backs included), PostQuitMessage, SetTimer and KillTimer
// (window timers and thread timers with a call-back), RegisterWindowMessageA.
// Not supported: other threads, sent messages between threads, hooks, WM_CHAR.
//
// Windows' order, kept here: posted messages in FIFO order, then WM_QUIT, then input (Qt's
// events, which send their notifications at once), then WM_PAINT of a visible window that
// needs painting, then WM_TIMER of the timer that fell due first. WM_PAINT and WM_TIMER are
// made when asked for, never queued, so there is at most one of each per window and timer.
// When nothing is due, the loop blocks in Qt with a single Qt timer armed for the next
// Win32 timer, so input, painting and D-Bus keep flowing. Between poll passes Qt usually has
// nothing to do, and running its loop then costs more than the pass itself: so the wait for a
// Win32 timer watches the descriptors of Qt's GLib context directly, and Qt runs only when one
// of them wakes (an event posted from any thread, X or D-Bus traffic, a signal) or a timer of
// its own falls due. It watches them with epoll, registered once per look: poll() registers
// and unregisters each descriptor at every wait, which cost 15-20 us a wait here.
#include "platform/layer_qt.h"
#include "platform/posix_stack.h"
#include "platform/user32_window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <glib.h>

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    HWND window;
    UINT_PTR id;
    std::chrono::milliseconds elapse;
    TIMERPROC procedure;
    Clock::time_point due;
};

struct Queue {
    std::deque<MSG> posted;
    std::vector<Timer> timers;
    bool quitPending = false;
    int quitCode = 0;
    UINT_PTR nextThreadTimerId = 0x7ff0;
    std::vector<std::string> registered; // lower-case names; index + 0xC000 is the message
    QTimer *wake = nullptr;
};

Queue queue;

// What Qt waits for, as its GLib context told at the last look: the descriptors and Qt's own
// next timer. A look is good until Qt runs again, something in the layer may have changed
// Qt's timers (layerQtTouched), or a second has passed.
struct QuietWait {
    int usable = -1; // Qt runs on GLib's default context: -1 not yet known
    QAbstractEventDispatcher *dispatcher = nullptr;
    bool known = false;
    std::vector<GPollFD> fds;
    int fdCount = 0;
    Clock::time_point qtDue;
    Clock::time_point lookedAt;
    int epoll = -1;                // watches the look's descriptors; -1: poll them instead
    std::vector<GPollFD> watched;  // what epoll has, as the last look left it
};

QuietWait quiet;
constexpr auto kQuietLookFor = std::chrono::seconds(1);
// How late a timer of Qt's may run to share the Win32 timer's wake-up.
constexpr auto kQtTimerJoins = std::chrono::milliseconds(100);

constexpr UINT kUserTimerMinimum = 10;
constexpr UINT kUserTimerMaximum = 0x7fffffff;

bool inRange(UINT message, UINT low, UINT high)
{
    return (low == 0 && high == 0) || (message >= low && message <= high);
}

// Windows' window filter: the window itself or one of its children; -1 for thread messages.
bool windowMatches(HWND target, HWND filter)
{
    if (!filter)
        return true;
    if (filter == (HWND)(LONG_PTR)-1)
        return target == nullptr;
    for (HWND w = target; w; w = layerWindow(w) ? w->parent : nullptr)
        if (w == filter)
            return true;
    return false;
}

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg = {};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

HWND paintableWindow(HWND filter)
{
    for (HWND window : layerWindows()) {
        if (window->needsPaint && (window->style & WS_VISIBLE) && windowMatches(window, filter))
            return window;
    }
    return nullptr;
}

Timer *dueTimer(HWND filter, Clock::time_point now)
{
    Timer *first = nullptr;
    for (Timer &timer : queue.timers)
        if (timer.due <= now && windowMatches(timer.window, filter) && (!first || timer.due < first->due))
            first = &timer;
    return first;
}

// Next due time on the timer's own rhythm; periods missed while busy are skipped, not
// delivered in a burst.
void rearm(Timer &timer, Clock::time_point now)
{
    timer.due += timer.elapse;
    if (timer.due <= now)
        timer.due += ((now - timer.due) / timer.elapse + 1) * timer.elapse;
}

// One look at the queue in Windows' order; the message goes to msg when there is one.
bool takeMessage(MSG *msg, HWND filter, UINT low, UINT high, bool remove)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (windowMatches(it->hwnd, filter) && inRange(it->message, low, high)) {
            *msg = *it;
            if (remove)
                queue.posted.erase(it);
            return true;
        }
    }
    if (queue.quitPending && inRange(WM_QUIT, low, high)) {
        *msg = makeMessage(nullptr, WM_QUIT, WPARAM(queue.quitCode), 0);
        if (remove)
            queue.quitPending = false;
        return true;
    }
    if (inRange(WM_PAINT, low, high)) {
        if (HWND window = paintableWindow(filter)) {
            *msg = makeMessage(window, WM_PAINT, 0, 0);
            return true;
        }
    }
    if (inRange(WM_TIMER, low, high)) {
        Clock::time_point now = Clock::now();
        if (Timer *timer = dueTimer(filter, now)) {
            *msg = makeMessage(timer->window, WM_TIMER, timer->id, (LPARAM)timer->procedure);
            if (remove)
                rearm(*timer, now);
            return true;
        }
    }
    return false;
}

// Brings epoll's set in line with the look's descriptors; where epoll cannot watch them all
// (it refuses a regular file, which poll takes), closes it, and the wait polls. A descriptor
// that stays is added again: EEXIST says it is the same file, while a number closed and reused
// since is a new file that must be added.
void watchLook()
{
    if (quiet.epoll < 0 && (quiet.epoll = epoll_create1(EPOLL_CLOEXEC)) < 0)
        return;
    const GPollFD *begin = quiet.fds.data(), *end = begin + quiet.fdCount;
    for (const GPollFD &old : quiet.watched)
        if (std::none_of(begin, end, [&old](const GPollFD &fd) { return fd.fd == old.fd; }))
            epoll_ctl(quiet.epoll, EPOLL_CTL_DEL, old.fd, nullptr); // gone or closed: either way
    for (const GPollFD *fd = begin; fd != end; ++fd) {
        epoll_event event = {};
        event.events = fd->events & (EPOLLIN | EPOLLPRI | EPOLLOUT);
        event.data.fd = fd->fd;
        if (epoll_ctl(quiet.epoll, EPOLL_CTL_ADD, fd->fd, &event) == 0)
            continue;
        auto was = std::find_if(quiet.watched.begin(), quiet.watched.end(),
                                [fd](const GPollFD &old) { return old.fd == fd->fd; });
        if (errno != EEXIST || ((was == quiet.watched.end() || was->events != fd->events) &&
                                epoll_ctl(quiet.epoll, EPOLL_CTL_MOD, fd->fd, &event) != 0)) {
            close(quiet.epoll);
            quiet.epoll = -1;
            quiet.watched.clear();
            return;
        }
    }
    quiet.watched.assign(begin, end);
}

// False when Qt has something to do now.
bool lookAtQt(Clock::time_point now)
{
    GMainContext *context = g_main_context_default();
    if (!g_main_context_acquire(context))
        return false;
    gint priority = 0;
    const bool ready = g_main_context_prepare(context, &priority);
    gint timeout = -1;
    if (quiet.fds.size() < 8)
        quiet.fds.resize(8);
    int count = g_main_context_query(context, priority, &timeout, quiet.fds.data(), int(quiet.fds.size()));
    if (count > int(quiet.fds.size())) {
        quiet.fds.resize(size_t(count));
        count = g_main_context_query(context, priority, &timeout, quiet.fds.data(), count);
    }
    g_main_context_release(context);
    if (ready || timeout == 0)
        return false;
    quiet.fdCount = count;
    watchLook();
    quiet.qtDue = timeout < 0 ? Clock::time_point::max() : now + std::chrono::milliseconds(timeout);
    quiet.lookedAt = now;
    quiet.known = true;
    return true;
}

// Waits for the Win32 timer due at next without running Qt: true when it is due and Qt had
// nothing to do meanwhile; false when Qt must run (and then waits in Qt as before).
bool waitQuietly(Clock::time_point next)
{
    if (quiet.usable < 0) {
        quiet.dispatcher = QAbstractEventDispatcher::instance();
        quiet.usable = quiet.dispatcher && quiet.dispatcher->inherits("QEventDispatcherGlib");
    }
    if (!quiet.usable || next == Clock::time_point::max())
        return false;
    Clock::time_point now = Clock::now();
    for (;;) {
        // A look that would grow old before the timer is taken now, at this wake-up, rather
        // than at a wake-up of its own.
        if (!quiet.known || quiet.lookedAt + kQuietLookFor <= std::max(now, next)) {
            // Qt sends what it has drawn to the display when its loop is about to block:
            // this wait blocks where Qt does not see it. A look renewed only for its age
            // follows nothing of Qt's: nothing to send, and nothing ran deep.
            const bool qtRan = !quiet.known;
            if (qtRan)
                emit quiet.dispatcher->aboutToBlock();
            if (!lookAtQt(now))
                return false;
            // Whatever ran deep (the first icons' fonts, a Qt turn) is done.
            if (qtRan)
                layerGiveBackStack();
        }
        // A timer of Qt's due shortly before the Win32 timer (a tooltip's, a menu's) waits
        // for the Win32 timer's wake-up, and runs right after it: one wake-up, not two.
        Clock::time_point qtWake = quiet.qtDue;
        if (now < qtWake && qtWake < next && next - qtWake <= kQtTimerJoins)
            qtWake = next;
        const Clock::time_point until = std::min({next, qtWake, quiet.lookedAt + kQuietLookFor});
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        const int timeout = int(std::clamp<long long>(left.count(), 0, 0x7fffffff));
        epoll_event ready[4];
        int woken = quiet.epoll >= 0 ? epoll_wait(quiet.epoll, ready, 4, timeout)
                                     : g_poll(quiet.fds.data(), guint(quiet.fdCount), timeout);
        if (woken > 0 || (woken < 0 && errno != EINTR))
            break;
        now = Clock::now();
        if (now < until)
            continue; // woken a little early, or by a signal whose handler has written its pipe
        if (until == next)
            return true;
        if (until == qtWake)
            break;
        // Only the look has grown old: a new one costs less than a turn of Qt's loop.
    }
    quiet.known = false;
    return false;
}

// Lets Qt deliver what has arrived (input, expose, D-Bus); with wait, blocks until an event
// comes or the next Win32 timer that the filter lets through falls due.
void pumpQt(bool wait, HWND filter = nullptr)
{
    layerApplication();
    if (!wait) {
        quiet.known = false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    if (!queue.wake) {
        queue.wake = new QTimer(QCoreApplication::instance());
        queue.wake->setSingleShot(true);
        queue.wake->setTimerType(Qt::PreciseTimer);
    }
    Clock::time_point next = Clock::time_point::max();
    for (const Timer &timer : queue.timers)
        if (windowMatches(timer.window, filter))
            next = std::min(next, timer.due);
    if (waitQuietly(next))
        return;
    quiet.known = false;
    if (next != Clock::time_point::max()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        queue.wake->start(int(std::clamp<long long>(left.count(), 0, 0x7fffffff)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    queue.wake->stop();
}

// pump: let Qt deliver its events first, unless the caller has just done so.
bool peek(MSG *msg, HWND filter, UINT low, UINT high, bool remove, bool pump)
{
    if (!queue.posted.empty() && takeMessage(msg, filter, low, high, remove))
        return true;
    if (pump)
        pumpQt(false);
    return takeMessage(msg, filter, low, high, remove);
}

Timer *findTimer(HWND window, UINT_PTR id)
{
    for (Timer &timer : queue.timers)
        if (timer.window == window && timer.id == id)
            return &timer;
    return nullptr;
}

} // namespace

void layerQtTouched()
{
    quiet.known = false;
}

LRESULT layerCallWindow(HWND__ *window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->dialogProc)
        return layerDialogCall(window, message, wParam, lParam);
    if (window->controlProc) {
        layerQtTouched(); // a control is a Qt widget: it may have armed timers of Qt's
        return window->controlProc(window, message, wParam, lParam);
    }
    return 0;
}

void layerForgetWindowMessages(HWND window)
{
    std::erase_if(queue.posted, [window](const MSG &msg) { return msg.hwnd == window; });
    std::erase_if(queue.timers, [window](const Timer &timer) { return timer.window == window; });
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window && !layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    queue.posted.push_back(makeMessage(window, message, wParam, lParam));
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return layerCallWindow(record, message, wParam, lParam);
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax)
{
    if (window && !layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return -1;
    }
    // Input that came while the last message was handled goes before a paint or a timer, so
    // Qt is asked first when one of those is due. When nothing is, the wait delivers it: an
    // idle tick costs one wait and one look, and no second look at Qt right after the wait.
    bool pump = takeMessage(msg, window, filterMin, filterMax, false);
    for (; !peek(msg, window, filterMin, filterMax, true, pump); pump = false)
        pumpQt(true, window);
    return msg->message != WM_QUIT;
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    if (window && !layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    return peek(msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0, true);
}

BOOL TranslateMessage(const MSG *msg)
{
    // Windows answers non-zero for every key message, whatever it translates.
    return msg && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP);
}

LRESULT DispatchMessageA(const MSG *msg)
{
    if (!msg)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        // Only a call-back that a live timer names is called: lParam comes from the caller.
        Timer *timer = findTimer(msg->hwnd, msg->wParam);
        if (timer && (LPARAM)timer->procedure == msg->lParam)
            timer->procedure(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd)
        return 0;
    HWND__ *window = layerWindow(msg->hwnd);
    if (!window) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    // No BeginPaint here: dispatching the paint validates the window.
    if (msg->message == WM_PAINT)
        window->needsPaint = false;
    return layerCallWindow(window, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode)
{
    queue.quitPending = true;
    queue.quitCode = exitCode;
}

UINT RegisterWindowMessageA(LPCSTR name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key(name);
    for (char &c : key)
        c = char(std::tolower((unsigned char)c));
    auto found = std::find(queue.registered.begin(), queue.registered.end(), key);
    if (found == queue.registered.end())
        found = queue.registered.insert(found, key);
    return UINT(0xC000 + (found - queue.registered.begin()));
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc)
{
    if (window && !layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    elapse = std::clamp(elapse, kUserTimerMinimum, kUserTimerMaximum);
    // A thread timer gets an identifier of its own; a window timer keeps the caller's.
    if (!window && !findTimer(nullptr, id))
        id = queue.nextThreadTimerId++;
    std::chrono::milliseconds period(elapse);
    Timer *timer = findTimer(window, id);
    if (!timer) {
        queue.timers.push_back({window, id, period, timerFunc, {}});
        timer = &queue.timers.back();
    }
    timer->elapse = period;
    timer->procedure = timerFunc;
    timer->due = Clock::now() + period;
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id)
{
    auto found = std::find_if(queue.timers.begin(), queue.timers.end(),
                              [&](const Timer &timer) { return timer.window == window && timer.id == id; });
    if (found == queue.timers.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    queue.timers.erase(found);
    return TRUE;
}
