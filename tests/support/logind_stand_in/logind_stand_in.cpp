// systemd-logind as the keyboard tests need it, on the bus DBUS_SYSTEM_BUS_ADDRESS names: it
// owns org.freedesktop.login1 and serves Session.SetBrightness on the caller's session
// (/org/freedesktop/login1/session/auto) by writing <root>/sys/class/leds/<name>/brightness
// in place, as the kernel's file is written, refusing what logind refuses (another subsystem,
// a name that is no LED). It prints "ready", then one line per call it served.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>

#include <cstdio>

namespace {

class Session : public QDBusVirtualObject {
public:
    explicit Session(QString root) : root(std::move(root)) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("SetBrightness") || message.signature() != QLatin1String("ssu"))
            return false;
        const QString subsystem = message.arguments()[0].toString(), name = message.arguments()[1].toString();
        const uint value = message.arguments()[2].toUInt();
        const QString path = root + QStringLiteral("/sys/class/leds/") + name + QStringLiteral("/brightness");
        FILE *file = nullptr;
        if (subsystem == QLatin1String("leds") && !name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.')) &&
            QFile::exists(path))
            file = std::fopen(qPrintable(path), "w"); // truncated, the same file
        if (!file)
            return connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                            QStringLiteral("no such device")));
        std::fprintf(file, "%u\n", value);
        std::fclose(file);
        std::printf("SetBrightness %s %s %u\n", qPrintable(subsystem), qPrintable(name), value);
        std::fflush(stdout);
        return connection.send(message.createReply());
    }

private:
    QString root;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    QDBusConnection bus = QDBusConnection::systemBus();
    Session session{QString::fromLocal8Bit(argv[1])};
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1/session/auto"), &session) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}
