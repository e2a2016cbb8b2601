// What the user sees of dialog 100 on the layer: every control where Windows puts it and
// inside the window at the default rectangle, no two controls on top of each other (group
// boxes excepted, they are frames around others), and every caption within its control, in
// whatever sans font fontconfig gives for the template's "MS Sans Serif". CTest runs it once
// as the machine is, and once in each of three families alone in fontconfig (TALLOW_LAYOUT_FONT).
#include "dialog/unit_list_view.h"
#include "platform/layer_testing.h"
#include "res/resource.h"
#include "tests/support/unit_lists.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace {

// Makes family the only font fontconfig has for this process: every other file is refused.
// Must run before the first Qt call reads the fonts.
std::string forceFontFamily(const char *family)
{
    char folder[] = "/tmp/tallow-fonts.XXXXXX";
    if (!mkdtemp(folder))
        return "";
    std::string path = std::string(folder) + "/fonts.conf";
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return "";
    std::fprintf(file,
                 "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                 "  <include ignore_missing=\"no\">/etc/fonts/fonts.conf</include>\n"
                 "  <cachedir>%s/cache</cachedir>\n"
                 "  <selectfont>\n"
                 "    <acceptfont><pattern><patelt name=\"family\"><string>%s</string></patelt></pattern></acceptfont>\n"
                 "    <rejectfont><pattern/></rejectfont>\n"
                 "  </selectfont>\n</fontconfig>\n",
                 folder, family);
    std::fclose(file);
    setenv("FONTCONFIG_FILE", path.c_str(), 1);
    return folder;
}

std::function<void(HWND)> check;
Unit *units = nullptr;

// The rows of a machine like a common desktop's: a disk, its root file system, both meters.
void listUnitsOfAMachine()
{
    struct Row {
        const char *path;
        int32_t kind;
        const char *fileSystem;
        int32_t percent;
    } rows[] = {{"", 0, "", 0}, {"\\\\.\\PHYSICALDRIVE0", DRIVE_NO_ROOT_DIR, "", 0},
                {"\\\\.\\C:", DRIVE_FIXED, "ext4", 63}, {"RAM Usage", KIND_RAM, "", 37},
                {"VRAM Usage", KIND_VIRTUAL_RAM, "", 30}, {"", 0, "", 0}};
    for (const Row &row : rows) {
        ASSERT_TRUE(unitListAppend(&units));
        std::snprintf(units->path, sizeof units->path, "%s", row.path);
        std::snprintf(units->fileSystem, sizeof units->fileSystem, "%s", row.fileSystem);
        units->kind = row.kind;
        units->percent = row.percent;
        units->showInTray = 1;
        units->notListed = !*row.path;
    }
}

INT_PTR CALLBACK layoutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        // The settings file's default rectangle, as the program applies it.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(dialog, &placement);
        placement.rcNormalPosition = {100, 100, 630, 510};
        SetWindowPlacement(dialog, &placement);
        buildUnitListView(dialog, GetDlgItem(dialog, IDC_UNIT_LIST), &units);
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
    const char *forced = std::getenv("TALLOW_LAYOUT_FONT");
    std::string fonts = forced ? forceFontFamily(forced) : "";
    ASSERT_TRUE(!forced || !fonts.empty());
    int controls = 0;
    check = [&](HWND dialog) {
        QWidget *window = layerWindowWidget(dialog);
        ASSERT_TRUE(window);
        std::string family = QFontInfo(window->font()).family().toStdString();
        std::printf("dialog font: %s, %d px, %d %% wide\n", family.c_str(), window->font().pixelSize(),
                    window->font().stretch());
        // Qt adds the foundry where two have the family: "Nimbus Sans [urw]".
        if (forced) {
            ASSERT_EQ(0u, family.rfind(forced, 0)) << "fontconfig did not give " << forced;
        }
        // Windows' dialog units (6 x 13 pixels for "MS Sans Serif" 8): About at 294,120,46,14.
        HWND about = GetDlgItem(dialog, IDC_ABOUT);
        ASSERT_TRUE(about);
        EXPECT_EQ(QRect(441, 195, 69, 23), layerWindowWidget(about)->geometry());
        // The list's seven columns fit it whole, without a horizontal scroll bar, as on Windows.
        HWND list = GetDlgItem(dialog, IDC_UNIT_LIST);
        auto *area = qobject_cast<QAbstractScrollArea *>(layerWindowWidget(list));
        ASSERT_TRUE(area);
        int columns = 0;
        for (int column = 0; column < 7; ++column)
            columns += int(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
        std::printf("list columns: %d px of %d, in %d %% of the font's width\n", columns, area->viewport()->width(),
                    area->font().stretch() ? area->font().stretch() : 100);
        EXPECT_LE(columns, area->viewport()->width());
        EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
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
    listUnitsOfAMachine();
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    ASSERT_EQ(1, DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, layoutProc, 0));
    EXPECT_EQ(41, controls); // every control of the template, the list view included
    freeUnitList(units);
    if (!fonts.empty())
        std::filesystem::remove_all(fonts);
}
