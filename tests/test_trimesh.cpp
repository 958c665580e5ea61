#include <gtest/gtest.h>

#include <cmath>

#include "driver/TriMesh.hpp"
#include "support/MeshBuilders.hpp"

namespace shapescale {
namespace {

using test::loadMesh;

TEST(TriMesh, CopiesShareTheTriplesButNotTheNeighbourLists) {
    TriMesh mesh = loadMesh(test::unitCube());
    computeVertexNormals(mesh);
    TriMesh copy = mesh;
    copy.vertices[3][0] = 42.0f;
    EXPECT_EQ(mesh.vertices[3][0], 42.0f);
    copy.vertexNormals[0][1] = 7.0f;
    EXPECT_EQ(mesh.vertexNormals[0][1], 7.0f);
    EXPECT_TRUE(copy.faces.sharesWith(mesh.faces));
    copy.vertexNeighbours[0].push_back(5);
    EXPECT_NE(copy.vertexNeighbours[0].size(), mesh.vertexNeighbours[0].size());
}

TEST(TriMesh, TriplesOutliveTheMeshTheyWereLoadedInto) {
    TriMesh copy;
    {
        TriMesh mesh = loadMesh(test::unitCube());
        copy = mesh;
    }
    EXPECT_EQ(copy.vertices.size(), 8u);
    EXPECT_EQ(copy.vertices[7][2], 1.0f);
}

TEST(VertexNormals, UnitCubeNormalsPointAwayFromTheCentreWithLengthOne) {
    TriMesh mesh = loadMesh(test::unitCube());
    computeVertexNormals(mesh);
    ASSERT_EQ(mesh.vertexNormals.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const Vec3f& n = mesh.vertexNormals[i];
        const Vec3f& v = mesh.vertices[i];
        const double length =
            std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
        EXPECT_NEAR(length, 1.0, 1e-6);  // float division of each component
        for (int a = 0; a < 3; ++a) {
            // Every component points from the centre 0.5 towards the corner.
            EXPECT_GT(n[a] * (v[a] - 0.5f), 0.0f) << "vertex " << i << " axis " << a;
        }
    }
}

TEST(VertexNormals, AreaWeightedMeanOfTheAdjacentFaceNormals) {
    // Two triangles sharing vertex 0: one in the xy plane (area 2), one in the
    // xz plane (area 0.5). Unnormalised normals (0,0,4) and (0,-1,0).
    test::PolyMesh m;
    m.vertices = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {1, 0, 0}, {0, 0, 1}};
    m.faces = {{0, 1, 2}, {0, 3, 4}};
    TriMesh mesh = loadMesh(m);
    computeVertexNormals(mesh);
    const Vec3f& n = mesh.vertexNormals[0];
    const float l = std::sqrt(17.0f);
    EXPECT_FLOAT_EQ(n[0], 0.0f);
    EXPECT_FLOAT_EQ(n[1], -1.0f / l);
    EXPECT_FLOAT_EQ(n[2], 4.0f / l);
    EXPECT_FLOAT_EQ(mesh.vertexNormals[1][2], 1.0f);  // only the first face
}

TEST(VertexNormals, IsolatedAndCancellingVerticesKeepTheZeroNormal) {
    test::PolyMesh m;
    // Vertex 3 belongs to no face; the two faces on 0,1,2 cancel each other.
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}};
    m.faces = {{0, 1, 2}, {0, 2, 1}};
    TriMesh mesh = loadMesh(m);
    computeVertexNormals(mesh);
    for (std::size_t i = 0; i < 4; ++i)
        for (int a = 0; a < 3; ++a) EXPECT_EQ(mesh.vertexNormals[i][a], 0.0f);
}

TEST(VertexNormals, RefreshFollowsMovedVertices) {
    TriMesh mesh = loadMesh(test::unitCube());
    computeVertexNormals(mesh);
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) mesh.vertices[i][2] *= -1.0f;  // mirror
    refreshVertexNormals(mesh);
    ASSERT_EQ(mesh.vertexNormals.size(), 8u);
    // Mirroring turns the orientation inside out: normals now point inwards.
    for (std::size_t i = 0; i < 8; ++i) {
        const Vec3f& v = mesh.vertices[i];
        const Vec3f& n = mesh.vertexNormals[i];
        EXPECT_LT(n[0] * (v[0] - 0.5f), 0.0f);
        EXPECT_LT(n[2] * (v[2] + 0.5f), 0.0f);
    }
}

TEST(MeshMeasures, UnitCubeVolumeAndArea) {
    const MeshMeasures m = measureMesh(loadMesh(test::unitCube()));
    EXPECT_EQ(m.volume, 1.0f);
    EXPECT_DOUBLE_EQ(m.areaSum, 12.0);  // twice the area 6
}

TEST(MeshMeasures, ClockwiseFacesGiveANegativeVolume) {
    const MeshMeasures m = measureMesh(loadMesh(test::flipped(test::unitCube())));
    EXPECT_EQ(m.volume, -1.0f);
    EXPECT_DOUBLE_EQ(m.areaSum, 12.0);
}

TEST(MeshMeasures, SphereVolumeApproachesTheBall) {
    const MeshMeasures m = measureMesh(loadMesh(test::icosphere(4, 2.0, {1, -3, 0.5})));
    const double ball = 4.0 / 3.0 * M_PI * 8.0;
    EXPECT_NEAR(m.volume, ball, 0.01 * ball);  // polyhedron inside the sphere
    EXPECT_LT(m.volume, ball);
    EXPECT_NEAR(m.areaSum * 0.5, 4.0 * M_PI * 4.0, 0.01 * 16.0 * M_PI);
}

TEST(MeshMeasures, NoTrianglesGiveZero) {
    const MeshMeasures m = measureMesh(test::loadOffText("OFF\n1 0 0\n1 2 3\n"));
    EXPECT_EQ(m.volume, 0.0f);
    EXPECT_EQ(m.areaSum, 0.0);
}

}  // namespace
}  // namespace shapescale
