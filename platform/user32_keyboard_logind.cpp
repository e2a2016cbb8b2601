// Scroll Lock on the keyboards' own LEDs through systemd-logind, where X's indicator lights no
// keyboard (a Wayland session, XWayland).
//
// Supports: every input*::scrolllock LED of sys/class/leds (read under TALLOWLAMP_SYSROOT),
// lit when its brightness is not 0. A press writes 0 to all of them, or each its
// max_brightness, through org.freedesktop.login1.Session.SetBrightness("leds", name, value) on
// the caller's own session (/org/freedesktop/login1/session/auto on the system bus; logind
// lets the session's user do it without root): one call per LED, all sent before any reply is
// awaited (1 s at most), so that the next look sees what logind wrote. The LEDs, and then the
// bus, are found at first use; a press looks for the LEDs again once the last look is 5 s
// old, so that a keyboard plugged in later follows. Between presses a look is one pread of
// each LED's brightness file, kept open, and nothing on the bus.
// Not supported: the held state (the compositor tells no client of a key it does not focus);
// a bus or logind that appears after the first use.
#include "platform/user32_keyboard_logind.h"

#include "platform/layer_qt.h"
#include "platform/sysroot.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kLogind[] = "org.freedesktop.login1";
const char kConnection[] = "tallowlamp-logind";
const char kSuffix[] = "::scrolllock";
const int kLookAgainSeconds = 5;
const int kReplyMilliseconds = 1000;

struct SessionLed {
    std::string name;       // "input3::scrolllock"
    int brightness;         // its brightness file, open while the LED is listed
    unsigned maxBrightness; // what "on" writes
};

struct SessionLeds {
    bool looked;
    bool busTried; // once, when LEDs are first found
    bool logind;   // the bus is there and logind owns its name
    time_t lookedAt;
    std::vector<SessionLed> leds;
};

SessionLeds leds;

time_t monotonicSeconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

unsigned readNumber(int fd)
{
    char text[32];
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0; // an unplugged keyboard's file answers ENODEV
    text[got] = 0;
    return unsigned(std::strtoul(text, nullptr, 10));
}

bool isScrollLockLed(const char *name)
{
    size_t length = std::strlen(name), suffix = sizeof kSuffix - 1;
    return std::strncmp(name, "input", 5) == 0 && length > suffix &&
           std::strcmp(name + length - suffix, kSuffix) == 0;
}

void closeLeds()
{
    for (const SessionLed &led : leds.leds)
        close(led.brightness);
    leds.leds.clear();
}

void findLeds()
{
    closeLeds();
    leds.looked = true;
    leds.lookedAt = monotonicSeconds();
    char folder[4096];
    DIR *dir = sysrootPath(folder, sizeof folder, "sys/class/leds") ? opendir(folder) : nullptr;
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        if (!isScrollLockLed(entry->d_name))
            continue;
        std::string base = std::string(folder) + "/" + entry->d_name + "/";
        int brightness = open((base + "brightness").c_str(), O_RDONLY | O_CLOEXEC);
        int max = open((base + "max_brightness").c_str(), O_RDONLY | O_CLOEXEC);
        unsigned maxBrightness = max >= 0 ? readNumber(max) : 0;
        if (max >= 0)
            close(max);
        if (brightness >= 0)
            leds.leds.push_back({entry->d_name, brightness, maxBrightness ? maxBrightness : 1});
    }
    closedir(dir);
    std::sort(leds.leds.begin(), leds.leds.end(),
              [](const SessionLed &a, const SessionLed &b) { return a.name < b.name; });
}

// Without LEDs there is nothing to connect for, so a machine without them never opens the bus.
void lookIfDue(bool pressing)
{
    if (!leds.looked || (pressing && monotonicSeconds() - leds.lookedAt >= kLookAgainSeconds))
        findLeds();
    if (leds.busTried || leds.leds.empty())
        return;
    leds.busTried = true;
    layerApplication(); // QtDBus delivers through the application's loop
    // libdbus keeps the system bus address it read at the process's first use of any bus.
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection bus = address ? QDBusConnection::connectToBus(QString::fromLocal8Bit(address), QLatin1String(kConnection))
                                  : QDBusConnection::connectToBus(QDBusConnection::SystemBus, QLatin1String(kConnection));
    leds.logind = bus.isConnected() && bus.interface()->isServiceRegistered(QLatin1String(kLogind));
}

bool anyLit()
{
    for (const SessionLed &led : leds.leds)
        if (readNumber(led.brightness))
            return true;
    return false;
}

} // namespace

int sessionScrollLockLit()
{
    lookIfDue(false);
    return leds.logind && anyLit() ? 1 : 0;
}

void sessionScrollLockPress()
{
    if (leds.busTried && !leds.logind)
        return;
    lookIfDue(true);
    if (!leds.logind)
        return;
    bool lit = anyLit();
    QDBusConnection bus{QLatin1String(kConnection)};
    std::vector<QDBusPendingCall> calls;
    for (const SessionLed &led : leds.leds) {
        QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kLogind),
                                                           QStringLiteral("/org/freedesktop/login1/session/auto"),
                                                           QStringLiteral("org.freedesktop.login1.Session"),
                                                           QStringLiteral("SetBrightness"));
        call << QStringLiteral("leds") << QString::fromStdString(led.name) << uint(lit ? 0 : led.maxBrightness);
        calls.push_back(bus.asyncCall(call, kReplyMilliseconds));
    }
    // A refusal (a session not in the foreground) leaves the LED as it was, and the next look
    // says so.
    for (QDBusPendingCall &call : calls)
        call.waitForFinished();
}

void sessionLedsForget()
{
    closeLeds();
    if (leds.busTried)
        QDBusConnection::disconnectFromBus(QLatin1String(kConnection));
    leds = SessionLeds();
}
