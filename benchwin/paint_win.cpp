// The tiles, drawn large and in solid colours to be read from a distance. Painted into a bitmap
// first, so nothing flickers.
#include "benchwin/paint_win.h"

#include "benchwin/layout.h"

namespace plcbench {

namespace {

struct Colours {
    COLORREF back, text;
};

Colours ColoursOf(TileColour c) {
    switch (c) {
        case TileColour::BLUE:
            return {RGB(0, 84, 166), RGB(255, 255, 255)};
        case TileColour::GREEN:
            return {RGB(0, 128, 48), RGB(255, 255, 255)};
        case TileColour::RED:
            return {RGB(192, 0, 0), RGB(255, 255, 255)};
        case TileColour::AMBER:
            return {RGB(255, 176, 0), RGB(0, 0, 0)};
        case TileColour::GREY:
            break;
    }
    return {RGB(96, 96, 96), RGB(255, 255, 255)};
}

int Points(int pt, UINT dpi) {
    return MulDiv(pt, static_cast<int>(dpi), 72);
}

HFONT Font(int pixels, bool bold) {
    return CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Arial");
}

// Text in a box, one line, cut with an ellipsis; flags add the alignment.
void Text(HDC dc, const std::wstring& text, RECT box, UINT flags) {
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              flags | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
}

// The largest bold font up to pixels high in which text fits width.
HFONT FittingFont(HDC dc, const std::wstring& text, int pixels, int width) {
    HFONT font = Font(pixels, true);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    if (size.cx <= width || size.cx == 0) return font;
    DeleteObject(font);
    int smaller = MulDiv(pixels, width, static_cast<int>(size.cx));
    return Font(smaller < 6 ? 6 : smaller, true);
}

void PaintTile(HDC dc, const Box& b, const Tile& tile, uint64_t nowMs) {
    TileView v = ViewOf(tile, nowMs);
    Colours c = ColoursOf(v.colour);
    RECT r{b.x, b.y, b.x + b.width, b.y + b.height};
    HBRUSH back = CreateSolidBrush(c.back);
    FillRect(dc, &r, back);
    DeleteObject(back);
    SetTextColor(dc, c.text);
    SetBkMode(dc, TRANSPARENT);

    int h = b.height, pad = h / 14 > 4 ? h / 14 : 4;
    int left = b.x + pad, right = b.x + b.width - pad, width = right - left;
    int y = b.y + pad / 2;
    int line1 = h * 17 / 100, line2 = h * 24 / 100, line3 = h * 15 / 100, bar = h * 11 / 100,
        line5 = h * 14 / 100;

    // The port's name, and the unit on it.
    HFONT nameFont = Font(line1 * 85 / 100, true);
    HGDIOBJ old = SelectObject(dc, nameFont);
    Text(dc, Wide(tile.port), {left, y, right, y + line1}, DT_LEFT);
    SelectObject(dc, old);
    HFONT unitFont = Font(line1 * 75 / 100, false);
    SelectObject(dc, unitFont);
    Text(dc, Wide(v.unit), {left, y, right, y + line1}, DT_RIGHT);
    y += line1;

    // The state in words, as large as the tile allows.
    std::wstring state = Wide(v.state);
    HFONT stateFont = FittingFont(dc, state, line2 * 85 / 100, width);
    SelectObject(dc, stateFont);
    Text(dc, state, {left, y, right, y + line2}, DT_LEFT);
    y += line2;

    HFONT detailFont = Font(line3 * 80 / 100, false);
    SelectObject(dc, detailFont);
    if (v.bar) {
        std::wstring figures = std::to_wstring(v.percent) + L"%";
        if (!v.timeLeft.empty()) figures += L"   " + Wide(v.timeLeft);
        Text(dc, Wide(v.detail), {left, y, right, y + line3}, DT_LEFT);
        Text(dc, figures, {left, y, right, y + line3}, DT_RIGHT);
        y += line3;
        RECT frame{left, y + bar / 6, right, y + bar - bar / 6};
        HBRUSH white = CreateSolidBrush(c.text);
        FrameRect(dc, &frame, white);
        RECT filled = frame;
        filled.right = frame.left + (frame.right - frame.left) * v.percent / 100;
        FillRect(dc, &filled, white);
        DeleteObject(white);
        y += bar;
    } else {
        // A failure's message may need two lines: it has the bar's room too.
        RECT box{left, y, right, y + line3 + bar};
        std::wstring detail = Wide(v.detail);
        DrawTextW(dc, detail.c_str(), static_cast<int>(detail.size()), &box,
                  DT_LEFT | DT_WORDBREAK | DT_END_ELLIPSIS | DT_NOPREFIX);
        y += line3 + bar;
    }
    Text(dc, Wide(v.tally), {left, y, right, y + line5}, DT_LEFT);
    SelectObject(dc, old);
    for (HFONT f : {nameFont, unitFont, stateFont, detailFont}) DeleteObject(f);
}

}  // namespace

std::wstring Wide(const std::string& text) {
    if (text.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

void PaintBench(HDC dc, const RECT& area, const BenchPicture& p) {
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    RECT all{0, 0, width, height};
    FillRect(mem, &all, GetSysColorBrush(COLOR_BTNFACE));

    auto boxes = TileGrid(static_cast<int>(p.tiles->size()), width, height, Points(6, p.dpi));
    for (size_t i = 0; i < boxes.size(); ++i) PaintTile(mem, boxes[i], (*p.tiles)[i], p.nowMs);

    BitBlt(dc, area.left, area.top, width, height, mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(mem);
}

}  // namespace plcbench
