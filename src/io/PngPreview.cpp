#include "io/PngPreview.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace shapescale {

namespace {

constexpr int MARGIN = 10;
constexpr int TITLE_BAND = 14;
constexpr int BAR_WIDTH = 16;
constexpr int BAR_GAP = 4;
constexpr int LABEL_WIDTH = 72;
constexpr int FONT_SCALE = 2;                 // a font pixel is 2 x 2 picture pixels
constexpr int CHAR_ADVANCE = 4 * FONT_SCALE;  // 3 columns and a blank one
constexpr unsigned char BACKGROUND = 255;     // white
constexpr unsigned char TEXT[3] = {0, 0, 0};  // black
constexpr unsigned char OUTLINE[3] = {255, 255, 255};
constexpr unsigned char NOT_A_NUMBER[3] = {128, 128, 128};

// matplotlib's viridis at ten evenly spaced points; linear in between is
// within a few levels of the full table and keeps its even lightness ramp.
constexpr unsigned char VIRIDIS[10][3] = {
    {68, 1, 84},    {72, 40, 120},  {62, 74, 137},  {49, 104, 142}, {38, 130, 142},
    {31, 158, 137}, {53, 183, 121}, {109, 205, 89}, {180, 222, 44}, {253, 231, 37},
};

// 3 x 5 glyphs, one row per entry, bit 2 = left column.
struct Glyph {
    char c;
    std::uint8_t rows[5];
};
constexpr Glyph FONT[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'.', {0, 0, 0, 0, 2}}, {'-', {0, 0, 7, 0, 0}},
    {'+', {0, 2, 7, 2, 0}}, {'e', {2, 5, 7, 4, 3}}, {'J', {1, 1, 1, 5, 7}}, {'M', {5, 7, 7, 5, 5}},
    {'A', {2, 5, 7, 5, 5}}, {'P', {6, 5, 6, 4, 4}}, {'T', {7, 2, 2, 2, 2}}, {'S', {3, 4, 2, 1, 6}},
    {'C', {3, 4, 4, 4, 3}}, {'L', {4, 4, 4, 4, 7}}, {'E', {7, 4, 6, 4, 7}}, {'X', {5, 5, 2, 5, 5}},
    {'Y', {5, 5, 2, 2, 2}}, {'Z', {7, 1, 2, 4, 7}}, {'W', {5, 5, 7, 7, 5}}, {'O', {7, 5, 5, 5, 7}},
    {'R', {6, 5, 6, 5, 5}}, {'D', {6, 5, 5, 5, 6}}, {'(', {1, 2, 2, 2, 1}}, {')', {4, 2, 2, 2, 4}},
};

void drawText(RgbImage& image, int x, int y, const std::string& text) {
    for (char c : text) {
        for (const Glyph& g : FONT) {
            if (g.c != c) continue;
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if ((g.rows[row] >> (2 - col)) & 1)
                        for (int dy = 0; dy < FONT_SCALE; ++dy)
                            for (int dx = 0; dx < FONT_SCALE; ++dx)
                                image.set(x + col * FONT_SCALE + dx, y + row * FONT_SCALE + dy,
                                          TEXT);
        }
        x += CHAR_ADVANCE;
    }
}

std::string label(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

struct Range {
    double low = 0;
    double high = 1;
};

// [min(0, smallest), largest] over the finite values; a constant volume gets
// a unit-wide range so that the colour bar stays readable.
Range rangeOf(const float* values, std::size_t n) {
    double low = 0, high = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = values[i];
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (!(high > low)) high = low + 1;
    return {low, high};
}

// One slice: `across` cells to the right, `up` cells upwards; voxelAt(u, v)
// gives the volume index of slice position (u, v).
template <class Index>
void drawSlice(RgbImage& image, int left, int top, int scale, int across, int up,
               const float* values, const unsigned char* labels, Range range, Index voxelAt) {
    for (int v = 0; v < up; ++v)
        for (int u = 0; u < across; ++u) {
            const std::size_t i = voxelAt(u, v);
            unsigned char rgb[3];
            const double value = values[i];
            if (std::isfinite(value))
                viridis((value - range.low) / (range.high - range.low), rgb);
            else
                std::copy(NOT_A_NUMBER, NOT_A_NUMBER + 3, rgb);
            if (labels[i] == LABEL_OUTSIDE) {
                // Two thirds of the way to white: the shape stands out, the
                // values outside stay readable.
                for (unsigned char& c : rgb) c = static_cast<unsigned char>((c + 2 * 255) / 3);
            } else {
                const auto outside = [&](int du, int dv) {
                    const int a = u + du, b = v + dv;
                    return a < 0 || b < 0 || a >= across || b >= up ||
                           labels[voxelAt(a, b)] == LABEL_OUTSIDE;
                };
                if (outside(-1, 0) || outside(1, 0) || outside(0, -1) || outside(0, 1))
                    std::copy(OUTLINE, OUTLINE + 3, rgb);
            }
            const int x0 = left + u * scale, y0 = top + (up - 1 - v) * scale;
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx) image.set(x0 + dx, y0 + dy, rgb);
        }
}

}  // namespace

void viridis(double t, unsigned char* rgb) {
    t = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * 9.0;
    const int k = std::min(static_cast<int>(t), 8);
    const double f = t - k;
    for (int c = 0; c < 3; ++c)
        rgb[c] = static_cast<unsigned char>(
            std::lround(VIRIDIS[k][c] + f * (VIRIDIS[k + 1][c] - VIRIDIS[k][c])));
}

PreviewLayout previewLayout(const int* dims) {
    constexpr int SIDE = 320;  // pixels of the longest axis, about
    const int longest = std::max({dims[0], dims[1], dims[2], 1});
    PreviewLayout layout;
    layout.scale = std::clamp(SIDE / longest, 1, 8);
    layout.stride = longest > SIDE ? (longest + SIDE - 1) / SIDE : 1;
    for (int a = 0; a < 3; ++a) layout.cells[a] = (dims[a] + layout.stride - 1) / layout.stride;
    const int* c = layout.cells;
    layout.width = MARGIN + layout.scale * (2 * c[0] + c[1]) + 3 * MARGIN + BAR_WIDTH + BAR_GAP +
                   LABEL_WIDTH + MARGIN;
    layout.height = MARGIN + TITLE_BAND + layout.scale * std::max(c[1], c[2]) + MARGIN;
    return layout;
}

RgbImage renderPreview(const float* values, const unsigned char* labels, const Grid& grid,
                       const std::string& title) {
    const PreviewLayout layout = previewLayout(grid.dims);
    const int s = layout.scale;
    const std::size_t d = static_cast<std::size_t>(layout.stride);
    const int nx = layout.cells[0], ny = layout.cells[1], nz = layout.cells[2];
    const std::size_t cx = grid.nx() / 2, cy = grid.ny() / 2, cz = grid.nz() / 2;
    RgbImage image(layout.width, layout.height, BACKGROUND);
    const Range range = rangeOf(values, grid.voxels());
    const int top = MARGIN + TITLE_BAND;

    int left = MARGIN;
    drawText(image, left, MARGIN, "XY");
    drawSlice(image, left, top, s, nx, ny, values, labels, range, [&](int u, int v) {
        return grid.index(d * static_cast<std::size_t>(u), d * static_cast<std::size_t>(v), cz);
    });
    left += s * nx + MARGIN;
    drawText(image, left, MARGIN, "XZ");
    drawSlice(image, left, top, s, nx, nz, values, labels, range, [&](int u, int v) {
        return grid.index(d * static_cast<std::size_t>(u), cy, d * static_cast<std::size_t>(v));
    });
    left += s * nx + MARGIN;
    drawText(image, left, MARGIN, "YZ");
    drawSlice(image, left, top, s, ny, nz, values, labels, range, [&](int u, int v) {
        return grid.index(cx, d * static_cast<std::size_t>(u), d * static_cast<std::size_t>(v));
    });
    left += s * ny + MARGIN;

    // The colour bar: the largest value at the top.
    const int barHeight = s * std::max(ny, nz);
    drawText(image, left, MARGIN, title);
    for (int y = 0; y < barHeight; ++y) {
        unsigned char rgb[3];
        viridis(barHeight > 1 ? 1.0 - static_cast<double>(y) / (barHeight - 1) : 1.0, rgb);
        for (int x = 0; x < BAR_WIDTH; ++x) image.set(left + x, top + y, rgb);
    }
    const int textX = left + BAR_WIDTH + BAR_GAP;
    const int glyphHeight = 5 * FONT_SCALE;
    drawText(image, textX, top, label(range.high));
    drawText(image, textX, top + (barHeight - glyphHeight) / 2,
             label(0.5 * (range.low + range.high)));
    drawText(image, textX, top + barHeight - glyphHeight, label(range.low));
    return image;
}

}  // namespace shapescale
