#include "support/TestMeshes.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace shapescale::shapes {

namespace {

// Corner k of a box: bit 0 selects x, bit 1 y, bit 2 z.
const std::vector<std::vector<int>> CUBE_TRIANGLES = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6},
                                                      {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3},
                                                      {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};

const std::vector<std::vector<int>> CUBE_QUADS = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                  {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};

std::vector<std::array<double, 3>> boxCorners(const std::array<double, 3>& lo,
                                              const std::array<double, 3>& hi) {
    std::vector<std::array<double, 3>> corners;
    for (int k = 0; k < 8; ++k)
        corners.push_back(
            {(k & 1) ? hi[0] : lo[0], (k & 2) ? hi[1] : lo[1], (k & 4) ? hi[2] : lo[2]});
    return corners;
}

}  // namespace

PolyMesh box(const std::array<double, 3>& lo, const std::array<double, 3>& hi) {
    return {boxCorners(lo, hi), CUBE_TRIANGLES};
}

PolyMesh unitCube() {
    return box({0, 0, 0}, {1, 1, 1});
}

PolyMesh quadCube() {
    return {boxCorners({0, 0, 0}, {1, 1, 1}), CUBE_QUADS};
}

PolyMesh cylinder(double radius, double length, int segments, int rings) {
    PolyMesh mesh;
    for (int i = 0; i <= rings; ++i) {
        const double z = length * (static_cast<double>(i) / rings - 0.5);
        for (int j = 0; j < segments; ++j) {
            const double phi = 2.0 * M_PI * j / segments;
            mesh.vertices.push_back({radius * std::cos(phi), radius * std::sin(phi), z});
        }
    }
    const int bottom = static_cast<int>(mesh.vertices.size());
    mesh.vertices.push_back({0, 0, -0.5 * length});
    mesh.vertices.push_back({0, 0, 0.5 * length});
    auto at = [segments](int i, int j) { return i * segments + (j + segments) % segments; };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            mesh.faces.push_back({at(i, j), at(i, j + 1), at(i + 1, j + 1)});
            mesh.faces.push_back({at(i, j), at(i + 1, j + 1), at(i + 1, j)});
        }
    }
    for (int j = 0; j < segments; ++j) {
        mesh.faces.push_back({bottom, at(0, j + 1), at(0, j)});
        mesh.faces.push_back({bottom + 1, at(rings, j), at(rings, j + 1)});
    }
    return mesh;
}

PolyMesh flipped(PolyMesh mesh) {
    for (auto& face : mesh.faces) std::reverse(face.begin() + 1, face.end());
    return mesh;
}

PolyMesh merged(const PolyMesh& a, const PolyMesh& b) {
    PolyMesh mesh = a;
    const int shift = static_cast<int>(a.vertices.size());
    mesh.vertices.insert(mesh.vertices.end(), b.vertices.begin(), b.vertices.end());
    for (auto face : b.faces) {
        for (int& k : face) k += shift;
        mesh.faces.push_back(face);
    }
    return mesh;
}

PolyMesh hemisphere(int levels, double radius) {
    const PolyMesh sphere = icosphere(levels, radius);
    PolyMesh mesh;
    std::vector<int> renumber(sphere.vertices.size(), -1);
    for (std::size_t i = 0; i < sphere.vertices.size(); ++i) {
        if (sphere.vertices[i][2] >= -1e-9 * radius) {
            renumber[i] = static_cast<int>(mesh.vertices.size());
            mesh.vertices.push_back(sphere.vertices[i]);
        }
    }
    for (const auto& face : sphere.faces) {
        std::vector<int> kept;
        for (int k : face)
            if (renumber[static_cast<std::size_t>(k)] >= 0)
                kept.push_back(renumber[static_cast<std::size_t>(k)]);
        if (kept.size() == face.size()) mesh.faces.push_back(kept);
    }
    return mesh;
}

}  // namespace shapescale::shapes
