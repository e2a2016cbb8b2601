// Dialog templates as windres writes them (DLGTEMPLATEEX), and Windows' dialog units.
#pragma once

#include "platform/resources.h"
#include "platform/win32.h"

#include <QFont>
#include <QRect>

#include <string>
#include <vector>

struct ItemTemplate {
    DWORD style, exStyle;
    short x, y, cx, cy;
    int id;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style, exStyle;
    short x, y, cx, cy;
    std::string title;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    std::string face;
    std::vector<ItemTemplate> items;
};

// Reads a template; false for one that is cut short or of a kind the layer does not read.
bool parseDialogTemplate(const ResourceData &data, DialogTemplate &dialog);

// The font a dialog's controls use, and the dialog units' size in pixels (Windows' where
// known, whatever font stands in for the template's).
struct DialogFont {
    QFont font;
    QSize units;
};
DialogFont dialogFont(const DialogTemplate &dialog);

// No stand-in font is narrowed below this share of its width.
constexpr int kNarrowestFont = 70;

// Narrows the dialog's font (its width, never its height) until every caption fits its
// control, as each does on Windows in the face the template was made for.
void fitCaptions(QWidget *dialog);

// Windows' dialog base units of a font: the average width of the alphabet and the height.
QSize dialogBaseUnits(const QFont &font);

// Dialog units to pixels, as MapDialogRect rounds them.
QRect mapDialogRect(QSize units, int x, int y, int cx, int cy);
