// USER32 dialogs: creation from a template, the modal loop and the dialog manager's keyboard.
//
// Supported: DialogBoxParamA with a template from the program's resources, by numeric
// identifier (read by user32_template.cpp); the standard dialog class "#32770" only;
// controls of the classes "button", "edit", "static" and "syslistview32". EndDialog, GetDlgItem,
// GetDlgCtrlID, IsDialogMessageA (Enter, Esc and Tab; other messages are dispatched).
// Default dialog processing: WM_CLOSE (posts WM_COMMAND IDCANCEL), WM_SETTEXT, WM_GETTEXT,
// WM_GETTEXTLENGTH, DM_GETDEFID.
// Not supported: named templates, DS_CONTROL and child dialogs, modeless dialogs,
// DM_SETDEFID, arrow keys and mnemonics.
//
// Windows' behaviour kept here: controls are created in template order, which is the tab
// order and the z order (the first control on top); group boxes lie beneath and let clicks
// through. Dialog units become pixels as MapDialogRect makes them, from the dialog font's
// average character width and height (Windows' own for "MS Sans Serif" 8: user32_template).
// WM_INITDIALOG gets the first tab stop; a non-zero answer puts the focus there; then the
// dialog shows if its template says WS_VISIBLE (else when the queue first runs dry, as
// DialogBox shows its dialog whatever the template). The close box sends WM_CLOSE; a
// procedure that answers FALSE gets WM_COMMAND IDCANCEL posted.
// EndDialog hides the dialog at once and ends the loop after the current message.
#include "platform/layer_qt.h"
#include "platform/resources.h"
#include "platform/user32_template.h"
#include "platform/user32_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

#include <cstring>

namespace {

constexpr DWORD kDcHasDefId = 0x534B;
constexpr DWORD kErrorControlIdNotFound = 1421;

class DialogWidget : public QWidget {
public:
    using QWidget::QWidget;

protected:
    // The close box and Alt+F4 ask the procedure, as WM_CLOSE does on Windows; the
    // procedure decides, so Qt never closes the window itself.
    void closeEvent(QCloseEvent *event) override
    {
        event->ignore();
        if (HWND window = layerWindowFromWidget(this))
            SendMessageA(window, WM_CLOSE, 0, 0);
    }
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::WindowStateChange) {
            auto *change = static_cast<QWindowStateChangeEvent *>(event);
            HWND window = layerWindowFromWidget(this);
            if (window && (change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
                window->needsPaint = true;
        }
        QWidget::changeEvent(event);
    }
};

// Enter, Esc and Tab never reach Qt's own handling: like Windows, the layer posts them as
// WM_KEYDOWN to the focused window, and the modal loop's IsDialogMessageA acts on them.
class KeyRouter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !object->isWidgetType())
            return false;
        UINT key;
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            key = VK_RETURN;
            break;
        case Qt::Key_Escape:
            key = VK_ESCAPE;
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            key = VK_TAB;
            break;
        default:
            return false;
        }
        HWND target = layerWindowFromWidget(static_cast<QWidget *>(object));
        if (!target)
            return false;
        HWND focus = GetFocus();
        HWND top = target;
        while (top->parent)
            top = top->parent;
        if (focus && (focus == top || focus->parent == top))
            target = focus;
        LPARAM repeatOnce = 1;
        PostMessageA(target, WM_KEYDOWN, key, repeatOnce);
        return true;
    }
};

bool isTabStop(HWND control)
{
    return (control->style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE);
}

// GetNextDlgTabItem: the next (or previous) tab stop after from, round the template order.
HWND nextTabItem(HWND dialog, HWND from, bool backward)
{
    const std::vector<HWND> &items = dialog->children;
    int count = int(items.size());
    if (count == 0)
        return nullptr;
    int start = -1;
    for (int i = 0; i < count; ++i)
        if (items[i] == from)
            start = i;
    int step = backward ? -1 : 1;
    if (start < 0)
        start = backward ? 0 : count - 1;
    for (int n = 1; n <= count; ++n) {
        HWND candidate = items[((start + step * n) % count + count) % count];
        if (isTabStop(candidate))
            return candidate;
    }
    return nullptr;
}

bool isPushButton(HWND control)
{
    DWORD type = control->style & BS_TYPEMASK;
    return control->className == "button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

HWND templateDefaultButton(HWND dialog)
{
    for (HWND control : dialog->children)
        if (control->className == "button" && (control->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return control;
    return nullptr;
}

// The default button follows the focus while it is on a push button, as on Windows.
void showDefaultButton(HWND dialog, HWND focus)
{
    HWND shown = focus && isPushButton(focus) ? focus : templateDefaultButton(dialog);
    for (HWND control : dialog->children)
        if (isPushButton(control))
            static_cast<QPushButton *>(control->widget)->setDefault(control == shown);
}

void pressEnter(HWND dialog)
{
    HWND focus = GetFocus();
    if (focus && focus->parent == dialog && isPushButton(focus)) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(focus->id, BN_CLICKED), (LPARAM)focus);
        return;
    }
    DWORD answer = DWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0));
    if (HIWORD(answer) == kDcHasDefId) {
        HWND button = GetDlgItem(dialog, LOWORD(answer));
        if (!button || IsWindowEnabled(button))
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(LOWORD(answer), BN_CLICKED), (LPARAM)button);
        return;
    }
    SendMessageA(dialog, WM_COMMAND, IDOK, (LPARAM)GetDlgItem(dialog, IDOK));
}

LRESULT defaultDialogProcessing(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    QWidget *widget = dialog->widget;
    switch (message) {
    case WM_CLOSE: {
        HWND cancel = GetDlgItem(dialog, IDCANCEL);
        if (!cancel || IsWindowEnabled(cancel))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)cancel);
        return 0;
    }
    case WM_SETTEXT:
        widget->setWindowTitle(QString::fromUtf8(lParam ? (const char *)lParam : ""));
        return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        QByteArray title = widget->windowTitle().toUtf8();
        if (message == WM_GETTEXTLENGTH)
            return title.size();
        if (!lParam || wParam == 0)
            return 0;
        size_t n = std::min<size_t>(size_t(title.size()), wParam - 1);
        std::memcpy((char *)lParam, title.constData(), n);
        ((char *)lParam)[n] = 0;
        return LRESULT(n);
    }
    case DM_GETDEFID:
        if (HWND button = templateDefaultButton(dialog))
            return MAKELONG(button->id, kDcHasDefId);
        return 0;
    }
    return 0;
}

} // namespace

LRESULT layerDialogCall(HWND__ *dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR answer = dialog->dialogProc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        return answer;
    if (answer)
        return 0; // the procedure's DWLP_MSGRESULT, which it never sets here
    if (!layerWindow(dialog))
        return 0;
    return defaultDialogProcessing(dialog, message, wParam, lParam);
}

void layerInstallKeyRouting()
{
    static KeyRouter *router = nullptr;
    if (!router) {
        router = new KeyRouter(layerApplication());
        layerApplication()->installEventFilter(router);
    }
}

HWND layerCreateDialogWindow(HWND owner, DWORD style, DWORD exStyle, const char *caption, const QFont &font,
                             DLGPROC procedure, HINSTANCE instance)
{
    layerApplication();
    layerInstallKeyRouting();
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (exStyle & WS_EX_CONTEXTHELP)
        flags |= Qt::WindowContextHelpButtonHint;
    HWND dialog = layerNewWindow(nullptr, "#32770", style & ~WS_VISIBLE, exStyle, 0,
                                 instance ? instance : GetModuleHandleA(NULL));
    dialog->owner = layerWindow(owner);
    dialog->dialogProc = procedure;
    auto *widget = new DialogWidget(dialog->owner ? dialog->owner->widget : nullptr, flags);
    widget->setFont(font);
    widget->setWindowTitle(QString::fromUtf8(caption ? caption : ""));
    if (dialog->owner)
        widget->setWindowModality(Qt::WindowModal);
    layerAttachWidget(dialog, widget);
    return dialog;
}

INT_PTR layerRunModal(HWND dialog, bool showWhenIdle)
{
    MSG msg;
    while (layerWindow(dialog) && !dialog->ended) {
        // A template without WS_VISIBLE shows all the same, once the queue first runs dry.
        if (showWhenIdle) {
            if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                showWhenIdle = false;
                ShowWindow(dialog, SW_SHOWNORMAL);
                continue;
            }
        } else {
            GetMessageA(&msg, nullptr, 0, 0);
        }
        if (msg.message == WM_QUIT) {
            // WM_QUIT ends the loop and stays for the outer one, as on Windows.
            PostQuitMessage(int(msg.wParam));
            break;
        }
        if (!layerWindow(dialog))
            return 0;
        if (!dialog->ended && !IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (!layerWindow(dialog))
        return 0;
    INT_PTR result = dialog->ended ? dialog->endResult : 0;
    if (dialog->ownerDisabled && layerWindow(dialog->owner))
        EnableWindow(dialog->owner, TRUE);
    layerDestroyWindow(dialog);
    return result;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM initParam)
{
    if (!IS_INTRESOURCE(templateName)) {
        layerUnsupported("dialog template by name");
        SetLastError(kErrorResourceNameNotFound);
        return -1;
    }
    if (parent && !layerWindow(parent)) {
        SetLastError(kErrorInvalidWindowHandle);
        return -1;
    }
    ResourceData data = findResource(RES_TYPE_DIALOG, WORD(ULONG_PTR(templateName)));
    DialogTemplate form;
    if (!data.bytes) {
        SetLastError(kErrorResourceNameNotFound);
        return -1;
    }
    if (!parseDialogTemplate(data, form)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }

    // The owner is disabled before the dialog exists, as Windows does for modal dialogs.
    bool ownerDisabled = parent && IsWindowEnabled(parent);
    if (ownerDisabled)
        EnableWindow(parent, FALSE);
    layerApplication();
    DialogFont font = dialogFont(form);
    HWND dialog = layerCreateDialogWindow(parent, form.style, form.exStyle, form.title.c_str(), font.font,
                                          dialogProc, instance);
    dialog->ownerDisabled = ownerDisabled;
    const QSize &units = font.units;
    QRect client = mapDialogRect(units, form.x, form.y, form.cx, form.cy);
    if (dialog->owner)
        client.translate(dialog->owner->widget->geometry().topLeft());
    layerSetClientSize(dialog, client.width(), client.height());
    dialog->widget->move(client.topLeft());

    for (const ItemTemplate &item : form.items) {
        HWND control = layerNewWindow(dialog, item.className.c_str(), item.style, item.exStyle, item.id, dialog->instance);
        if (!layerCreateControlWidget(control, dialog->widget, item.text.c_str())) {
            // Windows: a control that cannot be created fails the whole dialog.
            if (ownerDisabled)
                EnableWindow(parent, TRUE);
            layerDestroyWindow(dialog);
            SetLastError(kErrorCannotFindWndClass);
            return -1;
        }
        control->widget->setGeometry(mapDialogRect(units, item.x, item.y, item.cx, item.cy));
    }
    fitCaptions(dialog->widget);
    // Qt stacks later widgets on top; Windows puts the first control on top.
    for (auto it = dialog->children.rbegin(); it != dialog->children.rend(); ++it)
        (*it)->widget->raise();
    for (HWND control : dialog->children)
        if (control->className == "button" && (control->style & BS_TYPEMASK) == BS_GROUPBOX)
            control->widget->lower();

    HWND first = nextTabItem(dialog, nullptr, false);
    if (SendMessageA(dialog, WM_INITDIALOG, (WPARAM)first, initParam) && layerWindow(dialog)) {
        // The procedure may have changed what can take the focus.
        if (HWND focus = nextTabItem(dialog, nullptr, false))
            layerFocusWindow(focus, true);
    }
    if (!layerWindow(dialog))
        return -1;
    if ((form.style & WS_VISIBLE) && !(dialog->style & WS_VISIBLE) && !dialog->ended)
        ShowWindow(dialog, SW_SHOWNORMAL);
    return layerRunModal(dialog, !(form.style & WS_VISIBLE));
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    HWND__ *record = layerWindow(dialog);
    if (!record || !record->dialogProc) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    record->ended = true;
    record->endResult = result;
    if (record->ownerDisabled && layerWindow(record->owner)) {
        EnableWindow(record->owner, TRUE);
        record->ownerDisabled = false;
    }
    HWND focus = GetFocus();
    if (focus && focus->parent == record)
        layerFocusWindow(record, false);
    ShowWindow(dialog, SW_HIDE);
    // Wakes the modal loop, which ends after the message it is handling.
    PostMessageA(dialog, WM_NULL, 0, 0);
    return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg)
{
    HWND__ *record = layerWindow(dialog);
    if (!record || !msg)
        return FALSE;
    HWND target = layerWindow(msg->hwnd);
    if (!target || (target != record && target->parent != record))
        return FALSE;
    if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
        case VK_TAB: {
            bool backward = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
            if (HWND next = nextTabItem(record, GetFocus(), backward)) {
                layerFocusWindow(next, true);
                showDefaultButton(record, next);
            }
            return TRUE;
        }
        case VK_ESCAPE:
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, (LPARAM)GetDlgItem(dialog, IDCANCEL));
            return TRUE;
        case VK_RETURN:
            pressEnter(record);
            return TRUE;
        }
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    HWND__ *record = layerWindow(dialog);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return nullptr;
    }
    for (HWND control : record->children)
        if (control->id == id)
            return control;
    SetLastError(kErrorControlIdNotFound);
    return nullptr;
}

int GetDlgCtrlID(HWND window)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return record->id;
}
