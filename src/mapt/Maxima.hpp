#pragma once
// Normalisation of one radius's filtered votes, the running maxima over the
// radii and the twelve-bin histogram.

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// Normalises run.apt by the sphere area at radius r (voxel units), raises
/// jmapt and scale, copies tensors at raised maxima and counts the histogram.
void updateMaxima(MaptRun& run, double r);

/// Bin of an APT value: b with b/12 <= a < (b + 1)/12 (bounds in single
/// precision), or -1 for values below 0, from 1 on, and NaN.
int histogramBin(float a);

}  // namespace shapescale
