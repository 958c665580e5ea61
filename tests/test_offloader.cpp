#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/Error.hpp"
#include "driver/OffLoader.hpp"
#include "support/MeshBuilders.hpp"

namespace shapescale {
namespace {

using test::loadOffText;

const char* const CUBE_BODY =
    "0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n"
    "3 0 2 3\n3 0 3 1\n3 4 5 7\n3 4 7 6\n3 0 1 5\n3 0 5 4\n"
    "3 2 6 7\n3 2 7 3\n3 0 4 6\n3 0 6 2\n3 1 3 7\n3 1 7 5\n";

std::vector<Triangle> triangles(const TriMesh& mesh) {
    return {mesh.faces.begin(), mesh.faces.end()};
}

// The message of the Error that loading `text` throws.
std::string loadError(const std::string& text) {
    try {
        loadOffText(text);
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no error for:\n" << text;
    return "";
}

// Standard output printed while loading `text`.
std::string loadOutput(const std::string& text, TriMesh* mesh = nullptr) {
    testing::internal::CaptureStdout();
    TriMesh loaded = loadOffText(text);
    std::fflush(stdout);
    if (mesh != nullptr) *mesh = loaded;
    return testing::internal::GetCapturedStdout();
}

TEST(OffLoader, CommentsAroundTheHeaderAreSkipped) {
    const TriMesh mesh = loadOffText(
        std::string("# made by hand\nOFF\n# 8 vertices, 12 faces\n8 12 0\n") + CUBE_BODY);
    EXPECT_EQ(mesh.nVertices, 8);
    EXPECT_EQ(mesh.nFaces, 12);
    EXPECT_EQ(mesh.faces.size(), 12u);
    EXPECT_EQ(mesh.vertices[5][0], 1.0f);
    EXPECT_EQ(mesh.vertices[5][2], 1.0f);
}

TEST(OffLoader, CommentsAndBlankLinesInsideTheBlocks) {
    const TriMesh mesh = loadOffText(
        "\n  OFF  # header\n\n4 2 0 # counts\n"
        "0 0 0\n# a comment between vertices\n\n1 0 0 # trailing\n0 1 0\n0 0 1\n"
        "\n# faces follow\n3 0 2 1\n\n# between faces\n3 0 1 3\n# after\n");
    EXPECT_EQ(mesh.nVertices, 4);
    EXPECT_EQ(triangles(mesh), (std::vector<Triangle>{{0, 2, 1}, {0, 1, 3}}));
}

TEST(OffLoader, WindowsLineEnds) {
    const TriMesh mesh = loadOffText("OFF\r\n3 1 0\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2\r\n");
    EXPECT_EQ(triangles(mesh), (std::vector<Triangle>{{0, 1, 2}}));
    EXPECT_EQ(mesh.vertices[1][0], 1.0f);
}

TEST(OffLoader, PlainVertexMaySpanLines) {
    const TriMesh mesh = loadOffText("OFF\n3 1 0\n0 0\n0 1 0 0 0\n1\n0 3 rest ignored\n3 0 1 2\n");
    // Tokens 0 0 | 0 1 0 0 0 | 1 | 0 3 ...: the rest of the last vertex's line is dropped.
    EXPECT_EQ(mesh.vertices[1][0], 1.0f);
    EXPECT_EQ(mesh.vertices[2][1], 1.0f);
    EXPECT_EQ(mesh.vertices[2][2], 0.0f);
    EXPECT_EQ(mesh.faces.size(), 1u);
}

TEST(OffLoader, CountsGluedToTheHeader) {
    const TriMesh mesh = loadOffText("OFF3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_EQ(mesh.nVertices, 3);
    EXPECT_EQ(mesh.nFaces, 1);
    const TriMesh spaced = loadOffText("OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_EQ(spaced.nFaces, 1);
}

TEST(OffLoader, ColouredVerticesTakeTheFirstThreeNumbers) {
    const TriMesh mesh = loadOffText(
        "COFF\n3 1 0\n0 0 0 255 0 0 255\n1 0 0 0 255 0 255\n0 2 0 0 0 255 255\n3 0 1 2 200 10 "
        "10\n");
    EXPECT_EQ(mesh.vertices[2][1], 2.0f);
    EXPECT_EQ(mesh.vertices[1][0], 1.0f);
    EXPECT_EQ(mesh.bboxMax[1], 2.0f);
    EXPECT_EQ(triangles(mesh), (std::vector<Triangle>{{0, 1, 2}}));
}

TEST(OffLoader, NormalsAndTextureCoordinatesAreSkipped) {
    const TriMesh mesh = loadOffText(
        "STNOFF\n3 1 0\n0 0 0 0 0 1 0.5 0.5\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n3 0 1 2\n");
    EXPECT_EQ(mesh.vertices[1][0], 1.0f);
    EXPECT_EQ(mesh.vertices[2][1], 1.0f);
    EXPECT_EQ(mesh.vertices[0][2], 0.0f);
}

TEST(OffLoader, PolygonsAreSplitIntoFans) {
    const TriMesh quad = loadOffText("OFF\n4 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n");
    EXPECT_EQ(triangles(quad), (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}}));
    // Only the first three corners enter the neighbour lists.
    EXPECT_EQ(quad.vertexNeighbours[0], std::vector<int>{1});
    EXPECT_EQ(quad.vertexNeighbours[1], std::vector<int>{2});
    EXPECT_EQ(quad.vertexNeighbours[2], std::vector<int>{0});
    EXPECT_TRUE(quad.vertexNeighbours[3].empty());

    const TriMesh pentagon =
        loadOffText("OFF\n5 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 2 0\n5 0 1 2 3 4\n");
    EXPECT_EQ(triangles(pentagon), (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
}

TEST(OffLoader, PolygonsOfMoreThanSevenVerticesAreReadWhole) {
    std::string text = "OFF\n9 1 0\n";
    for (int i = 0; i < 9; ++i) text += std::to_string(i) + " " + std::to_string(i * i) + " 0\n";
    text += "9 0 1 2 3 4 5 6 7 8\n";
    const TriMesh mesh = loadOffText(text);
    ASSERT_EQ(mesh.faces.size(), 7u);
    EXPECT_EQ(mesh.faces[6], (Triangle{0, 7, 8}));
}

TEST(OffLoader, QuadCubeCountsFaceLinesNotTriangles) {
    const TriMesh mesh = test::loadMesh(test::quadCube());
    EXPECT_EQ(mesh.nFaces, 6);
    EXPECT_EQ(mesh.faces.size(), 12u);
}

TEST(OffLoader, FacesOfFewerThanThreeVerticesAreReportedAndSkipped) {
    TriMesh mesh;
    const std::string out = loadOutput(
        "OFF\n9 6 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 1\n2 2 2\n3 3 3\n4 4 4\n5 5 5\n"
        "3 0 1 2\n3 0 1 3\n3 0 2 3\n# not a face line\n3 1 2 3\n3 4 5 6\n2 7 8\n",
        &mesh);
    EXPECT_EQ(out, "errore 5 2 \n");
    EXPECT_EQ(mesh.nFaces, 6);
    EXPECT_EQ(mesh.faces.size(), 5u);
    EXPECT_TRUE(mesh.vertexNeighbours[7].empty());
    EXPECT_TRUE(mesh.vertexNeighbours[8].empty());
}

TEST(OffLoader, EmptyAndSingleVertexFacesAreReportedWithTheirCount) {
    const std::string out = loadOutput("OFF\n3 3 0\n0 0 0\n1 0 0\n0 1 0\n0\n1 99\n3 0 1 2\n");
    EXPECT_EQ(out, "errore 0 0 \nerrore 1 1 \n");
}

TEST(OffLoader, ClosedMeshListsEachAdjacentVertexOnce) {
    const TriMesh mesh = test::loadMesh(test::icosphere(2));
    std::vector<std::vector<int>> adjacent(mesh.vertices.size());
    for (const Triangle& t : mesh.faces)
        for (int k = 0; k < 3; ++k)
            adjacent[static_cast<std::size_t>(t[k])].push_back(t[(k + 1) % 3]);
    for (std::size_t i = 0; i < adjacent.size(); ++i) {
        std::vector<int> listed = mesh.vertexNeighbours[i];
        std::sort(listed.begin(), listed.end());
        std::sort(adjacent[i].begin(), adjacent[i].end());
        EXPECT_EQ(listed, adjacent[i]);
        EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
    }
}

TEST(OffLoader, BoundingBox) {
    const TriMesh one = loadOffText("OFF\n1 0 0\n-1.5 2 3.25\n");
    for (int a = 0; a < 3; ++a) EXPECT_EQ(one.bboxMin[a], one.bboxMax[a]);
    EXPECT_EQ(one.bboxMin[0], -1.5f);
    EXPECT_EQ(one.bboxMax[2], 3.25f);
    const TriMesh three = loadOffText("OFF\n3 0 0\n1 5 -2\n-3 0 4\n2 -1 0\n");
    EXPECT_EQ(three.bboxMin[0], -3.0f);
    EXPECT_EQ(three.bboxMin[1], -1.0f);
    EXPECT_EQ(three.bboxMin[2], -2.0f);
    EXPECT_EQ(three.bboxMax[0], 2.0f);
    EXPECT_EQ(three.bboxMax[1], 5.0f);
    EXPECT_EQ(three.bboxMax[2], 4.0f);
}

TEST(OffLoader, CoordinatesAreReadAsFloats) {
    const TriMesh mesh = loadOffText("OFF\n1 0 0\n0.1 16777217 1e-3\n");
    EXPECT_EQ(mesh.vertices[0][0], 0.1f);
    EXPECT_EQ(mesh.vertices[0][1], 16777216.0f);
    EXPECT_EQ(mesh.vertices[0][2], 1e-3f);
}

TEST(OffLoaderErrors, EndOfFileNamesWhatIsMissing) {
    EXPECT_NE(loadError("").find("no OFF header"), std::string::npos);
    EXPECT_NE(loadError("# only a comment\n\n").find("line 2"), std::string::npos);
    EXPECT_NE(loadError("OFF\n# no counts\n").find("no vertex and face counts"), std::string::npos);
    const std::string vertices = loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n");
    EXPECT_NE(vertices.find("vertex 2 of 3"), std::string::npos) << vertices;
    EXPECT_NE(vertices.find("line 4"), std::string::npos) << vertices;
    const std::string faces = loadError("OFF\n3 2 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_NE(faces.find("face 1 of 2"), std::string::npos) << faces;
}

TEST(OffLoaderErrors, CountsLineWithOneInteger) {
    const std::string message = loadError("OFF\n8\n");
    EXPECT_NE(message.find("memory.off:2:"), std::string::npos) << message;
    EXPECT_NE(message.find("only one integer"), std::string::npos) << message;
    EXPECT_NE(loadError("OFF8\n").find("only one integer"), std::string::npos);
}

TEST(OffLoaderErrors, NegativeCounts) {
    EXPECT_NE(loadError("OFF\n-3 1 0\n").find("negative count"), std::string::npos);
}

TEST(OffLoaderErrors, HugeCountsAllocateNothingBeforeTheData) {
    const std::string message = loadError("OFF\n2000000000 2000000000 0\n0 0 0\n");
    EXPECT_NE(message.find("vertex 1 of 2000000000"), std::string::npos) << message;
    const std::string face = loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n2000000000 0 1 2\n");
    EXPECT_NE(face.find("2000000000 vertices announced, 3 on the line"), std::string::npos) << face;
}

TEST(OffLoaderErrors, FaceWithFewerNumbersThanAnnounced) {
    const std::string message =
        loadError("OFF\n4 2 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 1 2\n4 0 1 3\n");
    EXPECT_NE(message.find("memory.off:8: face 1"), std::string::npos) << message;
}

TEST(OffLoaderErrors, FaceNumbersThatDoNotConvert) {
    const std::string text = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n# comment\n3 0 x 2\n";
    const std::string message = loadError(text);
    EXPECT_NE(message.find("memory.off:7: face 0: vertex number 'x'"), std::string::npos)
        << message;
    EXPECT_NE(loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1.5 2\n").find("'1.5'"),
              std::string::npos);
    EXPECT_NE(loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\nthree 0 1 2\n").find("vertex count"),
              std::string::npos);
}

TEST(OffLoaderErrors, VertexNumbersOutsideTheMesh) {
    const std::string message = loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n");
    EXPECT_NE(message.find("memory.off:6:"), std::string::npos) << message;
    EXPECT_NE(message.find("outside 0..2"), std::string::npos) << message;
    EXPECT_NE(loadError("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n").find("outside"),
              std::string::npos);
}

TEST(OffLoaderErrors, CoordinatesThatAreNotFiniteNumbers) {
    for (const char* bad : {"abc", "nan", "inf", "-infinity", "1e50", "1.0x"}) {
        const std::string message = loadError(std::string("OFF\n2 0 0\n0 0 0\n1 ") + bad + " 0\n");
        EXPECT_NE(message.find("memory.off:4: vertex 1"), std::string::npos)
            << bad << ": " << message;
    }
    EXPECT_NE(loadError("COFF\n1 0 0\n0 0\n").find("fewer than three"), std::string::npos);
}

TEST(OffLoaderErrors, UnsupportedVariants) {
    EXPECT_NE(loadError("OFF BINARY\n").find("binary"), std::string::npos);
    EXPECT_NE(loadError("nOFF\n4\n1 0 0\n").find("not supported"), std::string::npos);
}

TEST(OffLoader, MessagesNameTheFile) {
    std::string text = "OFF\n1 0 0\n0 0\n";
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(in, nullptr);
    try {
        loadOffMesh(in, "dir/bunny.off");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("dir/bunny.off: ", 0), 0u) << e.what();
    }
    std::fclose(in);
}

}  // namespace
}  // namespace shapescale
