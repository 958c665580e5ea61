#pragma once
// Label volume of a mesh that need not be closed: each voxel is classified by
// the normal of the mesh vertex nearest to its centre.

#include <vector>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Lays the voxel grid around the mesh (setUpGrid) and labels every voxel:
/// 255 (outside) when its centre lies strictly on the side into which the
/// normal of its nearest vertex points, 0 otherwise (also on the tangent
/// plane, and for a vertex with the zero normal).
/// @param[in]  mesh    vertices and vertexNormals (one per vertex, world units),
///                     bboxMin, bboxMax; not changed
/// @param[in]  h       voxel edge length, world units, > 0
/// @param[out] dims    nx, ny, nz (caller-owned int[3])
/// @param[out] origin  world position of the low corner of voxel (0, 0, 0) (caller-owned float[3])
/// @return nx*ny*nz labels, voxel (x, y, z) at index x + nx*(y + ny*z)
/// @throw Error when the mesh has no vertex, its normals are missing, the
///        grid cannot be laid out or the volume does not fit in memory
std::vector<unsigned char> mesh2Volume(TriMesh mesh, float h, int* dims, float* origin);

/// How mesh2Volume finds each voxel's nearest vertex; both give the same labels.
enum class NearestSearch {
    fast,           ///< FastNearest over the KDTree's points (the default)
    specifiedTree,  ///< KDTree::nearest_point for every voxel: the reference, for tests and
                    ///< benchmarks
};

/// mesh2Volume with the nearest-vertex search chosen.
std::vector<unsigned char> mesh2Volume(TriMesh mesh, float h, int* dims, float* origin,
                                       NearestSearch search);

}  // namespace shapescale
