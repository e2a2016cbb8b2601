// GDI drawing into memory device contexts, on QImage with QPainter (no display needed), and
// the two USER32 drawing calls that go with it (FillRect, DrawTextA).
//
// Supports: CreateCompatibleDC (memory DCs), DeleteDC, SelectObject of bitmaps, brushes and
// fonts, DeleteObject, GetObjectA (BITMAP, LOGFONTA), CreateSolidBrush, FillRect,
// CreateFontIndirectA (height, width as Windows' average character width, weight, italic,
// underline, strike-out, antialiasing; a face the machine lacks, such as "Tahoma", falls back
// to the sans font fontconfig picks), SetBkMode (OPAQUE paints the text box white),
// SetROP2, SetStretchBltMode (both kept; nothing here draws with pens or stretches),
// SetTextColor, DrawTextA (DT_CENTER, DT_VCENTER, DT_SINGLELINE, clipped to the rectangle),
// GetPixel. Text is taken as Latin-1.
// Not supported (asserts in debug builds): drawing into monochrome bitmaps, system colour
// brushes ((HBRUSH)(COLOR_x + 1)), palette-relative colours, other DrawTextA formats,
// GetObjectA of brushes.
#include "platform/gdi32_table.h"
#include "platform/layer_qt.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace {

constexpr COLORREF kInvalidColor = 0xFFFFFFFF;

QColor qColor(COLORREF color)
{
    assert((color >> 24) == 0 && "palette-relative colours are not supported");
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

// Lets a DC give up an object; an object deleted while selected goes now.
void deselect(const void *handle)
{
    GdiObject *object = gdiLookupAny(handle);
    if (!object || object->stock)
        return;
    if (--object->selectCount == 0 && object->deletePending)
        gdiRemove(handle);
}

// The image of the DC's selected bitmap, ready to draw on; null when drawing is impossible.
QImage *drawingTarget(GdiObject *dc)
{
    GdiObject *bitmap = gdiLookup(dc->dc.bitmap, GdiKind::Bitmap);
    if (!bitmap)
        return nullptr;
    assert(bitmap->bitmap.bitsPixel != 1 && "drawing into monochrome bitmaps is not supported");
    if (bitmap->bitmap.bitsPixel == 1)
        return nullptr;
    return &bitmap->bitmap.image;
}

// A LOGFONTA as Windows would realise it: lfHeight > 0 is the cell height (ascent + descent),
// < 0 the character height; lfWidth is the average character width, reached by scaling the
// glyphs horizontally.
struct RealisedFont {
    QFont font;
    qreal scaleX;
    int ascent;
    int height;
};

RealisedFont realiseFont(const LOGFONTA &logFont, QPaintDevice *device)
{
    layerApplication(); // the font database needs the application
    QFont font(QString::fromLatin1(logFont.lfFaceName, int(strnlen(logFont.lfFaceName, LF_FACESIZE))));
    // No shaping where the script needs none (Qt still shapes those that do): without it no
    // font engine keeps a copy of the face's shaping tables, which GDI text never used.
    font.setStyleHint(QFont::SansSerif,
                      QFont::StyleStrategy((logFont.lfQuality == 3 /* NONANTIALIASED_QUALITY */
                                                ? QFont::NoAntialias
                                                : QFont::PreferAntialias) |
                                           QFont::PreferNoShaping));
    int weight = logFont.lfWeight > 0 ? logFont.lfWeight : 400;
    font.setWeight(QFont::Weight(weight < 1 ? 1 : weight > 1000 ? 1000 : weight));
    font.setItalic(logFont.lfItalic);
    font.setUnderline(logFont.lfUnderline);
    font.setStrikeOut(logFont.lfStrikeOut);

    constexpr int kReference = 1000;
    font.setPixelSize(kReference);
    QFontMetricsF reference(font, device);
    qreal cell = reference.ascent() + reference.descent();
    qreal em = logFont.lfHeight > 0   ? logFont.lfHeight * kReference / cell
               : logFont.lfHeight < 0 ? -qreal(logFont.lfHeight)
                                      : 16.0 * kReference / cell;
    font.setPixelSize(std::max(1, int(std::lround(em))));

    QFontMetricsF metrics(font, device);
    RealisedFont realised{font, 1.0, int(std::lround(metrics.ascent())), 0};
    realised.height = realised.ascent + int(std::lround(metrics.descent()));
    qreal average = metrics.averageCharWidth();
    if (logFont.lfWidth > 0 && average > 0)
        realised.scaleX = logFont.lfWidth / average;
    return realised;
}

} // namespace

HDC CreateCompatibleDC(HDC dc)
{
    if (dc && !gdiLookup(dc, GdiKind::Dc))
        return nullptr;
    HBITMAP bitmap = gdiStockBitmap();
    HBRUSH brush = gdiStockBrush();
    HFONT font = gdiStockFont();
    void *handle = nullptr;
    GdiObject *object = gdiAdd(GdiKind::Dc, &handle);
    object->dc = GdiDc{bitmap, brush, font, OPAQUE, R2_COPYPEN, 1 /* BLACKONWHITE */, RGB(0, 0, 0)};
    return static_cast<HDC>(handle);
}

BOOL DeleteDC(HDC dc)
{
    GdiObject *object = gdiLookup(dc, GdiKind::Dc);
    if (!object)
        return FALSE;
    GdiDc selected = object->dc;
    gdiRemove(dc);
    deselect(selected.bitmap);
    deselect(selected.brush);
    deselect(selected.font);
    return TRUE;
}

int GetObjectA(HANDLE handle, int size, LPVOID buffer)
{
    GdiObject *object = gdiLookupAny(handle);
    if (!object)
        return 0;
    switch (object->kind) {
    case GdiKind::Bitmap: {
        if (!buffer)
            return sizeof(BITMAP);
        if (size < int(sizeof(BITMAP)))
            return 0;
        const GdiBitmap &bitmap = object->bitmap;
        int width = bitmap.image.width();
        BITMAP info{};
        info.bmWidth = width;
        info.bmHeight = bitmap.image.height();
        // Device-dependent bitmaps: rows padded to 16 bits.
        info.bmWidthBytes = (width * bitmap.bitsPixel + 15) / 16 * 2;
        info.bmPlanes = 1;
        info.bmBitsPixel = bitmap.bitsPixel;
        std::memcpy(buffer, &info, sizeof info);
        return sizeof(BITMAP);
    }
    case GdiKind::Font: {
        if (!buffer)
            return sizeof(LOGFONTA);
        int count = size < int(sizeof(LOGFONTA)) ? size : int(sizeof(LOGFONTA));
        if (count <= 0)
            return 0;
        std::memcpy(buffer, &object->font, size_t(count));
        return count;
    }
    case GdiKind::Brush:
        assert(!"GetObjectA of a brush is not supported");
        return 0;
    default:
        return 0;
    }
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ handle)
{
    GdiObject *dcObject = gdiLookup(dc, GdiKind::Dc);
    GdiObject *object = gdiLookupAny(handle);
    if (!dcObject || !object)
        return nullptr;
    void **slot;
    switch (object->kind) {
    case GdiKind::Bitmap:
        // Windows: a bitmap can be selected into one DC at a time.
        if (object->selectCount > 0 && dcObject->dc.bitmap != handle)
            return nullptr;
        slot = reinterpret_cast<void **>(&dcObject->dc.bitmap);
        break;
    case GdiKind::Brush:
        slot = reinterpret_cast<void **>(&dcObject->dc.brush);
        break;
    case GdiKind::Font:
        slot = reinterpret_cast<void **>(&dcObject->dc.font);
        break;
    default:
        return nullptr;
    }
    void *previous = *slot;
    if (previous == handle)
        return previous;
    if (!object->stock)
        ++object->selectCount;
    *slot = handle;
    deselect(previous);
    return previous;
}

BOOL DeleteObject(HGDIOBJ handle)
{
    GdiObject *object = gdiLookupAny(handle);
    if (!object || object->kind == GdiKind::Icon || object->kind == GdiKind::Dc)
        return FALSE;
    if (object->stock)
        return TRUE;
    // As Wine: an object still selected goes when its DC lets it go.
    if (object->selectCount > 0)
        object->deletePending = true;
    else
        gdiRemove(handle);
    return TRUE;
}

HBRUSH CreateSolidBrush(COLORREF color)
{
    void *handle = nullptr;
    gdiAdd(GdiKind::Brush, &handle)->brushColor = color & 0xFFFFFF;
    assert((color >> 24) == 0 && "palette-relative colours are not supported");
    return static_cast<HBRUSH>(handle);
}

int FillRect(HDC dc, const RECT *rect, HBRUSH brush)
{
    assert(reinterpret_cast<uintptr_t>(brush) > 31 && "system colour brushes are not supported");
    GdiObject *dcObject = gdiLookup(dc, GdiKind::Dc);
    GdiObject *brushObject = gdiLookup(brush, GdiKind::Brush);
    if (!dcObject || !brushObject || !rect)
        return 0;
    QImage *target = drawingTarget(dcObject);
    if (!target)
        return 0;
    if (rect->right > rect->left && rect->bottom > rect->top) {
        QPainter painter(target);
        painter.fillRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                         qColor(brushObject->brushColor));
    }
    return 1;
}

HFONT CreateFontIndirectA(const LOGFONTA *font)
{
    if (!font)
        return nullptr;
    void *handle = nullptr;
    gdiAdd(GdiKind::Font, &handle)->font = *font;
    return static_cast<HFONT>(handle);
}

int SetBkMode(HDC dc, int mode)
{
    GdiObject *object = gdiLookup(dc, GdiKind::Dc);
    if (!object || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int previous = object->dc.bkMode;
    object->dc.bkMode = mode;
    return previous;
}

int SetROP2(HDC dc, int mode)
{
    GdiObject *object = gdiLookup(dc, GdiKind::Dc);
    if (!object || mode < 1 || mode > 16)
        return 0;
    int previous = object->dc.rop2;
    object->dc.rop2 = mode;
    return previous;
}

int SetStretchBltMode(HDC dc, int mode)
{
    GdiObject *object = gdiLookup(dc, GdiKind::Dc);
    if (!object || mode < 1 || mode > 4)
        return 0;
    int previous = object->dc.stretchMode;
    object->dc.stretchMode = mode;
    return previous;
}

COLORREF SetTextColor(HDC dc, COLORREF color)
{
    GdiObject *object = gdiLookup(dc, GdiKind::Dc);
    if (!object)
        return kInvalidColor;
    assert((color >> 24) == 0 && "palette-relative colours are not supported");
    COLORREF previous = object->dc.textColor;
    object->dc.textColor = color & 0xFFFFFF;
    return previous;
}

int DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format)
{
    assert((format & ~UINT(DT_CENTER | DT_VCENTER | DT_SINGLELINE)) == 0 &&
           "DrawTextA: only DT_CENTER, DT_VCENTER and DT_SINGLELINE are supported");
    GdiObject *dcObject = gdiLookup(dc, GdiKind::Dc);
    if (!dcObject || !text || !rect)
        return 0;
    if (count < 0)
        count = int(std::strlen(text));
    if (count == 0)
        return 0;
    assert(((format & DT_SINGLELINE) || !std::memchr(text, '\n', size_t(count))) &&
           "DrawTextA: several lines are not supported");
    GdiObject *fontObject = gdiLookup(dcObject->dc.font, GdiKind::Font);
    QImage *target = drawingTarget(dcObject);
    if (!fontObject || !target)
        return 0;
    GdiDc state = dcObject->dc;
    LOGFONTA logFont = fontObject->font;

    RealisedFont font = realiseFont(logFont, target);
    QString line = QString::fromLatin1(text, count);
    int width = int(std::lround(QFontMetricsF(font.font, target).horizontalAdvance(line) * font.scaleX));
    int x = rect->left;
    int y = rect->top;
    if (format & DT_CENTER)
        x = rect->left + (rect->right - rect->left - width) / 2;
    bool centreVertically = (format & DT_VCENTER) && (format & DT_SINGLELINE);
    if (centreVertically)
        y = rect->top + (rect->bottom - rect->top - font.height) / 2;

    if (rect->right > rect->left && rect->bottom > rect->top) {
        QPainter painter(target);
        painter.setClipRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
        if (state.bkMode == OPAQUE)
            painter.fillRect(QRect(x, y, width, font.height), Qt::white);
        painter.setRenderHint(QPainter::TextAntialiasing, logFont.lfQuality != 3);
        painter.setFont(font.font);
        painter.setPen(qColor(state.textColor));
        painter.translate(x, y + font.ascent);
        painter.scale(font.scaleX, 1.0);
        painter.drawText(QPointF(0, 0), line);
    }
    // Windows: with DT_VCENTER the answer is the offset from the top to the text's bottom.
    return centreVertically ? y - rect->top + font.height : font.height;
}

COLORREF GetPixel(HDC dc, int x, int y)
{
    GdiObject *dcObject = gdiLookup(dc, GdiKind::Dc);
    if (!dcObject)
        return kInvalidColor;
    GdiObject *bitmap = gdiLookup(dcObject->dc.bitmap, GdiKind::Bitmap);
    if (!bitmap || !bitmap->bitmap.image.valid(x, y))
        return kInvalidColor;
    QRgb pixel = bitmap->bitmap.image.pixel(x, y);
    return RGB(qRed(pixel), qGreen(pixel), qBlue(pixel));
}
