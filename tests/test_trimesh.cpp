#include <tuple>

#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::loadMesh;

TEST(TriMesh, CopiesShareEveryArray) {
    TriMesh copy;
    {
        const TriMesh mesh = test::withNormals(shapes::unitCube());
        copy = mesh;
        copy.vertices[3][0] = 42.0f;
        copy.vertexNormals[0][1] = 7.0f;
        EXPECT_EQ(mesh.vertices[3][0], 42.0f);
        EXPECT_EQ(mesh.vertexNormals[0][1], 7.0f);
        EXPECT_TRUE(copy.faces.sharesWith(mesh.faces));
        EXPECT_TRUE(copy.vertexNeighbours.sharesWith(mesh.vertexNeighbours));
    }
    ASSERT_EQ(copy.vertices.size(), 8u);  // the triples outlive the loaded mesh
    EXPECT_EQ(copy.vertices[7][2], 1.0f);
    EXPECT_EQ(copy.vertexNeighbours[7].size(), 6u);  // and so do the lists
}

// The lists, normals, measures and smoothing split the vertices or the
// triangles among the threads; every sum keeps its order, so the bits are
// the same on any number of threads. Split once, the sphere's triangles span
// the vertex ranges of the threads.
TEST(TriMesh, SameBitsOnOneTwoAndThreeThreads) {
    const shapes::PolyMesh poly = shapes::subdivided(shapes::lumpySphere(20, 100), 1);
    auto stages = [&](int threads) {
        return test::withThreads(threads, [&] {
            TriMesh mesh = test::withNormals(poly);
            const MeshMeasures loaded = measureMesh(mesh);
            std::vector<Vec3f> normals(mesh.vertexNormals.begin(), mesh.vertexNormals.end());
            for (int pass = 0; pass < 2; ++pass) smoothVertices(mesh);
            refreshVertexNormals(mesh);
            normals.insert(normals.end(), mesh.vertexNormals.begin(), mesh.vertexNormals.end());
            return std::tuple(loaded.volume, loaded.areaSum, test::neighbourLists(mesh), normals,
                              std::vector<Vec3f>(mesh.vertices.begin(), mesh.vertices.end()));
        });
    };
    const auto one = stages(1);
    EXPECT_TRUE(one == stages(2));
    EXPECT_TRUE(one == stages(3));
}

// At vertex 0, unnormalised face normals (0, 0, 4) (area 2) and (0, -1, 0) (area 0.5);
// the two faces on 5, 6, 7 cancel; vertex 8 is in no face. Mirrored in z, the faces turn
// inside out: the refreshed normals are mirrored and reversed.
TEST(VertexNormals, AreaWeightedOrZeroAndRefreshedAfterMirroring) {
    TriMesh mesh = test::withNormals({{{0, 0, 0},
                                       {2, 0, 0},
                                       {0, 2, 0},
                                       {1, 0, 0},
                                       {0, 0, 1},
                                       {3, 0, 0},
                                       {4, 0, 0},
                                       {3, 1, 0},
                                       {5, 5, 5}},
                                      {{0, 1, 2}, {0, 3, 4}, {5, 6, 7}, {5, 7, 6}}});
    const Vec3f n = mesh.vertexNormals[0];
    EXPECT_FLOAT_EQ(n[0], 0.0f);
    EXPECT_FLOAT_EQ(n[1], -1.0f / std::sqrt(17.0f));
    EXPECT_FLOAT_EQ(n[2], 4.0f / std::sqrt(17.0f));
    EXPECT_EQ(mesh.vertexNormals[1], (Vec3f{0, 0, 1}));  // only the first face
    for (std::size_t i = 5; i < 9; ++i) EXPECT_EQ(mesh.vertexNormals[i], (Vec3f{0, 0, 0})) << i;
    for (Vec3f& v : mesh.vertices) v[2] = -v[2];
    refreshVertexNormals(mesh);
    EXPECT_EQ(mesh.vertexNormals[0], (Vec3f{-n[0], -n[1], n[2]}));
}

TEST(MeshMeasures, SignedVolumeAndAreaSum) {
    const MeshMeasures cube = measureMesh(loadMesh(shapes::unitCube()));
    const MeshMeasures flipped = measureMesh(loadMesh(shapes::flipped(shapes::unitCube())));
    const MeshMeasures none = measureMesh(shapes::loadOffText("OFF\n1 0 0\n1 2 3\n"));
    // Split twice by edge midpoints: the same surface, dyadic coordinates (exact sums).
    const TriMesh split = loadMesh(shapes::subdivided(shapes::unitCube(), 2));
    const MeshMeasures splitCube = measureMesh(split);
    EXPECT_EQ(std::tuple(split.faces.size(), split.vertices.size()), std::tuple(192u, 98u));
    EXPECT_EQ(std::tuple(splitCube.volume, splitCube.areaSum), std::tuple(1.0f, 12.0));
    EXPECT_EQ(std::tuple(cube.volume, cube.areaSum), std::tuple(1.0f, 12.0));  // area sum: twice 6
    EXPECT_EQ(std::tuple(flipped.volume, flipped.areaSum), std::tuple(-1.0f, 12.0));
    EXPECT_EQ(std::tuple(none.volume, none.areaSum), std::tuple(0.0f, 0.0));
    const MeshMeasures m = measureMesh(loadMesh(shapes::icosphere(4, 2.0, {1, -3, 0.5})));
    const double ball = 4.0 / 3.0 * M_PI * 8.0;
    EXPECT_NEAR(m.volume, ball, 0.01 * ball);  // polyhedron inside the sphere
    EXPECT_LT(m.volume, ball);
    EXPECT_NEAR(m.areaSum * 0.5, 4.0 * M_PI * 4.0, 0.01 * 16.0 * M_PI);
}

}  // namespace
}  // namespace shapescale
