#pragma once
// The settings of a run in voxel units, with their defaults, checked before
// any output exists: a refusal here leaves nothing on disk.

#include "mapt/MaptRun.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Refuses a mesh whose size lies outside the range in which single
/// precision computes its normals, areas and votes (largest bounding-box
/// extent 2^-30 .. 2^30 world units); a single point passes.
/// @throw Error naming the extent and the range
void checkMeshScale(const TriMesh& mesh);

/// Fills run.grid.voxelSize (h on every axis, derived from the bounding box
/// when settings.gridResolution is 0), the radii and sigma in voxel units (1,
/// 3 and 3 voxels where a length is 0) and the run's flags, output directory
/// and formats.
/// @param[out] run       its grid's voxel size and the settings above; nothing else
/// @param[in]  mesh      bboxMin, bboxMax: the derived grid resolution
/// @param[in]  settings  lengths in world units
/// @throw Error for a length that is not finite, a grid resolution or sigma
///        below 0, a flat bounding box, or a radius of the run that would not
///        be positive; the message hints at a clockwise mesh where a negative
///        length may come from one
void resolveSettings(MaptRun& run, const TriMesh& mesh, const TransformSettings& settings);

}  // namespace shapescale
