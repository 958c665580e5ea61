#include "voxel/Grid.hpp"

#include <string>

#include "driver/Error.hpp"

namespace shapescale {

void setUpGrid(const float* bboxMin, const float* bboxMax, float h, int* dims, float* origin) {
    for (int a = 0; a < 3; ++a) {
        origin[a] = bboxMin[a] - (h + h);
        const float extent = (bboxMax[a] - origin[a]) / h;
        // 2^31 - 128 is the largest float below INT_MAX - 3; beyond it (or for
        // NaN) the truncation would not be defined.
        if (!(extent >= 0.0f && extent <= 2147483520.0f))
            throw Error("the voxel grid cannot be laid out: " + std::to_string(extent) +
                        " voxels along axis " + std::to_string(a) + " at grid resolution " +
                        std::to_string(h));
        dims[a] = static_cast<int>(extent) + 3;
    }
}

}  // namespace shapescale
