// USER32 controls: the "button", "edit" and "static" classes on Qt widgets, and the dialog
// item calls that reach them.
//
// Supported: buttons BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX (with BS_PUSHLIKE, a
// toggle button) and BS_GROUPBOX (transparent for the mouse); edits with ES_NUMBER (typed
// characters other than digits are refused with a beep), ES_AUTOHSCROLL and ES_READONLY;
// statics SS_LEFT, SS_CENTER and SS_RIGHT (word-wrapped, as Windows draws them).
// Messages: WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH, BM_GETCHECK, BM_SETCHECK, BM_CLICK.
// Calls: SetDlgItemTextA, GetDlgItemTextA, SetDlgItemInt, GetDlgItemInt, CheckDlgButton,
// IsDlgButtonChecked, SendDlgItemMessageA, SetWindowTextA, GetWindowTextA, EnableWindow,
// IsWindowEnabled. The class "syslistview32" is comctl32_listview.cpp's.
// Not supported: other button kinds (radio buttons, three-state, owner-drawn), multi-line
// and password edits, EM_ and STM_ messages, BM_SETSTYLE.
//
// Windows' notifications, as observed there: a click is WM_COMMAND BN_CLICKED sent to the
// parent before the click returns, an auto check box having flipped first; BM_SETCHECK never
// notifies; EN_UPDATE then EN_CHANGE are sent from inside WM_SETTEXT (so from
// SetWindowTextA, SetDlgItemTextA and SetDlgItemInt), before the call returns, even when the
// text is the same, and after every edit by the user; EN_SETFOCUS and EN_KILLFOCUS as the
// focus moves. Texts are UTF-8 on this side.
#include "platform/user32_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QPushButton>

#include <cstdio>
#include <cstring>

namespace {

constexpr LONG kEsReadOnly = 0x0800;
constexpr LONG kSsCenter = 0x0001;
constexpr LONG kSsRight = 0x0002;
constexpr LONG kSsTypeMask = 0x001F;
constexpr UINT kEditFirst = 0x00B0, kEditLast = 0x00DF; // EM_
constexpr UINT kButtonFirst = 0x00F0, kButtonLast = 0x00FF; // BM_
constexpr UINT kStaticFirst = 0x0170, kStaticLast = 0x017F; // STM_

QString fromAnsi(LPARAM text)
{
    return QString::fromUtf8(text ? (const char *)text : "");
}

// WM_GETTEXT: at most size - 1 bytes and the terminator; the count without it.
LRESULT copyText(const QString &text, WPARAM size, LPARAM buffer)
{
    if (!buffer || size == 0)
        return 0;
    QByteArray bytes = text.toUtf8();
    size_t n = std::min<size_t>(size_t(bytes.size()), size - 1);
    std::memcpy((char *)buffer, bytes.constData(), n);
    ((char *)buffer)[n] = 0;
    return LRESULT(n);
}

LRESULT textMessage(const QString &text, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETTEXT)
        return copyText(text, wParam, lParam);
    return text.toUtf8().size();
}

void checkUnsupported(UINT message)
{
    if ((message >= kEditFirst && message <= kEditLast) || (message >= kButtonFirst && message <= kButtonLast) ||
        (message >= kStaticFirst && message <= kStaticLast))
        layerUnsupported("control message");
}

// Windows' group box: an etched frame whose top line runs through the middle of the
// caption. Qt's own puts the caption above the frame, where it would cover the controls
// that Windows places just below the line.
class GroupBox : public QWidget {
public:
    QString title;

    GroupBox(const QString &text, QWidget *parent) : QWidget(parent), title(text) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QFontMetrics metrics(font());
        // Etched, as Windows draws it: a dark line with a light one beside it.
        QRect frame = rect().adjusted(0, metrics.height() / 2, -1, -1);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.adjusted(1, 1, 0, 0));
        if (title.isEmpty())
            return;
        QRect text(8, 0, metrics.horizontalAdvance(title) + 4, metrics.height());
        painter.fillRect(text, palette().window());
        style()->drawItemText(&painter, text, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(), title,
                              QPalette::WindowText);
    }
};

LRESULT buttonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if ((window->style & BS_TYPEMASK) == BS_GROUPBOX) {
        auto *group = static_cast<GroupBox *>(window->widget);
        switch (message) {
        case WM_SETTEXT:
            group->title = fromAnsi(lParam);
            group->update();
            return TRUE;
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH:
            return textMessage(group->title, message, wParam, lParam);
        case BM_GETCHECK:
        case BM_SETCHECK:
        case BM_CLICK:
            return 0;
        }
        checkUnsupported(message);
        return 0;
    }
    auto *button = static_cast<QAbstractButton *>(window->widget);
    switch (message) {
    case WM_SETTEXT:
        button->setText(fromAnsi(lParam));
        return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return textMessage(button->text(), message, wParam, lParam);
    case BM_GETCHECK:
        return button->isCheckable() && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        // Any non-zero state ticks a two-state box; nobody is told.
        if (button->isCheckable())
            button->setChecked(wParam != BST_UNCHECKED);
        return 0;
    case BM_CLICK:
        // Windows: a press and a release of the left button, whatever the enabled state:
        // focus first, then the flip, then BN_CLICKED.
        layerFocusWindow(window, false);
        if (button->isCheckable())
            button->setChecked(!button->isChecked());
        layerCommandParent(window, BN_CLICKED);
        return 0;
    }
    checkUnsupported(message);
    return 0;
}

// Windows: an edit announces a new text twice, before and after showing it.
void notifyTextChanged(HWND window)
{
    layerCommandParent(window, EN_UPDATE);
    layerCommandParent(window, EN_CHANGE);
}

LRESULT editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *edit = static_cast<QLineEdit *>(window->widget);
    switch (message) {
    case WM_SETTEXT:
        edit->setText(fromAnsi(lParam));
        edit->setCursorPosition(0);
        notifyTextChanged(window);
        return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return textMessage(edit->text(), message, wParam, lParam);
    }
    checkUnsupported(message);
    return 0;
}

LRESULT staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *label = static_cast<QLabel *>(window->widget);
    switch (message) {
    case WM_SETTEXT:
        label->setText(fromAnsi(lParam));
        return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return textMessage(label->text(), message, wParam, lParam);
    }
    checkUnsupported(message);
    return 0;
}

// ES_NUMBER: typed characters must be digits; pasting is not checked, as on Windows.
class DigitsOnly : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const QString text = static_cast<QKeyEvent *>(event)->text();
            for (QChar c : text) {
                if (c.isPrint() && !(c >= u'0' && c <= u'9')) {
                    QApplication::beep();
                    return true;
                }
            }
        }
        return QObject::eventFilter(object, event);
    }
};

QWidget *createButton(HWND window, QWidget *parent, const QString &text)
{
    DWORD type = window->style & BS_TYPEMASK;
    if (type == BS_GROUPBOX) {
        auto *group = new GroupBox(text, parent);
        // Group boxes lie around other controls: clicks go through to them.
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
        return group;
    }
    QAbstractButton *button;
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
        auto *push = new QPushButton(text, parent);
        push->setAutoDefault(false);
        push->setDefault(type == BS_DEFPUSHBUTTON);
        button = push;
    } else if (type == BS_AUTOCHECKBOX) {
        if (window->style & BS_PUSHLIKE)
            button = new QPushButton(text, parent);
        else
            button = new QCheckBox(text, parent);
        button->setCheckable(true);
    } else {
        layerUnsupported("button style");
        return nullptr;
    }
    QObject::connect(button, &QAbstractButton::clicked, button, [window] { layerCommandParent(window, BN_CLICKED); });
    return button;
}

QWidget *createEdit(HWND window, QWidget *parent, const QString &text)
{
    constexpr DWORD kSupported = ES_NUMBER | ES_AUTOHSCROLL | kEsReadOnly | 0xFFFF0000u;
    if (window->style & ~kSupported)
        layerUnsupported("edit style");
    auto *edit = new QLineEdit(text, parent);
    edit->setFrame(window->style & WS_BORDER);
    edit->setReadOnly(window->style & kEsReadOnly);
    edit->setCursorPosition(0);
    if (window->style & ES_NUMBER) {
        static DigitsOnly *digitsOnly = new DigitsOnly(qApp);
        edit->installEventFilter(digitsOnly);
    }
    QObject::connect(edit, &QLineEdit::textEdited, edit, [window] { notifyTextChanged(window); });
    return edit;
}

QWidget *createStatic(HWND window, QWidget *parent, const QString &text)
{
    DWORD type = window->style & kSsTypeMask;
    if (type != SS_LEFT && type != kSsCenter && type != kSsRight) {
        layerUnsupported("static style");
        return nullptr;
    }
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment horizontal = type == kSsCenter ? Qt::AlignHCenter : type == kSsRight ? Qt::AlignRight : Qt::AlignLeft;
    label->setAlignment(horizontal | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

} // namespace

bool layerCreateControlWidget(HWND window, QWidget *parentWidget, const char *text)
{
    QString caption = QString::fromUtf8(text ? text : "");
    QWidget *widget = nullptr;
    const std::string &name = window->className;
    if (name == "button") {
        widget = createButton(window, parentWidget, caption);
        window->controlProc = buttonProc;
    } else if (name == "edit") {
        widget = createEdit(window, parentWidget, caption);
        window->controlProc = editProc;
    } else if (name == "static") {
        widget = createStatic(window, parentWidget, caption);
        window->controlProc = staticProc;
    } else if (name == "syslistview32") {
        widget = createListViewWidget(window, parentWidget);
        window->controlProc = listViewProc;
    } else {
        layerUnsupported("window class");
    }
    if (!widget)
        return false;
    layerAttachWidget(window, widget);
    widget->setEnabled(!(window->style & WS_DISABLED));
    widget->setVisible(window->style & WS_VISIBLE);
    return true;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    return (BOOL)SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, (LPARAM)text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max)
{
    if (text && max > 0)
        text[0] = 0;
    return (UINT)SendDlgItemMessageA(dialog, id, WM_GETTEXT, WPARAM(max > 0 ? max : 0), (LPARAM)text);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    char text[16];
    std::snprintf(text, sizeof text, isSigned ? "%d" : "%u", isSigned ? int(value) : value);
    return SetDlgItemTextA(dialog, id, text);
}

// Windows reads the text as strtol/strtoul would: leading white space, a sign, digits, and
// it stops at the first other character. No digit at all, or a number out of range, fails.
UINT GetDlgItemInt(HWND dialog, int id, BOOL *translated, BOOL isSigned)
{
    if (translated)
        *translated = FALSE;
    char text[30];
    if (!SendDlgItemMessageA(dialog, id, WM_GETTEXT, sizeof text, (LPARAM)text))
        return 0;
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return 0;
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + uint64_t(*p - '0');
        if (magnitude > 0xFFFFFFFFull)
            return 0;
    }
    UINT value;
    if (isSigned) {
        if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull))
            return 0;
        value = negative ? UINT(-int64_t(magnitude)) : UINT(magnitude);
    } else {
        // strtoul negates a number with a minus sign within the unsigned range.
        value = negative ? UINT(0u - UINT(magnitude)) : UINT(magnitude);
    }
    if (translated)
        *translated = TRUE;
    return value;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    return (UINT)SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0);
}

BOOL SetWindowTextA(HWND window, LPCSTR text)
{
    if (!layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    return (BOOL)SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text);
}

int GetWindowTextA(HWND window, LPSTR text, int max)
{
    if (!text || max <= 0)
        return 0;
    text[0] = 0;
    if (!layerWindow(window)) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    return (int)SendMessageA(window, WM_GETTEXT, WPARAM(max), (LPARAM)text);
}

// A top-level window keeps its widget enabled: Qt would grey every control inside it, where
// Windows only refuses input (the modal loop blocks the owner through Qt's modality).
BOOL EnableWindow(HWND window, BOOL enable)
{
    HWND__ *record = layerWindow(window);
    if (!record) {
        SetLastError(kErrorInvalidWindowHandle);
        return FALSE;
    }
    BOOL wasDisabled = (record->style & WS_DISABLED) != 0;
    if (enable)
        record->style &= ~WS_DISABLED;
    else
        record->style |= WS_DISABLED;
    if (record->parent && record->widget)
        record->widget->setEnabled(enable);
    if (!enable && GetFocus() == window)
        SetFocus(nullptr);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window)
{
    HWND__ *record = layerWindow(window);
    return record && !(record->style & WS_DISABLED);
}
