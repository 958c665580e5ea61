#pragma once
// Surface voting: every triangle's samples, moved by r along the inward
// normal, vote their share of its area into the voxel where they land.

#include "mapt/MaptRun.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Adds the votes of every triangle at radius r (voxel units) to run.votes
/// and, with tensors, to run.tensor. Takes one key from run.random; triangle t
/// draws from SampleRandom::forItem(key, t). The voxels are found in
/// parallel, the votes added in triangle order: the same bits for any
/// thread count.
void voteSurface(MaptRun& run, const TriMesh& mesh, double r);

}  // namespace shapescale
