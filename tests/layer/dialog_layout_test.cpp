// What the user sees of dialog 100 on the layer: every control inside the dialog, no two
// controls on top of each other (group boxes excepted, they are frames around others), and
// every caption within its control, in whatever sans font fontconfig gave for the
// template's "MS Sans Serif".
#include "platform/layer_testing.h"
#include "res/resource.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

namespace {

std::function<void(HWND)> check;

INT_PTR CALLBACK layoutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetTimer(dialog, 1, 10, NULL);
        return TRUE;
    }
    if (message == WM_TIMER && wParam == 1) {
        KillTimer(dialog, 1);
        check(dialog);
        EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

// The room a check box's caption gets beside its box.
int captionRoom(QCheckBox *box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    option.rect = box->rect();
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
}

} // namespace

TEST(DialogLayout, EveryControlInItsPlaceWithItsCaptionWhole)
{
    int controls = 0;
    check = [&](HWND dialog) {
        QWidget *window = layerWindowWidget(dialog);
        ASSERT_TRUE(window);
        QRect client = window->rect();
        std::vector<QWidget *> solid;
        for (QObject *object : window->children()) {
            auto *control = qobject_cast<QWidget *>(object);
            if (!control)
                continue;
            ++controls;
            QRect place = control->geometry();
            EXPECT_TRUE(client.contains(place)) << control->metaObject()->className();
            QFontMetrics metrics(control->font());
            // Legible: at least the pixel height Windows gives 8 points.
            EXPECT_GE(metrics.height(), 11);
            if (auto *box = qobject_cast<QCheckBox *>(control)) {
                EXPECT_LE(metrics.horizontalAdvance(box->text()), captionRoom(box)) << box->text().toStdString();
            } else if (auto *button = qobject_cast<QPushButton *>(control)) {
                EXPECT_LE(metrics.horizontalAdvance(button->text()) + 4, place.width()) << button->text().toStdString();
                EXPECT_LE(metrics.height(), place.height()) << button->text().toStdString();
            } else if (auto *label = qobject_cast<QLabel *>(control)) {
                // One line, as on Windows: a wrapped caption would lose its end.
                EXPECT_LE(metrics.horizontalAdvance(label->text()), place.width()) << label->text().toStdString();
                EXPECT_LE(metrics.height(), place.height()) << label->text().toStdString();
            } else if (qobject_cast<QLineEdit *>(control)) {
                EXPECT_LE(metrics.height() + 2, place.height());
                EXPECT_LE(metrics.horizontalAdvance("10000"), place.width() - 4);
            }
            bool groupBox = !qobject_cast<QAbstractButton *>(control) && !qobject_cast<QLabel *>(control) &&
                            !qobject_cast<QLineEdit *>(control) && control->testAttribute(Qt::WA_TransparentForMouseEvents);
            if (!groupBox)
                solid.push_back(control);
        }
        for (size_t i = 0; i < solid.size(); ++i)
            for (size_t j = i + 1; j < solid.size(); ++j)
                EXPECT_FALSE(solid[i]->geometry().intersects(solid[j]->geometry()))
                    << solid[i]->metaObject()->className() << " and " << solid[j]->metaObject()->className() << " at "
                    << solid[i]->geometry().x() << "," << solid[i]->geometry().y();
    };
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    ASSERT_EQ(1, DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, layoutProc, 0));
    EXPECT_EQ(41, controls); // every control of the template, the list view included
}
