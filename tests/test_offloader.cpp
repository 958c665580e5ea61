#include <sstream>

#include "mesh/OffReader.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::loadOffText;

std::vector<Triangle> triangles(const TriMesh& mesh) {
    return {mesh.faces.begin(), mesh.faces.end()};
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
    EXPECT_EQ(triangles(mesh), expected);
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

// Through the binary the hostile-input table checks more of these messages.
TEST(OffLoaderErrors, EachNamesTheFileLineAndProblem) {
    const std::string tri = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"# only a comment\n\n", "no OFF header found (the file ends at line 2)"},
        {"OFF\n8\n", "memory.off:2: the counts line holds only one integer"},
        {"OFF8\n", "only one integer"},
        {"OFF\n3 1 0\n0 0 0\n1 0 0\n", "vertex 2 of 3 is missing (the file ends at line 4)"},
        {"OFF\n2 0 0\n0 0 0\n1 abc 0\n", "memory.off:4: vertex 1: coordinate 'abc'"},
        {"OFF\n2 0 0\n0 0 0\n1 nan 0\n", "memory.off:4: vertex 1: coordinate 'nan'"},
        {"OFF\n2 0 0\n0 0 0\n1 -infinity 0\n", "coordinate '-infinity' is not a finite number"},
        {"OFF\n2 0 0\n0 0 0\n1 1e50 0\n", "coordinate '1e50'"},
        {"OFF\n2 0 0\n0 0 0\n1 1.0x 0\n", "coordinate '1.0x'"},
        {"COFF\n1 0 0\n0 0\n", "fewer than three coordinates"},
        {tri + "# comment\n3 0 x 2\n", "memory.off:7: face 0: vertex number 'x' is not an integer"},
        {tri + "3 0 1.5 2\n", "vertex number '1.5'"},
        {tri + "three 0 1 2\n", "vertex count 'three'"},
        {tri + "3 0 1 3\n", "memory.off:6: face 0: vertex number 3 is outside 0..2"},
        {tri + "2000000000 0 1 2\n", "2000000000 vertices announced, 3 found before the end"},
        {"OFF BINARY\n", "binary OFF files are not supported"},
        {"nOFF\n4\n1 0 0\n", "not supported"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string message = test::errorOf([&] { loadOffText(text); });
        EXPECT_NE(message.find(expected), std::string::npos) << text << "\n=> " << message;
        EXPECT_EQ(message.rfind("memory.off", 0), 0u) << message;
    }
}

}  // namespace
}  // namespace shapescale
