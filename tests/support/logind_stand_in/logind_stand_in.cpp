// systemd-logind as the keyboard tests need it, under dbus-run-session: given a root, its
// Session.SetBrightness writes <root>/sys/class/leds/<name>/brightness in place, as the kernel's
// file is written, and a line a call to <root>/logind.log. It prints its pid and the bus address.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>
#include <unistd.h>

static QString root;
static FILE *calls;

struct Session : QDBusVirtualObject {
    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.signature() != QLatin1String("ssu"))
            return false;
        const QStringList a = {message.member(), message.arguments()[0].toString(), message.arguments()[1].toString(),
                               message.arguments()[2].toString()};
        if (FILE *file = std::fopen(qPrintable(root + "/sys/class/" + a[1] + "/" + a[2] + "/brightness"), "w")) {
            std::fprintf(file, "%s\n", qPrintable(a[3]));
            std::fclose(file);
        }
        std::fprintf(calls, "%s\n", qPrintable(a.join(' ')));
        return connection.send(message.createReply());
    }
};

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Session session;
    if (argc == 2) {
        root = QString::fromLocal8Bit(argv[1]);
        calls = std::fopen(qPrintable(root + "/logind.log"), "w");
        std::setvbuf(calls, nullptr, _IOLBF, 0);
        bus.registerVirtualObject("/org/freedesktop/login1/session/auto", &session);
        bus.registerService("org.freedesktop.login1");
    }
    std::printf("%d %s\n", int(getpid()), qgetenv("DBUS_SESSION_BUS_ADDRESS").constData());
    std::fflush(stdout);
    return application.exec();
}
