#include "tests/support/icon_pixels.h"

namespace {

std::vector<COLORREF> readBitmap(HDC dc, HBITMAP bitmap, int width, int height)
{
    std::vector<COLORREF> pixels;
    HGDIOBJ previous = SelectObject(dc, bitmap);
    if (!previous || previous == HGDI_ERROR)
        return pixels;
    pixels.reserve(size_t(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, previous);
    return pixels;
}

} // namespace

IconPixels readIconPixels(HICON icon)
{
    IconPixels result{0, 0, {}, {}};
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return result;
    BITMAP bitmap{};
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc && info.hbmColor && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap)) {
        result.color = readBitmap(dc, info.hbmColor, bitmap.bmWidth, bitmap.bmHeight);
        result.mask = readBitmap(dc, info.hbmMask, bitmap.bmWidth, bitmap.bmHeight);
        if (result.color.size() == size_t(bitmap.bmWidth * bitmap.bmHeight) && result.mask.size() == result.color.size()) {
            result.width = bitmap.bmWidth;
            result.height = bitmap.bmHeight;
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

bool operator==(const IconPixels &a, const IconPixels &b)
{
    return a.width == b.width && a.height == b.height && a.color == b.color && a.mask == b.mask;
}
