#include "voxel/NearestVertex.hpp"

#include <array>
#include <string>

#include "core/Error.hpp"
#include "core/Vec3.hpp"
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

    // Each voxel is decided on its own and writes only its own label, so the
    // result does not depend on the visiting order or the thread count. x
    // runs innermost: neighbouring queries then walk the same tree paths.
#pragma omp parallel
    {
        std::vector<double> query(3);
#pragma omp for collapse(2) schedule(static)
        for (int z = 0; z < nz; ++z) {
            for (int y = 0; y < ny; ++y) {
                query[1] = cy.exact[static_cast<std::size_t>(y)];
                query[2] = cz.exact[static_cast<std::size_t>(z)];
                float centre[3] = {0.0f, cy.rounded[static_cast<std::size_t>(y)],
                                   cz.rounded[static_cast<std::size_t>(z)]};
                const std::size_t row =
                    voxelIndex(dims, 0, static_cast<std::size_t>(y), static_cast<std::size_t>(z));
                for (int x = 0; x < nx; ++x) {
                    query[0] = cx.exact[static_cast<std::size_t>(x)];
                    centre[0] = cx.rounded[static_cast<std::size_t>(x)];
                    const auto v = static_cast<std::size_t>(tree.nearest_point(query));
                    float d[3];
                    diff(centre, vertices[v].data(), d);
                    // Single precision; exactly 0 (tangent plane, zero normal) is inside.
                    const float p = sprod(d, normals[v].data());
                    labels[row + static_cast<std::size_t>(x)] =
                        p > 0.0f ? LABEL_OUTSIDE : NEAREST_NOT_OUTSIDE;
                }
            }
        }
    }
    return labels;
}

}  // namespace shapescale
