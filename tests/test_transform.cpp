#include "mapt/Transform.hpp"

#include <set>

#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using test::lines;
using test::readText;

// The closed-mesh voxeliser, no tensors, one side, blended normals; the streams kept quiet.
std::vector<float> transform(const TriMesh& mesh, double h, double start, int count, double step,
                             double sigma, const std::string& out) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const std::vector<float> result =
        computeMAPTfromTrimesh(mesh, h, start, count, step, sigma, 0, 1, 0, 0, out.c_str(), 1);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return result;
}

// Lengths in world units become voxel units (info.txt keeps the world values, scale.img the
// voxel radii); zeros are derived: h from the bounding box (cube root of its volume / 150),
// the first radius 1 voxel, the step 3 voxels.
TEST(Transform, LengthsAreDerivedAndConvertedToVoxelUnits) {
    const struct {
        double size, h, start;
        int count;
        double step, sigma;
        std::string info0, info2;
        std::set<float> scales;  // the values in scale.img, each positive one present
    } cases[] = {
        {1, 0.5, 0.0, 1, 0.0, 0.0, "0.500000 1.500000", "0.500000 0.500000 0.500000 ", {0, 1}},
        {3, 0.0, 0.1, 0, 0.1, 0.1, "0.100000 0.100000", "0.020000 0.020000 0.020000 ", {0}},
        {4, 0.5, 2, 3, 1, 1, "2.000000 1.000000", "0.500000 0.500000 0.500000 ", {0, 4, 6, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info0);
        const test::TempDir dir;
        const std::vector<float> jmapt =
            transform(test::withNormals(shapes::box({0, 0, 0}, {c.size, c.size, c.size})), c.h,
                      c.start, c.count, c.step, c.sigma, dir.file("out"));
        const std::vector<std::string> info = lines(readText(dir.file("out/info.txt")));
        ASSERT_EQ(info.size(), 3u);
        EXPECT_EQ(info[0], c.info0);
        EXPECT_EQ(info[2], c.info2);
        const std::vector<float> scale = test::readFloats(dir.file("out/scale.img"));
        std::set<float> seen(scale.begin(), scale.end());
        seen.insert(0.0f);
        EXPECT_EQ(seen, c.scales);
        EXPECT_EQ(test::readFloats(dir.file("out/jmapt.img")), jmapt);  // the returned volume
    }
}

// The transform takes the mesh by value, but the copy shares the vertex triples.
TEST(Transform, SmoothingMovesTheCallersVertices) {
    const test::TempDir dir;
    const TriMesh mesh = test::withNormals(shapes::icosphere(2));
    const Vec3f before = mesh.vertices[5];
    transform(mesh, 0.1, 0.2, 1, 0.1, 0.1, dir.file("one"));
    EXPECT_EQ(mesh.vertices[5], before);  // a single radius is not smoothed
    transform(mesh, 0.1, 0.2, 3, 0.1, 0.1, dir.file("three"));
    const Vec3f& after = mesh.vertices[5];
    EXPECT_LT(std::hypot(after[0], after[1], after[2]), 0.999f);  // two passes pull inwards
}

}  // namespace
}  // namespace shapescale
