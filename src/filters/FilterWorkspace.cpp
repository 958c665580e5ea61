#include "filters/FilterWorkspace.hpp"

#include "core/Grid.hpp"

namespace shapescale {

void FilterWorkspace::reserve(const int* dims) {
    if (hasNoVoxel(dims)) return;
    const std::size_t voxels = voxelCount(dims);
    const std::size_t rows = static_cast<std::size_t>(dims[1]) * static_cast<std::size_t>(dims[2]);
    atLeast(t1, voxels);
    atLeast(t2, voxels);
    atLeast(live1, rows);
    atLeast(live2, rows);
    atLeast(rowStart, rows + 1);
    atLeast(rowAbsSum, rows);
    atLeast(liveRows, rows);
    atLeast(nextLive, rows + static_cast<std::size_t>(dims[2]));
}

}  // namespace shapescale
