#pragma once
// Normalisation of one radius's filtered votes, the running maxima over the
// radii and the twelve-bin histogram.

#include <cstddef>
#include <vector>

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// The maxima of one radius, a row (y, z) of run.apt at a time, on any
/// threads: each voxel is normalised and compared on its own, and the
/// histogram counts are integers, so the result does not depend on the
/// order of the rows or on the threads. The filters hand it the rows of
/// their last pass while the rows are in cache.
class MaximaPass {
  public:
    /// Clears run.histogram and run.atLeastOne; `r` is the radius in voxel units.
    MaximaPass(MaptRun& run, double r);

    /// Normalises row `row` (its voxels start at row * nx) of run.apt by the
    /// sphere area at r, raises jmapt and scale, copies tensors at raised
    /// maxima and counts the histogram. Called once per row, by threads of
    /// at most omp_get_max_threads() at construction.
    void row(std::size_t row);

    /// Adds the threads' counts into run.histogram and run.atLeastOne.
    void finish();

  private:
    struct Counts {
        Histogram histogram{};
        std::int64_t atLeastOne = 0;
        // Keeps two threads' counts off one cache line.
        char padding[64] = {};
    };
    MaptRun& run_;
    double normaliser_;
    float radius_;
    std::size_t nx_;
    std::vector<Counts> counts_;
};

/// The whole pass of MaximaPass over run.apt, on every core.
void updateMaxima(MaptRun& run, double r);

/// Bin of an APT value: b with b/12 <= a < (b + 1)/12 (bounds in single
/// precision), or -1 for values below 0, from 1 on, and NaN.
int histogramBin(float a);

}  // namespace shapescale
