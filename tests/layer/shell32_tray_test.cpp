// Shell_NotifyIconA on Linux: Windows' answers for the record and the identifiers, the
// shell's own copy of the picture, the call-backs reaching the owner through its queue (from
// every kind of host, and the lamps' menu), the console tray drawn on a terminal, the owner
// never left hidden without a host, and the D-Bus signals of StatusNotifierItem lamps.
#include "platform/gdi_objects.h"
#include "platform/layer_testing.h"
#include "platform/shell32_tray.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QThread>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

HWND const kOwner = reinterpret_cast<HWND>(0x5150); // the tray keys on it, never calls it

NOTIFYICONDATAA record(HWND owner, UINT id, HICON icon, const char *tip)
{
    NOTIFYICONDATAA data;
    std::memset(&data, 0xcc, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V3_SIZE;
    data.hWnd = owner;
    data.uID = id;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_CALLBACK;
    data.hIcon = icon;
    std::snprintf(data.szTip, sizeof data.szTip, "%s", tip);
    return data;
}

HICON solidIcon(QRgb colour)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    return layerCreateIcon(image, QImage());
}

TEST(Shell32Tray, AnswersAsWindowsForRecordsAndIdentifiers)
{
    HICON red = solidIcon(qRgb(255, 0, 0));
    NOTIFYICONDATAA data = record(kOwner, 7, red, "seven");
    // [0] a new identifier is added, [1] a second add of it fails.
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_EQ(1, layerTrayIconCount());
    // [2] the same identifier of another owner is another icon.
    NOTIFYICONDATAA other = record(reinterpret_cast<HWND>(0x5151), 7, red, "other");
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &other));
    EXPECT_EQ("seven", layerTrayIconTip(kOwner, 7));
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &other));
    // [3] modify and delete of an unknown identifier fail.
    NOTIFYICONDATAA unknown = record(kOwner, 8, red, "eight");
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &unknown));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &unknown));
    // [4] garbage sizes and no record fail and change nothing.
    NOTIFYICONDATAA garbage = record(kOwner, 7, red, "garbage");
    for (DWORD size : {DWORD(0), DWORD(87), DWORD(sizeof data + 4), DWORD(0xcccccccc)}) {
        garbage.cbSize = size;
        EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &garbage)) << size;
        EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &garbage)) << size;
    }
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, nullptr));
    EXPECT_EQ("seven", layerTrayIconTip(kOwner, 7));
    // [5] a tip that fills its field without a terminator: 127 characters are shown.
    std::memset(data.szTip, 'a', sizeof data.szTip);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data));
    EXPECT_EQ(std::string(127, 'a'), layerTrayIconTip(kOwner, 7));
    // [6] the oldest record (tip of 64) is understood, its tip cut at 63.
    data.cbSize = offsetof(NOTIFYICONDATAA, szTip) + 64;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data));
    EXPECT_EQ(std::string(63, 'a'), layerTrayIconTip(kOwner, 7));
    // [7] deleted once, then gone.
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data));
    EXPECT_EQ(0, layerTrayIconCount());
    DestroyIcon(red);
}

TEST(Shell32Tray, KeepsItsOwnCopyOfThePictureAndChangesOnlyWhatTheFlagsName)
{
    HICON red = solidIcon(qRgb(255, 0, 0));
    NOTIFYICONDATAA data = record(kOwner, 9, red, "first\nsecond line");
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    // The program may release its icon at once (a meter redraw does): the tray keeps showing it.
    DestroyIcon(red);
    EXPECT_EQ(qRgb(255, 0, 0), layerTrayIconImage(kOwner, 9).pixel(10, 10));
    EXPECT_EQ("first\nsecond line", layerTrayIconTip(kOwner, 9));

    HICON green = solidIcon(qRgb(0, 255, 0));
    NOTIFYICONDATAA tipOnly = record(kOwner, 9, green, "tip only");
    tipOnly.uFlags = NIF_TIP;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &tipOnly));
    EXPECT_EQ(qRgb(255, 0, 0), layerTrayIconImage(kOwner, 9).pixel(10, 10));
    EXPECT_EQ("tip only", layerTrayIconTip(kOwner, 9));

    NOTIFYICONDATAA iconOnly = record(kOwner, 9, green, "ignored");
    iconOnly.uFlags = NIF_ICON;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &iconOnly));
    EXPECT_EQ(qRgb(0, 255, 0), layerTrayIconImage(kOwner, 9).pixel(10, 10));
    EXPECT_EQ("tip only", layerTrayIconTip(kOwner, 9));

    // A stale handle shows no picture, as a failed drawing does on Windows.
    iconOnly.hIcon = green;
    DestroyIcon(green);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &iconOnly));
    EXPECT_TRUE(layerTrayIconImage(kOwner, 9).isNull());
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

size_t allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST(Shell32Tray, APaintedPictureIsNotKeptAfterItChanges)
{
    // A meter redrawn on every poll: each picture is painted once at the tray's size, as an
    // XEmbed tray does, and must be gone when the next one comes. Qt's pixmap icons kept each
    // in the global pixmap cache, which grew for hours up to its 10 MB limit.
    HICON first = solidIcon(qRgb(0, 0, 0));
    NOTIFYICONDATAA data = record(kOwner, 12, first, "meter");
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    DestroyIcon(first);
    QImage tray(22, 22, QImage::Format_ARGB32_Premultiplied);
    auto paintOnce = [&](int step) {
        HICON icon = solidIcon(qRgb(step % 256, 255 - step % 256, step / 256));
        data.hIcon = icon;
        ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data));
        DestroyIcon(icon);
        tray.fill(Qt::transparent);
        QPainter painter(&tray);
        layerTrayIconShown(kOwner, 12).paint(&painter, tray.rect());
        painter.end();
        ASSERT_EQ(qRgb(step % 256, 255 - step % 256, step / 256), tray.pixel(11, 11) | 0xff000000u) << step;
    };
    for (int step = 0; step < 20; ++step)
        paintOnce(step);
    const size_t before = allocatedBytes();
    for (int step = 20; step < 520; ++step)
        paintOnce(step);
    // 500 pictures of 22 x 22 kept would be about 1 MB.
    EXPECT_LT(allocatedBytes(), before + 100 * 1024);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
}

// The owner's side: a dialog that records the call-backs it receives.
struct CallbackRun {
    std::vector<std::pair<WPARAM, LPARAM>> received;
    std::vector<std::vector<std::string>> menus;
};

// A menu as the user sees it once it opens: "-" for a separator, "(off)" after an entry that
// cannot be chosen.
std::vector<std::string> menuEntries(QMenu *menu)
{
    emit menu->aboutToShow();
    std::vector<std::string> entries;
    for (const QAction *entry : menu->actions())
        entries.push_back(entry->isSeparator() ? "-" : entry->text().toStdString() + (entry->isEnabled() ? "" : " (off)"));
    return entries;
}

INT_PTR CALLBACK recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    static CallbackRun *run;
    switch (message) {
    case WM_INITDIALOG: {
        run = reinterpret_cast<CallbackRun *>(lParam);
        HICON icon = solidIcon(qRgb(0, 0, 255));
        NOTIFYICONDATAA data = record(dialog, 100, icon, "lamp");
        Shell_NotifyIconA(NIM_ADD, &data);
        DestroyIcon(icon);
        // A press alone is no double click (where the host reports both); the host's double
        // click and the menu's "Quit" are.
        layerTrayActivate(dialog, 100, QSystemTrayIcon::Context);
        layerTrayActivate(dialog, 100, QSystemTrayIcon::DoubleClick);
        layerTrayChooseQuit(dialog, 100);
        // A StatusNotifierItem host reports a double click as two activations: one toggle.
        layerTrayAct(dialog, 100, TrayAction::Activate);
        layerTrayAct(dialog, 100, TrayAction::Activate);
        usleep(useconds_t(QApplication::doubleClickInterval() + 50) * 1000);
        layerTrayAct(dialog, 100, TrayAction::Activate);
        // The menu, in every host: the tip's lines, which do nothing, the entry that acts as
        // the double click, then "Quit"; the same menu renewed when the tip changes.
        QMenu *menu = layerTrayMenu(dialog, 100);
        run->menus.push_back(menuEntries(menu));
        for (QAction *entry : menu->actions())
            entry->trigger();
        NOTIFYICONDATAA tip = record(dialog, 100, nullptr, "Drive: A&B\n\nFree: 1 GB");
        tip.uFlags = NIF_TIP;
        Shell_NotifyIconA(NIM_MODIFY, &tip);
        run->menus.push_back(menuEntries(layerTrayMenu(dialog, 100)));
        tip.szTip[0] = '\0';
        Shell_NotifyIconA(NIM_MODIFY, &tip);
        run->menus.push_back(menuEntries(menu));
        // An icon without a call-back message calls nobody.
        NOTIFYICONDATAA silent = record(dialog, 101, nullptr, "silent");
        silent.uFlags = NIF_TIP;
        Shell_NotifyIconA(NIM_ADD, &silent);
        layerTrayActivate(dialog, 101, QSystemTrayIcon::DoubleClick);
        Shell_NotifyIconA(NIM_DELETE, &silent);
        PostMessageA(dialog, WM_APP + 1, 0, 0);
        return TRUE;
    }
    case WM_TRAY_CALLBACK:
        run->received.push_back({wParam, lParam});
        return TRUE;
    case WM_APP + 1: {
        NOTIFYICONDATAA data = record(dialog, 100, nullptr, "");
        Shell_NotifyIconA(NIM_DELETE, &data);
        EndDialog(dialog, 0);
        return TRUE;
    }
    }
    return FALSE;
}

TEST(Shell32Tray, MouseActionsArePostedToTheOwner)
{
    CallbackRun run;
    ASSERT_EQ(0, DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, recordingProc,
                                 reinterpret_cast<LPARAM>(&run)));
    const std::vector<std::pair<WPARAM, LPARAM>> expected = {
        {100, WM_LBUTTONDBLCLK}, {100, WM_RBUTTONDBLCLK},                         // XEmbed, "Quit"
        {100, WM_LBUTTONDBLCLK}, {100, WM_LBUTTONDBLCLK},                         // two activations apart
        {100, WM_LBUTTONDBLCLK}, {100, WM_RBUTTONDBLCLK}};                        // the menu's entries
    EXPECT_EQ(expected, run.received);
    const std::vector<std::vector<std::string>> menus = {
        {"lamp (off)", "-", "Show/Hide window", "Quit"},
        {"Drive: A&&B (off)", "Free: 1 GB (off)", "-", "Show/Hide window", "Quit"},
        {"Show/Hide window", "Quit"}};
    EXPECT_EQ(menus, run.menus);
    EXPECT_EQ(0, layerTrayIconCount());
}

// A terminal on which calls run with it as their standard output (and only they: the test's
// own reports stay where they were); what they wrote is read back.
struct Terminal {
    int master = -1, slave = -1;

    Terminal()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0)
            fcntl(master, F_SETFL, O_NONBLOCK);
    }

    ~Terminal()
    {
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
    }

    std::string run(const std::function<void()> &calls)
    {
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        dup2(slave, STDOUT_FILENO);
        calls();
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        std::string text;
        char buffer[4096];
        pollfd ready = {master, POLLIN, 0};
        while (poll(&ready, 1, 50) > 0) {
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, size_t(got));
        }
        return text;
    }
};

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(Shell32Tray, WithoutAGraphicalTrayTheLampsAreDrawnOnTheTerminal)
{
    NOTIFYICONDATAA probe = record(kOwner, 1, nullptr, "");
    Shell_NotifyIconA(NIM_DELETE, &probe); // lets the tray find its host
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a graphical tray is running";
    Terminal terminal;
    ASSERT_GE(terminal.master, 0);

    // A lamp of two bars: green above, dark red below; the tip's heading beside it.
    QImage bars(32, 32, QImage::Format_ARGB32);
    bars.fill(qRgb(0, 0, 0));
    for (int y = 4; y < 13; ++y)
        for (int x = 4; x < 28; ++x)
            bars.setPixel(x, y, qRgb(0, 255, 0)), bars.setPixel(x, y + 15, qRgb(128, 0, 0));
    HICON lamp = layerCreateIcon(bars, QImage());
    NOTIFYICONDATAA drive = record(kOwner, 100, lamp, "Drive: \\\\.\\C:\nVolume: SYSTEM");
    std::string line = terminal.run([&] { EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &drive)); });
    EXPECT_TRUE(contains(line, "\x1b[38;2;0;255;0m")) << line;
    EXPECT_TRUE(contains(line, "\x1b[48;2;128;0;0m")) << line;
    EXPECT_TRUE(contains(line, "Drive: \\\\.\\C:")) << line;
    EXPECT_FALSE(contains(line, "SYSTEM")) << line;
    EXPECT_FALSE(contains(line, "\n")) << line;

    // A second icon joins the same line; a heading that ends in a colon takes its next line.
    HICON yellow = solidIcon(qRgb(255, 255, 0));
    NOTIFYICONDATAA meter = record(kOwner, 101, yellow, "RAM:\nUsage: 37%\nFree: 1MB / 2MB");
    line = terminal.run([&] { EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &meter)); });
    EXPECT_EQ(0u, line.find('\r')) << line;
    EXPECT_TRUE(contains(line, "Drive: \\\\.\\C:")) << line;
    EXPECT_TRUE(contains(line, "RAM: Usage: 37%")) << line;
    EXPECT_TRUE(contains(line, "\x1b[38;2;255;255;0m")) << line;

    // The same picture and tip again: nothing is redrawn.
    EXPECT_EQ("", terminal.run([&] { EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &meter)); }));

    // The last icon gone: the line is cleared.
    line = terminal.run([&] { EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &drive)); });
    EXPECT_FALSE(contains(line, "C:")) << line;
    EXPECT_TRUE(contains(line, "RAM: Usage: 37%")) << line;
    EXPECT_EQ("\r\x1b[K", terminal.run([&] { EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &meter)); }));
    DestroyIcon(lamp);
    DestroyIcon(yellow);
}

} // namespace

// Without a tray host and without a terminal, a window that owns lamps is never left hidden.
struct StrandRun {
    bool keptWhileItHasLamps = false;
    bool hiddenWithoutLamps = false;
    bool hiddenWithinTheGrace = false;
    bool broughtBack = false;
};

INT_PTR CALLBACK strandingProc(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    static StrandRun *run;
    NOTIFYICONDATAA data = record(dialog, 100, nullptr, "lamp");
    switch (message) {
    case WM_INITDIALOG:
        run = reinterpret_cast<StrandRun *>(lParam);
        PostMessageA(dialog, WM_APP + 1, 0, 0);
        return TRUE;
    case WM_APP + 1:
        Shell_NotifyIconA(NIM_ADD, &data);
        ShowWindow(dialog, SW_HIDE); // "Hide": minimised instead
        run->keptWhileItHasLamps = IsWindowVisible(dialog);
        Shell_NotifyIconA(NIM_DELETE, &data);
        ShowWindow(dialog, SW_HIDE); // no lamps, nothing lost: hidden as on Windows
        run->hiddenWithoutLamps = !IsWindowVisible(dialog);
        // Lamps come to the hidden window (a start at log-on); a host may still come.
        Shell_NotifyIconA(NIM_ADD, &data);
        run->hiddenWithinTheGrace = !IsWindowVisible(dialog);
        SetTimer(dialog, 1, 6000, nullptr);
        return TRUE;
    case WM_TIMER:
        KillTimer(dialog, 1);
        run->broughtBack = IsWindowVisible(dialog);
        Shell_NotifyIconA(NIM_DELETE, &data);
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

TEST(Shell32Tray, WithoutAnyHostTheOwnerOfLampsIsNeverLeftHidden)
{
    NOTIFYICONDATAA probe = record(kOwner, 1, nullptr, "");
    Shell_NotifyIconA(NIM_DELETE, &probe); // lets the tray find its host
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        GTEST_SKIP() << "THIS MACHINE DIFFERS: no display, windows are never shown";
    if (sniHostPresent() || QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "THIS MACHINE DIFFERS: a tray host is running, so nothing is stranded";
    // Standard output no terminal (the console tray would show the lamps there).
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    StrandRun run;
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                           strandingProc, reinterpret_cast<LPARAM>(&run));
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    ASSERT_EQ(0, result);
    EXPECT_TRUE(run.keptWhileItHasLamps);
    EXPECT_TRUE(run.hiddenWithoutLamps);
    EXPECT_TRUE(run.hiddenWithinTheGrace);
    EXPECT_TRUE(run.broughtBack);
    EXPECT_EQ(0, layerTrayIconCount());
}

// The lamps as StatusNotifierItems, counted on a private session bus: only the part that
// changed is sent, one signal for it (and a new menu layout when the tip's lines change), and
// a lamp shown as it was sends nothing. The tray picks
// its host once per process, so the lamps live in a child of this test, on a bus of its own
// with the stand-in watcher (sni_watcher, built beside this test); dbus-monitor counts.
namespace {


std::string folderOfThisTest()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    path[length] = '\0';
    std::string text(path);
    return text.substr(0, text.rfind('/'));
}

// Starts program on the bus at address, its standard output into output (or nowhere).
pid_t startOnBus(const std::string &address, const std::vector<std::string> &arguments, const std::string &output)
{
    const pid_t child = fork();
    if (child == 0) {
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        std::freopen(output.empty() ? "/dev/null" : output.c_str(), "w", stdout);
        std::vector<char *> argv;
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

std::string readAll(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool waitForText(const std::string &path, const std::string &text)
{
    for (int i = 0; i < 100; ++i) {
        if (readAll(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The members of the item's and its menu's signals in the monitor's log, in order.
std::vector<std::string> itemSignals(const std::string &log)
{
    std::vector<std::string> members;
    std::istringstream lines(readAll(log));
    for (std::string line; std::getline(lines, line);) {
        const bool ours = contains(line, "interface=org.kde.StatusNotifierItem;") ||
                          contains(line, "interface=com.canonical.dbusmenu;");
        if (line.rfind("signal ", 0) == 0 && ours)
            members.push_back(line.substr(line.find("member=") + 7));
    }
    return members;
}

// The lamp's menu as a host reads it over the bus: its revision, then the entries as
// menuEntries gives them (with dbusmenu's doubled underscores).
std::vector<std::string> busMenu()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString item = bus.interface()->registeredServiceNames().value().filter("StatusNotifierItem-").value(0);
    QDBusMessage call = QDBusMessage::createMethodCall(item, "/StatusNotifierItem/Menu", "com.canonical.dbusmenu", "GetLayout");
    call << 0 << -1 << QStringList();
    // The lamp answers from this process's loop, which runs while the call waits.
    const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui);
    std::vector<std::string> menu = {"revision " + std::to_string(reply.arguments().value(0).toUInt())};
    const QDBusArgument root = qvariant_cast<QDBusArgument>(reply.arguments().value(1));
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        const QDBusArgument entry = qvariant_cast<QDBusArgument>(qdbus_cast<QDBusVariant>(root).variant());
        entry.beginStructure();
        entry >> id >> properties;
        entry.endStructure();
        const QString label = properties.value("type") == "separator" ? "-" : properties.value("label").toString();
        menu.push_back(label.toStdString() + (properties.value("enabled", true).toBool() ? "" : " (off)"));
    }
    root.endArray();
    root.endStructure();
    return menu;
}

// Lets the bus carry what the calls sent before the next step.
void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

} // namespace

// The child's side: one lamp through every kind of change, as the program makes them.
TEST(TraySignals, DISABLED_LampChild)
{
    HICON red = solidIcon(qRgb(255, 0, 0)), green = solidIcon(qRgb(0, 255, 0));
    NOTIFYICONDATAA data = record(kOwner, 100, red, "Drive: C:\nFree: 1 GB");
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    settle();
    EXPECT_EQ((std::vector<std::string>{"revision 1", "Drive: C: (off)", "Free: 1 GB (off)", "-", "Show/Hide window",
                                        "Quit"}),
              busMenu());
    const std::vector<NOTIFYICONDATAA> steps = {
        record(kOwner, 100, red, "Drive: C:\nFree: 1 GB"),                          // as it was: nothing
        record(kOwner, 100, red, "Drive: C:\nFree: 2 GB"),                          // the tip
        record(kOwner, 100, green, "Drive: C:\nFree: 2 GB"),                        // the picture
        record(kOwner, 100, red, "Drive: C:\nVolume: MY_DISK\nFree: 3 GB"),         // both
        record(kOwner, 100, red, "Drive: C:\nVolume: MY_DISK\n\nFree: 3 GB"),       // the menu's lines stay
    };
    for (NOTIFYICONDATAA step : steps) {
        ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &step));
        settle();
    }
    EXPECT_EQ((std::vector<std::string>{"revision 3", "Drive: C: (off)", "Volume: MY__DISK (off)", "Free: 3 GB (off)",
                                        "-", "Show/Hide window", "Quit"}),
              busMenu());
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    settle();
    DestroyIcon(red);
    DestroyIcon(green);
}

TEST(TraySignals, OneSignalForThePartThatChangedAndNoneForALampAsItWas)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "THIS MACHINE DIFFERS: no display, so no graphical tray (run under xvfb-run)";
    char folder[] = "/tmp/tallow-signals.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const std::string work = folder;
    FILE *daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    ASSERT_NE(nullptr, daemon);
    char address[512] = {}, pid[32] = {};
    const bool started = std::fgets(address, sizeof address, daemon) && std::fgets(pid, sizeof pid, daemon);
    pclose(daemon);
    ASSERT_TRUE(started) << "dbus-daemon did not start";
    address[std::strcspn(address, "\n")] = '\0';
    const pid_t bus = pid_t(std::atoi(pid));

    const pid_t watcher = startOnBus(address, {folderOfThisTest() + "/sni_watcher"}, work + "/watcher.log");
    const pid_t monitor = startOnBus(address,
                                     {"dbus-monitor", "--session", "type='signal',interface='org.kde.StatusNotifierItem'",
                                      "type='signal',interface='com.canonical.dbusmenu'"},
                                     work + "/monitor.log");
    EXPECT_TRUE(waitForText(work + "/watcher.log", "watching")) << "the stand-in watcher did not start";
    const pid_t lamps = startOnBus(address,
                                   {"/proc/self/exe", "--gtest_filter=TraySignals.DISABLED_LampChild",
                                    "--gtest_also_run_disabled_tests"},
                                   work + "/child.log");
    int status = -1;
    waitpid(lamps, &status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string registered = readAll(work + "/watcher.log");
    const std::vector<std::string> seen = itemSignals(work + "/monitor.log");

    for (pid_t child : {monitor, watcher, bus})
        kill(child, SIGTERM);
    waitpid(monitor, nullptr, 0);
    waitpid(watcher, nullptr, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readAll(work + "/child.log");
    std::system(("rm -rf " + work).c_str());

    EXPECT_NE(std::string::npos, registered.find("registered org.kde.StatusNotifierItem-")) << registered;
    EXPECT_EQ((std::vector<std::string>{"NewToolTip", "LayoutUpdated", "NewIcon", "NewIcon", "NewToolTip",
                                        "LayoutUpdated", "NewToolTip"}),
              seen);
}
