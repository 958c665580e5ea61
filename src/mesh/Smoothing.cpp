#include <span>
#include <vector>

#include "mesh/TriMesh.hpp"

namespace shapescale {

void smoothVertices(TriMesh& mesh) {
    std::vector<Vec3f> displacement;
    smoothVertices(mesh, displacement);
}

// Each vertex's displacement and move are its own, computed from the
// positions before the pass: the loops split the vertices among the threads
// without changing any result.
void smoothVertices(TriMesh& mesh, std::vector<Vec3f>& displacement) {
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(mesh.vertices.size());
    Vec3f* vertices = mesh.vertices.data();
    const std::span<const std::size_t> offsets = mesh.vertexNeighbours.offsets();
    // A mesh assembled without lists moves no vertex.
    const std::ptrdiff_t listed = static_cast<std::ptrdiff_t>(mesh.vertexNeighbours.size());
    const int* entries = mesh.vertexNeighbours.entries().data();
    displacement.resize(static_cast<std::size_t>(n));
    Vec3f* d = displacement.data();
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const std::size_t first = i < listed ? offsets[std::size_t(i)] : 0;
        const std::size_t end = i < listed ? offsets[std::size_t(i) + 1] : 0;
        Vec3f sum = {0.0f, 0.0f, 0.0f};
        // A vertex of no face has no mean to move towards: it stays.
        if (first != end) {
            const Vec3f& vi = vertices[i];
            for (std::size_t e = first; e < end; ++e) {
                const Vec3f& vk = vertices[static_cast<std::size_t>(entries[e])];
                // Single precision, (running + v_k) - v_i: the specified rounding, on
                // which every later radius's vertex positions depend.
                for (int a = 0; a < 3; ++a) sum[a] = (sum[a] + vk[a]) - vi[a];
            }
            const float m = static_cast<float>(end - first);
            for (int a = 0; a < 3; ++a) sum[a] = sum[a] / m;
        }
        d[i] = sum;
    }
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        Vec3f& v = vertices[i];
        for (int a = 0; a < 3; ++a)
            v[a] =
                static_cast<float>(static_cast<double>(v[a]) + 0.5 * static_cast<double>(d[i][a]));
    }
}

}  // namespace shapescale
