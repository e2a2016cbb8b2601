// GDI and icon objects: the handle table (see gdi32_table.h) and the pictures of icons for
// the layer's own users (tray, window icons).
//
// Supports: HICON, HBITMAP, HBRUSH, HFONT, HDC in one table of up to 65534 live objects;
// stock objects for new memory DCs; counts of the objects held, for tests.
// Not supported: pens, regions, palettes, metafiles, GetStockObject (the program never uses
// them); running out of slots aborts in debug builds.
#include "platform/gdi32_table.h"
#include "platform/gdi_objects.h"
#include "platform/layer_testing.h"

#include <cassert>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kMaxSlots = 0xFFFE;

struct GdiTable {
    std::vector<GdiObject> objects;
    std::vector<uint32_t> freeSlots;
    HBITMAP stockBitmap;
    HBRUSH stockBrush;
    HFONT stockFont;
};

GdiTable &table()
{
    static GdiTable instance;
    return instance;
}

uint32_t handleValue(const void *handle)
{
    return uint32_t(reinterpret_cast<uintptr_t>(handle));
}

GdiObject *slotOf(const void *handle)
{
    uintptr_t raw = reinterpret_cast<uintptr_t>(handle);
    if (raw == 0 || raw > 0x7FFFFFFF)
        return nullptr;
    uint32_t value = uint32_t(raw);
    uint32_t slot = (value & 0xFFFF) - 1;
    GdiTable &t = table();
    if (slot >= t.objects.size())
        return nullptr;
    GdiObject &object = t.objects[slot];
    if (object.kind == GdiKind::Free || object.generation != (value >> 16))
        return nullptr;
    return &object;
}

GdiObject *addStock(GdiKind kind, void **handle)
{
    GdiObject *object = gdiAdd(kind, handle);
    object->stock = true;
    return object;
}

void makeStockObjects()
{
    GdiTable &t = table();
    if (t.stockBitmap)
        return;
    void *handle = nullptr;
    GdiObject *bitmap = addStock(GdiKind::Bitmap, &handle);
    bitmap->bitmap.image = QImage(1, 1, QImage::Format_RGB32);
    bitmap->bitmap.image.fill(Qt::black);
    bitmap->bitmap.bitsPixel = 1;
    t.stockBitmap = static_cast<HBITMAP>(handle);

    addStock(GdiKind::Brush, &handle)->brushColor = RGB(255, 255, 255);
    t.stockBrush = static_cast<HBRUSH>(handle);

    GdiObject *font = addStock(GdiKind::Font, &handle);
    font->font.lfHeight = 16;
    font->font.lfWeight = 700;
    std::strcpy(font->font.lfFaceName, "System");
    t.stockFont = static_cast<HFONT>(handle);
}

} // namespace

GdiObject *gdiAdd(GdiKind kind, void **handle)
{
    GdiTable &t = table();
    uint32_t slot;
    if (!t.freeSlots.empty()) {
        slot = t.freeSlots.back();
        t.freeSlots.pop_back();
    } else {
        assert(t.objects.size() < kMaxSlots && "GDI handle table full");
        slot = uint32_t(t.objects.size());
        t.objects.push_back(GdiObject{});
        t.objects.back().generation = 0;
    }
    GdiObject &object = t.objects[slot];
    uint16_t generation = uint16_t(object.generation % 0x7FFF + 1);
    object = GdiObject{};
    object.kind = kind;
    object.generation = generation;
    *handle = gdiHandle<void *>(uint32_t(generation) << 16 | (slot + 1));
    return &object;
}

GdiObject *gdiLookup(const void *handle, GdiKind kind)
{
    GdiObject *object = slotOf(handle);
    return object && object->kind == kind ? object : nullptr;
}

GdiObject *gdiLookupAny(const void *handle)
{
    return slotOf(handle);
}

void gdiRemove(const void *handle)
{
    GdiObject *object = slotOf(handle);
    if (!object || object->stock)
        return;
    uint16_t generation = object->generation;
    *object = GdiObject{};
    object->generation = generation;
    table().freeSlots.push_back((handleValue(handle) & 0xFFFF) - 1);
}

QImage gdiIconMask(const QImage &mask)
{
    return mask.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
}

HBITMAP gdiStockBitmap()
{
    makeStockObjects();
    return table().stockBitmap;
}

HBRUSH gdiStockBrush()
{
    makeStockObjects();
    return table().stockBrush;
}

HFONT gdiStockFont()
{
    makeStockObjects();
    return table().stockFont;
}

QImage layerIconImage(HICON icon)
{
    GdiObject *object = gdiLookup(icon, GdiKind::Icon);
    if (!object)
        return QImage();
    const GdiIcon &data = object->icon;
    const QImage mask = data.mask.convertToFormat(QImage::Format_RGB32);
    int width = mask.width();
    int height = data.color.isNull() ? mask.height() / 2 : data.color.height();
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const QRgb *andRow = reinterpret_cast<const QRgb *>(mask.constScanLine(y));
        const QRgb *colorRow = data.color.isNull()
                                   ? reinterpret_cast<const QRgb *>(mask.constScanLine(y + height))
                                   : reinterpret_cast<const QRgb *>(data.color.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            // AND 1 keeps the screen (transparent); an inverting pixel shows as transparent too.
            out[x] = qRed(andRow[x]) ? 0u : (colorRow[x] | 0xFF000000u);
        }
    }
    return picture;
}

HICON layerCreateIcon(const QImage &color, const QImage &mask)
{
    if (color.isNull())
        return nullptr;
    QImage colorBits = color.convertToFormat(QImage::Format_RGB32);
    QImage maskBits(colorBits.size(), QImage::Format_RGB32);
    maskBits.fill(Qt::black);
    if (!mask.isNull()) {
        QImage given = mask.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < maskBits.height() && y < given.height(); ++y)
            for (int x = 0; x < maskBits.width() && x < given.width(); ++x)
                if (qGray(given.pixel(x, y)) > 127)
                    maskBits.setPixel(x, y, 0xFFFFFFFFu);
    }
    void *handle = nullptr;
    GdiObject *object = gdiAdd(GdiKind::Icon, &handle);
    object->icon.color = colorBits;
    object->icon.mask = gdiIconMask(maskBits);
    return static_cast<HICON>(handle);
}

int layerGdiObjectCount()
{
    int count = 0;
    for (const GdiObject &object : table().objects)
        if (object.kind != GdiKind::Free && object.kind != GdiKind::Icon && !object.stock)
            ++count;
    return count;
}

LayerGdiCounts layerGdiCounts()
{
    LayerGdiCounts counts = {};
    for (const GdiObject &object : table().objects) {
        if (object.stock)
            continue;
        counts.bitmaps += object.kind == GdiKind::Bitmap;
        counts.brushes += object.kind == GdiKind::Brush;
        counts.fonts += object.kind == GdiKind::Font;
        counts.dcs += object.kind == GdiKind::Dc;
    }
    return counts;
}

int layerIconCount()
{
    int count = 0;
    for (const GdiObject &object : table().objects)
        if (object.kind == GdiKind::Icon)
            ++count;
    return count;
}
