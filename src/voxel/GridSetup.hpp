#pragma once
// The voxel grid laid around a mesh, shared by both voxelisers.

#include <vector>

#include "core/Grid.hpp"

namespace shapescale {

/// Per axis, in single precision: origin = bboxMin - (h + h) and
/// dims = trunc((bboxMax - origin) / h) + 3, which leaves two empty voxel
/// layers below the mesh and at least two above it.
/// @param[in]  bboxMin, bboxMax  world units
/// @param[in]  h                 voxel edge length, world units, > 0
/// @param[out] dims              nx, ny, nz
/// @param[out] origin            world position of the low corner of voxel (0, 0, 0)
/// @throw Error when an extent does not fit a 32-bit int (h far too small, or not a number)
void setUpGrid(const float* bboxMin, const float* bboxMax, float h, int* dims, float* origin);

/// A label volume of nx*ny*nz bytes, each set to `fill`.
/// @throw Error when the voxel count overflows, OutOfMemory when the volume
///        does not fit in memory
std::vector<unsigned char> allocateLabelVolume(const int* dims, unsigned char fill);

}  // namespace shapescale
