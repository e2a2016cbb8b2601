// The pixels of an icon, read through Win32 only (GetIconInfo, a memory DC, GetPixel), so
// the same test reads them on Windows and on the layer.
#pragma once

#include "platform/win32.h"

#include <vector>

struct IconPixels {
    int width;
    int height;
    std::vector<COLORREF> color; // row by row
    std::vector<COLORREF> mask;  // the AND mask: 0 opaque, 0xFFFFFF transparent

    COLORREF at(int x, int y) const { return color[size_t(y * width + x)]; }
    COLORREF maskAt(int x, int y) const { return mask[size_t(y * width + x)]; }
};

// Empty (width 0) when the icon cannot be read.
IconPixels readIconPixels(HICON icon);

bool operator==(const IconPixels &a, const IconPixels &b);
