#pragma once
// Gathering of the votes of one radius with a filter whose width grows with it.

#include "filters/RowSink.hpp"
#include "mapt/MaptRun.hpp"

namespace shapescale {

/// Filters run.votes into run.apt with the filter of run.kernel at the
/// filterWidth of radius r (voxel units); box-filters the tensors in place.
/// `aptRowDone` is told of each row of run.apt as it takes its final value
/// (before the tensors are filtered).
/// @throw Interrupted when a signal arrives
void filterVotes(MaptRun& run, double r, const RowSink& aptRowDone = {});

/// Whether filterVotes needs the workspace's two float temporaries: the ball
/// sum alone does not; the Gaussian and the tensors' box filter do.
bool filterNeedsTemporaries(KernelChoice kernel, bool tensorsOn);

/// The filter width at radius r: (r / startRadius) * sigma, all in voxel
/// units, formed in double in that order; the filters take it rounded to float.
double filterWidth(double r, double startRadius, double sigma);

/// trunc(width) as the size of a Gaussian kernel, capped at the largest extent
/// of `dims`: a longer kernel leaves every line untouched whatever its length.
int kernelSize(float width, const int* dims);

}  // namespace shapescale
