#pragma once
// A fixed-length signature of a shape for comparing meshes: the histograms of
// every radius as fractions of the voxels not outside the shape.

#include <cstdint>
#include <vector>

#include "mapt/RunObserver.hpp"

namespace shapescale {

/// Values per radius: the twelve histogram bins, then the count at or above 1.
inline constexpr int DESCRIPTOR_COLUMNS = HISTOGRAM_BINS + 1;

struct Descriptor {
    std::int64_t voxelsNotOutside = 0;
    /// The radii as multiples of the base scale: with derived lengths every
    /// mesh has the same ones, so descriptors of meshes of any size compare.
    std::vector<double> radii;
    /// DESCRIPTOR_COLUMNS per radius, radius after radius: each count divided
    /// by voxelsNotOutside (all 0 when there is none).
    std::vector<double> values;
};

/// The descriptor of a run.
/// @param[in] histograms        one per radius, as "hist.txt"
/// @param[in] atLeastOne        per radius, the voxels not outside whose APT value is 1 or more
/// @param[in] radiiVox          per radius, voxel units
/// @param[in] h                 voxel edge, world units
/// @param[in] baseScale         the run's base scale, world units (above 0)
/// @param[in] voxelsNotOutside  voxels whose label is not LABEL_OUTSIDE
Descriptor shapeDescriptor(const std::vector<Histogram>& histograms,
                           const std::vector<std::int64_t>& atLeastOne,
                           const std::vector<double>& radiiVox, double h, double baseScale,
                           std::int64_t voxelsNotOutside);

/// Voxels of `labels` (n bytes) that are not LABEL_OUTSIDE.
std::int64_t countNotOutside(const unsigned char* labels, std::size_t n);

}  // namespace shapescale
