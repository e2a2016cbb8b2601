// The layer's icons and GDI objects: the program's icons as the resources hold them, the handle
// table's refusals, the objects the drawing routines leave behind (none), and images too big
// for an icon.
#include "indicators/icon_drawing.h"
#include "platform/gdi_objects.h"
#include "platform/layer_testing.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <cstring>

namespace {

const int kIconIds[] = {107, 137, 138, 139, 140, 141, 146, 147, 148};

HICON programIcon(int id)
{
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

} // namespace

TEST(LayerIcons, ProgramIconsAreOpaque32x32WithABlackMargin)
{
    for (int id : kIconIds) {
        SCOPED_TRACE(testing::Message() << "icon " << id);
        HICON icon = programIcon(id);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(programIcon(id), icon) << "shared: the same handle each time";
        EXPECT_LT(reinterpret_cast<uintptr_t>(icon), uintptr_t(0x80000000)) << "fits a LONG";
        QImage picture = layerIconImage(icon);
        ASSERT_EQ(picture.width(), 32);
        ASSERT_EQ(picture.height(), 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                QRgb pixel = picture.pixel(x, y);
                ASSERT_EQ(qAlpha(pixel), 255) << x << "," << y;
                bool margin = x < 2 || y < 2 || x > 29 || y > 29;
                if (margin) {
                    ASSERT_EQ(pixel & 0xFFFFFF, 0u) << x << "," << y;
                }
            }
        QRgb inside = picture.pixel(16, 8);
        EXPECT_NE(inside & 0xFFFFFF, 0u) << "a lamp inside the margin";
    }
    // The idle lamp of the standard set, filled as drawn.
    EXPECT_EQ(layerIconImage(programIcon(147)).pixel(10, 10), qRgb(0, 64, 128));
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(999)), nullptr);
}

TEST(LayerIcons, StaleAndForeignHandlesAreRefused)
{
    HICON lamp = programIcon(147);
    ASSERT_NE(lamp, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(lamp, &info));
    HICON made = CreateIconIndirect(&info);
    ASSERT_NE(made, nullptr);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    ASSERT_TRUE(DestroyIcon(made));

    // A new object may take the freed slot; the old handle still names nothing.
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_FALSE(DestroyIcon(made));
    EXPECT_TRUE(layerIconImage(made).isNull());
    EXPECT_FALSE(GetIconInfo(made, &info));

    // Handles of the wrong kind, and numbers that were never handles.
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(brush)));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(lamp)));
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(brush), brush), nullptr);
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(uintptr_t(0x7FFF1234))));
    EXPECT_FALSE(DeleteObject(HGDI_ERROR));
    EXPECT_TRUE(DeleteObject(brush));
}

TEST(LayerIcons, DrawingLeavesNoObjectsBehindOnAnyPath)
{
    HICON templateMeter = programIcon(148);
    ASSERT_NE(templateMeter, nullptr);
    GeneralOptions options{};
    options.colorRam = {64, 64, 255};
    Unit unit{};
    unit.kind = KIND_RAM;
    unit.percent = 30;

    int objects = layerGdiObjectCount();
    int icons = layerIconCount();

    HICON label = drawLabelIcon(templateMeter, "C");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(layerGdiObjectCount(), objects);
    EXPECT_EQ(layerIconCount(), icons + 1);

    HICON meter = drawMeterIcon(label, &unit, &options);
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(layerGdiObjectCount(), objects);
    EXPECT_EQ(layerIconCount(), icons + 1) << "the given icon was released";

    // DrawTextA answers 0 for an empty text: the routine fails after it has made its DC, font
    // and bitmap copies, and must give them all back.
    EXPECT_EQ(drawLabelIcon(templateMeter, ""), nullptr);
    EXPECT_EQ(layerGdiObjectCount(), objects);
    EXPECT_EQ(layerIconCount(), icons + 1);

    // A failed meter keeps the icon it was given.
    EXPECT_EQ(drawMeterIcon(reinterpret_cast<HICON>(uintptr_t(0x7FFF1234)), &unit, &options), nullptr);
    EXPECT_EQ(layerIconCount(), icons + 1);

    EXPECT_TRUE(DestroyIcon(meter));
    EXPECT_EQ(layerIconCount(), icons);
    EXPECT_EQ(layerGdiObjectCount(), objects);
}

namespace {

// A .res image as windres writes one: an empty first entry, then each entry's 32-byte header
// (numeric type and name) and its data, padded to 4 bytes.
void addEntry(QByteArray &res, uint16_t type, uint16_t name, const QByteArray &data)
{
    auto put32 = [&](uint32_t value) { res.append(reinterpret_cast<const char *>(&value), 4); };
    auto put16 = [&](uint16_t value) { res.append(reinterpret_cast<const char *>(&value), 2); };
    put32(uint32_t(data.size()));
    put32(32);
    put16(0xFFFF), put16(type), put16(0xFFFF), put16(name);
    put32(0), put16(0x1030), put16(0x409), put32(0), put32(0);
    res.append(data);
    res.append(QByteArray((4 - data.size() % 4) % 4, '\0'));
}

// Group 148 of one PNG image of side x side pixels.
QByteArray pngIconResources(int side)
{
    QImage picture(side, side, QImage::Format_ARGB32);
    picture.fill(qRgba(0, 64, 128, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    // GRPICONDIR: one entry, 0 standing for 256 and more, image 1.
    QByteArray group("\0\0\1\0\1\0", 6);
    uint8_t entry[14] = {uint8_t(side < 256 ? side : 0), uint8_t(side < 256 ? side : 0), 0, 0, 1, 0, 32, 0};
    uint32_t bytes = uint32_t(png.size());
    std::memcpy(entry + 8, &bytes, 4);
    entry[12] = 1;
    group.append(reinterpret_cast<const char *>(entry), 14);
    QByteArray res;
    addEntry(res, 0, 0, {});
    addEntry(res, 3, 1, png);
    addEntry(res, 14, 148, group);
    return res;
}

} // namespace

TEST(LayerIcons, AnImageIsAtMost256Square)
{
    // As in a bitmap image, a PNG's size is read before its pixels: a 60 kB PNG of 4000x4000
    // took 2.6 s and 460 MB to load, to end as 32x32.
    int icons = layerIconCount();
    QByteArray res = pngIconResources(256);
    HICON icon = layerLoadIconIn(reinterpret_cast<const unsigned char *>(res.data()), size_t(res.size()), 148);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(layerIconImage(icon).size(), QSize(32, 32));
    EXPECT_EQ(layerIconImage(icon).pixel(16, 16), qRgb(0, 64, 128));
    EXPECT_TRUE(DestroyIcon(icon));

    res = pngIconResources(257);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(layerLoadIconIn(reinterpret_cast<const unsigned char *>(res.data()), size_t(res.size()), 148), nullptr);
    EXPECT_EQ(GetLastError(), 1812u); // ERROR_RESOURCE_DATA_NOT_FOUND
    EXPECT_EQ(layerIconCount(), icons);
}
