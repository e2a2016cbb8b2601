// The drawn lamp labels and meter bars, pixel by pixel, on the program's own templates.
#include "indicators/icon_drawing.h"
#include "res/resource.h"
#include "tests/support/icon_pixels.h"

#include <gtest/gtest.h>

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kBackground = RGB(64, 0, 64);
constexpr COLORREF kRam = RGB(64, 64, 255);
constexpr COLORREF kVram = RGB(255, 128, 0);
constexpr DWORD kErrorCallNotImplemented = 120;

GeneralOptions defaultColours()
{
    GeneralOptions options{};
    options.colorBackground = {64, 0, 64};
    options.colorRam = {64, 64, 255};
    options.colorVram = {255, 128, 0};
    return options;
}

HICON programIcon(int id)
{
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

// A meter icon as the tray draws its first one: a labelled copy of the meter template.
HICON firstMeterIcon()
{
    HICON templateMeter = programIcon(148);
    return templateMeter ? drawLabelIcon(templateMeter, "-") : nullptr;
}

int brightness(COLORREF color)
{
    return GetRValue(color) + GetGValue(color) + GetBValue(color);
}

// Rows 0 to 2 and 30 lie above and below any digit; in between the number may cover the bar.
bool clearOfText(int y)
{
    return y <= 2 || y == 30;
}

} // namespace

TEST(MeterIcon, BarRisesWithPercentOverBackgroundAndKeepsMargin)
{
    GeneralOptions options = defaultColours();
    struct Case {
        int32_t kind;
        int32_t percent;
        int top;          // first row of the bar; 31 = no bar
        COLORREF bar;
    } cases[] = {
        /* 0 */ {KIND_RAM, 0, 31, kRam},
        /* 1 */ {KIND_RAM, 50, 16, kRam},
        /* 2 */ {KIND_RAM, 100, 0, kRam},
        /* 3 */ {KIND_VIRTUAL_RAM, 100, 0, kVram},
        /* 4 */ {3, 100, 31, kRam}, // a drive kind has no bar
        /* 5 */ {KIND_RAM, -1, 31, kRam}, // unknown load: no bar, no fault
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        HICON given = firstMeterIcon();
        ASSERT_NE(given, nullptr);
        Unit unit{};
        unit.kind = c.kind;
        unit.percent = c.percent;
        HICON meter = drawMeterIcon(given, &unit, &options);
        ASSERT_NE(meter, nullptr);
        ASSERT_NE(meter, given);
        EXPECT_FALSE(DestroyIcon(given)) << "the given icon is released when the new one is made";

        IconPixels pixels = readIconPixels(meter);
        ASSERT_EQ(pixels.width, 32);
        ASSERT_EQ(pixels.height, 32);
        int exact = 0, text = 0;
        for (int y = 0; y < 31; ++y) {
            for (int x = 0; x < 31; ++x) {
                COLORREF expected = y >= c.top ? c.bar : kBackground;
                COLORREF pixel = pixels.at(x, y);
                if (clearOfText(y)) {
                    EXPECT_EQ(pixel, expected) << x << "," << y;
                }
                if (pixel == expected)
                    ++exact;
                else if (brightness(pixel) > brightness(expected))
                    ++text; // the number, lighter than what lies under it
                else
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << pixel;
            }
        }
        EXPECT_GT(exact, 31 * 31 / 2);
        EXPECT_GT(text, 10) << "the percentage is written";
        for (int n = 0; n < 32; ++n) {
            EXPECT_EQ(pixels.at(31, n), kBlack) << "last column, row " << n;
            EXPECT_EQ(pixels.at(n, 31), kBlack) << "last row, column " << n;
        }
        for (COLORREF bit : pixels.mask)
            ASSERT_EQ(bit, kBlack) << "fully opaque";
        EXPECT_TRUE(DestroyIcon(meter));
    }
}

TEST(LabelIcon, DrawsOnCopiesAndLeavesTheTemplateUsable)
{
    HICON templateIdle = programIcon(147);
    ASSERT_NE(templateIdle, nullptr);
    IconPixels before = readIconPixels(templateIdle);
    ASSERT_EQ(before.width, 32);

    HICON first = drawLabelIcon(templateIdle, "C");
    HICON second = drawLabelIcon(templateIdle, "C");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first, templateIdle);
    EXPECT_NE(second, templateIdle);

    IconPixels labelled = readIconPixels(first);
    EXPECT_TRUE(readIconPixels(second) == labelled) << "the same label draws the same picture";
    EXPECT_TRUE(readIconPixels(templateIdle) == before) << "the template is left as it was";
    EXPECT_EQ(labelled.mask, before.mask);

    int changed = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (labelled.at(x, y) != before.at(x, y)) {
                ++changed;
                EXPECT_GT(brightness(labelled.at(x, y)), brightness(before.at(x, y)));
                EXPECT_TRUE(x < 31 && y < 31) << "the last row and column keep the template's";
            }
    EXPECT_GT(changed, 10) << "the label is drawn";

    EXPECT_TRUE(DestroyIcon(first));
    EXPECT_TRUE(DestroyIcon(second));
    EXPECT_TRUE(readIconPixels(templateIdle) == before);
    EXPECT_NE(drawLabelIcon(templateIdle, "D"), nullptr) << "the template still draws";
}

TEST(IconDrawing, FailsWithNullWithoutTouchingItsInput)
{
    GeneralOptions options = defaultColours();
    Unit unit{};
    unit.kind = KIND_RAM;
    unit.percent = 40;
    EXPECT_EQ(drawLabelIcon(nullptr, "C"), nullptr);
    EXPECT_EQ(drawMeterIcon(nullptr, &unit, &options), nullptr);

    // An icon already released: nothing to draw from, and nothing released twice.
    HICON gone = firstMeterIcon();
    ASSERT_NE(gone, nullptr);
    ASSERT_TRUE(DestroyIcon(gone));
    EXPECT_EQ(drawMeterIcon(gone, &unit, &options), nullptr);
}

TEST(MeterIcon, ThousandRedrawsHoldAConstantNumberOfHandles)
{
    GeneralOptions options = defaultColours();
    Unit unit{};
    unit.kind = KIND_RAM;
    HICON meter = firstMeterIcon();
    ASSERT_NE(meter, nullptr);
    meter = drawMeterIcon(meter, &unit, &options);
    ASSERT_NE(meter, nullptr);

    SetLastError(0xdeadbeef);
    DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (gdiBefore == 0 && GetLastError() == kErrorCallNotImplemented)
        GTEST_SKIP() << "GetGuiResources is not implemented here (Wine)";

    for (int i = 1; i <= 1000; ++i) {
        unit.percent = i % 101;
        HICON next = drawMeterIcon(meter, &unit, &options);
        ASSERT_NE(next, nullptr) << "redraw " << i;
        ASSERT_NE(next, meter) << "redraw " << i;
        meter = next;
    }
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
    EXPECT_TRUE(DestroyIcon(meter));
}
