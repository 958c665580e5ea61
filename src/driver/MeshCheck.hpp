#pragma once
// Edge statistics of a loaded mesh, its warnings, and the flip of its faces:
// what --summary, --warnings and --orient need before the run.

#include <cstdint>
#include <string>
#include <vector>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// How the triangles share their edges. An edge is an unordered pair of
/// distinct vertex numbers; a triangle with a repeated vertex adds only its
/// proper edges.
struct MeshTopology {
    std::int64_t edges = 0;             ///< distinct edges
    std::int64_t boundaryEdges = 0;     ///< used by exactly one triangle
    std::int64_t nonManifoldEdges = 0;  ///< used by three triangles or more
    /// Edges used by exactly two triangles in the same direction: their two
    /// triangles disagree on which side is outside.
    std::int64_t misorientedEdges = 0;

    bool isClosed() const { return edges > 0 && boundaryEdges == 0 && nonManifoldEdges == 0; }
    bool isConsistentlyOriented() const { return misorientedEdges == 0; }
};

/// Counts over mesh.faces (the triangles after the split of polygons).
MeshTopology meshTopology(const TriMesh& mesh);

/// One sentence per problem the transform may suffer from (empty when none):
/// an open mesh in the closed-mesh mode, non-manifold edges, triangles whose
/// orientations disagree.
std::vector<std::string> meshWarnings(const MeshTopology& topology, bool closedMeshMode);

/// Reverses every triangle (a, b, c) into (c, b, a) and rebuilds the neighbour
/// lists from the reversed triangles as the loader builds them (b listed at a,
/// c at b, a at c, in face order). For a triangle mesh the result equals the
/// loaded file with every face line reversed; a polygon is treated as the
/// triangles of its fan. Vertices, bounding box and counts are unchanged;
/// vertex normals must not be computed yet.
void flipFaces(TriMesh& mesh);

}  // namespace shapescale
