#pragma once
// Surface voting: every triangle's samples, moved by r along the inward
// normal, vote their share of its area into the voxel where they land.

#include <cstdlib>
#include <functional>

#include "mapt/MaptRun.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Adds the votes of every triangle at radius r (voxel units) to run.votes
/// and, with tensors, to run.tensor. Takes one key from run.random; triangle t
/// draws from SampleRandom::forItem(key, t). The voxels are found in
/// parallel, the votes added in triangle order: the same bits for any
/// thread count.
void voteSurface(MaptRun& run, const TriMesh& mesh, double r);

/// std::rand(), whatever the triangle.
inline int drawFromRand(std::size_t) {
    return std::rand();
}

/// The straightforward loop: the reference that the benchmarks time
/// voteSurface against. Same arithmetic, so the two agree bit for bit when
/// fed the same draws.
/// @param[in] draw  the generator: given the triangle's index, the next integer in
///                  0 .. 2^31 - 1 (by default std::rand, seeded by the caller)
void voteSurfaceReference(MaptRun& run, const TriMesh& mesh, double r,
                          const std::function<int(std::size_t)>& draw = drawFromRand);

}  // namespace shapescale
