#include "filters/FilterWorkspace.hpp"

#include <omp.h>

#include <algorithm>
#include <type_traits>
#include <utility>

#include "core/Grid.hpp"
#include "filters/RowSink.hpp"

namespace shapescale {

namespace {

// Every buffer that reserve() sizes, as visit(&FilterWorkspace::member, count):
// reserve() and reservedBytes() read the same list.
template <class Visit>
void eachReservedBuffer(const int* dims, bool temporaries, Visit&& visit) {
    if (hasNoVoxel(dims)) return;
    const std::size_t nx = static_cast<std::size_t>(dims[0]);
    const std::size_t ny = static_cast<std::size_t>(dims[1]);
    const std::size_t nz = static_cast<std::size_t>(dims[2]);
    const std::size_t rows = ny * nz;
    const std::size_t threads = static_cast<std::size_t>(omp_get_max_threads());
    if (temporaries) {
        visit(&FilterWorkspace::t1, voxelCount(dims));
        visit(&FilterWorkspace::t2, voxelCount(dims));
    }
    visit(&FilterWorkspace::live1, rows);
    visit(&FilterWorkspace::live2, rows);
    visit(&FilterWorkspace::rowStart, rows + 1);
    visit(&FilterWorkspace::rowAbsSum, rows);
    visit(&FilterWorkspace::liveRows, rows);
    visit(&FilterWorkspace::nextLive, rows + nz);
    // The ball's |b| and |c| stay below the extents, its padding below nx.
    visit(&FilterWorkspace::halfWidth, rows);
    visit(&FilterWorkspace::difference, threads * FilterWorkspace::BALL_ROW_BLOCK * (3 * nx + 1));
    visit(&FilterWorkspace::runningSum, threads * nx);
    visit(&FilterWorkspace::nonZeroCount, threads * nx);
    visit(&FilterWorkspace::negativeCount, threads * nx);
}

}  // namespace

void FilterWorkspace::reserve(const int* dims, bool temporaries) {
    eachReservedBuffer(dims, temporaries,
                       [this](auto member, std::size_t count) { atLeast(this->*member, count); });
}

double FilterWorkspace::reservedBytes(const int* dims, bool temporaries) {
    double bytes = 0;
    eachReservedBuffer(dims, temporaries, [&bytes](auto member, std::size_t count) {
        using Buffer = std::remove_reference_t<decltype(std::declval<FilterWorkspace&>().*member)>;
        using Element = typename Buffer::value_type;
        bytes += static_cast<double>(sizeof(Element)) * static_cast<double>(count);
    });
    return bytes;
}

void sinkEveryRow(const int* dims, const RowSink& sink) {
    if (!sink || hasNoVoxel(dims)) return;
    const auto rows = static_cast<std::int64_t>(dims[1]) * dims[2];
#pragma omp parallel for schedule(static) if (threaded(dims))
    for (std::int64_t row = 0; row < rows; ++row) sink(static_cast<std::size_t>(row));
}

}  // namespace shapescale
