#pragma once
// Gathering of the votes of one radius with a filter whose width grows with it.

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// Filters run.votes into run.apt with the filter of run.kernel at width
/// (r / startRadius) * sigma (voxel units); box-filters the tensors in place.
void filterVotes(MaptRun& run, double r);

}  // namespace shapescale
