#pragma once
// The closed-mesh rasteriser: draws the triangles into the voxel grid and
// floods the outside, leaving the enclosed voxels as inside.

#include <string>
#include <vector>

#include "mesh/TriMesh.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {

/// Labels of the volume returned by rasterizeClosedMesh, besides LABEL_OUTSIDE.
inline constexpr unsigned char RASTER_INSIDE = 50;
inline constexpr unsigned char RASTER_SURFACE = 200;

/// Label volume of a closed mesh: every voxel a triangle passes through is
/// surface, every voxel reachable from the faces of the grid without crossing
/// the surface (by face adjacency) is outside, the rest is inside. The
/// orientation of the triangles plays no part. Also writes the occupancy file.
///
/// @param[in]  mesh   read: vertices, faces, bboxMin, bboxMax (world units); not changed
/// @param[in]  h      voxel edge length, world units, > 0
/// @param[out] dims   nx, ny, nz of the grid laid around the mesh (see setUpGrid)
/// @param[out] origin world position of the low corner of voxel (0, 0, 0)
/// @param[in]  occupancyPath  where writeOccupancy puts the occupancy file,
///        taken before the surface marks become RASTER_SURFACE; empty: no file
/// @param[out] occupancyWritten  when not null: whether the file was written
///        (a file that cannot be written costs a warning, not the run)
/// @return nx*ny*nz labels, index x + nx*(y + ny*z): RASTER_INSIDE,
///         RASTER_SURFACE or LABEL_OUTSIDE
/// @throw Error when h is not positive, a face names a vertex that does not
///        exist, or the grid cannot be laid out or held in memory
std::vector<unsigned char> rasterizeClosedMesh(TriMesh mesh, float h, int* dims, float* origin,
                                               const std::string& occupancyPath = "volume.vol",
                                               bool* occupancyWritten = nullptr);

}  // namespace shapescale
