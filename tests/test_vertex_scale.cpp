#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "core/Error.hpp"
#include "io/PlyWriter.hpp"
#include "mapt/VertexScale.hpp"
#include "shapes/Shapes.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

struct PaintedRun {
    SurfaceSnapshot surface;
    TransformResult result;
    VertexScales scales;
};

PaintedRun runInMemory(const shapes::PolyMesh& shape, double h, double start, double step,
                       int count, double sigma) {
    TriMesh mesh = shapes::loadMesh(shape);
    computeVertexNormals(mesh);
    PaintedRun run;
    run.surface = snapshotSurface(mesh);
    run.result = runTransformKeeping(mesh, {.gridResolution = h,
                                            .startRadius = start,
                                            .radiusCount = count,
                                            .radiusStep = step,
                                            .sigma = sigma,
                                            .seeded = true,
                                            .seed = 7,
                                            .inMemory = true});
    run.scales = vertexScale(run.surface.positions, run.surface.normals, run.result.grid,
                             run.result.jmapt, run.result.scale, maxReachVoxels(run.result));
    return run;
}

float median(std::vector<float> values) {
    EXPECT_FALSE(values.empty());
    if (values.empty()) return NAN;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Scales of the vertices whose position satisfies `where`.
std::vector<float> scalesWhere(const PaintedRun& run,
                               const std::function<bool(const Vec3f&)>& where) {
    std::vector<float> picked;
    for (std::size_t v = 0; v < run.surface.positions.size(); ++v)
        if (where(run.surface.positions[v])) picked.push_back(run.scales.scale[v]);
    return picked;
}

TEST(VertexScale, RoundPartsReportTheirRadius) {
    struct Case {
        const char* name;
        shapes::PolyMesh shape;
        double expected;  // world units
        std::function<bool(const Vec3f&)> where;
    };
    const Case cases[] = {
        {"sphere", shapes::icosphere(3, 1.0), 1.0, [](const Vec3f&) { return true; }},
        {"cylinder side", shapes::cylinder(0.55, 4.0, 48, 24), 0.55,
         [](const Vec3f& p) { return std::fabs(p[2]) < 1.0f; }},
    };
    const double step = 0.15;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Radii 0.4, 0.55, ... 1.15 world units, both expected radii among them.
        const PaintedRun run = runInMemory(c.shape, 0.05, 0.4, step, 6, 0.05);
        const std::vector<float> picked = scalesWhere(run, c.where);
        ASSERT_GT(picked.size(), 40u);
        for (float s : picked) ASSERT_NEAR(s, c.expected, step + 1e-6);
    }
}

TEST(VertexScale, DumbbellNeckIsThinnerThanBothBulbs) {
    const PaintedRun run = runInMemory(shapes::dumbbell(48, 48), 0.05, 0.1, 0.1, 9, 0.04);
    // Along z: the large bulb about z = -1.2, the neck about z = 0.26, the
    // small bulb about z = 1.6 (the profile of the generator).
    auto band = [&](float z, float half) {
        return median(scalesWhere(run, [=](const Vec3f& p) { return std::fabs(p[2] - z) < half; }));
    };
    const float large = band(-1.2f, 0.2f), neck = band(0.26f, 0.08f), small = band(1.6f, 0.15f);
    EXPECT_LT(neck, small);
    EXPECT_LT(small, large);
}

// The walk on a hand-made grid: a row of voxels along x with known values.
TEST(VertexScale, WalkKeepsTheFirstHighestVoxelWithinReach) {
    Grid grid;
    grid.dims[0] = 12;
    grid.dims[1] = grid.dims[2] = 3;
    for (double& size : grid.voxelSize) size = 0.5;
    std::vector<float> jmapt(grid.voxels(), 0.0f), scaleVox(grid.voxels(), 0.0f);
    auto set = [&](int x, float j, float s) {
        jmapt[grid.index(static_cast<std::size_t>(x), 1, 1)] = j;
        scaleVox[grid.index(static_cast<std::size_t>(x), 1, 1)] = s;
    };
    set(1, 0.2f, 1.0f);
    set(4, 0.7f, 2.0f);
    set(6, 0.9f, 3.0f);
    set(9, 0.9f, 4.0f);  // ties with x = 6, which comes first
    struct Case {
        Vec3f normal;
        double reach;
        float scale, jmapt;
    };
    const Case cases[] = {
        {{-1, 0, 0}, 20.0, 1.5f, 0.9f},   // inward is +x: x = 6 wins the tie with x = 9
        {{-2, 0, 0}, 2.9, 1.0f, 0.7f},    // reaches x = 4 only, whatever the normal's length
        {{-1, 0, 0}, 0.2, 0.5f, 0.2f},    // own voxel only
        {{0, 0, 0}, 20.0, 0.5f, 0.2f},    // no direction: own voxel only
        {{1, 0, 0}, 20.0, 0.5f, 0.2f},    // inward is -x: only x = 0, 1
        {{-1, -1, 0}, 20.0, 0.5f, 0.2f},  // leaves the row at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reach);
        // The vertex in voxel (1, 1, 1), 0.3 voxels in from its low x face.
        const VertexScales got =
            vertexScale({{0.65f, 0.75f, 0.75f}}, {c.normal}, grid, jmapt, scaleVox, c.reach);
        EXPECT_FLOAT_EQ(got.scale.at(0), c.scale);
        EXPECT_FLOAT_EQ(got.jmapt.at(0), c.jmapt);
    }
    EXPECT_THROW(vertexScale({{0, 0, 0}}, {}, grid, jmapt, scaleVox, 1.0), Error);
    const VertexScales outside = vertexScale({{-1, 0, 0}}, {{1, 0, 0}}, grid, jmapt, scaleVox, 9);
    EXPECT_EQ(outside.scale.at(0), 0.0f);
}

TEST(PlyWriter, BothEncodingsHoldTheSameMesh) {
    const std::vector<Vec3f> positions = {{0, 0, 0}, {1.5f, 0, 0}, {0, 2.25f, -1e-7f}};
    const std::vector<std::array<int, 3>> faces = {{0, 1, 2}};
    const std::vector<float> scale = {0.5f, 1.0f, 2.0f}, jmapt = {0.1f, 0.2f, 0.3f};
    PaintedMesh mesh{&positions, &faces, &scale, &jmapt, 0.5f, 2.0f};
    test::TempDir dir;
    for (PlyEncoding encoding : {PlyEncoding::ascii, PlyEncoding::binaryLittleEndian}) {
        const std::string path = dir.file("mesh.ply");
        writePaintedPly(path, mesh, encoding);
        const std::string text = test::readText(path);
        const std::size_t end = text.find("end_header\n");
        ASSERT_NE(end, std::string::npos);
        const std::string head = text.substr(0, end);
        EXPECT_NE(head.find("element vertex 3\n"), std::string::npos);
        EXPECT_NE(head.find("property float scale\nproperty float jmapt\n"), std::string::npos);
        EXPECT_NE(head.find("element face 1\nproperty list uchar int vertex_indices\n"),
                  std::string::npos);
        std::string body = text.substr(end + 11);
        std::vector<float> values;  // per vertex x y z scale jmapt
        std::vector<int> colours, face;
        if (encoding == PlyEncoding::ascii) {
            std::istringstream in(body);
            for (int v = 0; v < 3; ++v) {
                float f;
                int c;
                for (int k = 0; k < 5; ++k) in >> f, values.push_back(f);
                for (int k = 0; k < 3; ++k) in >> c, colours.push_back(c);
            }
            int n;
            in >> n;
            face.resize(static_cast<std::size_t>(n));
            for (int& w : face) in >> w;
        } else {
            ASSERT_EQ(body.size(), 3 * (5 * 4 + 3) + 1 + 3 * 4u);
            const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
            for (const unsigned char* p = bytes; p < bytes + 69; p += 23) {
                values.insert(values.end(), 5, 0.0f);
                std::memcpy(&values[values.size() - 5], p, 20);
                colours.insert(colours.end(), p + 20, p + 23);
            }
            face.resize(bytes[69]);
            std::memcpy(face.data(), bytes + 70, 4 * face.size());
        }
        for (std::size_t v = 0; v < 3; ++v) {
            for (std::size_t a = 0; a < 3; ++a) EXPECT_EQ(values[5 * v + a], positions[v][a]);
            EXPECT_EQ(values[5 * v + 3], scale[v]);
            EXPECT_EQ(values[5 * v + 4], jmapt[v]);
        }
        // The lowest scale takes the map's first colour, the highest its last.
        EXPECT_EQ(std::vector<int>(colours.begin(), colours.begin() + 3),
                  (std::vector<int>{68, 1, 84}));
        EXPECT_EQ(std::vector<int>(colours.begin() + 6, colours.end()),
                  (std::vector<int>{253, 231, 37}));
        EXPECT_EQ(face, (std::vector<int>{0, 1, 2}));
    }
    const std::vector<std::array<int, 3>> bad = {{0, 1, 3}};
    mesh.faces = &bad;
    EXPECT_THROW(writePaintedPly(dir.file("bad.ply"), mesh, PlyEncoding::ascii), Error);
    EXPECT_FALSE(test::fileExists(dir.file("bad.ply")));
}

// A perceptual map brightens steadily: its luminance rises with t.
TEST(PlyWriter, ColourMapBrightensSteadily) {
    double previous = -1.0;
    for (int k = 0; k <= 100; ++k) {
        const RGB8 c = perceptualColour(k / 100.0);
        const double luminance = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
        EXPECT_GT(luminance, previous) << "t = " << k / 100.0;
        previous = luminance;
    }
    EXPECT_EQ(perceptualColour(NAN), perceptualColour(-3.0));
    EXPECT_EQ(perceptualColour(7.0), perceptualColour(1.0));
}

}  // namespace
}  // namespace shapescale
