#include "driver/MeshCheck.hpp"

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

}  // namespace shapescale
