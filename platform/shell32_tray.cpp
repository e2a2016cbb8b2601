// SHELL32: the notification area on Linux.
//
// Supports: Shell_NotifyIconA with NIM_ADD, NIM_MODIFY, NIM_DELETE; NOTIFYICONDATAA of the
// V1, V2 and V3 sizes (the V1 tip holds 63 characters); NIF_MESSAGE, NIF_ICON, NIF_TIP. Each
// (hWnd, uID) is one lamp with a copy of the icon's picture, as the shell keeps its own copy,
// and the tip with its line breaks. Where the session bus has a StatusNotifierItem host the
// lamp is a D-Bus item of our own (shell32_tray_sni.cpp); otherwise, where the X display has
// an XEmbed tray, a Qt tray icon. Only the part that changed (picture or tip) is sent again.
// Call-backs are posted to the owner: a double click as WM_LBUTTONDBLCLK, and so is a
// StatusNotifierItem activation, once per double-click time (such hosts report a double click
// as two activations); the lamp's menu holds the tip's lines (disabled, for hosts that show no
// tooltips; made when it opens, renewed with the tip while open), "Show/Hide window", which
// acts as the double click (menu-only hosts have nothing else), and "Quit", which posts
// WM_RBUTTONDBLCLK.
// Hosts that come, go or restart are followed without "TaskbarCreated".
// Without a graphical tray, and with standard output a terminal, the icons are drawn there as
// one line of coloured lamps, rewritten in place when one changes. With neither, a window
// whose lamps have no host is never left hidden: hiding it minimises it, a hidden one is
// brought back minimised when its lamps arrive, and org.freedesktop.Notifications says once
// that no notification area was found.
// Not supported: NIM_SETFOCUS, NIM_SETVERSION, NIF_STATE, NIF_INFO balloons, NIF_GUID (debug
// builds abort); other record sizes fail as on Windows.
#include "platform/gdi_objects.h"
#include "platform/layer_qt.h"
#include "platform/layer_testing.h"
#include "platform/shell32_tray.h"
#include "platform/user32_window.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr DWORD kRecordSizeV1 = offsetof(NOTIFYICONDATAA, szTip) + 64;
constexpr DWORD kRecordSizeV2 = offsetof(NOTIFYICONDATAA, guidItem);
constexpr UINT kSupportedFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr int kHostPollMs = 2000;
// How long lamps may wait for a host before their hidden window is brought back: a panel
// that restarts, or starts beside the program at log-on, is there well within it.
constexpr int kHostGraceMs = 5000;

struct TrayItem {
    HWND owner;
    UINT id;
    UINT callbackMessage;     // 0 until NIF_MESSAGE gives one
    QImage picture;           // the shell's own copy of the icon
    std::string tip;
    QRgb upper;               // dominant colours of the picture's halves, for the console
    QRgb lower;
    QSystemTrayIcon *qtIcon;  // the item in an XEmbed tray
    QMenu *menu;              // made when a host first asks for it
    SniItem *sni;             // the item on a StatusNotifierItem host
};

// What shows the lamps: no host (the console, where standard output is a terminal), an
// XEmbed tray on the display, or a StatusNotifierItem host on the session bus.
enum class Host { Unknown, None, XEmbed, Sni };

// What changed of a lamp.
constexpr int kPicture = 1;
constexpr int kTip = 2;

struct TrayArea {
    std::vector<TrayItem> items;
    std::vector<TrayCall> *recording = nullptr;
    Host host = Host::Unknown;
    std::string consoleLine;        // what the terminal shows now
    QObject *watcher = nullptr;
    QElapsedTimer lastActivation;   // the last activation that counted as a double click
    HWND hiddenOwner = nullptr;     // the window last hidden while it owned no lamp
    QTimer *recall = nullptr;       // brings it back when no host comes in time
    bool noticeSent = false;        // "no notification area" was said
};

// Reachable for the whole run, like the Qt application it lives in.
TrayArea &area()
{
    static TrayArea *instance = new TrayArea();
    return *instance;
}

TrayItem *findItem(HWND owner, UINT id)
{
    for (TrayItem &item : area().items)
        if (item.owner == owner && item.id == id)
            return &item;
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Call-backs

void postCallback(HWND owner, UINT id, LPARAM mouseMessage)
{
    TrayItem *item = findItem(owner, id);
    if (item && item->callbackMessage)
        PostMessageA(owner, item->callbackMessage, id, mouseMessage);
}

void activated(HWND owner, UINT id, QSystemTrayIcon::ActivationReason reason)
{
    // XEmbed reports a double click as a press (Trigger) and then DoubleClick.
    if (reason == QSystemTrayIcon::DoubleClick)
        postCallback(owner, id, WM_LBUTTONDBLCLK);
}

// ---------------------------------------------------------------------------------------
// Graphical tray

// A lamp's picture as an icon that draws straight from the shell's copy. Qt's own pixmap icons
// put every picture they paint into the global pixmap cache, and a meter redrawn each poll
// would fill it to its 10 MB limit with pictures no longer shown.
class LampIconEngine final : public QIconEngine {
public:
    explicit LampIconEngine(const QImage &picture) : picture_(picture) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(rect, picture_);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return QPixmap::fromImage(picture_.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    QIconEngine *clone() const override { return new LampIconEngine(picture_); }

private:
    QImage picture_;
};

QIcon trayPicture(const TrayItem &item)
{
    if (!item.picture.isNull())
        return QIcon(new LampIconEngine(item.picture));
    // Windows leaves an empty place for an icon without a picture.
    QImage empty(32, 32, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    return QIcon(new LampIconEngine(empty));
}

void showInXEmbed(TrayItem *item, int changed)
{
    if (!item->qtIcon) {
        const HWND owner = item->owner;
        const UINT id = item->id;
        item->qtIcon = new QSystemTrayIcon();
        QObject::connect(item->qtIcon, &QSystemTrayIcon::activated, item->qtIcon,
                         [owner, id](QSystemTrayIcon::ActivationReason reason) {
                             activated(owner, id, reason);
                         });
        item->qtIcon->setContextMenu(layerTrayMenu(owner, id));
        changed = kPicture | kTip;
    }
    if (changed & kPicture)
        item->qtIcon->setIcon(trayPicture(*item));
    if (changed & kTip)
        item->qtIcon->setToolTip(QString::fromLocal8Bit(item->tip.c_str()));
    item->qtIcon->setVisible(true);
}

void showGraphical(TrayItem *item, int changed)
{
    if (area().host == Host::XEmbed) {
        showInXEmbed(item, changed);
    } else if (!item->sni) {
        item->sni = sniCreate(item->owner, item->id, item->picture, item->tip);
    } else {
        if (changed & kPicture)
            sniSetPicture(item->sni, item->picture);
        if (changed & kTip)
            sniSetTip(item->sni, item->tip);
    }
}

void hideGraphical(TrayItem *item)
{
    delete item->qtIcon;
    delete item->menu;
    if (item->sni)
        sniDestroy(item->sni);
    item->qtIcon = nullptr;
    item->menu = nullptr;
    item->sni = nullptr;
}

// The tip's lines head the menu, disabled, then a separator. Entries are renamed rather than
// made anew, so that a menu open on screen just shows the new text.
void setMenuTip(QMenu *menu, const std::string &tip)
{
    const QStringList lines = layerTrayTipLines(tip);
    QList<QAction *> heading = menu->actions();
    QAction *commands = heading[heading.size() - 2]; // "Show/Hide window", then "Quit"
    heading.resize(heading.size() - 2);
    if (!heading.isEmpty())
        delete heading.takeLast(); // the separator
    while (heading.size() > lines.size())
        delete heading.takeLast();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // An ampersand marks an access key; a drive's label means its own.
        const QString text = QString(lines[i]).replace(QLatin1Char('&'), QStringLiteral("&&"));
        if (i < heading.size()) {
            heading[i]->setText(text);
            continue;
        }
        auto *line = new QAction(text, menu);
        line->setEnabled(false);
        menu->insertAction(commands, line);
    }
    if (!lines.isEmpty())
        menu->insertSeparator(commands);
}

// ---------------------------------------------------------------------------------------
// Console tray

bool isGrey(QRgb pixel)
{
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    return std::max({r, g, b}) - std::min({r, g, b}) < 24;
}

// The most frequent coloured pixel of rows [top, bottom): the lamp, not its margin, bevel or
// label; black when the half has no colour at all.
QRgb dominantColour(const QImage &image, int top, int bottom)
{
    struct Count { QRgb colour; int count; };
    Count counts[64];
    int used = 0;
    for (int y = top; y < bottom; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x] | 0xFF000000u;
            if (isGrey(pixel))
                continue;
            int i = 0;
            while (i < used && counts[i].colour != pixel)
                ++i;
            if (i < used)
                ++counts[i].count;
            else if (used < 64)
                counts[used++] = {pixel, 1};
        }
    }
    QRgb best = qRgb(0, 0, 0);
    for (int i = 0, most = 0; i < used; ++i)
        if (counts[i].count > most)
            most = counts[i].count, best = counts[i].colour;
    return best;
}

// False when the icon shows what the item already shows.
bool takePicture(TrayItem *item, HICON icon)
{
    QImage image = layerIconImage(icon);
    if (!image.isNull())
        image = image.convertToFormat(QImage::Format_ARGB32);
    if (image == item->picture)
        return false;
    item->picture = image;
    item->upper = item->lower = qRgb(0, 0, 0);
    if (!image.isNull()) {
        const int half = image.height() / 2;
        item->upper = dominantColour(image, 0, half);
        item->lower = dominantColour(image, half, image.height());
    }
    return true;
}

// The tip's first line; a bare heading ("RAM:", not "Drive: C:") brings its next line along.
std::string shortTip(const std::string &tip)
{
    const size_t end = tip.find('\n');
    std::string first = tip.substr(0, end);
    if (end == std::string::npos || first.empty() || first.back() != ':' || first.find(": ") != std::string::npos)
        return first;
    return first + ' ' + tip.substr(end + 1, tip.find('\n', end + 1) - end - 1);
}

void appendColour(std::string *line, const char *layer, QRgb colour)
{
    char code[32];
    std::snprintf(code, sizeof code, "\x1b[%s;2;%d;%d;%dm", layer, qRed(colour), qGreen(colour), qBlue(colour));
    *line += code;
}

void drawConsole()
{
    TrayArea &a = area();
    std::string line;
    for (const TrayItem &item : a.items) {
        if (!line.empty())
            line += "  ";
        // Upper half block: the foreground paints the top of the cell, the background its
        // bottom, so a lamp of two bars shows both.
        appendColour(&line, "38", item.upper);
        appendColour(&line, "48", item.lower);
        line += "\xe2\x96\x80\xe2\x96\x80\x1b[0m ";
        line += shortTip(item.tip);
    }
    if (line == a.consoleLine)
        return;
    a.consoleLine = line;
    std::fputs("\r", stdout);
    std::fputs(line.c_str(), stdout);
    std::fputs("\x1b[K", stdout);
    std::fflush(stdout);
}

void clearConsole()
{
    TrayArea &a = area();
    if (a.consoleLine.empty())
        return;
    a.consoleLine.clear();
    std::fputs("\r\x1b[K", stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------
// The host: a graphical tray, or the console

bool offscreen()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

// A StatusNotifierItem host first: Qt's own tray is asked only when there is none, so that it
// settles on XEmbed (its choice of D-Bus is made once per process).
Host findHost()
{
    if (offscreen())
        return Host::None;
    if (sniHostPresent())
        return Host::Sni;
    return QSystemTrayIcon::isSystemTrayAvailable() ? Host::XEmbed : Host::None;
}

// No host shows the lamps and no terminal either: a hidden window would be out of reach.
bool strandsWindows()
{
    return area().host == Host::None && !offscreen() && !isatty(STDOUT_FILENO);
}

bool ownsLamps(HWND window)
{
    for (const TrayItem &item : area().items)
        if (item.owner == window)
            return true;
    return false;
}

// Said once per run, where a notification daemon listens; nobody answering changes nothing.
void noAreaNotice()
{
    TrayArea &a = area();
    if (a.noticeSent)
        return;
    a.noticeSent = true;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QCoreApplication::applicationName() << uint(0) << QString() << QCoreApplication::applicationName()
           << QStringLiteral("No notification area was found. The window stays on the task bar; the lamps "
                             "appear when a notification area starts.")
           << QStringList() << QVariantMap() << int(-1);
    QDBusConnection::sessionBus().call(notify, QDBus::NoBlock);
}

bool ownerStranded()
{
    const HWND window = area().hiddenOwner;
    return window && strandsWindows() && ownsLamps(window) && IsWindow(window) && !IsWindowVisible(window);
}

// The window hidden before its lamps came (a start at log-on), or before their host went,
// comes back minimised if no host shows them in time.
void recallHiddenOwner()
{
    TrayArea &a = area();
    if (!ownerStranded())
        return;
    if (!a.recall) {
        a.recall = new QTimer();
        a.recall->setSingleShot(true);
        QObject::connect(a.recall, &QTimer::timeout, [] {
            if (!ownerStranded())
                return;
            ShowWindow(area().hiddenOwner, SW_MINIMIZE);
            area().hiddenOwner = nullptr;
            noAreaNotice();
        });
    }
    if (!a.recall->isActive())
        a.recall->start(kHostGraceMs);
}

void showItem(TrayItem *item, int changed)
{
    if (area().host == Host::XEmbed || area().host == Host::Sni)
        showGraphical(item, changed);
    else if (isatty(STDOUT_FILENO))
        drawConsole();
}

// The tray came, went or restarted: the lamps move to the new host, or to the console.
void hostChanged()
{
    TrayArea &a = area();
    const Host now = findHost();
    if (now != a.host)
        for (TrayItem &item : a.items)
            hideGraphical(&item);
    const Host was = a.host;
    a.host = now;
    for (TrayItem &item : a.items) {
        if (now == Host::Sni && item.sni) {
            sniRegister(item.sni); // with a watcher that may be new
        } else if (now == Host::XEmbed && was == Host::XEmbed) {
            // Qt docks its icons again only when they are shown anew.
            if (item.qtIcon) {
                item.qtIcon->setVisible(false);
                item.qtIcon->setVisible(true);
            }
        } else if (now != Host::None) {
            showGraphical(&item, kPicture | kTip);
        }
    }
    if (now != Host::None)
        clearConsole();
    else if (isatty(STDOUT_FILENO))
        drawConsole();
    recallHiddenOwner();
}

// Asks whether the XEmbed tray came or went.
class XTrayWatch : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void check()
    {
        const Host host = area().host;
        if (host != Host::Sni && QSystemTrayIcon::isSystemTrayAvailable() != (host == Host::XEmbed))
            hostChanged();
    }
};

// A StatusNotifierItem host announces itself on the bus. An XEmbed tray that appears or goes
// shows only as a change of isSystemTrayAvailable (Qt docks its icons again into a tray that
// restarts, but never into one that was not there when they were shown). Qt's X connection
// follows the tray's owner (its DestroyNotify, a new one's MANAGER message) and says so; a
// platform that does not is asked every two seconds, a turn of Qt's loop each time.
void watchHost()
{
    TrayArea &a = area();
    if (offscreen())
        return;
    sniWatchHost(hostChanged);
    auto *watch = new XTrayWatch();
    a.watcher = watch;
    // A QObject whose class is in a private header: its signal is found by name.
    auto *native = reinterpret_cast<QObject *>(QGuiApplication::platformNativeInterface());
    if (native && native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0 &&
        QObject::connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), watch, SLOT(check())))
        return;
    auto *poll = new QTimer(watch);
    QObject::connect(poll, &QTimer::timeout, watch, &XTrayWatch::check);
    poll->start(kHostPollMs);
}

void ensureHost()
{
    TrayArea &a = area();
    if (a.host != Host::Unknown)
        return;
    layerApplication();
    a.host = findHost();
    watchHost();
}

// ---------------------------------------------------------------------------------------
// The record

bool validRecordSize(DWORD size)
{
    return size == NOTIFYICONDATAA_V3_SIZE || size == kRecordSizeV2 || size == kRecordSizeV1;
}

std::string tipOf(const NOTIFYICONDATAA *data)
{
    const size_t room = data->cbSize == kRecordSizeV1 ? 64 : sizeof data->szTip;
    return std::string(data->szTip, strnlen(data->szTip, room - 1));
}

// What the tray shows that changed: kPicture, kTip, or 0.
int applyRecord(TrayItem *item, const NOTIFYICONDATAA *data)
{
    int changed = 0;
    if (data->uFlags & NIF_MESSAGE)
        item->callbackMessage = data->uCallbackMessage;
    if ((data->uFlags & NIF_ICON) && takePicture(item, data->hIcon))
        changed |= kPicture;
    if (data->uFlags & NIF_TIP) {
        std::string tip = tipOf(data);
        if (tip != item->tip)
            changed |= kTip;
        item->tip = std::move(tip);
    }
    return changed;
}

BOOL addItem(const NOTIFYICONDATAA *data)
{
    if (findItem(data->hWnd, data->uID))
        return FALSE;
    TrayItem item = {};
    item.owner = data->hWnd;
    item.id = data->uID;
    item.upper = item.lower = qRgb(0, 0, 0);
    applyRecord(&item, data);
    area().items.push_back(item);
    showItem(&area().items.back(), kPicture | kTip);
    recallHiddenOwner();
    return TRUE;
}

BOOL modifyItem(const NOTIFYICONDATAA *data)
{
    TrayItem *item = findItem(data->hWnd, data->uID);
    if (!item)
        return FALSE;
    // A lamp that looks as it did is not painted again.
    const int changed = applyRecord(item, data);
    if ((changed & kTip) && item->menu && item->menu->isVisible())
        setMenuTip(item->menu, item->tip);
    if (changed)
        showItem(item, changed);
    return TRUE;
}

BOOL deleteItem(const NOTIFYICONDATAA *data)
{
    std::vector<TrayItem> &items = area().items;
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->owner == data->hWnd && it->id == data->uID) {
            hideGraphical(&*it);
            items.erase(it);
            if (area().host == Host::None && isatty(STDOUT_FILENO)) {
                if (items.empty())
                    clearConsole();
                else
                    drawConsole();
            }
            return TRUE;
        }
    }
    return FALSE;
}

} // namespace

void layerTrayAct(HWND owner, UINT id, TrayAction action)
{
    switch (action) {
    case TrayAction::Activate: {
        QElapsedTimer &last = area().lastActivation;
        if (last.isValid() && last.elapsed() < QApplication::doubleClickInterval())
            return;
        last.start();
        postCallback(owner, id, WM_LBUTTONDBLCLK);
        return;
    }
    case TrayAction::ShowHide:
        postCallback(owner, id, WM_LBUTTONDBLCLK);
        return;
    case TrayAction::Quit:
        postCallback(owner, id, WM_RBUTTONDBLCLK);
        return;
    }
}

const char *layerTrayCaption(TrayAction action)
{
    return action == TrayAction::Quit ? "Quit" : "Show/Hide window";
}

QMenu *layerTrayMenu(HWND owner, UINT id)
{
    TrayItem *item = findItem(owner, id);
    if (!item || item->menu)
        return item ? item->menu : nullptr;
    item->menu = new QMenu();
    for (TrayAction action : {TrayAction::ShowHide, TrayAction::Quit}) {
        QAction *entry = item->menu->addAction(QString::fromUtf8(layerTrayCaption(action)));
        QObject::connect(entry, &QAction::triggered, item->menu, [owner, id, action] { layerTrayAct(owner, id, action); });
    }
    // Its lines are made when it opens, and renewed while it is open: a lamp whose menu
    // nobody opens keeps none.
    QObject::connect(item->menu, &QMenu::aboutToShow, item->menu, [owner, id] {
        if (TrayItem *shown = findItem(owner, id))
            setMenuTip(shown->menu, shown->tip);
    });
    return item->menu;
}

QStringList layerTrayTipLines(const std::string &tip)
{
    return QString::fromLocal8Bit(tip.c_str()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool layerTrayHidingWindow(HWND window)
{
    if (!ownsLamps(window) || !strandsWindows()) {
        area().hiddenOwner = window;
        return false;
    }
    noAreaNotice();
    return true;
}

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data)
{
    layerQtTouched();
    if (!data || !validRecordSize(data->cbSize))
        return FALSE;
    assert(!(data->uFlags & ~kSupportedFlags) && "Shell_NotifyIconA: only NIF_MESSAGE, NIF_ICON and NIF_TIP are supported");
    assert(message <= NIM_DELETE && "Shell_NotifyIconA: NIM_SETFOCUS and NIM_SETVERSION are not supported");
    TrayArea &a = area();
    if (a.recording)
        a.recording->push_back({message, data->uID, (data->uFlags & NIF_ICON) ? data->hIcon : nullptr,
                                (data->uFlags & NIF_TIP) ? tipOf(data) : std::string()});
    ensureHost();
    switch (message) {
    case NIM_ADD:
        return addItem(data);
    case NIM_MODIFY:
        return modifyItem(data);
    case NIM_DELETE:
        return deleteItem(data);
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------------------
// Test hooks

void layerRecordTrayCalls(std::vector<TrayCall> *into)
{
    area().recording = into;
}

int layerTrayIconCount()
{
    return int(area().items.size());
}

QImage layerTrayIconImage(HWND owner, UINT id)
{
    const TrayItem *item = findItem(owner, id);
    return item ? item->picture : QImage();
}

std::string layerTrayIconTip(HWND owner, UINT id)
{
    const TrayItem *item = findItem(owner, id);
    return item ? item->tip : std::string();
}

QIcon layerTrayIconShown(HWND owner, UINT id)
{
    const TrayItem *item = findItem(owner, id);
    return item ? trayPicture(*item) : QIcon();
}

void layerTrayActivate(HWND owner, UINT id, int reason)
{
    activated(owner, id, QSystemTrayIcon::ActivationReason(reason));
}

void layerTrayChooseQuit(HWND owner, UINT id)
{
    layerTrayAct(owner, id, TrayAction::Quit);
}

#include "shell32_tray.moc"
