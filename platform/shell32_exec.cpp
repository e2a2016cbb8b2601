// SHELL32 ShellExecuteA: the verb "open" (or none) on a URL or a file, through the desktop's
// URL opener (QDesktopServices, which runs xdg-open on Linux desktops).
// Not supported: other verbs, parameters and working folders (programs are never started
// this way here).
#include "platform/layer_qt.h"
#include "platform/user32_window.h"

#include <QDesktopServices>
#include <QUrl>

#include <cstring>

namespace {

constexpr INT_PTR kSeErrNoAssociation = 31;

} // namespace

HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR, INT)
{
    if (operation && std::strcmp(operation, "open") != 0) {
        layerUnsupported("ShellExecuteA verb");
        return (HINSTANCE)kSeErrNoAssociation;
    }
    if (parameters && *parameters)
        layerUnsupported("ShellExecuteA parameters");
    if (!file || !*file)
        return (HINSTANCE)(INT_PTR)ERROR_FILE_NOT_FOUND;
    layerApplication();
    QString target = QString::fromUtf8(file);
    QUrl url(target, QUrl::StrictMode);
    if (url.scheme().size() < 2) // no scheme, or a drive letter
        url = QUrl::fromLocalFile(target);
    // Windows answers a value above 32 for success.
    return QDesktopServices::openUrl(url) ? (HINSTANCE)(INT_PTR)42 : (HINSTANCE)kSeErrNoAssociation;
}
