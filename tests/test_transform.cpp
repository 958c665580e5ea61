#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/Error.hpp"
#include "mapt/Transform.hpp"
#include "shapes/Shapes.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using test::lines;
using test::readText;
using test::TempDir;

TriMesh cube(double size = 1.0) {
    TriMesh mesh = shapes::loadMesh(shapes::box({0, 0, 0}, {size, size, size}));
    computeVertexNormals(mesh);
    return mesh;
}

// Runs the transform with the closed-mesh voxeliser, standard error kept quiet.
std::vector<float> transform(const TriMesh& mesh, double h, double start, int count, double step,
                             double sigma, const std::string& out, float kernel = 0) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    std::vector<float> result;
    try {
        result = computeMAPTfromTrimesh(mesh, h, start, count, step, sigma, kernel, 1, 0, 0,
                                        out.c_str(), 1);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        throw;
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return result;
}

TEST(Transform, ZeroRadiusAndStepBecomeOneAndThreeVoxels) {
    TempDir dir;
    transform(cube(), 0.5, 0.0, 1, 0.0, 0.0, dir.file("out"));
    EXPECT_EQ(lines(readText(dir.file("out/info.txt"))).at(0), "0.500000 1.500000");
}

TEST(Transform, ZeroGridResolutionIsDerivedFromTheBoundingBox) {
    TempDir dir;
    transform(cube(3.0), 0.0, 0.1, 0, 0.1, 0.1, dir.file("out"));
    EXPECT_EQ(lines(readText(dir.file("out/info.txt"))).at(2), "0.020000 0.020000 0.020000 ");
}

TEST(Transform, RadiiAreConvertedToVoxelUnits) {
    TempDir dir;
    const std::vector<float> jmapt = transform(cube(4.0), 0.5, 2.0, 3, 1.0, 1.0, dir.file("out"));
    EXPECT_EQ(lines(readText(dir.file("out/info.txt"))).at(0), "2.000000 1.000000");
    const std::vector<float> scale = test::readFloats(dir.file("out/scale.img"));
    ASSERT_EQ(scale.size(), jmapt.size());
    bool seen[3] = {false, false, false};
    for (float s : scale) {
        ASSERT_TRUE(s == 0.0f || s == 4.0f || s == 6.0f || s == 8.0f) << s;
        if (s > 0) seen[static_cast<int>(s) / 2 - 2] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
    // The returned volume is the one written as "jmapt".
    EXPECT_EQ(test::readFloats(dir.file("out/jmapt.img")), jmapt);
}

TEST(Transform, SmoothingMovesTheCallersVertices) {
    TempDir dir;
    TriMesh mesh = shapes::loadMesh(shapes::icosphere(2));
    computeVertexNormals(mesh);
    const Vec3f before = mesh.vertices[5];
    transform(mesh, 0.1, 0.2, 1, 0.1, 0.1, dir.file("one"));
    EXPECT_EQ(mesh.vertices[5], before);  // a single radius is not smoothed
    transform(mesh, 0.1, 0.2, 3, 0.1, 0.1, dir.file("three"));
    const Vec3f& after = mesh.vertices[5];
    const float r = std::sqrt(after[0] * after[0] + after[1] * after[1] + after[2] * after[2]);
    EXPECT_LT(r, 0.999f);  // two passes pull the sphere's vertices inwards
}

TEST(Transform, NegativeSigmaIsRefusedBeforeAnyOutput) {
    TempDir dir;
    EXPECT_THROW(transform(cube(), 0.1, 0.2, 1, 0.1, -1.0, dir.file("out")), Error);
    EXPECT_FALSE(test::fileExists(dir.file("out")));
}

TEST(Transform, GridTooLargeForTheFormatIsRefusedBeforeAnyOutput) {
    TempDir dir;
    try {
        transform(cube(), 1e-5, 0.2, 1, 0.1, 0.1, dir.file("out"));
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("32767"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(test::fileExists(dir.file("out")));
}

}  // namespace
}  // namespace shapescale
