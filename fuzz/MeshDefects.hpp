#pragma once
// What a mesh reader must guarantee whatever its input: checked by the
// fuzzers after every input that loads, and by the corpus replay test.

#include <cmath>
#include <string>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Empty when `mesh` is usable by every later stage: one neighbour list per
/// vertex, every vertex number in range, finite coordinates and a bounding
/// box that holds them. Otherwise the first defect found. Then runs the
/// stages that index the mesh (normals, measures, one smoothing pass), so an
/// index that escaped the check shows up under the sanitizers.
inline std::string meshDefect(TriMesh& mesh) {
    const std::size_t n = mesh.vertices.size();
    if (mesh.vertexNeighbours.size() != n) return "neighbour lists do not match the vertices";
    for (const Vec3f& v : mesh.vertices)
        for (int a = 0; a < 3; ++a)
            if (!std::isfinite(v[a]) || v[a] < mesh.bboxMin[a] || v[a] > mesh.bboxMax[a])
                return "a coordinate is not finite or lies outside the bounding box";
    for (const Triangle& t : mesh.faces)
        for (int i : t)
            if (i < 0 || static_cast<std::size_t>(i) >= n) return "a face names a missing vertex";
    for (int i : mesh.vertexNeighbours.entries())
        if (i < 0 || static_cast<std::size_t>(i) >= n)
            return "a neighbour list names a missing vertex";
    computeVertexNormals(mesh);
    (void)measureMesh(mesh);
    smoothVertices(mesh);
    return "";
}

}  // namespace shapescale
