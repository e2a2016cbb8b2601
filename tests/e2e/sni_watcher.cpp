// A StatusNotifierItem watcher with a host registered, as a desktop's panel provides one, for
// the end-to-end test: it owns org.kde.StatusNotifierWatcher on the session bus, answers
// what Qt asks before it chooses StatusNotifierItem over XEmbed, and prints one line per item
// that registers ("registered <service>"), so the test can talk to the items with dbus-send.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>

#include <cstdio>

namespace {

const char kInterface[] = "org.kde.StatusNotifierWatcher";

class Watcher : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override
    {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierHostRegistered\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        const QList<QVariant> arguments = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            if (member == QLatin1String("Get") && arguments.size() == 2)
                return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(property(arguments[1].toString())))));
            if (member == QLatin1String("GetAll")) {
                QVariantMap all;
                for (const char *name : {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
                    all.insert(QLatin1String(name), property(QLatin1String(name)));
                return connection.send(message.createReply(all));
            }
            return false;
        }
        if (member == QLatin1String("RegisterStatusNotifierItem") && arguments.size() == 1) {
            // Qt names its item by service; others give a path on their own connection.
            QString service = arguments[0].toString();
            if (service.startsWith(QLatin1Char('/')))
                service = message.service();
            items.append(service);
            std::printf("registered %s\n", qPrintable(service));
            std::fflush(stdout);
            connection.send(message.createReply());
            QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"),
                                                             QLatin1String(kInterface),
                                                             QStringLiteral("StatusNotifierItemRegistered"));
            signal << service;
            return connection.send(signal);
        }
        if (member == QLatin1String("RegisterStatusNotifierHost"))
            return connection.send(message.createReply());
        return false;
    }

private:
    QVariant property(const QString &name) const
    {
        if (name == QLatin1String("IsStatusNotifierHostRegistered"))
            return true;
        if (name == QLatin1String("ProtocolVersion"))
            return 0;
        return items;
    }

    QStringList items;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher) ||
        !bus.registerService(QLatin1String(kInterface))) {
        std::fprintf(stderr, "sni_watcher: cannot own %s\n", kInterface);
        return 1;
    }
    bus.send(QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"), QLatin1String(kInterface),
                                        QStringLiteral("StatusNotifierHostRegistered")));
    std::printf("watching\n");
    std::fflush(stdout);
    return application.exec();
}
