#pragma once
// Surface voting: every triangle's samples, moved by r along the inward
// normal, vote their share of its area into the voxel where they land.

#include <cstdlib>
#include <functional>

#include "mapt/MaptRun.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Adds the votes of every triangle at radius r (voxel units) to run.votes
/// and, with tensors, to run.tensor. Draws from run.random.
void voteSurface(MaptRun& run, const TriMesh& mesh, double r);

/// The straightforward loop: the reference that the benchmarks time
/// voteSurface against. Same arithmetic, so the two agree bit for bit when
/// fed the same draws.
/// @param[in] draw  the generator, integers 0 .. 2^31 - 1 (std::rand, seeded by the caller)
void voteSurfaceReference(MaptRun& run, const TriMesh& mesh, double r,
                          const std::function<int()>& draw = std::rand);

}  // namespace shapescale
