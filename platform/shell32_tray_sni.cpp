// SHELL32's notification area on StatusNotifierItem hosts (xfce4-panel, KDE Plasma, the
// AppIndicator and Ayatana hosts): each lamp is an org.kde.StatusNotifierItem at
// /StatusNotifierItem on a session-bus connection of its own, whose bus name
// (org.kde.StatusNotifierItem-PID-N) is registered with org.kde.StatusNotifierWatcher; when
// the lamp goes, the connection closes and every host sees the name leave.
//
// Supports: the item's properties (Id "<application>-<uID>", so a desktop's per-item settings
// tell the lamps apart across runs; Category Hardware; Status Active; the picture as
// IconPixmap (also at twice its size, pixel for pixel), and for hosts that draw names only
// also as a PNG file named by IconName; the tip as ToolTip, its first line the title), Activate, ContextMenu and the NewIcon and
// NewToolTip signals, one per change of that part; the menu as com.canonical.dbusmenu
// (GetLayout, GetGroupProperties, GetProperty, Event, EventGroup, AboutToShow,
// AboutToShowGroup): the tip's lines, disabled, a separator, the entry that acts as the
// double click and "Quit"; a new revision and LayoutUpdated when the tip's lines change.
// A watcher that restarts, or a host that registers later, is seen through the bus.
// Not supported: attention and overlay icons, theme icon names, Scroll and SecondaryActivate
// (accepted, ignored), ItemsPropertiesUpdated (a change is a new layout).
#include "platform/shell32_tray.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QStandardPaths>
#include <QtEndian>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

// ---------------------------------------------------------------------------------------
// The D-Bus shapes of the two interfaces (at file scope: QtDBus finds input types by name)

struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

struct DBusMenuLayout { // (ia{sv}av): an entry and, as variants, its children
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
};

struct DBusMenuItem { // (ia{sv})
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItems = QList<DBusMenuItem>;

struct DBusMenuEvent { // (isvu)
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEvents = QList<DBusMenuEvent>;

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)
Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuEvent)

QDBusArgument &operator<<(QDBusArgument &out, const SniPixmap &pixmap)
{
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, SniPixmap &pixmap)
{
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}

QDBusArgument &operator<<(QDBusArgument &out, const SniToolTip &tip)
{
    out.beginStructure();
    out << tip.iconName << tip.pixmaps << tip.title << tip.text;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, SniToolTip &tip)
{
    in.beginStructure();
    in >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    in.endStructure();
    return in;
}

QDBusArgument &operator<<(QDBusArgument &out, const DBusMenuLayout &layout)
{
    out.beginStructure();
    out << layout.id << layout.properties << layout.children;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, DBusMenuLayout &layout)
{
    in.beginStructure();
    in >> layout.id >> layout.properties >> layout.children;
    in.endStructure();
    return in;
}

QDBusArgument &operator<<(QDBusArgument &out, const DBusMenuItem &item)
{
    out.beginStructure();
    out << item.id << item.properties;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, DBusMenuItem &item)
{
    in.beginStructure();
    in >> item.id >> item.properties;
    in.endStructure();
    return in;
}

QDBusArgument &operator<<(QDBusArgument &out, const DBusMenuEvent &event)
{
    out.beginStructure();
    out << event.id << event.eventId << event.data << event.timestamp;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, DBusMenuEvent &event)
{
    in.beginStructure();
    in >> event.id >> event.eventId >> event.data >> event.timestamp;
    in.endStructure();
    return in;
}

namespace {

void registerTypes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    qDBusRegisterMetaType<DBusMenuLayout>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<DBusMenuItems>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEvents>();
}

SniPixmap pixmapOf(const QImage &image)
{
    SniPixmap pixmap;
    pixmap.width = image.width();
    pixmap.height = image.height();
    pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
    quint32 *out = reinterpret_cast<quint32 *>(pixmap.argb.data());
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            *out++ = qToBigEndian(quint32(line[x]));
    }
    return pixmap;
}

// The picture, and for a panel that asks for more than 32 pixels (a high-DPI screen) the same
// at twice its size, pixel for pixel: the host's own smooth scaling would blur the lamp.
SniPixmaps pixmapsOf(const QImage &picture)
{
    if (picture.isNull())
        return {};
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    SniPixmaps pixmaps = {pixmapOf(image)};
    if (image.width() <= 32)
        pixmaps.append(pixmapOf(image.scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return pixmaps;
}

// Hosts of the indicator-application family (Ayatana, and Canonical's before it) draw icon
// names only: there a picture is also a PNG file in the runtime folder, named by its content
// and written once, so that a lamp's few looks cost one file each.
bool hostTakesNamesOnly()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && (bus->isServiceRegistered(QStringLiteral("org.ayatana.indicator.application")) ||
                   bus->isServiceRegistered(QStringLiteral("com.canonical.indicator.application")));
}

QString pictureFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/TallowLAMP-%1").arg(QCoreApplication::applicationPid());
}

QString pictureFile(const QImage &picture)
{
    if (picture.isNull())
        return {};
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(image.constBits(), image.sizeInBytes()), QCryptographicHash::Md5);
    const QString path = pictureFolder() + QLatin1Char('/') + QString::fromLatin1(digest.toHex()) +
                         QStringLiteral(".png");
    if (!QFile::exists(path) && (!QDir().mkpath(pictureFolder()) || !image.save(path, "PNG")))
        return {};
    return path;
}

// ---------------------------------------------------------------------------------------
// The menu: the tip's lines, a separator, the entry that acts as the double click, and "Quit"

constexpr int kMenuShowHide = 1;
constexpr int kMenuQuit = 2;
constexpr int kMenuSeparator = 3;
constexpr int kMenuFirstLine = 4; // one id per line of the tip from here

class DBusMenu : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenu(HWND owner, UINT id) : owner(owner), id(id) {}

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    Q_SCRIPTABLE uint GetLayout(int parentId, int, const QStringList &, DBusMenuLayout &layout)
    {
        layout = DBusMenuLayout{parentId, properties(parentId), {}};
        if (parentId != 0)
            return revision;
        QList<int> entries;
        for (int line = 0; line < lines.size(); ++line)
            entries.append(kMenuFirstLine + line);
        if (!lines.isEmpty())
            entries.append(kMenuSeparator);
        entries << kMenuShowHide << kMenuQuit;
        for (int entry : entries)
            layout.children.append(QDBusVariant(QVariant::fromValue(DBusMenuLayout{entry, properties(entry), {}})));
        return revision;
    }

    Q_SCRIPTABLE DBusMenuItems GetGroupProperties(const QList<int> &ids, const QStringList &)
    {
        DBusMenuItems all;
        for (int entry : ids)
            all.append({entry, properties(entry)});
        return all;
    }

    Q_SCRIPTABLE QDBusVariant GetProperty(int entry, const QString &name)
    {
        return QDBusVariant(properties(entry).value(name));
    }

    Q_SCRIPTABLE void Event(int entry, const QString &eventId, const QDBusVariant &, uint)
    {
        if (eventId != QLatin1String("clicked"))
            return;
        if (entry == kMenuShowHide)
            layerTrayAct(owner, id, TrayAction::ShowHide);
        else if (entry == kMenuQuit)
            layerTrayAct(owner, id, TrayAction::Quit);
    }

    Q_SCRIPTABLE QList<int> EventGroup(const QList<DBusMenuEvent> &events)
    {
        for (const DBusMenuEvent &event : events)
            Event(event.id, event.eventId, event.data, event.timestamp);
        return {};
    }

    Q_SCRIPTABLE bool AboutToShow(int) { return false; }

    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int> &, QList<int> &idErrors)
    {
        idErrors.clear();
        return {};
    }

public:
    // Hosts fetch the layout again only when told; a tip whose lines stay tells them nothing.
    void setLines(const QStringList &tipLines)
    {
        if (tipLines == lines)
            return;
        lines = tipLines;
        emit LayoutUpdated(++revision, 0);
    }

    QStringList lines;

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);

private:
    QVariantMap properties(int entry) const
    {
        if (entry >= kMenuFirstLine && entry - kMenuFirstLine < lines.size()) {
            // A label's underscore marks its access key; a drive's label means its own.
            QString label = lines[entry - kMenuFirstLine];
            return {{QStringLiteral("label"), label.replace(QLatin1Char('_'), QStringLiteral("__"))},
                    {QStringLiteral("enabled"), false}};
        }
        if (entry == kMenuSeparator)
            return {{QStringLiteral("type"), QStringLiteral("separator")}};
        if (entry == kMenuShowHide)
            return {{QStringLiteral("label"), QString::fromUtf8(layerTrayCaption(TrayAction::ShowHide))}};
        if (entry == kMenuQuit)
            return {{QStringLiteral("label"), QString::fromUtf8(layerTrayCaption(TrayAction::Quit))}};
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    }

    HWND owner;
    UINT id;
    uint revision = 1;
};

// ---------------------------------------------------------------------------------------
// The item

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ itemId)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

public:
    StatusNotifierItem(HWND owner, UINT id) : owner(owner), id(id) {}

    QString category() const { return QStringLiteral("Hardware"); }
    QString itemId() const { return QCoreApplication::applicationName() + QLatin1Char('-') + QString::number(id); }
    QString title() const { return QCoreApplication::applicationName(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString none() const { return {}; }
    SniPixmaps noPixmaps() const { return {}; }
    SniPixmaps iconPixmap() const { return pixmaps; }
    QString iconName() const { return iconFile; }
    SniToolTip toolTip() const { return tip; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menuPath() const { return QDBusObjectPath(QStringLiteral("/StatusNotifierItem/Menu")); }

    HWND owner;
    UINT id;
    SniPixmaps pixmaps;
    bool namesOnly = false;
    QString iconFile; // for hosts that take names only
    SniToolTip tip;
    DBusMenu *menu = nullptr;

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(int, int) { layerTrayAct(owner, id, TrayAction::Activate); }
    Q_SCRIPTABLE void SecondaryActivate(int, int) {}
    Q_SCRIPTABLE void Scroll(int, const QString &) {}

    // Hosts that leave the menu to the item (no dbusmenu support).
    Q_SCRIPTABLE void ContextMenu(int x, int y)
    {
        if (QMenu *popup = layerTrayMenu(owner, id))
            popup->popup(QPoint(x, y));
    }

Q_SIGNALS:
    void NewIcon();
    void NewToolTip();
    void NewTitle();
    void NewStatus(const QString &status);
};

// Follows the watcher: its service coming and going, and its host registering.
class HostWatch : public QObject {
    Q_OBJECT

public:
    std::function<void()> changed;

public Q_SLOTS:
    void onChange() { changed(); }
};

constexpr auto kExports = QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties;

} // namespace

struct SniItem {
    SniItem(HWND owner, UINT id) : object(owner, id) {}
    QString name; // the item's own connection and bus name: closing it takes the item away
    StatusNotifierItem object;
};

namespace {

int liveItems = 0;

QDBusConnection busOf(const SniItem *item)
{
    return QDBusConnection(item->name);
}

void setPicture(StatusNotifierItem *object, const QImage &picture)
{
    object->pixmaps = pixmapsOf(picture);
    if (object->namesOnly)
        object->iconFile = pictureFile(picture);
}

void setTip(StatusNotifierItem *object, const std::string &tip)
{
    // The first line is the title; the rest is the body, which hosts read as markup.
    const QString text = QString::fromLocal8Bit(tip.c_str());
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    object->tip.title = text.left(end);
    object->tip.text = end < 0 ? QString() : text.mid(end + 1).toHtmlEscaped();
}

} // namespace

bool sniHostPresent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kWatcherService))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

void sniWatchHost(std::function<void()> changed)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto *watch = new HostWatch();
    watch->changed = std::move(changed);
    auto *service = new QDBusServiceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForOwnerChange, watch);
    QObject::connect(service, &QDBusServiceWatcher::serviceOwnerChanged, watch, &HostWatch::onChange);
    for (const char *signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(kWatcherService, kWatcherPath, kWatcherService, QLatin1String(signal), watch, SLOT(onChange()));
}

SniItem *sniCreate(HWND owner, UINT id, const QImage &picture, const std::string &tip)
{
    registerTypes();
    // A bus name of its own per item, as hosts expect: "org.kde.StatusNotifierItem-PID-N".
    static int created = 0;
    auto *item = new SniItem(owner, id);
    ++liveItems;
    item->name = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++created);
    StatusNotifierItem &object = item->object;
    object.namesOnly = hostTakesNamesOnly();
    setPicture(&object, picture);
    setTip(&object, tip);
    object.menu = new DBusMenu(owner, id);
    object.menu->setParent(&object);
    object.menu->lines = layerTrayTipLines(tip);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, item->name);
    bus.registerObject(QStringLiteral("/StatusNotifierItem"), &object, kExports);
    bus.registerObject(object.menuPath().path(), object.menu, kExports);
    bus.registerService(item->name);
    sniRegister(item);
    return item;
}

void sniRegister(SniItem *item)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << item->name;
    busOf(item).call(call, QDBus::NoBlock);
}

void sniSetPicture(SniItem *item, const QImage &picture)
{
    setPicture(&item->object, picture);
    emit item->object.NewIcon();
}

void sniSetTip(SniItem *item, const std::string &tip)
{
    setTip(&item->object, tip);
    emit item->object.NewToolTip();
    item->object.menu->setLines(layerTrayTipLines(tip));
}

void sniDestroy(SniItem *item)
{
    const QString name = item->name;
    busOf(item).unregisterObject(QStringLiteral("/StatusNotifierItem"), QDBusConnection::UnregisterTree);
    delete item;
    QDBusConnection::disconnectFromBus(name);
    // The last lamp gone (the program ends, or stops monitoring): its picture files go too.
    if (--liveItems == 0)
        QDir(pictureFolder()).removeRecursively();
}

std::string sniService(const SniItem *item)
{
    return item->name.toStdString();
}

#include "shell32_tray_sni.moc"
