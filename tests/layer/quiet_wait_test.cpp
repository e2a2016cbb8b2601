// The wait for a Win32 timer runs without Qt while Qt has nothing to do. Whatever gives Qt
// work meanwhile is still served: an event posted from another thread (as the X and D-Bus
// threads post theirs) at once, a timer of Qt's armed outside its loop within the look's age;
// the Win32 timer keeps its rhythm; each descriptor Qt watches wakes the wait; a wait with
// nothing for Qt never turns Qt's loop nor asks it to send drawing it has not done; and the
// thread wakes once a tick, Qt's timers and the look's renewal riding on the tick's wake-up.
#include "platform/layer_qt.h"
#include "platform/win32.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <glib-unix.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kFromQt = WM_APP + 40;

// Turns a Qt event into a thread message, as the layer's Qt objects do.
struct Relay : QObject {
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        PostMessageA(nullptr, kFromQt, 1, 0);
        return true;
    }
};

void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {}

// A source that never fires and counts the turns of the loop that checks it.
int turnsOfQt = 0;
GSourceFuncs kCountTurns = {
    [](GSource *, gint *timeout) { *timeout = -1; return gboolean(FALSE); },
    [](GSource *) { ++turnsOfQt; return gboolean(FALSE); },
    [](GSource *, GSourceFunc, gpointer) { return gboolean(G_SOURCE_CONTINUE); },
    nullptr, nullptr, nullptr};

// How often this thread has gone to sleep so far.
long sleepsSoFar()
{
    std::ifstream status("/proc/thread-self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stol(line.substr(24));
    return -1;
}

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The next message from Qt; the timer's ticks on the way are counted. After more than limit
// ticks it gives up, and the message is the last tick.
MSG nextFromQt(int *ticks = nullptr, int limit = INT_MAX)
{
    MSG msg = {};
    for (int seen = 0; seen <= limit && GetMessageA(&msg, nullptr, 0, 0) && msg.message != kFromQt;)
        if (msg.message == WM_TIMER) {
            ++seen;
            if (ticks)
                ++*ticks;
        }
    return msg;
}

// Ticks of the timer until the next message from Qt; -1 when more than limit went by.
int ticksUntilFromQt(int limit)
{
    int ticks = 0;
    return nextFromQt(&ticks, limit).message == kFromQt ? ticks : -1;
}

// Qt's context watches the descriptor from now on, as a socket notifier of Qt's would; it
// says so once, with a message. GLib wakes its context for every change of what it watches.
guint watch(int fd)
{
    return g_unix_fd_add(fd, G_IO_IN, [](gint, GIOCondition, gpointer) {
        PostMessageA(nullptr, kFromQt, 3, 0);
        return gboolean(G_SOURCE_REMOVE);
    }, nullptr);
}

} // namespace

// Within one turn of Qt's a descriptor may go and its number come back for another file: the
// wait must then watch the new file, whose data alone can wake it.
TEST(QuietWait, ADescriptorNumberReusedWithinATurnOfQtsStillWakesTheWait)
{
    layerApplication();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    auto passTicks = [] { // long enough for a look at what Qt watches now
        for (int i = 0; i < 3; ++i)
            ticksUntilFromQt(0);
    };
    int first[2], second[2];
    ASSERT_EQ(pipe(first), 0);
    const guint id = watch(first[0]);
    passTicks();
    g_source_remove(id);
    ASSERT_EQ(pipe(second), 0);
    ASSERT_EQ(dup2(second[0], first[0]), first[0]);
    close(second[0]);
    close(first[1]);
    const guint reused = watch(first[0]);
    passTicks();
    ASSERT_EQ(write(second[1], "x", 1), 1);
    const int ticks = ticksUntilFromQt(4);
    EXPECT_GE(ticks, 0) << "the new file's data never woke the wait";
    EXPECT_LE(ticks, 1);
    if (GSource *left = g_main_context_find_source_by_id(nullptr, reused))
        g_source_destroy(left); // not served: no later test may meet it
    close(first[0]);
    close(second[1]);
    KillTimer(nullptr, timer);
}

TEST(QuietWait, QtWorkComingBetweenTicksIsServedAndTheTimerKeepsItsRhythm)
{
    layerApplication();
    Relay relay;
    MSG msg;

    UINT_PTR timer = SetTimer(nullptr, 0, 50, tick);
    Clock::time_point start = Clock::now();
    for (int ticks = 0; ticks < 10;) {
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        ticks += msg.message == WM_TIMER;
    }
    const long long tenTicks = millisecondsSince(start);
    EXPECT_GE(tenTicks, 450);
    EXPECT_LE(tenTicks, 1500);
    KillTimer(nullptr, timer);

    // The next tick is seconds away, and the loop waits for it: each event posted from
    // another thread must end that wait at once.
    timer = SetTimer(nullptr, 0, 3000, tick);
    constexpr int kPosts = 4;
    Clock::time_point posted[kPosts];
    std::thread poster([&relay, &posted] {
        for (Clock::time_point &when : posted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(170));
            when = Clock::now();
            QCoreApplication::postEvent(&relay, new QEvent(QEvent::User));
        }
    });
    int ticks = 0;
    Clock::time_point served[kPosts];
    for (Clock::time_point &when : served) {
        msg = nextFromQt(&ticks);
        when = Clock::now();
        EXPECT_EQ(1u, msg.wParam);
    }
    poster.join();
    EXPECT_EQ(0, ticks);
    for (int i = 0; i < kPosts; ++i)
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(served[i] - posted[i]).count(), 120)
            << "event " << i;

    // A timer of Qt's armed outside Qt's loop, unknown to the last look: it fires, at most a
    // look's age (a second) late, still before the Win32 tick.
    start = Clock::now();
    QTimer::singleShot(300, &relay, [] { PostMessageA(nullptr, kFromQt, 2, 0); });
    msg = nextFromQt(&ticks);
    const long long fired = millisecondsSince(start);
    EXPECT_EQ(2u, msg.wParam);
    EXPECT_EQ(0, ticks);
    EXPECT_GE(fired, 290);
    EXPECT_LT(fired, 1500);
    KillTimer(nullptr, timer);
}

// Timers of Qt's own would turn it all the same: this runs alone (tests/CMakeLists.txt).
TEST(QuietWait, AnIdleWaitGivesQtsLoopNoTurn)
{
    layerApplication();
    // Over four and a half seconds of ticks the wait looks at Qt again each second, without a
    // turn of Qt's loop: GLib checks its sources only on a turn.
    GSource *turns = g_source_new(&kCountTurns, sizeof(GSource));
    g_source_attach(turns, g_main_context_default());
    UINT_PTR timer = SetTimer(nullptr, 0, 70, tick); // out of step with the look's second
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    int flushes = 0; // each has Qt write to the X server what it has drawn
    QMetaObject::Connection counting = QObject::connect(QAbstractEventDispatcher::instance(),
                                                        &QAbstractEventDispatcher::aboutToBlock, [&flushes] { ++flushes; });
    const int turnsBefore = turnsOfQt;
    for (int ticks = 0; ticks < 64;) {
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        ticks += msg.message == WM_TIMER;
    }
    EXPECT_LE(turnsOfQt, 2) << "Qt's loop turned with nothing to do"; // once per second before
    EXPECT_LE(flushes, turnsOfQt - turnsBefore) << "Qt was asked to send drawing it had not done";
    QObject::disconnect(counting);
    KillTimer(nullptr, timer);
    g_source_destroy(turns);
    g_source_unref(turns);
}

// Run alone too: the count of wake-ups takes in whatever else the process's Qt does.
TEST(QuietWait, OneWakeUpATickWhileQtsTimersRunAndTheLookGrowsOld)
{
    layerApplication();
    int fired = 0;
    QTimer qtTimer; // out of step with the ticks, as Qt's own timers are
    qtTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&qtTimer, &QTimer::timeout, [&fired] { ++fired; });
    qtTimer.start(330);
    UINT_PTR timer = SetTimer(nullptr, 0, 70, tick);
    MSG msg;
    do
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    while (msg.message != WM_TIMER);

    const long before = sleepsSoFar();
    ASSERT_GE(before, 0);
    int ticks = 0;
    while (ticks < 64) {
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        ticks += msg.message == WM_TIMER;
    }
    const long sleeps = sleepsSoFar() - before;
    EXPECT_GE(fired, 10) << "Qt's timer stopped running";
    // Before, each run of Qt's timer and each renewal of the look was a wake-up of its own:
    // some 80 for 64 ticks.
    EXPECT_LE(sleeps, ticks + 4) << fired << " runs of Qt's timer";
    KillTimer(nullptr, timer);
}
