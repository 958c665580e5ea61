#include "driver/MeshCheck.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/Error.hpp"

namespace shapescale {

std::vector<std::string> meshWarnings(const MeshStats& stats, bool closedMeshMode) {
    std::vector<std::string> warnings;
    if (closedMeshMode && stats.boundaryEdges > 0)
        warnings.push_back("the mesh is open (" + std::to_string(stats.boundaryEdges) +
                           " boundary edges) but is treated as closed: the outside may flood "
                           "into it; consider -c");
    if (stats.nonManifoldEdges > 0)
        warnings.push_back("the mesh has " + std::to_string(stats.nonManifoldEdges) +
                           " non-manifold edges (shared by three triangles or more)");
    if (stats.misorientedEdges > 0)
        warnings.push_back(
            "the mesh is not consistently oriented: " + std::to_string(stats.misorientedEdges) +
            " edges are run along in the same direction by both their triangles, "
            "so its normals point to both sides");
    return warnings;
}

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Bits of a float's 24 that resolve positions inside one voxel of edge h at
// coordinates of magnitude `magnitude`.
double bitsForVoxel(double magnitude, double h) {
    return magnitude > h ? 24.0 - std::log2(magnitude / h) : 24.0;
}

double largestMagnitude(const TriMesh& mesh) {
    double m = 0.0;
    for (int a = 0; a < 3; ++a)
        m = std::max({m, std::fabs(static_cast<double>(mesh.bboxMin[a])),
                      std::fabs(static_cast<double>(mesh.bboxMax[a]))});
    return m;
}

}  // namespace

std::vector<std::string> geometryWarnings(const TriMesh& mesh, const MeshMeasures& measures,
                                          double h) {
    std::vector<std::string> warnings;
    const auto triangles = static_cast<std::int64_t>(mesh.faces.size());
    if (2 * measures.degenerateTriangles > triangles)
        warnings.push_back(std::to_string(measures.degenerateTriangles) + " of " +
                           std::to_string(triangles) +
                           " triangles are degenerate (area 0): they cast no vote");
    const double magnitude = largestMagnitude(mesh);
    const double bits = bitsForVoxel(magnitude, h);
    if (h > 0.0 && bits < 12.0)
        warnings.push_back("the mesh lies far from the origin for its voxel (coordinates up to " +
                           number(magnitude) + ", grid resolution " + number(h) +
                           "): single precision keeps " + number(std::floor(std::max(bits, 0.0))) +
                           " bits of a position inside a voxel; move the mesh to the origin");
    return warnings;
}

void checkVolumeForDerivedLengths(const TriMesh& mesh, const MeshMeasures& measures,
                                  const Options& options) {
    const bool derived = options.gridResolution == 0.0f || options.startRadius == 0.0f ||
                         options.radiusStep == 0.0f || options.sigma == 0.0f;
    if (options.closedMesh == 0 || !derived) return;
    double box = 1.0;
    for (int a = 0; a < 3; ++a) box *= static_cast<double>(mesh.bboxMax[a] - mesh.bboxMin[a]);
    // A flat box is refused with its own message where the grid is derived.
    // Below a millionth of the box the volume is what a sheet's rounding leaves.
    if (box == 0.0 || std::fabs(static_cast<double>(measures.volume)) > 1e-6 * box) return;
    throw Error("the mesh encloses no volume (" + number(measures.volume) +
                " in a bounding box of " + number(box) +
                "), so no length can be derived from it: give -r -s -p -g, or use -c for an open "
                "surface");
}

}  // namespace shapescale
