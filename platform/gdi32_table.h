// The one handle table behind HICON, HBITMAP, HBRUSH, HFONT and HDC (gdi32_objects.cpp),
// shared by the drawing calls (gdi32_draw.cpp) and the icon calls (user32_icon.cpp).
// A handle is (generation << 16) | (slot + 1): a small number that survives 32-bit storage;
// a freed slot comes back with a new generation, so a stale handle is refused.
#pragma once

#include "platform/win32.h"

#include <QImage>

enum class GdiKind : uint8_t { Free, Icon, Bitmap, Brush, Font, Dc };

// Every bitmap is kept as an RGB32 image; bitsPixel is what GetObjectA reports (1 for the
// masks, 32 for colour). A monochrome bitmap holds only pure black and white.
struct GdiBitmap {
    QImage image;
    WORD bitsPixel;
};

// An icon: its colour image (null for a monochrome icon) and its AND mask (black = opaque;
// twice the height, AND over XOR, for a monochrome icon). Icons live long and a program keeps
// dozens, so the mask is kept one bit a pixel (gdiIconMask); readers take it as RGB32.
struct GdiIcon {
    QImage color;
    QImage mask;
    bool shared; // loaded from resources: lives for the process, DestroyIcon leaves it
};

struct GdiDc {
    HBITMAP bitmap;
    HBRUSH brush;
    HFONT font;
    int bkMode;
    int rop2;
    int stretchMode;
    COLORREF textColor;
};

struct GdiObject {
    GdiKind kind;
    uint16_t generation;
    bool stock;          // never deleted
    bool deletePending;  // DeleteObject while selected: freed when the last DC lets it go
    int selectCount;     // DCs that have it selected
    GdiBitmap bitmap;
    GdiIcon icon;
    COLORREF brushColor;
    LOGFONTA font;
    GdiDc dc;
};

// A new object of that kind, filled by the caller through the returned pointer (valid until
// the next gdiAdd). Its handle goes to *handle.
GdiObject *gdiAdd(GdiKind kind, void **handle);

// The live object of that kind behind a handle, or null for a stale, foreign or mistyped one.
GdiObject *gdiLookup(const void *handle, GdiKind kind);
// The same for any kind but Free.
GdiObject *gdiLookupAny(const void *handle);

// Frees the slot (images and all). The handle is refused from now on.
void gdiRemove(const void *handle);

// A pure black-and-white RGB32 mask as an icon keeps it.
QImage gdiIconMask(const QImage &mask);

// Stock objects of a new memory DC, as Windows selects them: a 1x1 monochrome bitmap, a white
// brush, the system font.
HBITMAP gdiStockBitmap();
HBRUSH gdiStockBrush();
HFONT gdiStockFont();

// The handle as the table's number, for building typed handles.
template <typename Handle> Handle gdiHandle(uint32_t value)
{
    return reinterpret_cast<Handle>(uintptr_t(value));
}
