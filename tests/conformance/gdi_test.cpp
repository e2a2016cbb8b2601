// GDI and icon calls as the drawing routines use them: memory DCs, selection, fills, text,
// copies of icon bitmaps. Run on Windows (Wine) and on the layer; where they differ, the layer
// is wrong.
#include "tests/support/icon_pixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr COLORREF kInvalidColor = 0xFFFFFFFF;
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kIdleFill = RGB(0, 64, 128);

HICON idleLamp()
{
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(147));
}

// A memory DC with a copy of the idle lamp's colour bitmap selected; everything goes at the end.
struct Canvas {
    ICONINFO info;
    HDC dc;
    HGDIOBJ previous;
};

bool openCanvas(Canvas *canvas)
{
    std::memset(canvas, 0, sizeof *canvas);
    if (!GetIconInfo(idleLamp(), &canvas->info))
        return false;
    canvas->dc = CreateCompatibleDC(nullptr);
    canvas->previous = canvas->dc ? SelectObject(canvas->dc, canvas->info.hbmColor) : nullptr;
    return canvas->previous != nullptr && canvas->previous != HGDI_ERROR;
}

void closeCanvas(Canvas *canvas)
{
    if (canvas->previous && canvas->previous != HGDI_ERROR)
        SelectObject(canvas->dc, canvas->previous);
    if (canvas->dc)
        DeleteDC(canvas->dc);
    DeleteObject(canvas->info.hbmColor);
    DeleteObject(canvas->info.hbmMask);
}

} // namespace

TEST(Gdi, IconBitmapsAreDescribedAsWindowsDoes)
{
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(idleLamp(), &info));
    EXPECT_TRUE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 16u);
    EXPECT_EQ(info.yHotspot, 16u);
    ASSERT_NE(info.hbmColor, nullptr);
    ASSERT_NE(info.hbmMask, nullptr);

    BITMAP bitmap;
    std::memset(&bitmap, 0xcc, sizeof bitmap);
    EXPECT_EQ(GetObjectA(info.hbmColor, sizeof bitmap, &bitmap), int(sizeof bitmap));
    EXPECT_EQ(bitmap.bmWidth, 32);
    EXPECT_EQ(bitmap.bmHeight, 32);
    EXPECT_EQ(bitmap.bmPlanes, 1);
    EXPECT_GE(bitmap.bmBitsPixel, 8);
    EXPECT_EQ(GetObjectA(info.hbmColor, 0, nullptr), int(sizeof(BITMAP))) << "size asked";
    EXPECT_EQ(GetObjectA(info.hbmColor, sizeof bitmap - 1, &bitmap), 0) << "buffer too small";

    EXPECT_EQ(GetObjectA(info.hbmMask, sizeof bitmap, &bitmap), int(sizeof bitmap));
    EXPECT_EQ(bitmap.bmWidth, 32);
    EXPECT_EQ(bitmap.bmHeight, 32);
    EXPECT_EQ(bitmap.bmBitsPixel, 1);

    EXPECT_TRUE(DeleteObject(info.hbmColor));
    EXPECT_TRUE(DeleteObject(info.hbmMask));
    EXPECT_FALSE(DeleteObject(info.hbmMask)) << "a deleted bitmap is refused";
    EXPECT_EQ(GetObjectA(info.hbmColor, sizeof bitmap, &bitmap), 0);
}

TEST(Gdi, MemoryDcSelectionAndState)
{
    Canvas canvas;
    ASSERT_TRUE(openCanvas(&canvas));
    HDC dc = canvas.dc;

    // A bitmap lives in one DC at a time.
    HDC other = CreateCompatibleDC(nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(SelectObject(other, canvas.info.hbmColor), nullptr);
    EXPECT_TRUE(DeleteDC(other));
    EXPECT_FALSE(DeleteDC(other));

    // Setters answer the previous value; the defaults are Windows'.
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), TRANSPARENT);
    EXPECT_EQ(SetROP2(dc, R2_COPYPEN), R2_COPYPEN);
    EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), 1 /* BLACKONWHITE */);
    EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), COLORONCOLOR);
    EXPECT_EQ(SetTextColor(dc, kRed), kBlack);
    EXPECT_EQ(SetTextColor(dc, kBlack), kRed);

    HBRUSH brush = CreateSolidBrush(kRed);
    LOGFONTA logFont{};
    logFont.lfHeight = 32;
    std::strcpy(logFont.lfFaceName, "Tahoma");
    HFONT font = CreateFontIndirectA(&logFont);
    ASSERT_NE(brush, nullptr);
    ASSERT_NE(font, nullptr);
    HGDIOBJ stockFont = SelectObject(dc, font);
    ASSERT_NE(stockFont, nullptr);
    EXPECT_EQ(SelectObject(dc, stockFont), font) << "selection answers what it replaced";
    HGDIOBJ stockBrush = SelectObject(dc, brush);
    EXPECT_EQ(SelectObject(dc, stockBrush), brush);

    EXPECT_EQ(GetPixel(dc, 32, 0), kInvalidColor);
    EXPECT_EQ(GetPixel(dc, 0, -1), kInvalidColor);
    EXPECT_EQ(GetPixel(dc, 10, 10), kIdleFill);

    closeCanvas(&canvas);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_EQ(SetBkMode(dc, OPAQUE), 0) << "a deleted DC is refused";
    EXPECT_EQ(GetPixel(dc, 10, 10), kInvalidColor);
}

TEST(Gdi, FillRectLeavesRightAndBottomEdges)
{
    Canvas canvas;
    ASSERT_TRUE(openCanvas(&canvas));
    HBRUSH brush = CreateSolidBrush(kRed);
    RECT rect = {6, 8, 20, 24}; // inside the lamp's fill, 4 to 27
    EXPECT_NE(FillRect(canvas.dc, &rect, brush), 0);
    EXPECT_EQ(GetPixel(canvas.dc, 6, 8), kRed);
    EXPECT_EQ(GetPixel(canvas.dc, 19, 23), kRed);
    EXPECT_EQ(GetPixel(canvas.dc, 20, 23), kIdleFill);
    EXPECT_EQ(GetPixel(canvas.dc, 19, 24), kIdleFill);
    EXPECT_EQ(GetPixel(canvas.dc, 5, 8), kIdleFill);
    EXPECT_EQ(GetPixel(canvas.dc, 6, 7), kIdleFill);

    RECT whole = {0, 0, 31, 31};
    FillRect(canvas.dc, &whole, brush);
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), kRed);
    EXPECT_EQ(GetPixel(canvas.dc, 30, 30), kRed);
    EXPECT_EQ(GetPixel(canvas.dc, 31, 30), kBlack);
    EXPECT_EQ(GetPixel(canvas.dc, 30, 31), kBlack);
    DeleteObject(brush);
    closeCanvas(&canvas);
}

TEST(Gdi, DrawTextCentresClipsAndAnswersTheTextBottom)
{
    Canvas canvas;
    ASSERT_TRUE(openCanvas(&canvas));
    HDC dc = canvas.dc;
    LOGFONTA logFont{};
    logFont.lfHeight = 32;
    logFont.lfWidth = 10;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    std::strcpy(logFont.lfFaceName, "Tahoma");
    HFONT font = CreateFontIndirectA(&logFont);
    HGDIOBJ previousFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));

    RECT full = {0, 0, 31, 31};
    int bottom = DrawTextA(dc, "W", -1, &full, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EXPECT_GE(bottom, 20);
    EXPECT_LE(bottom, 40);
    EXPECT_EQ(full.left, 0) << "the rectangle is not changed";
    EXPECT_EQ(full.bottom, 31);

    // Centred: the white of the glyph lies around the middle, not at the sides.
    int left = 32, right = -1;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (GetPixel(dc, x, y) == RGB(255, 255, 255)) {
                left = x < left ? x : left;
                right = x > right ? x : right;
            }
    ASSERT_LE(left, right) << "the text is drawn";
    EXPECT_LE(std::abs((left + right) - 30), 4);

    // Clipped to the rectangle: a big glyph in the top left quarter stays there.
    Canvas clipped;
    ASSERT_TRUE(openCanvas(&clipped));
    SelectObject(clipped.dc, font);
    SetTextColor(clipped.dc, RGB(255, 255, 255));
    RECT quarter = {0, 0, 16, 16};
    EXPECT_NE(DrawTextA(clipped.dc, "W", 1, &quarter, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (x >= 16 || y >= 16) {
                ASSERT_NE(GetPixel(clipped.dc, x, y), RGB(255, 255, 255)) << x << "," << y;
            }
    SelectObject(clipped.dc, previousFont);
    closeCanvas(&clipped);

    EXPECT_EQ(DrawTextA(nullptr, "W", -1, &full, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 0);
    SelectObject(dc, previousFont);
    DeleteObject(font);
    closeCanvas(&canvas);
}

TEST(Icons, InfoAndIndirectCreationWorkOnCopies)
{
    HICON lamp = idleLamp();
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(idleLamp(), lamp) << "a loaded icon is shared";
    IconPixels original = readIconPixels(lamp);
    ASSERT_EQ(original.width, 32);

    // Drawing on the copies changes neither the icon nor a later copy.
    Canvas canvas;
    ASSERT_TRUE(openCanvas(&canvas));
    HBRUSH brush = CreateSolidBrush(kRed);
    RECT rect = {8, 8, 24, 24};
    FillRect(canvas.dc, &rect, brush);
    DeleteObject(brush);
    SelectObject(canvas.dc, canvas.previous);
    canvas.previous = nullptr;
    EXPECT_TRUE(readIconPixels(lamp) == original);

    // A new icon holds copies: the bitmaps may go at once.
    HICON made = CreateIconIndirect(&canvas.info);
    ASSERT_NE(made, nullptr);
    closeCanvas(&canvas);
    IconPixels drawn = readIconPixels(made);
    ASSERT_EQ(drawn.width, 32);
    EXPECT_EQ(drawn.at(8, 8), kRed);
    EXPECT_EQ(drawn.at(24, 24), kIdleFill);
    EXPECT_EQ(drawn.at(0, 0), kBlack);
    EXPECT_EQ(drawn.mask, original.mask);

    EXPECT_TRUE(DestroyIcon(made));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DestroyIcon(made));
    ICONINFO info{};
    EXPECT_FALSE(GetIconInfo(made, &info));

    // A shared icon outlives DestroyIcon.
    DestroyIcon(lamp);
    EXPECT_TRUE(readIconPixels(idleLamp()) == original);
}
