#pragma once
// Gathering of the votes of one radius with a filter whose width grows with it.

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// Filters run.votes into run.apt with the filter of run.kernel at the
/// filterWidth of radius r (voxel units); box-filters the tensors in place.
void filterVotes(MaptRun& run, double r);

/// The filter width at radius r: (r / startRadius) * sigma, all in voxel
/// units, formed in double in that order; the filters take it rounded to float.
double filterWidth(double r, double startRadius, double sigma);

/// trunc(width) as the size of a Gaussian kernel, capped at the largest extent
/// of `dims`: a longer kernel leaves every line untouched whatever its length.
int kernelSize(float width, const int* dims);

}  // namespace shapescale
