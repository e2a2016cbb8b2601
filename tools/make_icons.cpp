// Build tool: draws the nine lamp and meter icons as icon_<id>.ico into a folder.
//   make_icons FOLDER
// Each file holds one 32x32 image of 256 colours with an empty AND mask (no transparent
// pixel): a 2-pixel black margin around a lamp with a 2-pixel bevel.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int SIZE = 32;

// Palette indices: the 16 standard colours, then the idle lamp's dark blue. The other
// entries of the 256 stay black.
enum Colour : uint8_t {
    BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, LIGHT_GREY,
    DARK_GREY, RED, GREEN, YELLOW, BLUE, FUCHSIA, AQUA, WHITE, DARK_BLUE,
};
constexpr uint8_t PALETTE[][3] = {  // red, green, blue
    {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}, {0, 64, 128},
};

struct Image {
    uint8_t pixel[SIZE][SIZE] = {};  // [row][column], row 0 at the top; all black
};

// Rectangles as Windows gives them: left and top inside, right and bottom outside.
void fill(Image &image, int left, int top, int right, int bottom, uint8_t colour)
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            image.pixel[y][x] = colour;
}

// A raised or sunken 2-pixel edge around a fill, drawn as DrawEdge does: the top and left
// lines stop one pixel short, so the corners at top right and bottom left take the bottom
// and right colour.
void lamp(Image &image, int left, int top, int right, int bottom, uint8_t topLeft,
          uint8_t bottomRight, uint8_t inside)
{
    fill(image, left, top, right, bottom, bottomRight);
    for (int ring = 0; ring < 2; ++ring) {
        int l = left + ring, t = top + ring, r = right - ring, b = bottom - ring;
        fill(image, l, t, r - 1, t + 1, topLeft);
        fill(image, l, t, l + 1, b - 1, topLeft);
    }
    fill(image, left + 2, top + 2, right - 2, bottom - 2, inside);
}

Image squareLamp(uint8_t inside)
{
    Image image;
    lamp(image, 2, 2, SIZE - 2, SIZE - 2, DARK_GREY, LIGHT_GREY, inside);
    return image;
}

// The alternative set: a green bar above a red one, each lit (bright, white top and left
// edge, edge of its dark colour at bottom and right) or unlit (grey bevel, dark fill).
Image twoBars(bool upperLit, bool lowerLit)
{
    Image image;
    struct Bar { int top; bool lit; uint8_t bright, dark; };
    const Bar bars[] = {{2, upperLit, GREEN, DARK_GREEN}, {17, lowerLit, RED, DARK_RED}};
    for (const Bar &bar : bars) {
        if (bar.lit)
            lamp(image, 2, bar.top, SIZE - 2, bar.top + 13, WHITE, bar.dark, bar.bright);
        else
            lamp(image, 2, bar.top, SIZE - 2, bar.top + 13, DARK_GREY, LIGHT_GREY, bar.dark);
    }
    return image;
}

// The meter template: it is painted over by every meter drawing, so it only has to read
// as "no value yet".
Image meterTemplate()
{
    Image image = squareLamp(GREEN);
    for (int y = 4; y < SIZE - 4; ++y)
        for (int x = 4; x < SIZE - 4; ++x) {
            int along = x - y, across = x + y - (SIZE - 1);
            if (std::abs(along) <= 1 || std::abs(across) <= 1)
                image.pixel[y][x] = RED;
        }
    return image;
}

void put16(std::vector<uint8_t> &out, unsigned value)
{
    out.push_back(value & 0xFF);
    out.push_back(value >> 8 & 0xFF);
}

void put32(std::vector<uint8_t> &out, uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// ICONDIR, one ICONDIRENTRY, then the image: BITMAPINFOHEADER (height doubled for the
// mask), 256 RGBQUADs, XOR rows bottom-up, AND rows bottom-up (all zero).
std::vector<uint8_t> icoFile(const Image &image)
{
    constexpr uint32_t header = 40, palette = 256 * 4, xorBits = SIZE * SIZE;
    constexpr uint32_t andBits = SIZE * (SIZE / 8);  // 4 bytes a row: already 32-bit aligned
    constexpr uint32_t imageBytes = header + palette + xorBits + andBits;
    std::vector<uint8_t> out;
    put16(out, 0);           // reserved
    put16(out, 1);           // icon
    put16(out, 1);           // one image
    out.push_back(SIZE);     // width
    out.push_back(SIZE);     // height
    out.push_back(0);        // colour count: 0 means 256
    out.push_back(0);        // reserved
    put16(out, 1);           // planes
    put16(out, 8);           // bits per pixel
    put32(out, imageBytes);
    put32(out, 6 + 16);      // offset of the image

    put32(out, header);
    put32(out, SIZE);
    put32(out, 2 * SIZE);
    put16(out, 1);
    put16(out, 8);
    put32(out, 0);           // BI_RGB
    put32(out, xorBits + andBits);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);           // colours used: all 256
    put32(out, 0);
    for (int i = 0; i < 256; ++i) {
        const uint8_t *rgb = i < int(std::size(PALETTE)) ? PALETTE[i] : PALETTE[BLACK];
        out.push_back(rgb[2]);
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    for (int y = SIZE - 1; y >= 0; --y)
        out.insert(out.end(), image.pixel[y], image.pixel[y] + SIZE);
    out.insert(out.end(), andBits, 0);
    return out;
}

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons FOLDER\n");
        return 2;
    }
    const struct { int id; Image image; } icons[] = {
        {147, squareLamp(DARK_BLUE)},    // standard idle
        {137, squareLamp(GREEN)},        // standard read
        {138, squareLamp(RED)},          // standard write
        {146, squareLamp(YELLOW)},       // standard read and write
        {107, twoBars(false, false)},    // alternative idle
        {139, twoBars(true, false)},     // alternative read
        {140, twoBars(false, true)},     // alternative write
        {141, twoBars(true, true)},      // alternative read and write; the program's icon
        {148, meterTemplate()},          // meter template, both sets
    };
    for (const auto &icon : icons)
        if (!writeFile(std::string(argv[1]) + "/icon_" + std::to_string(icon.id) + ".ico",
                       icoFile(icon.image)))
            return 1;
    return 0;
}
