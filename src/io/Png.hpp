#pragma once
// 8-bit RGB pictures and their PNG files.

#include <cstdint>
#include <string>
#include <vector>

namespace shapescale {

/// An RGB picture, rows from the top, 3 bytes per pixel.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  ///< width*height*3, row-major

    RgbImage() = default;
    RgbImage(int w, int h, std::uint8_t grey)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3, grey) {}
    /// Sets pixel (x, y), y from the top; pixels outside the picture are ignored.
    void set(int x, int y, const std::uint8_t* rgb) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = rgb[0];
        p[1] = rgb[1];
        p[2] = rgb[2];
    }
};

/// Writes `image` as an 8-bit RGB PNG file (libpng), replacing `path`.
/// @throw Error when libpng fails or the file cannot be written; no partial
///        file is left under `path`
void savePng(const std::string& path, const RgbImage& image);

}  // namespace shapescale
