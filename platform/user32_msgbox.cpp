// USER32 message boxes and beeps.
//
// Supported: MessageBoxA with MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL,
// MB_YESNO, MB_RETRYCANCEL; MB_DEFBUTTON1 to 3; the four icons; MB_TASKMODAL. MessageBeep and
// Beep ring the display's bell (frequency and duration are not the bell's to choose).
// Not supported: MB_HELP, MB_USERICON, MB_SYSTEMMODAL's always-on-top, MessageBoxIndirect.
//
// The box is a top-level window of the dialog class "#32770" with the caption given, so
// FindWindowA finds it, and its buttons are "button" controls with Windows' identifiers. It
// runs its own modal loop, in which timers keep ticking. As on Windows, WM_COMMAND with any
// answer's identifier ends it with that answer; Esc, the close box and WM_CLOSE answer
// IDCANCEL when there is a Cancel button, IDOK for a lone OK button, and nothing otherwise.
// Without a display (Qt's offscreen platform) nobody could answer: the caption and the text
// go to standard error and the safe answer comes back at once (IDOK, IDCANCEL, or IDNO).
#include "platform/layer_qt.h"
#include "platform/user32_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr UINT kTypeMask = 0x0000000F, kIconMask = 0x000000F0, kDefaultMask = 0x00000F00;
constexpr UINT kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kRetryCancel = 5;
constexpr UINT kIconQuestion = 0x20;
constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;

struct Button {
    int id;
    const char *text;
};

struct BoxKind {
    std::vector<Button> buttons;
    bool canCancel;  // Esc and the close box answer IDCANCEL
    bool okAlone;    // Esc and the close box answer IDOK
};

BoxKind boxKind(UINT type)
{
    switch (type & kTypeMask) {
    case MB_OK: return {{{IDOK, "OK"}}, false, true};
    case kOkCancel: return {{{IDOK, "OK"}, {IDCANCEL, "Cancel"}}, true, false};
    case kAbortRetryIgnore: return {{{kIdAbort, "&Abort"}, {kIdRetry, "&Retry"}, {kIdIgnore, "&Ignore"}}, false, false};
    case kYesNoCancel: return {{{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}}, true, false};
    case MB_YESNO: return {{{IDYES, "&Yes"}, {IDNO, "&No"}}, false, false};
    case kRetryCancel: return {{{kIdRetry, "&Retry"}, {IDCANCEL, "Cancel"}}, true, false};
    }
    layerUnsupported("MessageBoxA button set");
    return {{{IDOK, "OK"}}, false, true};
}

bool offscreen()
{
    QString platform = QGuiApplication::platformName();
    return platform == "offscreen" || platform == "minimal";
}

INT_PTR CALLBACK boxProc(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    auto *kind = static_cast<BoxKind *>(box->classData);
    switch (message) {
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDCANCEL && !kind->canCancel) {
            if (kind->okAlone)
                EndDialog(box, IDOK);
            return TRUE;
        }
        if (id == IDOK || id == IDCANCEL || id == kIdAbort || id == kIdRetry || id == kIdIgnore || id == IDYES ||
            id == IDNO)
            EndDialog(box, id);
        return TRUE;
    }
    case WM_DESTROY:
        delete kind;
        box->classData = nullptr;
        return TRUE;
    }
    return FALSE;
}

QStyle::StandardPixmap iconPixmap(UINT icon)
{
    switch (icon) {
    case MB_ICONHAND: return QStyle::SP_MessageBoxCritical;
    case kIconQuestion: return QStyle::SP_MessageBoxQuestion;
    case MB_ICONEXCLAMATION: return QStyle::SP_MessageBoxWarning;
    default: return QStyle::SP_MessageBoxInformation;
    }
}

} // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    layerApplication();
    if (!caption)
        caption = "Error";
    if (!text)
        text = "";
    BoxKind kind = boxKind(type);
    if (offscreen()) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        return kind.canCancel ? IDCANCEL : (type & kTypeMask) == MB_YESNO ? IDNO : kind.buttons.front().id;
    }
    if (owner && !layerWindow(owner)) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }

    bool closable = kind.canCancel || kind.okAlone;
    bool ownerDisabled = owner && IsWindowEnabled(owner);
    if (ownerDisabled)
        EnableWindow(owner, FALSE);
    HWND box = layerCreateDialogWindow(owner, WS_POPUP | WS_CAPTION | (closable ? WS_SYSMENU : 0), 0, caption,
                                       QApplication::font(), boxProc, nullptr);
    box->ownerDisabled = ownerDisabled;
    box->classData = new BoxKind(kind);
    QWidget *widget = box->widget;
    if (type & MB_TASKMODAL)
        widget->setWindowModality(Qt::ApplicationModal);

    auto *layout = new QVBoxLayout(widget);
    auto *message = new QHBoxLayout;
    layout->addLayout(message);
    if (UINT icon = type & kIconMask) {
        auto *picture = new QLabel(widget);
        int size = widget->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, widget);
        picture->setPixmap(widget->style()->standardIcon(iconPixmap(icon), nullptr, widget).pixmap(size, size));
        picture->setAlignment(Qt::AlignTop);
        message->addWidget(picture);
    }
    auto *label = new QLabel(QString::fromUtf8(text), widget);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setMinimumWidth(std::min(label->sizeHint().width(), 480));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->addWidget(label, 1);
    auto *row = new QHBoxLayout;
    row->addStretch();
    layout->addLayout(row);

    size_t defaultIndex = std::min<size_t>((type & kDefaultMask) >> 8, kind.buttons.size() - 1);
    HWND defaultButton = nullptr;
    for (size_t i = 0; i < kind.buttons.size(); ++i) {
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == defaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        HWND button = layerNewWindow(box, "button", style, 0, kind.buttons[i].id, box->instance);
        layerCreateControlWidget(button, widget, kind.buttons[i].text);
        button->widget->setMinimumWidth(75);
        row->addWidget(button->widget);
        if (i == defaultIndex)
            defaultButton = button;
    }
    row->addStretch();
    layout->setSizeConstraint(QLayout::SetFixedSize);
    widget->adjustSize();

    QRect area = box->owner ? box->owner->widget->frameGeometry() : widget->screen()->availableGeometry();
    QRect frame(QPoint(), widget->size());
    frame.moveCenter(area.center());
    widget->move(frame.topLeft());
    layerFocusWindow(defaultButton, false);
    ShowWindow(box, SW_SHOWNORMAL);
    return int(layerRunModal(box, false));
}

BOOL MessageBeep(UINT)
{
    layerApplication();
    QApplication::beep();
    return TRUE;
}

BOOL Beep(DWORD, DWORD)
{
    layerApplication();
    QApplication::beep();
    return TRUE;
}
