// Dialog templates: the DLGTEMPLATEEX that windres writes for DIALOGEX, read field by field
// without running past its end, and the font and dialog units it is shown in.
// Supported: the extended template, DS_SETFONT/DS_SHELLFONT, controls by class name or by
// the ordinals of "button", "edit" and "static". Not supported: the plain DLGTEMPLATE, menus,
// dialog classes of one's own, other predefined class ordinals.
#include "platform/user32_template.h"
#include "platform/user32_window.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

constexpr DWORD kDsShellFont = 0x48;

// Reads the little-endian fields of a template, refusing to run past its end.
struct Reader {
    const unsigned char *start, *p, *end;
    bool ok = true;

    bool need(size_t n)
    {
        if (size_t(end - p) < n)
            ok = false;
        return ok;
    }
    WORD word()
    {
        if (!need(2))
            return 0;
        WORD value = WORD(p[0] | p[1] << 8);
        p += 2;
        return value;
    }
    DWORD dword()
    {
        WORD low = word();
        return low | DWORD(word()) << 16;
    }
    BYTE byte()
    {
        if (!need(1))
            return 0;
        return *p++;
    }
    void align4()
    {
        size_t offset = size_t(p - start);
        size_t skip = (4 - offset % 4) % 4;
        if (need(skip))
            p += skip;
    }
    std::string string()
    {
        std::u16string text;
        for (WORD c; ok && (c = word()) != 0;)
            text.push_back(char16_t(c));
        return QString::fromStdU16String(text).toStdString();
    }
    // A name or an ordinal (0xFFFF and a number); ordinal is -1 for a name.
    std::string nameOrOrdinal(int &ordinal)
    {
        ordinal = -1;
        if (need(2) && p[0] == 0xFF && p[1] == 0xFF) {
            word();
            ordinal = word();
            return {};
        }
        return string();
    }
};

const char *predefinedClass(int ordinal)
{
    switch (ordinal) {
    case 0x80: return "button";
    case 0x81: return "edit";
    case 0x82: return "static";
    }
    return nullptr;
}

int mulDiv(int number, int numerator, int denominator)
{
    long long product = (long long)number * numerator;
    return int((product >= 0 ? product + denominator / 2 : product - denominator / 2) / denominator);
}

} // namespace

bool parseDialogTemplate(const ResourceData &data, DialogTemplate &dialog)
{
    Reader in{data.bytes, data.bytes, data.bytes + data.size};
    if (in.word() != 1 || in.word() != 0xFFFF) {
        layerUnsupported("dialog template other than DLGTEMPLATEEX");
        return false;
    }
    in.dword(); // help id
    dialog.exStyle = in.dword();
    dialog.style = in.dword();
    int count = in.word();
    dialog.x = short(in.word());
    dialog.y = short(in.word());
    dialog.cx = short(in.word());
    dialog.cy = short(in.word());
    int ordinal;
    std::string menu = in.nameOrOrdinal(ordinal);
    if (!menu.empty() || ordinal >= 0)
        layerUnsupported("dialog menu");
    std::string windowClass = in.nameOrOrdinal(ordinal);
    if (!windowClass.empty() || ordinal >= 0)
        layerUnsupported("dialog class of its own");
    dialog.title = in.string();
    if (dialog.style & (DS_SETFONT | kDsShellFont)) {
        dialog.pointSize = in.word();
        dialog.weight = in.word();
        dialog.italic = in.byte() != 0;
        in.byte(); // character set
        dialog.face = in.string();
    }
    for (int i = 0; i < count && in.ok; ++i) {
        ItemTemplate item;
        in.align4();
        in.dword(); // help id
        item.exStyle = in.dword();
        item.style = in.dword();
        item.x = short(in.word());
        item.y = short(in.word());
        item.cx = short(in.word());
        item.cy = short(in.word());
        item.id = int(in.dword());
        item.className = in.nameOrOrdinal(ordinal);
        if (ordinal >= 0) {
            const char *name = predefinedClass(ordinal);
            if (!name) {
                layerUnsupported("predefined control class");
                return false;
            }
            item.className = name;
        }
        item.text = in.nameOrOrdinal(ordinal);
        WORD extra = in.word();
        if (in.need(extra))
            in.p += extra;
        dialog.items.push_back(item);
    }
    return in.ok;
}

namespace {

// Windows' base units of the template faces it has, at 96 dots per inch.
struct WindowsFace {
    const char *face;
    int pointSize;
    QSize units;
};
constexpr WindowsFace kWindowsFaces[] = {
    {"MS Sans Serif", 8, {6, 13}},
};

int alphabetWidth(const QFont &font)
{
    return QFontMetrics(font).horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

// How much wider a control's caption is than the room it has (at most 1 when it fits).
double captionExcess(QWidget *control)
{
    QString text;
    int room = control->width();
    if (auto *box = qobject_cast<QCheckBox *>(control)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = text = box->text();
        option.rect = box->rect();
        room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
    } else if (auto *button = qobject_cast<QPushButton *>(control)) {
        text = button->text();
        room -= 4;
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        text = label->text();
    }
    if (text.isEmpty())
        return 0;
    return double(QFontMetrics(control->font()).horizontalAdvance(text)) / std::max(1, room);
}

} // namespace

// A template font: the face asked for, then faces of the same measure, then the sans serif
// fontconfig answers. For a face whose units Windows is known to give, the units are Windows'
// (so that a saved rectangle holds the same dialog on both builds), and the stand-in takes
// the largest pixel size whose height fits in them, narrowed where its letters are wider.
// Otherwise the units come from the font at the point size's pixel height.
DialogFont dialogFont(const DialogTemplate &dialog)
{
    int pointSize = dialog.pointSize ? dialog.pointSize : 8;
    DialogFont result;
    QFont &font = result.font;
    QStringList faces;
    if (!dialog.face.empty())
        faces << QString::fromStdString(dialog.face);
    faces << "Microsoft Sans Serif" << "Tahoma" << "Arial" << "Liberation Sans";
    font.setFamilies(faces);
    // Windows' dialogs draw Latin text unkerned; unshaped, no font engine keeps a copy of its
    // face's shaping tables (150 kB for the two faces of a dialog). Scripts that need shaping
    // are still shaped.
    font.setStyleHint(QFont::SansSerif, QFont::PreferNoShaping);
    if (dialog.weight >= 600)
        font.setWeight(QFont::Bold);
    font.setItalic(dialog.italic);
    int pixels = mulDiv(pointSize, 96, 72);
    font.setPixelSize(pixels);
    result.units = dialogBaseUnits(font);
    for (const WindowsFace &known : kWindowsFaces) {
        if (known.pointSize != pointSize || QString::fromStdString(dialog.face).compare(known.face, Qt::CaseInsensitive))
            continue;
        result.units = known.units;
        for (int size = pixels + 4; size > pixels / 2; --size) {
            font.setPixelSize(size);
            if (dialogBaseUnits(font).height() <= known.units.height())
                break;
        }
        // The widest alphabet whose average still rounds to Windows' width, then narrower by
        // a percent while hinting keeps it wider.
        int widest = 26 * (2 * known.units.width() + 1) - 1;
        int alphabet = alphabetWidth(font);
        if (alphabet > widest) {
            int stretch = std::max(kNarrowestFont, 100 * widest / alphabet);
            for (font.setStretch(stretch); alphabetWidth(font) > widest && stretch > kNarrowestFont;)
                font.setStretch(--stretch);
        }
    }
    return result;
}

void fitCaptions(QWidget *dialog)
{
    for (;;) {
        double excess = 0;
        for (QObject *child : dialog->children())
            if (auto *control = qobject_cast<QWidget *>(child))
                excess = std::max(excess, captionExcess(control));
        QFont font = dialog->font();
        int stretch = font.stretch() == QFont::AnyStretch ? 100 : font.stretch();
        if (excess <= 1 || stretch <= kNarrowestFont)
            return;
        font.setStretch(std::max(kNarrowestFont, std::min(stretch - 1, int(stretch / excess))));
        dialog->setFont(font);
    }
}

// Windows' dialog base units: the average width of the alphabet, rounded, and the height.
QSize dialogBaseUnits(const QFont &font)
{
    return QSize((alphabetWidth(font) / 26 + 1) / 2, QFontMetrics(font).height());
}

QRect mapDialogRect(QSize units, int x, int y, int cx, int cy)
{
    return QRect(mulDiv(x, units.width(), 4), mulDiv(y, units.height(), 8), mulDiv(cx, units.width(), 4),
                 mulDiv(cy, units.height(), 8));
}

