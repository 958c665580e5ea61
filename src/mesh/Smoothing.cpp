#include <vector>

#include "mesh/TriMesh.hpp"

namespace shapescale {

void smoothVertices(TriMesh& mesh) {
    std::vector<Vec3f> displacement;
    smoothVertices(mesh, displacement);
}

void smoothVertices(TriMesh& mesh, std::vector<Vec3f>& displacement) {
    const std::size_t n = mesh.vertices.size();
    // Every displacement comes from the positions before the pass.
    displacement.assign(n, Vec3f{0.0f, 0.0f, 0.0f});
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<int>& neighbours = mesh.vertexNeighbours[i];
        // A vertex of no face has no mean to move towards: it stays.
        if (neighbours.empty()) continue;
        const Vec3f& vi = mesh.vertices[i];
        Vec3f sum = {0.0f, 0.0f, 0.0f};
        for (int k : neighbours) {
            const Vec3f& vk = mesh.vertices[static_cast<std::size_t>(k)];
            // Single precision, (running + v_k) - v_i: the specified rounding, on
            // which every later radius's vertex positions depend.
            for (int a = 0; a < 3; ++a) sum[a] = (sum[a] + vk[a]) - vi[a];
        }
        const float m = static_cast<float>(neighbours.size());
        for (int a = 0; a < 3; ++a) displacement[i][a] = sum[a] / m;
    }
    for (std::size_t i = 0; i < n; ++i) {
        Vec3f& v = mesh.vertices[i];
        for (int a = 0; a < 3; ++a)
            v[a] = static_cast<float>(static_cast<double>(v[a]) +
                                      0.5 * static_cast<double>(displacement[i][a]));
    }
}

}  // namespace shapescale
