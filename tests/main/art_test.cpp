// The icon and the logo that the build draws for the window: the formats the resource compiler
// and LoadImageA take, at the sizes the window expects.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

struct Colour {
    uint8_t r, g, b;
};

// Pixel (x, y), y counted from the top, of a bottom-up 24-bit bitmap whose pixels start at
// `pixels`.
Colour PixelAt(const std::vector<uint8_t>& b, size_t pixels, int width, int height, int x, int y) {
    const size_t row = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    const size_t at = pixels + row * static_cast<size_t>(height - 1 - y) + 3 * static_cast<size_t>(x);
    return {b[at + 2], b[at + 1], b[at]};
}

bool IsDark(Colour c) { return c.r < 80 && c.g < 80 && c.b < 120; }
bool IsWhite(Colour c) { return c.r == 255 && c.g == 255 && c.b == 255; }

TEST(Art, LogoIsA708By218TrueColourBitmap) {
    const std::vector<uint8_t> b = ReadAll(ART_LOGO);
    ASSERT_GE(b.size(), 54u);
    struct Field {
        size_t at;
        int bytes;
        uint32_t value;
        const char* what;
    };
    const Field fields[] = {
        {0, 2, 'B' | 'M' << 8, "signature"},
        {2, 4, 54 + 2124 * 218, "file size"},
        {10, 4, 54, "pixel offset"},
        {14, 4, 40, "info header size"},
        {18, 4, 708, "width"},
        {22, 4, 218, "height (bottom-up)"},
        {26, 2, 1, "planes"},
        {28, 2, 24, "bits per pixel"},
        {30, 4, 0, "no compression"},
    };
    for (const Field& f : fields)
        EXPECT_EQ(f.bytes == 2 ? U16(b, f.at) : U32(b, f.at), f.value) << f.what;
    ASSERT_EQ(b.size(), 54u + 2124u * 218u);

    int dark = 0, white = 0, other = 0;
    for (int y = 0; y < 218; ++y)
        for (int x = 0; x < 708; ++x) {
            const Colour c = PixelAt(b, 54, 708, 218, x, y);
            (IsDark(c) ? dark : IsWhite(c) ? white : other)++;
        }
    // Dark lettering on white with some accent.
    EXPECT_GT(white, dark);
    EXPECT_GT(dark, 708 * 218 / 20);
    EXPECT_GT(other, 0);
    const int corners[][2] = {{0, 0}, {707, 0}, {0, 217}, {707, 217}};
    for (const auto& xy : corners) EXPECT_TRUE(IsWhite(PixelAt(b, 54, 708, 218, xy[0], xy[1])));
}

TEST(Art, IconIsOne128By128TrueColourImage) {
    const std::vector<uint8_t> b = ReadAll(ART_ICON);
    const uint32_t xorBytes = 128 * 384, andBytes = 128 * 16;
    ASSERT_EQ(b.size(), 22u + 40u + xorBytes + andBytes);
    struct Field {
        size_t at;
        int bytes;
        uint32_t value;
        const char* what;
    };
    const Field fields[] = {
        {0, 2, 0, "reserved"},
        {2, 2, 1, "type icon"},
        {4, 2, 1, "one image"},
        {6, 1, 128, "width"},
        {7, 1, 128, "height"},
        {12, 2, 24, "entry bits per pixel"},
        {14, 4, 40 + xorBytes + andBytes, "image bytes"},
        {18, 4, 22, "image offset"},
        {22, 4, 40, "info header size"},
        {26, 4, 128, "bitmap width"},
        {30, 4, 256, "bitmap height (image and mask)"},
        {36, 2, 24, "bitmap bits per pixel"},
    };
    for (const Field& f : fields) {
        const uint32_t v = f.bytes == 1 ? b[f.at] : f.bytes == 2 ? U16(b, f.at) : U32(b, f.at);
        EXPECT_EQ(v, f.value) << f.what;
    }
    // The tile is dark in the middle of its frame, and the mask leaves every pixel opaque.
    EXPECT_TRUE(IsDark(PixelAt(b, 62, 128, 128, 10, 64)));
    for (size_t i = 62 + xorBytes; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << i;
}

}  // namespace
