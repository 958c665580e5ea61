#include "driver/MeshCheck.hpp"

#include <algorithm>
#include <utility>

namespace shapescale {

namespace {

// One use of an edge by a triangle: the edge as (low, high) vertex numbers and
// whether the triangle runs along it from low to high.
struct EdgeUse {
    int low = 0;
    int high = 0;
    bool forward = false;
};

}  // namespace

MeshTopology meshTopology(const TriMesh& mesh) {
    std::vector<EdgeUse> uses;
    uses.reserve(mesh.faces.size() * 3);
    for (const Triangle& t : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            const int a = t[static_cast<std::size_t>(k)];
            const int b = t[static_cast<std::size_t>((k + 1) % 3)];
            if (a != b) uses.push_back({std::min(a, b), std::max(a, b), a < b});
        }
    std::sort(uses.begin(), uses.end(), [](const EdgeUse& x, const EdgeUse& y) {
        return std::pair(x.low, x.high) < std::pair(y.low, y.high);
    });

    MeshTopology topology;
    for (std::size_t i = 0; i < uses.size();) {
        std::size_t j = i;
        int forward = 0;
        while (j < uses.size() && uses[j].low == uses[i].low && uses[j].high == uses[i].high) {
            forward += uses[j].forward ? 1 : 0;
            ++j;
        }
        const std::size_t count = j - i;
        ++topology.edges;
        if (count == 1) ++topology.boundaryEdges;
        if (count > 2) ++topology.nonManifoldEdges;
        if (count == 2 && forward != 1) ++topology.misorientedEdges;
        i = j;
    }
    return topology;
}

std::vector<std::string> meshWarnings(const MeshTopology& topology, bool closedMeshMode) {
    std::vector<std::string> warnings;
    if (closedMeshMode && topology.boundaryEdges > 0)
        warnings.push_back("the mesh is open (" + std::to_string(topology.boundaryEdges) +
                           " boundary edges) but is treated as closed: the outside may flood "
                           "into it; consider -c");
    if (topology.nonManifoldEdges > 0)
        warnings.push_back("the mesh has " + std::to_string(topology.nonManifoldEdges) +
                           " non-manifold edges (shared by three triangles or more)");
    if (topology.misorientedEdges > 0)
        warnings.push_back(
            "the mesh is not consistently oriented: " + std::to_string(topology.misorientedEdges) +
            " edges are run along in the same direction by both their triangles, "
            "so its normals point to both sides");
    return warnings;
}

void flipFaces(TriMesh& mesh) {
    for (auto& list : mesh.vertexNeighbours) list.clear();
    for (Triangle& t : mesh.faces) {
        std::swap(t[0], t[2]);
        mesh.vertexNeighbours[static_cast<std::size_t>(t[0])].push_back(t[1]);
        mesh.vertexNeighbours[static_cast<std::size_t>(t[1])].push_back(t[2]);
        mesh.vertexNeighbours[static_cast<std::size_t>(t[2])].push_back(t[0]);
    }
}

}  // namespace shapescale
