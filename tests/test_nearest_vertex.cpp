#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "driver/Error.hpp"
#include "driver/TriMesh.hpp"
#include "support/MeshBuilders.hpp"
#include "voxel/NearestVertex.hpp"

namespace shapescale {
namespace {

using test::hemisphere;
using test::icosphere;
using test::loadMesh;

// Vertices with hand-chosen normals and no face.
TriMesh orientedPoints(const std::vector<Vec3f>& vertices, const std::vector<Vec3f>& normals) {
    TriMesh mesh;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        mesh.vertices.push_back(vertices[i]);
        mesh.vertexNormals.push_back(normals[i]);
        mesh.vertexNeighbours.emplace_back();
        for (int a = 0; a < 3; ++a) {
            const float c = vertices[i][static_cast<std::size_t>(a)];
            mesh.bboxMin[a] = i == 0 ? c : std::min(mesh.bboxMin[a], c);
            mesh.bboxMax[a] = i == 0 ? c : std::max(mesh.bboxMax[a], c);
        }
    }
    mesh.nVertices = static_cast<int>(vertices.size());
    return mesh;
}

TriMesh withNormals(const test::PolyMesh& poly) {
    TriMesh mesh = loadMesh(poly);
    computeVertexNormals(mesh);
    return mesh;
}

struct Volume {
    int dims[3] = {0, 0, 0};
    float origin[3] = {0.0f, 0.0f, 0.0f};
    std::vector<unsigned char> labels;

    unsigned char at(int x, int y, int z) const {
        return labels[static_cast<std::size_t>(x + dims[0] * (y + dims[1] * z))];
    }
};

Volume voxelise(const TriMesh& mesh, float h) {
    Volume v;
    v.labels = mesh2Volume(mesh, h, v.dims, v.origin);
    return v;
}

// Voxel centre along one axis in the tool's mixed precision: offset to the
// first centre in double, index * h in float.
double centreOf(const Volume& v, float h, int axis, int index) {
    return (static_cast<double>(v.origin[axis]) + static_cast<double>(h) * 0.5) +
           static_cast<double>(static_cast<float>(index) * h);
}

template <class Check>
void forEachVoxel(const Volume& v, float h, Check check) {
    for (int z = 0; z < v.dims[2]; ++z)
        for (int y = 0; y < v.dims[1]; ++y)
            for (int x = 0; x < v.dims[0]; ++x)
                check(x, y, z,
                      std::array<double, 3>{centreOf(v, h, 0, x), centreOf(v, h, 1, y),
                                            centreOf(v, h, 2, z)});
}

double norm(const std::array<double, 3>& c) {
    return std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
}

// ---------------------------------------------------------------- hand-made cases

TEST(NearestVertexLabels, SingleVertexGivesAnAllInsideGrid) {
    test::PolyMesh one;
    one.vertices = {{0.0, 0.0, 0.0}};
    const Volume v = voxelise(withNormals(one), 1.0f);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(v.dims[a], 5);
        EXPECT_EQ(v.origin[a], -2.0f);
        EXPECT_EQ(centreOf(v, 1.0f, a, 0), -1.5);
        EXPECT_EQ(centreOf(v, 1.0f, a, 4), 2.5);
    }
    ASSERT_EQ(v.labels.size(), 125u);
    for (unsigned char label : v.labels) EXPECT_EQ(label, 0);
}

TEST(NearestVertexLabels, ZeroSideTestIsInside) {
    // A = origin, B = (0.5, 0, 0); centres along x: -1.5, -0.5, 0.5, 1.5, 2.5.
    // Those above 0.25 are nearer B. Labels depend on x only.
    auto labelsAlongX = [](const Vec3f& normalA, const Vec3f& normalB) {
        const Volume v =
            voxelise(orientedPoints({{0, 0, 0}, {0.5f, 0, 0}}, {normalA, normalB}), 1.0f);
        std::vector<int> row;
        for (int x = 0; x < v.dims[0]; ++x) {
            row.push_back(v.at(x, 0, 0));
            for (int z = 0; z < v.dims[2]; ++z)
                for (int y = 0; y < v.dims[1]; ++y) EXPECT_EQ(v.at(x, y, z), row.back());
        }
        return row;
    };
    // B's normal +x: p = cx - 0.5, exactly 0 at the centre 0.5.
    EXPECT_EQ(labelsAlongX({1, 0, 0}, {1, 0, 0}), (std::vector<int>{0, 0, 0, 255, 255}));
    // A's normal -x makes its centres outside; B's zero normal gives p = 0.
    EXPECT_EQ(labelsAlongX({-1, 0, 0}, {0, 0, 0}), (std::vector<int>{255, 255, 0, 0, 0}));
}

TEST(NearestVertexLabels, CentresFollowTheMixedPrecisionRule) {
    // Column (i, j) holds one vertex with normal +z at exactly the float
    // centre of layer k_i, so p = 0 in that layer (inside) and p > 0 one
    // layer up (outside), if and only if the centres are formed as described.
    // The anchor at the box's low corner fixes the grid; far from the world
    // origin the rounding of the double sum decides, near it the float step
    // index * h does.
    for (const float h : {0.1f, 0.07f}) {
        for (const Vec3f anchor :
             {Vec3f{1000.25f, 2000.5f, 3000.75f}, Vec3f{0.013f, -0.31f, 0.77f}}) {
            SCOPED_TRACE("h " + std::to_string(h) + ", anchor x " + std::to_string(anchor[0]));
            float origin[3];
            for (int a = 0; a < 3; ++a) origin[a] = anchor[static_cast<std::size_t>(a)] - (h + h);
            auto centre = [&](int axis, int index) {
                return static_cast<float>(
                    (static_cast<double>(origin[axis]) + static_cast<double>(h) * 0.5) +
                    static_cast<double>(static_cast<float>(index) * h));
            };
            auto layerOf = [](int i) { return 2 + (7 * i) % 20; };
            std::vector<Vec3f> vertices = {anchor}, normals = {{0, 0, 0}};
            for (int i = 2; i < 40; ++i) {
                for (int j = 2; j < 4; ++j) {
                    vertices.push_back({centre(0, i), centre(1, j), centre(2, layerOf(i))});
                    normals.push_back({0, 0, 1});
                }
            }
            const Volume v = voxelise(orientedPoints(vertices, normals), h);
            for (int a = 0; a < 3; ++a) ASSERT_EQ(v.origin[a], origin[a]);
            for (int i = 2; i < 40; ++i) {
                for (int j = 2; j < 4; ++j) {
                    EXPECT_EQ(v.at(i, j, layerOf(i)), 0) << i << " " << j;
                    EXPECT_EQ(v.at(i, j, layerOf(i) + 1), 255) << i << " " << j;
                }
            }
        }
    }
}

// ---------------------------------------------------------------- meshes

// Level-3 spheres: vertex spacing about 0.1 rad, every normal (rim ones of a
// hemisphere included) within about 0.1 rad of radial. So p = c.n - v.n < 0
// wherever |c| < 0.85, whatever the nearest vertex; far enough outside the
// surface, p > 0. The shell between is left to the oracle test.
struct Checked {
    int outside = 0, inside = 0, insideBelowZ0 = 0;
};

template <class IsFarOutside>
Checked expectFarLabels(const TriMesh& mesh, IsFarOutside isFarOutside) {
    const float h = 0.1f;
    const Volume v = voxelise(mesh, h);
    Checked checked;
    forEachVoxel(v, h, [&](int x, int y, int z, const std::array<double, 3>& c) {
        if (isFarOutside(c)) {
            EXPECT_EQ(v.at(x, y, z), 255) << x << " " << y << " " << z;
            ++checked.outside;
        } else if (norm(c) < 0.85) {
            EXPECT_EQ(v.at(x, y, z), 0) << x << " " << y << " " << z;
            ++checked.inside;
            if (c[2] < 0.0) ++checked.insideBelowZ0;
        }
    });
    return checked;
}

TEST(NearestVertexLabels, SphereIsInsideWithinAndOutsideBeyond) {
    const Checked checked = expectFarLabels(
        withNormals(icosphere(3)), [](const std::array<double, 3>& c) { return norm(c) > 1.15; });
    EXPECT_GT(checked.inside, 1000);  // the centre voxel among them
    EXPECT_GT(checked.outside, 1000);
}

TEST(NearestVertexLabels, OpenHemisphereIsClassifiedLocally) {
    // Below the open rim (z < 0) nothing closes the shape, yet centres near
    // the middle stay inside: the rim normals point outward, not down.
    const Checked checked = expectFarLabels(
        withNormals(hemisphere(3)),
        [](const std::array<double, 3>& c) { return c[2] > 0.15 && norm(c) > 1.15; });
    EXPECT_GT(checked.outside, 500);
    EXPECT_GT(checked.inside, 500);
    EXPECT_GT(checked.insideBelowZ0, 100);
}

TEST(NearestVertexLabels, MatchesABruteForceOracleOnEveryVoxel) {
    // For every voxel, the label must be the one given by some vertex at the
    // smallest single-precision squared distance (the tree decides among ties).
    const float h = 0.1f;
    for (const TriMesh& mesh : {withNormals(icosphere(3)), withNormals(hemisphere(3))}) {
        const Volume v = voxelise(mesh, h);
        forEachVoxel(v, h, [&](int x, int y, int z, const std::array<double, 3>& c) {
            double best = std::numeric_limits<double>::infinity();
            bool canBeOutside = false, canBeInside = false;
            for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
                const Vec3f& p = mesh.vertices[i];
                double d = 0.0;
                for (std::size_t a = 0; a < 3; ++a) d += (c[a] - p[a]) * (c[a] - p[a]);
                d = static_cast<double>(static_cast<float>(d));
                if (d > best) continue;
                if (d < best) canBeOutside = canBeInside = false;
                best = d;
                const Vec3f& n = mesh.vertexNormals[i];
                float side = 0.0f;  // single precision, summed x, y, z
                for (std::size_t a = 0; a < 3; ++a)
                    side += (static_cast<float>(c[a]) - p[a]) * n[a];
                (side > 0.0f ? canBeOutside : canBeInside) = true;
            }
            const unsigned char label = v.at(x, y, z);
            EXPECT_TRUE(label == 255 ? canBeOutside : (label == 0 && canBeInside))
                << x << " " << y << " " << z;
        });
    }
}

TEST(NearestVertexLabels, SameBytesForOneAndTwoThreads) {
    const TriMesh mesh = withNormals(icosphere(4));
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    const Volume serial = voxelise(mesh, 0.05f);
    omp_set_num_threads(2);
    const Volume threaded = voxelise(mesh, 0.05f);
    omp_set_num_threads(saved);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(serial.dims[a], threaded.dims[a]);
    EXPECT_TRUE(serial.labels == threaded.labels);
}

// ---------------------------------------------------------------- refusals

TEST(NearestVertexRefusals, MeshesAndVoxelSizesItCannotLabel) {
    int dims[3];
    float origin[3];
    EXPECT_THROW(mesh2Volume(TriMesh{}, 1.0f, dims, origin), Error);  // no vertex
    test::PolyMesh one;
    one.vertices = {{0.0, 0.0, 0.0}};
    EXPECT_THROW(mesh2Volume(loadMesh(one), 1.0f, dims, origin), Error);  // no normals
    EXPECT_THROW(mesh2Volume(withNormals(test::unitCube()), 0.0f, dims, origin), Error);
}

}  // namespace
}  // namespace shapescale
