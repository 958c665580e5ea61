#include "voxel/GridSetup.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "core/Error.hpp"

namespace shapescale {

void setUpGrid(const float* bboxMin, const float* bboxMax, float h, int* dims, float* origin) {
    for (int a = 0; a < 3; ++a) {
        origin[a] = bboxMin[a] - (h + h);
        const float extent = (bboxMax[a] - origin[a]) / h;
        // 2^31 - 128 is the largest float below INT_MAX - 3; beyond it (or for
        // NaN) the truncation would not be defined.
        if (!(extent >= 0.0f && extent <= 2147483520.0f)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "the voxel grid cannot be laid out: %g voxels along axis %d at grid "
                          "resolution %g; choose a coarser grid resolution (-r)",
                          static_cast<double>(extent), a, static_cast<double>(h));
            throw Error(text);
        }
        dims[a] = static_cast<int>(extent) + 3;
    }
}

std::vector<unsigned char> allocateLabelVolume(const int* dims, unsigned char fill) {
    const std::string grid = gridText(dims);
    std::size_t count = 0;
    if (__builtin_mul_overflow(
            static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]),
            static_cast<std::size_t>(dims[2]), &count))
        throw Error("the voxel grid of " + grid + " voxels is too large to be counted");
    try {
        return std::vector<unsigned char>(count, fill);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    throw OutOfMemory("the label volume of the voxel grid of " + grid +
                      " voxels does not fit in memory");
}

}  // namespace shapescale
