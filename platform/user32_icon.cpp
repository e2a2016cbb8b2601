// Icons: loaded from the program's own compiled resources, taken apart and put together.
//
// Supports: LoadIconA(instance, MAKEINTRESOURCEA(id)) for the program's icon groups, any
// instance (the layer holds one module's resources); the 32x32 image is chosen (else the
// nearest size, scaled to 32x32), 1, 4 and 8 bpp with palette, 24 and 32 bpp (alpha used when
// present) and PNG images, each at most 256x256. Loaded icons are shared: the same handle for
// the same id every time, never destroyed. GetIconInfo (copies of colour and mask, which the
// caller deletes), CreateIconIndirect (colour icons and monochrome ones), DestroyIcon.
// GetGuiResources of the current process: GDI objects as the table holds them, USER objects
// counting icons only.
// Not supported (asserts in debug builds): named resources, system icons (IDI_*, null
// instance), cursors, GetGuiResources of another process or of peak counts.
#include "platform/gdi32_table.h"
#include "platform/layer_testing.h"
#include "platform/resources.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kErrorInvalidCursorHandle = 1402;
constexpr DWORD kErrorResourceNameNotFound = 1814;
constexpr DWORD kErrorResourceDataNotFound = 1812;
constexpr int kIconSize = 32; // SM_CXICON, SM_CYICON

uint32_t dword(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

uint16_t word(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t bigEndian(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

struct SharedIcon {
    uint16_t id;
    HICON icon;
};

std::vector<SharedIcon> &sharedIcons()
{
    static std::vector<SharedIcon> icons;
    return icons;
}

// The id of the image of a GRPICONDIR to use: 32x32 with the most colours, else the nearest
// size. 0 when the group is malformed.
uint16_t chooseImage(ResourceData group)
{
    if (group.size < 6 || word(group.bytes + 2) != 1)
        return 0;
    size_t count = word(group.bytes + 4);
    if (group.size < 6 + count * 14)
        return 0;
    uint16_t best = 0;
    int bestDistance = 0;
    int bestBits = 0;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *entry = group.bytes + 6 + i * 14;
        int width = entry[0] ? entry[0] : 256;
        int height = entry[1] ? entry[1] : 256;
        int bits = word(entry + 6);
        int distance = std::abs(width - kIconSize) + std::abs(height - kIconSize);
        if (best == 0 || distance < bestDistance || (distance == bestDistance && bits > bestBits)) {
            best = word(entry + 12);
            bestDistance = distance;
            bestBits = bits;
        }
    }
    return best;
}

// An icon image (BITMAPINFOHEADER, height doubled, XOR bits then the AND mask, rows bottom-up
// and padded to 32 bits) into a colour image and a mask image (black = opaque).
bool decodeImage(ResourceData data, QImage *color, QImage *mask)
{
    if (data.size >= 8 && std::memcmp(data.bytes, "\x89PNG", 4) == 0) {
        // At most 256x256, as a bitmap image: its header (IHDR, the first chunk) is read first,
        // because a few kB of PNG unpack to a picture of hundreds of MB and seconds of work.
        if (data.size < 24 || bigEndian(data.bytes + 16) > 256 || bigEndian(data.bytes + 20) > 256)
            return false;
        QImage png = QImage::fromData(data.bytes, int(data.size), "PNG").convertToFormat(QImage::Format_ARGB32);
        if (png.isNull())
            return false;
        *color = png.convertToFormat(QImage::Format_RGB32);
        *mask = QImage(png.size(), QImage::Format_RGB32);
        for (int y = 0; y < png.height(); ++y)
            for (int x = 0; x < png.width(); ++x)
                mask->setPixel(x, y, qAlpha(png.pixel(x, y)) ? 0xFF000000u : 0xFFFFFFFFu);
        return true;
    }
    if (data.size < 40 || dword(data.bytes) < 40)
        return false;
    const unsigned char *header = data.bytes;
    int32_t width = int32_t(dword(header + 4));
    int32_t height = int32_t(dword(header + 8)) / 2;
    int bits = word(header + 14);
    uint32_t compression = dword(header + 16);
    uint32_t colorsUsed = dword(header + 32);
    if (width <= 0 || width > 256 || height <= 0 || height > 256 || compression != 0 /* BI_RGB */)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return false;
    size_t paletteSize = bits <= 8 ? (colorsUsed && colorsUsed <= (1u << bits) ? colorsUsed : 1u << bits) : 0;
    size_t xorStride = (size_t(width) * bits + 31) / 32 * 4;
    size_t andStride = (size_t(width) + 31) / 32 * 4;
    size_t paletteOffset = dword(header);
    size_t xorOffset = paletteOffset + paletteSize * 4;
    size_t andOffset = xorOffset + xorStride * size_t(height);
    if (andOffset + andStride * size_t(height) > data.size)
        return false;
    const unsigned char *palette = data.bytes + paletteOffset;

    *color = QImage(width, height, QImage::Format_RGB32);
    *mask = QImage(width, height, QImage::Format_RGB32);
    bool hasAlpha = false;
    for (int y = 0; y < height; ++y) {
        const unsigned char *row = data.bytes + xorOffset + xorStride * size_t(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            QRgb pixel;
            if (bits <= 8) {
                int bitOffset = x * bits;
                unsigned index = (row[bitOffset / 8] >> (8 - bits - bitOffset % 8)) & ((1u << bits) - 1);
                const unsigned char *entry = palette + (index < paletteSize ? index : 0) * 4;
                pixel = qRgb(entry[2], entry[1], entry[0]);
            } else {
                const unsigned char *p = row + size_t(x) * (bits / 8);
                pixel = qRgba(p[2], p[1], p[0], bits == 32 ? p[3] : 255);
                hasAlpha = hasAlpha || (bits == 32 && p[3] != 0);
            }
            color->setPixel(x, y, pixel | 0xFF000000u);
        }
        const unsigned char *andRow = data.bytes + andOffset + andStride * size_t(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            bool transparent = (andRow[x / 8] >> (7 - x % 8)) & 1;
            mask->setPixel(x, y, transparent ? 0xFFFFFFFFu : 0xFF000000u);
        }
    }
    // A 32-bit image with an alpha channel: the alpha, not the AND mask, says what shows.
    if (hasAlpha) {
        for (int y = 0; y < height; ++y) {
            const unsigned char *row = data.bytes + xorOffset + xorStride * size_t(height - 1 - y);
            for (int x = 0; x < width; ++x)
                mask->setPixel(x, y, row[x * 4 + 3] >= 128 ? 0xFF000000u : 0xFFFFFFFFu);
        }
    }
    return true;
}

// find(type, id) looks the group and its image up: in the program's resources, or in a test's.
template <typename Find> HICON loadResourceIcon(uint16_t id, bool shared, Find find)
{
    ResourceData group = find(RES_TYPE_GROUP_ICON, id);
    if (!group.bytes) {
        SetLastError(kErrorResourceNameNotFound);
        return nullptr;
    }
    uint16_t imageId = chooseImage(group);
    ResourceData image = imageId ? find(RES_TYPE_ICON, imageId) : ResourceData{nullptr, 0};
    QImage color, mask;
    if (!image.bytes || !decodeImage(image, &color, &mask)) {
        SetLastError(kErrorResourceDataNotFound);
        return nullptr;
    }
    if (color.width() != kIconSize || color.height() != kIconSize) {
        color = color.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        mask = mask.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    void *handle = nullptr;
    GdiObject *object = gdiAdd(GdiKind::Icon, &handle);
    object->icon = GdiIcon{color, gdiIconMask(mask), shared};
    return static_cast<HICON>(handle);
}

HBITMAP addBitmap(const QImage &image, WORD bitsPixel)
{
    void *handle = nullptr;
    gdiAdd(GdiKind::Bitmap, &handle)->bitmap = GdiBitmap{image, bitsPixel};
    return static_cast<HBITMAP>(handle);
}

} // namespace

HICON LoadIconA(HINSTANCE instance, LPCSTR name)
{
    assert(IS_INTRESOURCE(name) && "LoadIconA: named icons are not supported");
    assert(instance && "LoadIconA: system icons are not supported");
    if (!instance || !IS_INTRESOURCE(name)) {
        SetLastError(kErrorResourceNameNotFound);
        return nullptr;
    }
    uint16_t id = uint16_t(reinterpret_cast<uintptr_t>(name));
    for (const SharedIcon &shared : sharedIcons())
        if (shared.id == id)
            return shared.icon;
    HICON icon = loadResourceIcon(id, true, findResource);
    if (icon)
        sharedIcons().push_back({id, icon});
    return icon;
}

HICON layerLoadIconIn(const unsigned char *image, size_t size, uint16_t id)
{
    return loadResourceIcon(id, false, [&](uint16_t type, uint16_t resource) {
        return findResourceIn(image, size, type, resource);
    });
}

BOOL GetIconInfo(HICON icon, PICONINFO info)
{
    GdiObject *object = gdiLookup(icon, GdiKind::Icon);
    if (!object || !info) {
        SetLastError(kErrorInvalidCursorHandle);
        return FALSE;
    }
    // Copies of the images (the colour shared until drawn on), so that the new bitmaps may go
    // first.
    QImage color = object->icon.color;
    QImage mask = object->icon.mask.convertToFormat(QImage::Format_RGB32);
    int height = color.isNull() ? mask.height() / 2 : color.height();
    info->fIcon = TRUE;
    info->xHotspot = DWORD(mask.width() / 2);
    info->yHotspot = DWORD(height / 2);
    info->hbmMask = addBitmap(mask, 1);
    info->hbmColor = color.isNull() ? nullptr : addBitmap(color, 32);
    return TRUE;
}

HICON CreateIconIndirect(PICONINFO info)
{
    assert((!info || info->fIcon) && "CreateIconIndirect: cursors are not supported");
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiObject *mask = gdiLookup(info->hbmMask, GdiKind::Bitmap);
    GdiObject *color = info->hbmColor ? gdiLookup(info->hbmColor, GdiKind::Bitmap) : nullptr;
    if (!mask || (info->hbmColor && !color)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    QImage maskImage = mask->bitmap.image;
    QImage colorImage = color ? color->bitmap.image : QImage();
    if (color) {
        // The mask gives the transparency of the colour image's area, nothing more.
        if (maskImage.width() < colorImage.width() || maskImage.height() < colorImage.height()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (maskImage.size() != colorImage.size())
            maskImage = maskImage.copy(0, 0, colorImage.width(), colorImage.height());
    }
    if (mask->bitmap.bitsPixel != 1) {
        // Windows turns a colour mask monochrome: white becomes 1, every other colour 0.
        maskImage = maskImage.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < maskImage.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(maskImage.scanLine(y));
            for (int x = 0; x < maskImage.width(); ++x)
                row[x] = (row[x] & 0xFFFFFF) == 0xFFFFFF ? 0xFFFFFFFFu : 0xFF000000u;
        }
    }
    if (!color && maskImage.height() < 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void *handle = nullptr;
    GdiObject *object = gdiAdd(GdiKind::Icon, &handle);
    object->icon = GdiIcon{colorImage, gdiIconMask(maskImage), false};
    return static_cast<HICON>(handle);
}

BOOL DestroyIcon(HICON icon)
{
    GdiObject *object = gdiLookup(icon, GdiKind::Icon);
    if (!object) {
        SetLastError(kErrorInvalidCursorHandle);
        return FALSE;
    }
    // As Windows: a shared icon outlives DestroyIcon.
    if (!object->icon.shared)
        gdiRemove(icon);
    return TRUE;
}

DWORD GetGuiResources(HANDLE process, DWORD flags)
{
    assert(process == GetCurrentProcess() && "GetGuiResources: only the current process");
    assert(flags <= GR_USEROBJECTS && "GetGuiResources: only GR_GDIOBJECTS and GR_USEROBJECTS");
    if (process != GetCurrentProcess() || flags > GR_USEROBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return DWORD(flags == GR_GDIOBJECTS ? layerGdiObjectCount() : layerIconCount());
}
