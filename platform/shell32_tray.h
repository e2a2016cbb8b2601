// The notification area inside the layer: what its StatusNotifierItem half
// (shell32_tray_sni.cpp) and the window manager ask of the tray (shell32_tray.cpp).
#pragma once

#include "platform/win32.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <string>

// What a user does on a lamp, in any kind of tray host.
enum class TrayAction {
    Activate, // a StatusNotifierItem activation: a double click, once per double-click time
    ShowHide, // the menu's entry that acts as the double click
    Quit,     // the menu's "Quit": the right double click
};
void layerTrayAct(HWND owner, UINT id, TrayAction action);
// The lamp's menu, as Qt shows it (XEmbed, and hosts that ask an item to show its own): the
// lamp's own, its tip's lines made as it opens and renewed while it is open, gone with it;
// null for a lamp that is not there.
class QMenu;
QMenu *layerTrayMenu(HWND owner, UINT id);
// The menu's captions, the same in every host.
const char *layerTrayCaption(TrayAction action);
// The lines of a tip that head the lamp's menu, disabled, in every host: hosts such as GNOME's
// AppIndicator extension show no tooltips. Empty lines are left out.
QStringList layerTrayTipLines(const std::string &tip);

// ShowWindow(SW_HIDE) of a top-level window that is not ending: true when hiding it would
// leave the user no way back to it (its lamps have no host to show them), so that it is
// minimised instead.
bool layerTrayHidingWindow(HWND window);

// ---------------------------------------------------------------------------------------
// StatusNotifierItem (shell32_tray_sni.cpp): the lamps as D-Bus items of the session bus,
// registered with org.kde.StatusNotifierWatcher, each with its menu (com.canonical.dbusmenu).

// A watcher with a host is on the session bus.
bool sniHostPresent();
// Calls changed whenever the watcher or its host comes or goes.
void sniWatchHost(std::function<void()> changed);

struct SniItem;
// A new item, registered with the watcher; id names it to the desktop across runs.
SniItem *sniCreate(HWND owner, UINT id, const QImage &picture, const std::string &tip);
// Each sends its one signal (NewIcon, NewToolTip).
void sniSetPicture(SniItem *item, const QImage &picture);
void sniSetTip(SniItem *item, const std::string &tip);
// Registers the item again, with a watcher that restarted.
void sniRegister(SniItem *item);
void sniDestroy(SniItem *item);
// The item's bus name.
std::string sniService(const SniItem *item);
