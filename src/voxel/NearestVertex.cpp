#include "voxel/NearestVertex.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"
#include "core/Vec3.hpp"
#include "kdtree/FastNearest.hpp"
#include "kdtree/KDTree.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {

namespace {

// Every voxel that is not outside; the rasteriser tells inside from surface,
// this voxeliser does not.
constexpr unsigned char NEAREST_NOT_OUTSIDE = 0;

// Voxel centres along one axis, world units. The mixed precision is kept on
// purpose (labels near the surface depend on it): the offset to the first
// centre in double, the step index * h in single precision, their sum in
// double; the query uses the double centre, the side test its float rounding.
struct AxisCentres {
    std::vector<double> exact;
    std::vector<float> rounded;
};

AxisCentres axisCentres(float origin, float h, int count) {
    AxisCentres centres;
    centres.exact.resize(static_cast<std::size_t>(count));
    centres.rounded.resize(static_cast<std::size_t>(count));
    const double first = static_cast<double>(origin) + static_cast<double>(h) * 0.5;
    for (int i = 0; i < count; ++i) {
        const float step = static_cast<float>(i) * h;
        const double c = first + static_cast<double>(step);
        centres.exact[static_cast<std::size_t>(i)] = c;
        centres.rounded[static_cast<std::size_t>(i)] = static_cast<float>(c);
    }
    return centres;
}

}  // namespace

std::vector<unsigned char> mesh2Volume(TriMesh mesh, float h, int* dims, float* origin) {
    return mesh2Volume(std::move(mesh), h, dims, origin, NearestSearch::fast);
}

std::vector<unsigned char> mesh2Volume(TriMesh mesh, float h, int* dims, float* origin,
                                       NearestSearch searchKind) {
    if (mesh.vertices.empty())
        throw Error("the nearest-vertex voxeliser needs a mesh with at least one vertex");
    if (mesh.vertexNormals.size() != mesh.vertices.size())
        throw Error("the nearest-vertex voxeliser needs one normal per vertex: " +
                    std::to_string(mesh.vertexNormals.size()) + " normals for " +
                    std::to_string(mesh.vertices.size()) + " vertices");

    setUpGrid(mesh.bboxMin, mesh.bboxMax, h, dims, origin);
    std::vector<unsigned char> labels = allocateLabelVolume(dims, NEAREST_NOT_OUTSIDE);

    std::vector<std::vector<double> > pointSet;
    pointSet.reserve(mesh.vertices.size());
    for (const Vec3f& v : mesh.vertices)
        pointSet.push_back(
            {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])});
    const KDTree tree(pointSet);
    pointSet.clear();
    pointSet.shrink_to_fit();
    // Answers as the tree does, ties included, at a fraction of the cost.
    const bool useFast = searchKind == NearestSearch::fast;
    const std::optional<FastNearest> fast =
        useFast ? std::optional<FastNearest>(std::in_place, tree) : std::nullopt;

    std::array<AxisCentres, 3> centres;
    for (int a = 0; a < 3; ++a)
        centres[static_cast<std::size_t>(a)] = axisCentres(origin[a], h, dims[a]);
    const AxisCentres& cx = centres[0];
    const AxisCentres& cy = centres[1];
    const AxisCentres& cz = centres[2];
    const int nx = dims[0];
    const int ny = dims[1];
    const int nz = dims[2];
    const SharedList<Vec3f>& vertices = mesh.vertices;
    const SharedList<Vec3f>& normals = mesh.vertexNormals;

    // The side of the nearest vertex's normal, in single precision; exactly
    // 0 (tangent plane, zero normal) is inside.
    auto label = [&](int x, int y, int z, int v) {
        const float centre[3] = {cx.rounded[static_cast<std::size_t>(x)],
                                 cy.rounded[static_cast<std::size_t>(y)],
                                 cz.rounded[static_cast<std::size_t>(z)]};
        const auto vertex = static_cast<std::size_t>(v);
        float d[3];
        diff(centre, vertices[vertex].data(), d);
        const float p = sprod(d, normals[vertex].data());
        labels[voxelIndex(dims, static_cast<std::size_t>(x), static_cast<std::size_t>(y),
                          static_cast<std::size_t>(z))] =
            p > 0.0f ? LABEL_OUTSIDE : NEAREST_NOT_OUTSIDE;
    };

    // Each voxel is decided on its own and writes only its own label, so the
    // result does not depend on the visiting order or the thread count. After
    // a signal, every thread skips its remaining rows or blocks.
    if (!useFast) {
#pragma omp parallel for collapse(2) schedule(static)
        for (int z = 0; z < nz; ++z) {
            for (int y = 0; y < ny; ++y) {
                if (interruptRequested()) continue;
                for (int x = 0; x < nx; ++x) {
                    const std::vector<double> query = {cx.exact[static_cast<std::size_t>(x)],
                                                       cy.exact[static_cast<std::size_t>(y)],
                                                       cz.exact[static_cast<std::size_t>(z)]};
                    label(x, y, z, tree.nearest_point(query));
                }
            }
        }
        checkInterrupt("while voxelising");
        return labels;
    }

    // Blocks of BLOCK^3 voxels share one gathering of candidate vertices.
    constexpr int BLOCK = 4;
    const int blocksX = (nx + BLOCK - 1) / BLOCK;
    const int blocksY = (ny + BLOCK - 1) / BLOCK;
    const int blocksZ = (nz + BLOCK - 1) / BLOCK;
#pragma omp parallel
    {
        FastNearest::BlockScratch scratch;
        int nearest[BLOCK * BLOCK * BLOCK];
#pragma omp for collapse(3) schedule(static)
        for (int bz = 0; bz < blocksZ; ++bz) {
            for (int by = 0; by < blocksY; ++by) {
                for (int bx = 0; bx < blocksX; ++bx) {
                    if (interruptRequested()) continue;
                    const int x0 = bx * BLOCK, y0 = by * BLOCK, z0 = bz * BLOCK;
                    const int sx = std::min(BLOCK, nx - x0);
                    const int sy = std::min(BLOCK, ny - y0);
                    const int sz = std::min(BLOCK, nz - z0);
                    fast->nearestOnBlock(&cx.exact[static_cast<std::size_t>(x0)], sx,
                                         &cy.exact[static_cast<std::size_t>(y0)], sy,
                                         &cz.exact[static_cast<std::size_t>(z0)], sz, nearest,
                                         scratch);
                    for (int k = 0; k < sz; ++k) {
                        for (int j = 0; j < sy; ++j) {
                            for (int i = 0; i < sx; ++i)
                                label(x0 + i, y0 + j, z0 + k, nearest[i + sx * (j + sy * k)]);
                        }
                    }
                }
            }
        }
    }
    checkInterrupt("while voxelising");
    return labels;
}

}  // namespace shapescale
