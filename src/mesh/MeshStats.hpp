#pragma once
// Edge statistics of a triangle mesh: is it closed, is it manifold, are its
// faces ordered consistently. For run summaries and the orientation step.

#include <cstdint>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Counts over the undirected edges of the triangles in mesh.faces. An edge
/// joins two different vertex numbers; the side a -> a of a degenerate
/// triangle is no edge.
struct MeshStats {
    std::int64_t vertices = 0;          ///< entries of mesh.vertices
    std::int64_t triangles = 0;         ///< entries of mesh.faces
    std::int64_t edges = 0;             ///< distinct undirected edges
    std::int64_t boundaryEdges = 0;     ///< edges of exactly one triangle
    std::int64_t nonManifoldEdges = 0;  ///< edges of three or more triangles
    std::int64_t unusedVertices = 0;    ///< vertices of no triangle
    /// Edges of exactly two triangles that both run along in the same
    /// direction: their two faces disagree on which side is out.
    std::int64_t misorientedEdges = 0;

    /// Every edge of two triangles is run through once in each direction.
    bool consistentlyOriented() const { return misorientedEdges == 0; }

    /// At least one triangle and no boundary edge.
    bool isClosed() const { return triangles > 0 && boundaryEdges == 0; }
};

/// Edge statistics of `mesh` (not changed); time O(t log t) for t triangles.
MeshStats computeMeshStats(const TriMesh& mesh);

}  // namespace shapescale
