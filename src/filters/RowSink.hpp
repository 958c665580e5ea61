#pragma once
// What a filter tells its caller as its output takes its final values.

#include <cstddef>
#include <functional>

namespace shapescale {

/// Told of each row of a filter's output once the row holds its final value:
/// called once for every row (y, z) of the grid, with its index y + ny*z (its
/// voxels start at row * nx), by the thread that finished it; rows come in
/// any order, on several threads at once. A caller folds its next pass over
/// the volume into the filter's last one this way, while the row is in cache.
using RowSink = std::function<void(std::size_t row)>;

/// Every row of a grid of `dims` = {nx, ny, nz} handed to `sink` (nothing
/// when it is empty), on the filters' threads: for an output that a filter
/// leaves as it was.
void sinkEveryRow(const int* dims, const RowSink& sink);

/// The place that a filter stopped by a signal names ("while filtering"):
/// the filters look at the flag at least once per few rows, skip the rest of
/// their rows and throw Interrupted after their parallel loop.
inline constexpr const char* WHILE_FILTERING = "while filtering";

}  // namespace shapescale
