// SHELL32: the notification area on Linux.
//
// Supports: Shell_NotifyIconA with NIM_ADD, NIM_MODIFY, NIM_DELETE; NOTIFYICONDATAA of the
// V1, V2 and V3 sizes (the V1 tip holds 63 characters); NIF_MESSAGE, NIF_ICON, NIF_TIP. Each
// (hWnd, uID) is one Qt tray icon (StatusNotifierItem over D-Bus where a host is registered,
// XEmbed otherwise) with a copy of the icon's picture, as the shell keeps its own copy, and
// the tip with its line breaks. Call-backs are posted to the owner: a double click (or, where
// the host reports only single activations, an activation) as WM_LBUTTONDBLCLK; the host's
// context menu holds one item, "Quit", which posts WM_RBUTTONDBLCLK. When the tray host goes
// away and comes back, the icons are shown again (by Qt for StatusNotifierItem, here for
// XEmbed), without "TaskbarCreated".
// Without a graphical tray, and with standard output a terminal, the icons are drawn there as
// one line of coloured lamps, rewritten in place when one changes.
// Not supported: NIM_SETFOCUS, NIM_SETVERSION, NIF_STATE, NIF_INFO balloons, NIF_GUID (debug
// builds abort); other record sizes fail as on Windows.
#include "platform/gdi_objects.h"
#include "platform/layer_qt.h"
#include "platform/layer_testing.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
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

struct TrayItem {
    HWND owner;
    UINT id;
    UINT callbackMessage;     // 0 until NIF_MESSAGE gives one
    QImage picture;           // the shell's own copy of the icon
    std::string tip;
    QRgb upper;               // dominant colours of the picture's halves, for the console
    QRgb lower;
    QSystemTrayIcon *qtIcon;  // null until a graphical tray hosts the item
    QMenu *menu;
};

enum class Host { Unknown, Console, Graphical };

struct TrayArea {
    std::vector<TrayItem> items;
    std::vector<TrayCall> *recording = nullptr;
    Host host = Host::Unknown;
    bool singleActivations = false; // a StatusNotifierItem host: no double clicks
    std::string consoleLine;        // what the terminal shows now
    QObject *watcher = nullptr;
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
    // XEmbed reports a double click as a press (Trigger) and then DoubleClick; a
    // StatusNotifierItem host only ever sends Activate (Trigger).
    if (reason == QSystemTrayIcon::DoubleClick ||
        (reason == QSystemTrayIcon::Trigger && area().singleActivations))
        postCallback(owner, id, WM_LBUTTONDBLCLK);
}

// ---------------------------------------------------------------------------------------
// Graphical tray

QIcon trayPicture(const TrayItem &item)
{
    if (!item.picture.isNull())
        return QIcon(QPixmap::fromImage(item.picture));
    // Windows leaves an empty place for an icon without a picture.
    QPixmap empty(32, 32);
    empty.fill(Qt::transparent);
    return QIcon(empty);
}

void showGraphical(TrayItem *item)
{
    if (!item->qtIcon) {
        const HWND owner = item->owner;
        const UINT id = item->id;
        item->qtIcon = new QSystemTrayIcon();
        item->menu = new QMenu();
        QAction *quit = item->menu->addAction(QStringLiteral("Quit"));
        QObject::connect(quit, &QAction::triggered, item->qtIcon,
                         [owner, id] { postCallback(owner, id, WM_RBUTTONDBLCLK); });
        QObject::connect(item->qtIcon, &QSystemTrayIcon::activated, item->qtIcon,
                         [owner, id](QSystemTrayIcon::ActivationReason reason) {
                             activated(owner, id, reason);
                         });
        item->qtIcon->setContextMenu(item->menu);
    }
    item->qtIcon->setIcon(trayPicture(*item));
    item->qtIcon->setToolTip(QString::fromLocal8Bit(item->tip.c_str()));
    item->qtIcon->setVisible(true);
}

void hideGraphical(TrayItem *item)
{
    delete item->qtIcon;
    delete item->menu;
    item->qtIcon = nullptr;
    item->menu = nullptr;
}

// Qt's own choice between StatusNotifierItem and XEmbed, made once per process.
bool statusNotifierHostRegistered()
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    QDBusInterface watcher(service, QStringLiteral("/StatusNotifierWatcher"), service, bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
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

void showItem(TrayItem *item)
{
    if (area().host == Host::Graphical)
        showGraphical(item);
    else if (isatty(STDOUT_FILENO))
        drawConsole();
}

// The tray came or went: register every icon with the new one, or fall back to the console.
void hostChanged()
{
    TrayArea &a = area();
    const bool graphical = QSystemTrayIcon::isSystemTrayAvailable();
    a.host = graphical ? Host::Graphical : Host::Console;
    if (graphical) {
        for (TrayItem &item : a.items) {
            if (item.qtIcon)
                item.qtIcon->setVisible(false);
            showGraphical(&item);
        }
        clearConsole();
    } else if (isatty(STDOUT_FILENO)) {
        drawConsole();
    }
}

// An XEmbed tray that appears after the icons were added, or goes away, shows only as a change
// of isSystemTrayAvailable (Qt docks its icons again into a tray that restarts, but never into
// one that was not there when they were shown). Over StatusNotifierItem Qt registers its items
// again with a watcher that restarts, and the question would cost a bus connection each time.
void watchHost()
{
    TrayArea &a = area();
    if (a.singleActivations || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    a.watcher = new QObject();
    auto *poll = new QTimer(a.watcher);
    QObject::connect(poll, &QTimer::timeout, a.watcher, [] {
        if (QSystemTrayIcon::isSystemTrayAvailable() != (area().host == Host::Graphical))
            hostChanged();
    });
    poll->start(kHostPollMs);
}

void ensureHost()
{
    TrayArea &a = area();
    if (a.host != Host::Unknown)
        return;
    layerApplication();
    a.singleActivations = statusNotifierHostRegistered();
    a.host = QSystemTrayIcon::isSystemTrayAvailable() ? Host::Graphical : Host::Console;
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

// False when nothing the tray shows has changed.
bool applyRecord(TrayItem *item, const NOTIFYICONDATAA *data)
{
    bool changed = false;
    if (data->uFlags & NIF_MESSAGE)
        item->callbackMessage = data->uCallbackMessage;
    if (data->uFlags & NIF_ICON)
        changed |= takePicture(item, data->hIcon);
    if (data->uFlags & NIF_TIP) {
        std::string tip = tipOf(data);
        changed |= tip != item->tip;
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
    showItem(&area().items.back());
    return TRUE;
}

BOOL modifyItem(const NOTIFYICONDATAA *data)
{
    TrayItem *item = findItem(data->hWnd, data->uID);
    if (!item)
        return FALSE;
    // A lamp that looks as it did is not painted again.
    if (applyRecord(item, data))
        showItem(item);
    return TRUE;
}

BOOL deleteItem(const NOTIFYICONDATAA *data)
{
    std::vector<TrayItem> &items = area().items;
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->owner == data->hWnd && it->id == data->uID) {
            hideGraphical(&*it);
            items.erase(it);
            if (area().host == Host::Console && isatty(STDOUT_FILENO)) {
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

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data)
{
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

void layerTrayActivate(HWND owner, UINT id, int reason)
{
    activated(owner, id, QSystemTrayIcon::ActivationReason(reason));
}

void layerTrayChooseQuit(HWND owner, UINT id)
{
    postCallback(owner, id, WM_RBUTTONDBLCLK);
}
