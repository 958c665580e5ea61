// The mesh: the TriMesh arrays and measures, the OFF, PLY, STL and OBJ readers,
// their errors, the edge statistics and the outward orientation; the formats
// through the real binary.

#include <bit>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "driver/MeshCheck.hpp"
#include "mesh/MeshReader.hpp"
#include "mesh/MeshStats.hpp"
#include "mesh/ObjReader.hpp"
#include "mesh/OffReader.hpp"
#include "mesh/Orientation.hpp"
#include "mesh/PlyReader.hpp"
#include "mesh/ReaderInput.hpp"
#include "mesh/StlReader.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::loadMesh;
using shapes::loadOffText;
using shapes::PlyStyle;
using shapes::PolyMesh;
using Reader = TriMesh (*)(std::FILE*, const std::string&, ReadReport*);
using Enc = PlyStyle::Encoding;

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

// "counts: vertices | triangles | bounding box", numbers in the stream's default format.
std::string describe(const TriMesh& m) {
    std::ostringstream s;
    s << m.nVertices << " " << m.nFaces << ":";
    for (const Vec3f& v : m.vertices) s << " " << v[0] << " " << v[1] << " " << v[2] << ",";
    s << " |";
    for (const Triangle& t : m.faces) s << " " << t[0] << " " << t[1] << " " << t[2] << ",";
    s << " | " << m.bboxMin[0] << " " << m.bboxMin[1] << " " << m.bboxMin[2] << " .. "
      << m.bboxMax[0] << " " << m.bboxMax[1] << " " << m.bboxMax[2];
    return s.str();
}

TEST(OffLoader, AcceptedVariantsOfTheFormatAndTheBoundingBox) {
    const char* const files[] = {
        "# made by hand\nOFF\n# 3 vertices, 1 face\n3 1 0\n0 0 0\n1 0 0\n0 2 0\n3 0 1 2\n",
        "\n  OFF  # header\n\n3 1 0 # counts\n0 0 0\n# between\n\n1 0 0 # x\n0 2 0\n\n# faces\n3 0 "
        "1 2\n#\n",
        "OFF\r\n3 1 0\r\n0 0 0\r\n1 0 0\r\n0 2 0\r\n3 0 1 2\r\n",
        // Vertices span lines; the rest of a vertex's last line is dropped.
        "OFF\n3 1 0\n0 0\n0 1 0 0 0\n2\n0 rest of the line is dropped\n3 0 1 2\n",
        "OFF3 1 0\n0 0 0\n1 0 0\n0 2 0\n3 0 1 2\n",           // counts glued on
        "OFF 3 1 0\n0 0 0\n1 0 0\n0 2 0\n3 0 1 2 255 0 0\n",  // face colour
        "COFF\n3 1 0\n0 0 0 255 0 0 255\n1 0 0 0 255 0 255\n0 2 0 0 0 255 255\n3 0 1 2\n",
        "STNOFF\n3 1 0\n0 0 0 0 0 1 0.5 0.5\n1 0 0 0 0 1 1 0\n0 2 0 0 0 1 0 1\n3 0 1 2\n",
    };
    for (const char* text : files)
        EXPECT_EQ(describe(loadOffText(text)),
                  "3 1: 0 0 0, 1 0 0, 0 2 0, | 0 1 2, | 0 0 0 .. 1 2 0")
            << text;
    EXPECT_EQ(describe(loadOffText("OFF\n3 0 0\n1 5 -2\n-3 0 4\n2 -1 0.1\n")),
              "3 0: 1 5 -2, -3 0 4, 2 -1 0.1, | | -3 -1 -2 .. 2 5 4");
    EXPECT_EQ(describe(loadOffText("OFF\n1 0 0\n-1.5 2 3.25\n")),
              "1 0: -1.5 2 3.25, | | -1.5 2 3.25 .. -1.5 2 3.25");
}

// Polygons become fans around their first vertex; faces of fewer than three vertices are
// reported on standard output ("errore <face> <count>") and skipped.
TEST(OffLoader, PolygonsBecomeFansAndShortFacesAreReportedAndSkipped) {
    std::string text = "OFF\n9 6 0\n";
    for (int i = 0; i < 9; ++i) text += std::to_string(i) + " " + std::to_string(i * i) + " 0\n";
    text += "0\n1 99\n4 0 1 2 3\n# not a face line\n5 0 1 2 3 4\n9 0 1 2 3 4 5 6 7 8\n2 7 8\n";
    testing::internal::CaptureStdout();
    const TriMesh mesh = loadOffText(text);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "errore 0 0 \nerrore 1 1 \nerrore 5 2 \n");
    const std::vector<Triangle> expected = {{0, 1, 2}, {0, 2, 3},             // quad
                                            {0, 1, 2}, {0, 2, 3}, {0, 3, 4},  // pentagon
                                            {0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 5},
                                            {0, 5, 6}, {0, 6, 7}, {0, 7, 8}};  // nine, read whole
    EXPECT_EQ(std::vector<Triangle>(mesh.faces.begin(), mesh.faces.end()), expected);
    EXPECT_EQ(mesh.nFaces, 6);
    // Only the first three corners of a face enter the neighbour lists.
    const std::vector<std::vector<int>> lists = test::neighbourLists(mesh);
    EXPECT_EQ(lists[0], (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(lists[2], (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(lists[3].empty() && lists[7].empty());
    EXPECT_EQ(shapes::loadMesh(shapes::quadCube()).faces.size(), 12u);
}

TEST(OffLoader, ClosedMeshListsEachAdjacentVertexOnce) {
    const TriMesh mesh = shapes::loadMesh(shapes::icosphere(2));
    std::vector<std::vector<int>> adjacent(mesh.vertices.size());
    for (const Triangle& t : mesh.faces)
        for (int k = 0; k < 3; ++k)
            adjacent[static_cast<std::size_t>(t[k])].push_back(t[(k + 1) % 3]);
    for (std::size_t i = 0; i < adjacent.size(); ++i) {
        std::vector<int> listed(mesh.vertexNeighbours[i].begin(), mesh.vertexNeighbours[i].end());
        std::sort(listed.begin(), listed.end());
        std::sort(adjacent[i].begin(), adjacent[i].end());
        EXPECT_EQ(listed, adjacent[i]);
        EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
    }
}

// The PLY, STL and OBJ readers against the OFF reader, their errors, the edge
// statistics and the outward orientation; the formats through the real binary.

TriMesh readBytes(Reader reader, std::string bytes, const std::string& name) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
        fmemopen(bytes.data(), bytes.size(), "r"), std::fclose);
    if (in == nullptr) throw std::runtime_error("fmemopen failed");
    return reader(in.get(), name, nullptr);
}

// Coordinates that every format stores exactly: floats.
PolyMesh floatRounded(PolyMesh mesh) {
    for (auto& p : mesh.vertices)
        for (double& c : p) c = static_cast<float>(c);
    return mesh;
}

PolyMesh fanTriangles(PolyMesh mesh) {
    std::vector<std::vector<int>> triangles;
    for (const auto& f : mesh.faces)
        for (std::size_t k = 1; k + 1 < f.size(); ++k) triangles.push_back({f[0], f[k], f[k + 1]});
    mesh.faces = triangles;
    return mesh;
}

// Every face line written backwards.
PolyMesh reversedLines(PolyMesh mesh) {
    for (auto& f : mesh.faces) std::reverse(f.begin(), f.end());
    return mesh;
}

void expectSameMesh(const TriMesh& got, const TriMesh& want) {
    EXPECT_EQ(got.nVertices, want.nVertices);
    EXPECT_EQ(got.nFaces, want.nFaces);
    EXPECT_EQ(std::vector<Vec3f>(got.vertices.begin(), got.vertices.end()),
              std::vector<Vec3f>(want.vertices.begin(), want.vertices.end()));
    EXPECT_EQ(std::vector<Triangle>(got.faces.begin(), got.faces.end()),
              std::vector<Triangle>(want.faces.begin(), want.faces.end()));
    EXPECT_EQ(got.vertexNeighbours, want.vertexNeighbours);
    EXPECT_TRUE(std::equal(got.bboxMin, got.bboxMin + 3, want.bboxMin));
    EXPECT_TRUE(std::equal(got.bboxMax, got.bboxMax + 3, want.bboxMax));
}

const std::vector<PolyMesh>& sampleMeshes() {
    static const std::vector<PolyMesh> meshes = {
        floatRounded(shapes::icosphere(2, 1.3, {1, -2, 0.5})), shapes::quadCube()};
    return meshes;
}

TEST(Readers, EveryEncodingGivesTheOffMesh) {
    const struct {
        const char* what;
        std::optional<PlyStyle> ply;  // none: OBJ
        bool relative;                // OBJ vertex numbers
    } cases[] = {
        // clang-format off
        {"ply ascii", PlyStyle{}, false},
        {"ply ascii extras, double, uint/short", PlyStyle{Enc::ascii, "double", "uint", "short", true}, false},
        {"ply little endian extras, uchar/int", PlyStyle{Enc::binaryLittleEndian, "float", "uchar", "int", true}, false},
        {"ply big endian extras, double, ushort/uint32", PlyStyle{Enc::binaryBigEndian, "float64", "ushort", "uint32", true}, false},
        {"ply big endian, int8/uint16", PlyStyle{Enc::binaryBigEndian, "float", "int8", "uint16"}, false},
        {"obj", std::nullopt, false},
        {"obj relative", std::nullopt, true},
        // clang-format on
    };
    for (const PolyMesh& poly : sampleMeshes()) {
        const TriMesh want = shapes::loadMesh(poly);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            const std::string bytes =
                c.ply ? shapes::toPly(poly, *c.ply) : shapes::toObj(poly, c.relative);
            expectSameMesh(readBytes(c.ply ? readPlyMesh : readObjMesh, bytes, "memory"), want);
        }
    }
}

// STL stores corners, so the vertices come back merged and numbered by first
// appearance: map them onto the OFF mesh's by position and compare.
TEST(Readers, StlMergesCornersIntoTheOffVertices) {
    for (const PolyMesh& poly : sampleMeshes()) {
        const TriMesh want = shapes::loadMesh(fanTriangles(poly));
        std::map<Vec3f, int> byPosition;
        for (std::size_t i = 0; i < want.vertices.size(); ++i)
            byPosition[want.vertices[i]] = static_cast<int>(i);
        for (bool binary : {false, true}) {
            SCOPED_TRACE(binary ? "binary" : "ascii");
            const TriMesh got = readBytes(readStlMesh, shapes::toStl(poly, binary), "memory.stl");
            ASSERT_EQ(got.nVertices, want.nVertices);
            EXPECT_EQ(got.nFaces, static_cast<int>(want.faces.size()));
            std::vector<int> toWant;
            for (const Vec3f& p : got.vertices) toWant.push_back(byPosition.at(p));
            std::vector<std::vector<int>> neighbours(want.vertices.size());
            for (std::size_t i = 0; i < got.vertexNeighbours.size(); ++i)
                for (int n : got.vertexNeighbours[i])
                    neighbours[static_cast<std::size_t>(toWant[i])].push_back(
                        toWant[static_cast<std::size_t>(n)]);
            EXPECT_EQ(neighbours, test::neighbourLists(want));
            ASSERT_EQ(got.faces.size(), want.faces.size());
            for (std::size_t t = 0; t < got.faces.size(); ++t)
                for (std::size_t c = 0; c < 3; ++c)
                    EXPECT_EQ(toWant[static_cast<std::size_t>(got.faces[t][c])], want.faces[t][c]);
            for (int a = 0; a < 3; ++a) EXPECT_EQ(got.bboxMax[a], want.bboxMax[a]);
        }
    }
    // -0 and +0 are one position; the vertex keeps its first value.
    const TriMesh zeros =
        readBytes(readStlMesh,
                  "solid z\nfacet normal 0 0 1\nouter loop\nvertex -0 0 0\nvertex "
                  "1 0 0\nvertex 0 1 0\nendloop\nendfacet\nfacet normal 0 0 1\n"
                  "outer loop\nvertex 0 0 0\nvertex 0 1 0\nvertex -1 0 -0\n"
                  "endloop\nendfacet\nendsolid z\n",
                  "memory.stl");
    EXPECT_EQ(zeros.nVertices, 4);
    EXPECT_EQ(zeros.faces[1], (Triangle{0, 2, 3}));
    EXPECT_TRUE(std::signbit(zeros.vertices[0][0]));
}

TEST(Readers, MalformedFilesNameTheFilePlaceAndProblem) {
    const std::string plyHead =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
        "property float y\nproperty float z\n";
    const std::string tri = plyHead +
                            "element face 1\nproperty list uchar int vertex_indices\n"
                            "end_header\n0 0 0\n1 0 0\n0 1 0\n";
    const std::string cubeLe = shapes::toPly(shapes::unitCube(), {Enc::binaryLittleEndian});
    PolyMesh huge = shapes::unitCube();
    huge.vertices[5][1] = 1e300;
    PolyMesh nan = shapes::unitCube();
    nan.vertices[3][2] = NAN;
    const std::string facet = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n";
    const std::string stlBinary = shapes::toStl(shapes::unitCube(), true);
    const std::string v3 = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const std::string offTri = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n";
    struct Case {
        Reader reader;
        std::string bytes;
        const char* expected;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {loadOffMesh, "# only a comment\n\n", "no OFF header found (the file ends at line 2)"},
        {loadOffMesh, "OFF\n8\n", "memory:2: the counts line holds only one integer"},
        {loadOffMesh, "OFF8\n", "only one integer"},
        {loadOffMesh, "OFF\n3 1 0\n0 0 0\n1 0 0\n", "vertex 2 of 3 is missing (the file ends at line 4)"},
        {loadOffMesh, "OFF\n2 0 0\n0 0 0\n1 abc 0\n", "memory:4: vertex 1: coordinate 'abc'"},
        {loadOffMesh, "OFF\n2 0 0\n0 0 0\n1 nan 0\n", "memory:4: vertex 1: coordinate 'nan'"},
        {loadOffMesh, "OFF\n2 0 0\n0 0 0\n1 -infinity 0\n", "coordinate '-infinity' is not a finite number"},
        {loadOffMesh, "OFF\n2 0 0\n0 0 0\n1 1e50 0\n", "coordinate '1e50'"},
        {loadOffMesh, "OFF\n2 0 0\n0 0 0\n1 1.0x 0\n", "coordinate '1.0x'"},
        {loadOffMesh, "COFF\n1 0 0\n0 0\n", "fewer than three coordinates"},
        {loadOffMesh, offTri + "# comment\n3 0 x 2\n", "memory:7: face 0: vertex number 'x' is not an integer"},
        {loadOffMesh, offTri + "3 0 1.5 2\n", "vertex number '1.5'"},
        {loadOffMesh, offTri + "three 0 1 2\n", "vertex count 'three'"},
        {loadOffMesh, offTri + "3 0 1 3\n", "memory:6: face 0: vertex number 3 is outside 0..2"},
        {loadOffMesh, offTri + "2000000000 0 1 2\n", "2000000000 vertices announced, 3 found before the end"},
        {loadOffMesh, "OFF BINARY\n", "binary OFF files are not supported"},
        {loadOffMesh, "nOFF\n4\n1 0 0\n", "not supported"},
        {readPlyMesh, "plx\n", "memory:1: not a PLY file"},
        {readPlyMesh, plyHead, "no 'end_header' line (the file ends at line 6)"},
        {readPlyMesh, "ply\nelement vertex 0\nend_header\n", ":3: no 'format' line"},
        {readPlyMesh, "ply\nformat binary_middle_endian 1.0\n", "unknown encoding"},
        {readPlyMesh, "ply\nformat ascii 1.0\nelement vertex 1\nproperty int128 x\n", ":4: unknown property type 'int128'"},
        {readPlyMesh,
         "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float "
         "y\nend_header\n",
         "the vertex element has no property 'z'"},
        {readPlyMesh, plyHead + "element face 1\nproperty list uchar int vertex\nend_header\n", "no list property 'vertex_indices'"},
        {readPlyMesh,
         plyHead + "element face 1\nproperty list uchar float vertex_indices\nend_header\n",
         "'vertex_indices' is not a list of integers"},
        {readPlyMesh, plyHead + "element vertex 2\n", ":7: a second 'vertex' element"},
        {readPlyMesh,
         "ply\nformat ascii 1.0\nelement vertex 1073741824\nproperty float x\n"
         "property float y\nproperty float z\nend_header\n0 0 0\n",
         ":7: the header announces 1073741824 vertex elements"},
        {readPlyMesh, "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n",
         ":3: 4000000000 vertex elements are more than this reader holds"},
        {readPlyMesh,
         "ply\nformat binary_big_endian 1.0\nelement vertex 1073741824\n"
         "property float x\nproperty float y\nproperty float z\nend_header\n123456",
         "which need at least 12884901888 bytes; the file holds 6 after the header"},
        {readPlyMesh, cubeLe.substr(0, cubeLe.size() - 2), "memory: byte"},
        {readPlyMesh, cubeLe.substr(0, cubeLe.size() - 2), "face 11: a list of 3 int values"},
        {readPlyMesh, plyHead + "end_header\n0.000 0.000 0.000\n1.000 0.000 0.000\n", "vertex 2 is missing (the file ends at line 9)"},
        {readPlyMesh, plyHead + "end_header\n0 0 0\n1 nan 0\n1 1 1\n", "memory:9: vertex 1: coordinate y is not a finite number"},
        {readPlyMesh, shapes::toPly(huge, {Enc::binaryBigEndian, "double"}),
         "vertex 5: coordinate y is not a finite number in single precision"},
        {readPlyMesh, tri + "2 0 1\n", "memory:13: face 0 has 2 vertices; a face needs at least 3"},
        {readPlyMesh, tri + "3 0 1 5\n", "memory:13: face 0: vertex number 5 is outside 0..2"},
        {readPlyMesh, tri + "300 0 1 2\n", "face 0: '300' is not an integer of type uchar"},
        {readPlyMesh, tri + "3 0 -1 2\n", "vertex number -1 is outside the vertices"},
        {readPlyMesh, tri + "3 0 1.5 2\n", "'1.5' is not an integer of type int"},
        {readStlMesh, "x" + stlBinary.substr(1, stlBinary.size() - 2),
         "byte 80: not ASCII STL (no 'solid' at the start of a text) and not binary STL (12 "
         "triangles need 684 bytes, the file has 683)"},
        {readStlMesh, "solid x\n" + facet + "vertex 0 1 0\nendloop\nendfacet\n", "'endsolid' is missing after facet 1"},
        {readStlMesh, "solid x\nfacet normal 0 0 1\nouter lop\n", "memory:3: facet 0: expected 'loop', found 'lop'"},
        {readStlMesh, "solid x\n" + facet + "vertex 0 nan 0\n", "memory:6: facet 0: coordinate 'nan' is not a finite number"},
        {readStlMesh, "solid x\n" + facet + "endloop\n", "facet 0 has 2 vertices"},
        {readStlMesh, "solid x\n" + facet + "vertex 0 1 0\nendloop\nendfacet\nendsolid x\nfoo\n",
         "expected 'solid' after 'endsolid', found 'foo'"},
        {readStlMesh, shapes::toStl(nan, true), "memory: byte 84: triangle 0: a coordinate is not a finite number"},
        {readObjMesh, "v 1 2\n", "memory:1: a vertex needs three coordinates"},
        {readObjMesh, "# c\nv 1 x 2\n", "memory:2: vertex 1: coordinate 'x' is not a finite number"},
        {readObjMesh, "v 1e50 0 0\n", "coordinate '1e50'"},
        {readObjMesh, v3 + "f 1 2\n", "memory:4: a face has 2 corners; it needs at least 3"},
        {readObjMesh, v3 + "f 1/1 a 3\n", "face corner 'a' does not begin with a vertex number"},
        {readObjMesh, v3 + "f 0 1 2\n", "vertex number 0 in '0'; numbers start at 1"},
        {readObjMesh, v3 + "f -4 -2 -1\n", "relative vertex number -4 reaches before the first"},
        {readObjMesh, v3 + "f 1 2 \\\n 9\n", "memory:5: face 0: vertex number 9 is outside 1..3"},
        // clang-format on
    };
    for (const Case& c : cases) {
        const std::string message = test::errorOf([&] { readBytes(c.reader, c.bytes, "memory"); });
        EXPECT_NE(message.find(c.expected), std::string::npos)
            << c.bytes << "\n=> " << message << "\nexpected: " << c.expected;
        EXPECT_EQ(message.rfind("memory", 0), 0u) << message;
    }
}

// The dialects of other tools' files, through readMesh: each loads as its
// plain form (and says its warning) or is refused with its line. The rows
// marked run also go through the real binary for their status.
TEST(Dialects, EachLoadsAsItsPlainFormOrIsRefusedWithItsLine) {
    const std::string v = "0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n1 0 1\n1 1 1\n0 1 1\n";
    const std::string f = "4 0 3 2 1\n4 4 5 6 7\n4 0 1 5 4\n4 1 2 6 5\n4 2 3 7 6\n4 3 0 4 7\n";
    const std::string cube = "OFF\n8 6 0\n" + v + f;
    // A frustum: the top's weight 2 halves it, area 14.487 where the cube's is 24.
    const std::string base = "-1 -1 -1\n1 -1 -1\n1 1 -1\n-1 1 -1\n";
    const std::string frustum =
        "OFF\n8 6 0\n" + base + "-.5 -.5 .5\n.5 -.5 .5\n.5 .5 .5\n-.5 .5 .5\n";
    const std::string weighted =
        "4OFF\n8 6 0\n-1 -1 -1 1\n1 -1 -1 1\n1 1 -1 1\n-1 1 -1 1\n-1 -1 1 2\n1 -1 1 2\n"
        "1 1 1 2 0.5 0.5 0.5\n-1 1 1 2\n";
    const std::string ply3 =
        "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
        "property float z\n";
    const std::string six = "0 0 0\n0 1 0\n1 0 0\n1 1 0\n2 0 0\n2 1 0\n";
    const std::string stl = shapes::toStl(shapes::unitCube(), true);
    const auto utf16 = [](const std::string& text, bool mark) {
        std::string out = mark ? "\xFF\xFE" : "";
        for (char c : text) out += std::string{c, '\0'};
        return out;
    };
    struct Row {
        const char* name;  // the extension picks the reader
        std::string bytes;
        std::string line;         // the error line; for a file that loads, its warning or ""
        std::string sameAs = {};  // for a file that loads: bytes it reads as, in a file named:
        const char* sameAsName = "want.off";
        bool run = false;  // also through the binary
    };
    const std::string noFace = ": the file has no face: it holds ";
    const std::vector<Row> rows = {
        // clang-format off
        {"prism.off", weighted + f, "", frustum + f, "want.off", true},
        {"w0.off", "C4OFF\n1 0 0\n1 2 3 0.0 255 0 0\n", "w0.off:3: vertex 0: weight '0.0' is 0, which puts the vertex at infinity"},
        {"big.off", "4OFF\n1 0 0\n1e30 0 0 1e-30\n",
         "big.off:3: vertex 0: coordinate '1e30' divided by the weight '1e-30' is not a finite "
         "number in single precision"},
        // One vertex number per line; a colour after the last one.
        {"lines.off", "OFF\n8 6 0\n" + v + "4\n0\n3\n2\n1\n4 4 5\n6 7 255 0 0\n" + f.substr(20), "", cube},
        {"cut.off", "OFF\n8 7 0\n" + v + f + "4 0 3\n2",
         "cut.off: face 6: 4 vertices announced, 3 found before the end of the file (the file "
         "ends at line 18)"},
        {"bare.off", "# no keyword\n\n8 6 0\n" + v + f, "", cube},
        // Lines before a header are skipped, as ever: the keyword decides.
        {"late.off", "1 2 3\nOFF\n" + cube.substr(4), "", cube},
        {"empty.off", "OFF\n8 0 0\n" + v, "empty.off" + noFace + "8 vertices and 0 faces"},
        {"short.off", "OFF\n3 1 0\n" + v.substr(0, 18) + "2 0 1\n",
         "short.off" + noFace + "3 vertices and 1 face of fewer than three vertices"},
        {"points.ply",
         ply3 + "element edge 1\nproperty int a\nproperty int b\nend_header\n" + six + "0 1\n",
         "points.ply" + noFace + "6 vertex and 1 edge elements", "", "", true},
        {"lines.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2 3 1\n", "lines.obj" + noFace + "3 vertices ('v') and 1 line ('l')"},
        // Two strips: 0 1 2 3, then 4 5 0 0 whose second triangle repeats vertex 0.
        {"strips.ply",
         ply3 + "element tristrips 1\nproperty list int int vertex_indices\nend_header\n" + six +
             "9 0 1 2 3 -1 4 5 0 0\n",
         "", "OFF\n6 3 0\n" + six + "3 0 1 2\n3 2 1 3\n3 4 5 0\n"},
        {"pad.stl", stl + "\n", "pad.stl: 1 trailing byte after the 12 triangles ignored", stl, "want.stl", true},
        {"cut.stl", stl.substr(0, 683),
         "cut.stl: byte 80: not ASCII STL (it begins with 'solid' but has control bytes in its "
         "first 84) and not binary STL (12 triangles need 684 bytes, the file has 683)"},
        {"wide.obj", utf16("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", true),
         "wide.obj: the file is UTF-16 text (byte-order mark FF FE), not ASCII or UTF-8", "", "",
         true},
        {"wide.off", utf16(cube, false), "wide.off: the file is UTF-16 text (every other byte is 0), not ASCII or UTF-8"},
        {"nul.ply",
         "ply\nformat ascii 1.0\nelement vertex 1\nproperty fl" + std::string(1, '\0') + "at x\n",
         "nul.ply:4: unknown property type 'fl\\x00at'"},
        {"dle.ply", "ply\nformat asc\x10ii 1.0\n", "dle.ply:2: unknown encoding 'asc\\x10ii'"},
        // clang-format on
    };
    test::TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::writeText(dir.file(r.name), r.bytes);
        std::vector<std::string> warnings;
        if (r.sameAs.empty()) {
            EXPECT_EQ(test::errorOf([&] { readMesh(dir.file(r.name), &warnings); }),
                      dir.path() + "/" + r.line);
        } else {
            test::writeText(dir.file(r.sameAsName), r.sameAs);
            expectSameMesh(readMesh(dir.file(r.name), &warnings), readMesh(dir.file(r.sameAsName)));
            EXPECT_EQ(warnings, r.line.empty()
                                    ? std::vector<std::string>{}
                                    : std::vector<std::string>{dir.path() + "/" + r.line});
        }
        if (!r.run) continue;
        const test::RunResult run =
            test::runBinary({"-f", r.name, "-o", std::string(r.name) + ".out", "-n", "1", "-r",
                             "0.25", "--warnings"},
                            dir.path());
        const std::vector<std::string> err = test::lines(run.err);
        EXPECT_EQ(run.status, r.sameAs.empty() ? 2 : 1) << run.err;
        const std::string want = (r.sameAs.empty() ? "shapescale: " : "warning: ") + r.line;
        EXPECT_TRUE(r.line.empty() || std::find(err.begin(), err.end(), want) != err.end())
            << run.err;
    }
}

// The fast number parsing against strtof and strtoll, the conversions that
// every coordinate and index went through: the same verdict and, for every
// number accepted, the same bits.
TEST(ReaderNumbers, ParsingGivesTheStrtoVerdictAndBits) {
    std::vector<std::string> tokens = {"", std::string("1\0", 2), std::string(80, '9') + "e-80",
                                       "0." + std::string(60, '0') + "1e61"};
    for (std::string_view t : readers::splitTokens(
             "0 -0 +1.5 0x1p-3 0X1.8P1 inf -Infinity NaN nan(12) 1e e5 . - .5 5. -.5e-3 1e-46 "
             "1e-45 7.006e-46 1e-40 3.4028235e38 3.4028236e38 1e39 00012 1,5 1_0 12a +7 -12 1e3 "
             "9223372036854775807 9223372036854775808 -9223372036854775809"))
        tokens.emplace_back(t);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> digit(0, 9), length(1, 25), exponent(-50, 40);
    std::uniform_real_distribution<float> anyFloat(-1e6f, 1e6f);
    char text[64];
    for (int i = 0; i < 20000; ++i) {
        std::string t = i % 3 == 0 ? "-" : "";
        const int n = length(rng), point = length(rng) % (n + 1);
        for (int k = 0; k < n; ++k) t += (k == point ? "." : "") + std::to_string(digit(rng));
        if (i % 2 == 0) t += "e" + std::to_string(exponent(rng));
        tokens.push_back(t);
        // Halfway between two floats, and the decimals just beside it.
        const float a = anyFloat(rng);
        std::snprintf(text, sizeof text, "%.25g", (double(a) + std::nextafter(a, 2e6f)) / 2);
        tokens.push_back(text);
        std::snprintf(text, sizeof text, "%.8e", double(a));
        tokens.push_back(text);
    }
    for (const std::string& t : tokens) {
        char* end = nullptr;
        const float wantFloat = std::strtof(t.c_str(), &end);
        const bool floatOk = !t.empty() && end == t.c_str() + t.size() && std::isfinite(wantFloat);
        float gotFloat = 0;
        ASSERT_EQ(readers::parseFloat(t, gotFloat), floatOk) << t;
        if (floatOk) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(gotFloat),
                      std::bit_cast<std::uint32_t>(wantFloat))
                << t;
        }
        errno = 0;
        const long long wantInt = std::strtoll(t.c_str(), &end, 10);
        const bool intOk = !t.empty() && end == t.c_str() + t.size() && errno != ERANGE;
        long long gotInt = 0;
        ASSERT_EQ(readers::parseInteger(t, gotInt), intOk) << t;
        if (intOk) {
            ASSERT_EQ(gotInt, wantInt) << t;
        }
    }
}

// The edge counts, and the warnings they give; the nearest-vertex mode does not need a
// closed mesh. Euler: V - E + F = 2 for a sphere, 0 for a torus, 1 for a disc.
TEST(MeshStats, EdgesAndWarningsOfClosedOpenFinnedTurnedAndBrokenMeshes) {
    PolyMesh loose = shapes::icosphere(1), open = shapes::unitCube(), fin = shapes::unitCube(),
             turned = shapes::unitCube();
    loose.vertices.push_back({9, 9, 9});
    // Drop the two triangles of one side; add a fin on an edge; turn one triangle.
    open.faces.resize(10);  // the last two are the side x = 1
    fin.vertices.push_back({0.5, 0.5, 3.0});
    fin.faces.push_back({fin.faces[0][0], fin.faces[0][1], 8});
    std::reverse(turned.faces[0].begin(), turned.faces[0].end());
    const PolyMesh torus = shapes::torus(3, 1, 12, 8), hemi = shapes::hemisphere(2);
    const auto count = [](const PolyMesh& m) {
        return std::pair<std::int64_t, std::int64_t>(m.vertices.size(),
                                                     fanTriangles(m).faces.size());
    };
    const auto [sv, sf] = count(loose);
    const auto [tv, tf] = count(torus);
    const auto [hv, hf] = count(hemi);
    struct Case {
        const char* what;
        PolyMesh mesh;
        std::array<std::int64_t, 5> expected;  // edges, boundary, non-manifold, misoriented, unused
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        // clang-format off
        {"sphere with a loose vertex", loose, {sv - 1 + sf - 2, 0, 0, 0, 1}, {}},
        {"torus", torus, {tv + tf, 0, 0, 0, 0}, {}},
        {"cube", shapes::unitCube(), {18, 0, 0, 0, 0}, {}},
        {"quad cube", shapes::quadCube(), {18, 0, 0, 0, 0}, {}},
        {"open", open, {17, 4, 0, 0, 0}, {"the mesh is open (4 boundary edges)"}},
        {"fin", fin, {20, 2, 1, 0, 0}, {"the mesh is open (2", "1 non-manifold edges"}},
        {"one triangle turned", turned, {18, 0, 0, 3, 0}, {"not consistently oriented: 3 edges"}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MeshStats t = computeMeshStats(shapes::loadMesh(c.mesh));
        EXPECT_EQ((std::array{t.edges, t.boundaryEdges, t.nonManifoldEdges, t.misorientedEdges,
                              t.unusedVertices}),
                  c.expected);
        EXPECT_EQ(t.isClosed(), c.expected[1] == 0);
        EXPECT_EQ(t.consistentlyOriented(), c.expected[3] == 0);
        const std::vector<std::string> w = meshWarnings(t, true);
        ASSERT_EQ(w.size(), c.warnings.size());
        for (std::size_t k = 0; k < w.size(); ++k)
            EXPECT_NE(w[k].find(c.warnings[k]), std::string::npos) << w[k];
        EXPECT_EQ(meshWarnings(t, false).size(), w.size() - (t.boundaryEdges > 0 ? 1 : 0));
    }
    const MeshStats h = computeMeshStats(shapes::loadMesh(hemi));
    EXPECT_FALSE(h.isClosed());
    EXPECT_EQ(hv - h.edges + hf, 1);
    // Each triangle has three sides: 3 F = 2 (E - B) + B.
    EXPECT_EQ(h.boundaryEdges, 2 * h.edges - 3 * hf);
    EXPECT_GT(h.boundaryEdges, 0);
    EXPECT_TRUE(h.consistentlyOriented());
}

// Orientation: a clockwise closed mesh comes out as the same file with every
// face line written backwards (polygons: their fan triangles written backwards).
TEST(Orientation, ClockwiseClosedMeshesAreReversedOthersKept) {
    const PolyMesh sphere = shapes::icosphere(2);
    struct Case {
        const char* what;
        PolyMesh loaded;
        PolyMesh expected;  // the file that gives the result
        bool flips;
    };
    const std::vector<Case> cases = {
        {"clockwise sphere", shapes::flipped(sphere), reversedLines(shapes::flipped(sphere)), true},
        {"clockwise quad cube", shapes::flipped(shapes::quadCube()),
         reversedLines(fanTriangles(shapes::flipped(shapes::quadCube()))), true},
        {"outward sphere", sphere, sphere, false},
        {"clockwise open hemisphere", shapes::flipped(shapes::hemisphere(2)),
         shapes::flipped(shapes::hemisphere(2)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TriMesh mesh = shapes::loadMesh(c.loaded);
        const TriMesh copy = mesh;
        EXPECT_EQ(orientOutward(mesh), c.flips);
        TriMesh want = shapes::loadMesh(c.expected);
        EXPECT_EQ(mesh.nFaces, copy.nFaces);  // the count of face lines read is kept
        want.nFaces = copy.nFaces;
        expectSameMesh(mesh, want);
        EXPECT_EQ(copy.faces[0], mesh.faces[0]);  // copies share the triangles
    }
    // Normals already there are computed again and point outwards.
    TriMesh mesh = shapes::loadMesh(shapes::flipped(sphere));
    computeVertexNormals(mesh);
    ASSERT_TRUE(orientOutward(mesh));
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i)
        EXPECT_GT(sprod(mesh.vertexNormals[i].data(), mesh.vertices[i].data()), 0.9f) << i;
}

// The same mesh in every format, chosen by extension in any case, gives the
// same occupancy, grid and summary through the real binary.
TEST(ReadersCli, EveryFormatGivesTheSameRun) {
    const PolyMesh poly = floatRounded(shapes::icosphere(2));
    const std::vector<std::pair<std::string, std::string>> files = {
        {"mesh.off", shapes::toOff(poly)},
        {"MESH.PLY", shapes::toPly(poly, {Enc::binaryLittleEndian, "float", "uchar", "int", true})},
        {"mesh.Obj", shapes::toObj(poly, true)},
        {"mesh.stl", shapes::toStl(poly, true)},
        {"mesh.ply.txt", shapes::toOff(poly)},  // any other extension is OFF
    };
    test::TempDir dir;
    std::vector<std::string> vol, info, summary;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const std::string cwd = dir.file(name + ".run");
        std::filesystem::create_directory(cwd);
        test::writeText(cwd + "/" + name, bytes);
        const test::RunResult r =
            test::runBinary({"-f", name, "-o", "out", "-n", "1", "-r", "0.1"}, cwd);
        ASSERT_EQ(r.status, 1) << r.err;
        vol.push_back(test::readText(cwd + "/volume.vol"));
        info.push_back(test::readText(cwd + "/out/info.txt"));
        const std::string first = test::lines(r.out).at(0);
        summary.push_back(first.substr(first.find(' ')));  // after the file name
        EXPECT_GT(vol.back().size(), 24u);
        EXPECT_EQ(vol.back(), vol.front());
        EXPECT_EQ(info.back(), info.front());
        EXPECT_EQ(summary.back(), summary.front());
    }
}

}  // namespace
}  // namespace shapescale
