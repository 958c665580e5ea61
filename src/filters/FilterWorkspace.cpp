#include "filters/FilterWorkspace.hpp"

#include <omp.h>

#include <algorithm>

#include "core/Grid.hpp"
#include "filters/RowSink.hpp"

namespace shapescale {

void FilterWorkspace::reserve(const int* dims, bool temporaries) {
    if (hasNoVoxel(dims)) return;
    const std::size_t nx = static_cast<std::size_t>(dims[0]);
    const std::size_t ny = static_cast<std::size_t>(dims[1]);
    const std::size_t nz = static_cast<std::size_t>(dims[2]);
    const std::size_t rows = ny * nz;
    const std::size_t threads = static_cast<std::size_t>(omp_get_max_threads());
    if (temporaries) {
        atLeast(t1, voxelCount(dims));
        atLeast(t2, voxelCount(dims));
    }
    atLeast(live1, rows);
    atLeast(live2, rows);
    atLeast(rowStart, rows + 1);
    atLeast(rowAbsSum, rows);
    atLeast(liveRows, rows);
    atLeast(nextLive, rows + nz);
    // The ball's |b| and |c| stay below the extents, its padding below nx.
    atLeast(halfWidth, rows);
    atLeast(difference, threads * BALL_ROW_BLOCK * (3 * nx + 1));
    atLeast(runningSum, threads * nx);
    atLeast(nonZeroCount, threads * nx);
    atLeast(negativeCount, threads * nx);
}

void sinkEveryRow(const int* dims, const RowSink& sink) {
    if (!sink || hasNoVoxel(dims)) return;
    const auto rows = static_cast<std::int64_t>(dims[1]) * dims[2];
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t row = 0; row < rows; ++row) sink(static_cast<std::size_t>(row));
}

}  // namespace shapescale
