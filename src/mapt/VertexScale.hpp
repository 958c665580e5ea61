#pragma once
// The scale of the transform carried back onto the mesh: each vertex gets the
// scale of the strongest APT maximum that lies inward of it.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"
#include "io/PlyWriter.hpp"
#include "mapt/Transform.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Per vertex, what the walk inward found.
struct VertexScales {
    std::vector<float> scale;  ///< world units
    std::vector<float> jmapt;  ///< the largest jmapt met
};

/// How far inward a walk goes, voxel units: the largest radius of the run plus
/// the reach of its filter there (the ball radius, or for the ball followed by
/// the Gaussian the ball radius plus the Gaussian's twice as wide support).
/// 0 for a run without radii.
double maxReachVoxels(const TransformResult& result);

/// For each vertex, walks the voxels that the segment from the vertex against
/// its normal crosses, up to `maxReachVox`, in the order crossed, starting
/// with the vertex's own voxel, and keeps the voxel of highest jmapt (the
/// first one on ties).
/// @param[in] positions    world units
/// @param[in] normals      one per vertex, pointing outward, any length; a zero
///                         normal looks at the vertex's own voxel only
/// @param[in] grid         the run's grid (origin, h, dims)
/// @param[in] jmapt        nx*ny*nz, index x + nx*(y + ny*z)
/// @param[in] scaleVox     same layout, voxel units
/// @param[in] maxReachVox  length of the walk, voxel units
/// @return scale in world units (scaleVox * h rounded to float) and jmapt of
///         the chosen voxel; 0 and 0 for a vertex outside the grid
/// @throw Error when the lists disagree in size with each other or the grid
VertexScales vertexScale(const std::vector<Vec3f>& positions, const std::vector<Vec3f>& normals,
                         const Grid& grid, const std::vector<float>& jmapt,
                         const std::vector<float>& scaleVox, double maxReachVox);

/// The surface as loaded: the run smooths the shared vertex triples, so a
/// caller that paints the mesh afterwards takes this copy before the run.
struct SurfaceSnapshot {
    std::vector<Vec3f> positions;  ///< world units
    std::vector<Vec3f> normals;    ///< empty when the mesh has none yet
    std::vector<std::array<int, 3>> faces;
};
SurfaceSnapshot snapshotSurface(const TriMesh& mesh);

/// File formats of the painted mesh.
enum class PaintedFormat {
    ply,  ///< binary PLY with colours (writePaintedPly)
    vtp,  ///< VTK XML PolyData, scale and jmapt as point arrays (writeVtkPolyData)
};

/// The format of a file name by its extension, ".ply" or ".vtp" in any case;
/// nothing for any other name.
std::optional<PaintedFormat> paintedFormatOf(const std::string& path);

/// The painted mesh of a run: vertexScale over the snapshot up to
/// maxReachVoxels(result), written in `format`; the PLY's colours span the
/// run's radii in world units.
/// @param[in] path     the file, created or replaced (whole or absent)
/// @param[in] surface  snapshotSurface of the mesh after computeVertexNormals,
///                     taken before the run
/// @param[in] result   of runTransformKeeping on that mesh
/// @throw Error as vertexScale and the writer
void writeVertexScale(const std::string& path, const SurfaceSnapshot& surface,
                      const TransformResult& result, PaintedFormat format = PaintedFormat::ply);

}  // namespace shapescale
