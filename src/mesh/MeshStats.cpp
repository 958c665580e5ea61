#include "mesh/MeshStats.hpp"

#include <algorithm>
#include <vector>

namespace shapescale {

namespace {

/// A triangle side a -> b under its undirected key (low, high).
struct DirectedEdge {
    int low, high;
    bool forward;  // a < b
    bool operator<(const DirectedEdge& o) const {
        return low != o.low ? low < o.low : high != o.high ? high < o.high : forward < o.forward;
    }
};

}  // namespace

MeshStats computeMeshStats(const TriMesh& mesh) {
    MeshStats stats;
    stats.vertices = static_cast<std::int64_t>(mesh.vertices.size());
    stats.triangles = static_cast<std::int64_t>(mesh.faces.size());
    std::vector<DirectedEdge> sides;
    sides.reserve(3 * mesh.faces.size());
    std::vector<bool> used(mesh.vertices.size(), false);
    for (const Triangle& t : mesh.faces) {
        for (int k = 0; k < 3; ++k) {
            const int a = t[static_cast<std::size_t>(k)],
                      b = t[static_cast<std::size_t>((k + 1) % 3)];
            if (a >= 0 && static_cast<std::size_t>(a) < used.size())
                used[static_cast<std::size_t>(a)] = true;
            if (a != b) sides.push_back({std::min(a, b), std::max(a, b), a < b});
        }
    }
    std::sort(sides.begin(), sides.end());
    for (std::size_t i = 0; i < sides.size();) {
        std::size_t j = i, forward = 0;
        for (; j < sides.size() && sides[j].low == sides[i].low && sides[j].high == sides[i].high;
             ++j)
            forward += sides[j].forward ? 1 : 0;
        const std::size_t uses = j - i;
        ++stats.edges;
        if (uses == 1) ++stats.boundaryEdges;
        if (uses > 2) ++stats.nonManifoldEdges;
        if (uses == 2 && forward != 1) ++stats.misorientedEdges;
        i = j;
    }
    stats.unusedVertices = std::count(used.begin(), used.end(), false);
    return stats;
}

}  // namespace shapescale
