// Lamp labels and meter bars, drawn with GDI into a copy of an icon's colour bitmap.
#include "indicators/icon_drawing.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kTextPlacement = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

// What a routine writes over its picture.
struct IconText {
    const char *text;
    int widthDivisor; // font width = W / widthDivisor
    COLORREF color;
};

// The meter's picture under the text; null for a label, which keeps the template's picture.
struct MeterPicture {
    int32_t percent;
    int32_t kind;
    const GeneralOptions *options;
};

COLORREF colorOf(Rgb rgb)
{
    return RGB(rgb.red, rgb.green, rgb.blue);
}

bool selected(HGDIOBJ previous)
{
    return previous && previous != HGDI_ERROR;
}

void fillWith(HDC dc, const RECT *rect, COLORREF color)
{
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, rect, brush);
    DeleteObject(brush);
}

// Background, then a bar rising from the bottom in proportion to the load.
void drawBar(HDC dc, const RECT &full, int32_t height, const MeterPicture &meter)
{
    fillWith(dc, &full, colorOf(meter.options->colorBackground));
    const Rgb *barColor = meter.kind == KIND_RAM           ? &meter.options->colorRam
                          : meter.kind == KIND_VIRTUAL_RAM ? &meter.options->colorVram
                                                           : nullptr;
    if (barColor) {
        RECT bar = {0, (height - 1) - meter.percent * (height - 1) / 100, full.right, full.bottom};
        fillWith(dc, &bar, colorOf(*barColor));
    }
}

bool drawText(HDC dc, RECT full, int32_t width, int32_t height, const IconText &text)
{
    LOGFONTA logFont;
    std::memset(&logFont, 0, sizeof logFont);
    logFont.lfHeight = height;
    logFont.lfWidth = width / text.widthDivisor;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    std::strcpy(logFont.lfFaceName, "Tahoma");
    HFONT font = CreateFontIndirectA(&logFont);
    if (!font)
        return false;
    HGDIOBJ previousFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetROP2(dc, R2_COPYPEN);
    SetStretchBltMode(dc, COLORONCOLOR);
    SetTextColor(dc, text.color);
    bool drawn = DrawTextA(dc, text.text, -1, &full, kTextPlacement) != 0;
    // The font may only go once no DC holds it.
    if (selected(previousFont))
        SelectObject(dc, previousFont);
    DeleteObject(font);
    return drawn && selected(previousFont);
}

// The frame of both routines: draws on a copy of the icon's colour bitmap and makes a new
// icon of it with the icon's own mask. Yields null when the drawing fails, the given icon when
// only the new icon cannot be made; *made says whether a new icon was made. Whatever was
// acquired is released on every path.
HICON drawOnIcon(HICON icon, const IconText &text, const MeterPicture *meter, bool *made)
{
    *made = false;
    ICONINFO info;
    std::memset(&info, 0, sizeof info);
    if (!GetIconInfo(icon, &info))
        return nullptr;
    HICON result = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAP bitmap;
    std::memset(&bitmap, 0, sizeof bitmap);
    if (dc && info.hbmColor && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap) != 0) {
        RECT full = {0, 0, bitmap.bmWidth - 1, bitmap.bmHeight - 1};
        HGDIOBJ kept = SelectObject(dc, info.hbmColor);
        if (selected(kept)) {
            if (meter)
                drawBar(dc, full, bitmap.bmHeight, *meter);
            bool drawn = drawText(dc, full, bitmap.bmWidth, bitmap.bmHeight, text);
            bool released = selected(SelectObject(dc, kept));
            if (drawn && released) {
                HICON newIcon = CreateIconIndirect(&info);
                *made = newIcon != nullptr;
                result = newIcon ? newIcon : icon;
            }
        }
    }
    if (dc)
        DeleteDC(dc);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return result;
}

} // namespace

HICON drawLabelIcon(HICON templateIcon, const char *label)
{
    bool made;
    return drawOnIcon(templateIcon, IconText{label, 3, RGB(235, 235, 235)}, nullptr, &made);
}

HICON drawMeterIcon(HICON icon, const Unit *unit, const GeneralOptions *options)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", unit->percent);
    MeterPicture meter = {unit->percent, unit->kind, options};
    bool made;
    HICON result = drawOnIcon(icon, IconText{text, 4, RGB(235, 235, 255)}, &meter, &made);
    if (made)
        DestroyIcon(icon);
    return result;
}
