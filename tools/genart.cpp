// Writes the program's icon and logo: genart ICON.ico LOGO.bmp.
// Both are drawn here from a small built-in block font, so the build needs no artwork files:
// the icon is 128 x 128 and the logo 708 x 218, both 24 bits per pixel, as the window expects.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kInk = {22, 42, 84};       // dark navy of the lettering
constexpr Rgb kAccent = {232, 96, 24};   // orange accent
constexpr Rgb kShade = {150, 165, 190};  // light rule under the lettering

// Glyphs of the block font, 5 columns x 7 rows, 'X' set.
struct Glyph {
    char c;
    const char* rows[7];
};

// clang-format off
constexpr Glyph kFont[] = {
    {'K', {"X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"}},
    {'o', {".....", ".....", ".XXX.", "X...X", "X...X", "X...X", ".XXX."}},
    {'r', {".....", ".....", "X.XX.", "XX..X", "X....", "X....", "X...."}},
    {'v', {".....", ".....", "X...X", "X...X", "X...X", ".X.X.", "..X.."}},
    {'e', {".....", ".....", ".XXX.", "X...X", "XXXXX", "X....", ".XXXX"}},
    {'l', {".XX..", "..X..", "..X..", "..X..", "..X..", "..X..", ".XXX."}},
};
// clang-format on

constexpr int kGlyphCols = 5;
constexpr int kGlyphRows = 7;

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

// A picture with its top row first.
struct Picture {
    int width, height;
    std::vector<Rgb> px;
    Picture(int w, int h, Rgb fill) : width(w), height(h), px(static_cast<size_t>(w) * h, fill) {}
    void Fill(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height)
                    px[static_cast<size_t>(y) * width + x] = c;
    }
};

// Draws text with each font pixel a cell x cell square; returns the x after the last glyph.
int DrawText(Picture& p, const char* text, int x, int y, int cell, Rgb c) {
    for (; *text != '\0'; ++text) {
        const Glyph* g = FindGlyph(*text);
        if (g == nullptr) continue;
        for (int row = 0; row < kGlyphRows; ++row)
            for (int col = 0; col < kGlyphCols; ++col)
                if (g->rows[row][col] == 'X')
                    p.Fill(x + col * cell, y + row * cell, x + (col + 1) * cell,
                           y + (row + 1) * cell, c);
        x += (kGlyphCols + 1) * cell;
    }
    return x - cell;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// BITMAPINFOHEADER of a 24-bit picture; heightRows is doubled for an icon's XOR and AND masks.
void PutInfoHeader(std::vector<uint8_t>& out, const Picture& p, int heightRows,
                   uint32_t imageBytes) {
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(p.width));
    Put32(out, static_cast<uint32_t>(heightRows));
    Put16(out, 1);   // planes
    Put16(out, 24);  // bits per pixel
    Put32(out, 0);   // BI_RGB
    Put32(out, imageBytes);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
}

// Pixel rows bottom-up, blue-green-red, each row padded to 4 bytes.
void PutPixels(std::vector<uint8_t>& out, const Picture& p) {
    const int pad = (4 - (p.width * 3) % 4) % 4;
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const Rgb& c = p.px[static_cast<size_t>(y) * p.width + x];
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
        for (int i = 0; i < pad; ++i) out.push_back(0);
    }
}

uint32_t RowBytes(int width, int bits) { return static_cast<uint32_t>((width * bits + 31) / 32 * 4); }

std::vector<uint8_t> BmpFile(const Picture& p) {
    const uint32_t pixelBytes = RowBytes(p.width, 24) * static_cast<uint32_t>(p.height);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 14 + 40 + pixelBytes);
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, p, p.height, pixelBytes);
    PutPixels(out, p);
    return out;
}

std::vector<uint8_t> IcoFile(const Picture& p) {
    const uint32_t xorBytes = RowBytes(p.width, 24) * static_cast<uint32_t>(p.height);
    const uint32_t andBytes = RowBytes(p.width, 1) * static_cast<uint32_t>(p.height);
    std::vector<uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon
    Put16(out, 1);  // one image
    out.push_back(static_cast<uint8_t>(p.width));
    out.push_back(static_cast<uint8_t>(p.height));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 40 + xorBytes + andBytes);
    Put32(out, 6 + 16);
    PutInfoHeader(out, p, 2 * p.height, xorBytes + andBytes);
    PutPixels(out, p);
    out.insert(out.end(), andBytes, 0);  // fully opaque
    return out;
}

Picture Logo() {
    Picture p(708, 218, kWhite);
    const int cell = 16;
    const int textWidth = 6 * (kGlyphCols + 1) * cell - cell;  // 560
    const int x = (p.width - textWidth) / 2;
    const int y = 34;
    p.Fill(x - 40, y, x - 24, y + kGlyphRows * cell, kAccent);  // accent stripe before the name
    DrawText(p, "Korvel", x, y, cell, kInk);
    const int ruleY = y + kGlyphRows * cell + 22;
    p.Fill(x, ruleY, x + textWidth, ruleY + 6, kShade);
    p.Fill(x, ruleY + 14, x + textWidth / 3, ruleY + 30, kAccent);
    return p;
}

Picture Icon() {
    Picture p(128, 128, kWhite);
    // A rounded navy tile: corners cut in steps.
    p.Fill(4, 4, 124, 124, kInk);
    for (int i = 0; i < 6; ++i) {
        const int cut = 6 - i;
        p.Fill(4, 4 + i, 4 + cut, 5 + i, kWhite);
        p.Fill(124 - cut, 4 + i, 124, 5 + i, kWhite);
        p.Fill(4, 123 - i, 4 + cut, 124 - i, kWhite);
        p.Fill(124 - cut, 123 - i, 124, 124 - i, kWhite);
    }
    const int cell = 12;
    DrawText(p, "K", (128 - kGlyphCols * cell) / 2, 14, cell, kWhite);
    p.Fill(22, 106, 106, 114, kAccent);
    return p;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: genart ICON.ico LOGO.bmp\n");
        return 2;
    }
    if (!WriteFile(argv[1], IcoFile(Icon()))) {
        std::fprintf(stderr, "genart: cannot write '%s'\n", argv[1]);
        return 1;
    }
    if (!WriteFile(argv[2], BmpFile(Logo()))) {
        std::fprintf(stderr, "genart: cannot write '%s'\n", argv[2]);
        return 1;
    }
    return 0;
}
