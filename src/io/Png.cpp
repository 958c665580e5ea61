#include "io/Png.hpp"

#include <png.h>

#include <cstring>

#include "core/Error.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

void savePng(const std::string& path, const RgbImage& image) {
    // libpng's simplified API reports errors through the image record, not by
    // longjmp, so no C++ frame is skipped. Encoding into memory first lets
    // OutputFile do the checked, whole-or-absent write.
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    const auto stride = static_cast<png_int_32>(image.width * 3);
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), stride, nullptr))
        throw Error("cannot encode " + path + ": " + png.message);
    std::vector<unsigned char> bytes(size);
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.pixels.data(), stride,
                                   nullptr))
        throw Error("cannot encode " + path + ": " + png.message);
    OutputFile file(path);
    file.write(bytes.data(), size);
    file.close();
}

}  // namespace shapescale
