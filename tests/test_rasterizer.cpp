#include "voxel/Rasterizer.hpp"

#include <sys/resource.h>

#include <bit>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <set>

#include "support/RandomVolume.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::loadMesh;
using shapes::PolyMesh;
using Voxel = std::array<int, 3>;

bool within(const Voxel& v, const Voxel& lo, const Voxel& hi) {
    for (int a = 0; a < 3; ++a)
        if (v[a] < lo[a] || v[a] > hi[a]) return false;
    return true;
}

struct Raster {
    std::vector<unsigned char> labels;
    int dims[3] = {0, 0, 0};
    float origin[3] = {0, 0, 0};

    unsigned char at(const Voxel& v) const { return labels[voxelIndex(dims, v[0], v[1], v[2])]; }
    std::set<Voxel> surface() const {
        std::set<Voxel> s;
        test::forEachVoxel(dims, [&](const int* p, std::size_t i) {
            if (labels[i] == RASTER_SURFACE) s.insert({p[0], p[1], p[2]});
        });
        return s;
    }
};

// Oracle: outside is what a fill from the grid's faces reaches through non-surface voxels.
void expectOutsideIsTheFlood(const Raster& r) {
    const Voxel last = {r.dims[0] - 1, r.dims[1] - 1, r.dims[2] - 1};
    std::vector<bool> reached(r.labels.size(), false);
    std::vector<Voxel> stack;
    auto push = [&](const Voxel& v) {
        if (!within(v, {0, 0, 0}, last) || reached[voxelIndex(r.dims, v[0], v[1], v[2])] ||
            r.at(v) == RASTER_SURFACE)
            return;
        reached[voxelIndex(r.dims, v[0], v[1], v[2])] = true;
        stack.push_back(v);
    };
    test::forEachVoxel(r.dims, [&](const int* p, std::size_t) {
        if (!within({p[0], p[1], p[2]}, {1, 1, 1}, {last[0] - 1, last[1] - 1, last[2] - 1}))
            push({p[0], p[1], p[2]});
    });
    while (!stack.empty()) {
        const auto [x, y, z] = stack.back();
        stack.pop_back();
        push({x - 1, y, z}), push({x + 1, y, z}), push({x, y - 1, z});
        push({x, y + 1, z}), push({x, y, z - 1}), push({x, y, z + 1});
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < r.labels.size(); ++i)
        mismatches += reached[i] != (r.labels[i] == LABEL_OUTSIDE);
    EXPECT_EQ(mismatches, 0u) << "outside voxels that the flood does not reach, or the reverse";
}

// Runs the rasteriser; checks the flood oracle and the occupancy file: nx, ny, nz, h, h, h
// as little-endian words, then 0 outside and 255 elsewhere.
class RasterizerTest : public ::testing::Test {
  protected:
    Raster run(const TriMesh& mesh, float h) {
        Raster r;
        r.labels = rasterizeClosedMesh(mesh, h, r.dims, r.origin, tmp.file("volume.vol"));
        expectOutsideIsTheFlood(r);
        const std::uint32_t h32 = std::bit_cast<std::uint32_t>(h);
        std::vector<unsigned char> want;
        for (const std::uint32_t word : {std::uint32_t(r.dims[0]), std::uint32_t(r.dims[1]),
                                         std::uint32_t(r.dims[2]), h32, h32, h32})
            for (int b = 0; b < 4; ++b) want.push_back((word >> (8 * b)) & 0xFF);
        for (const unsigned char label : r.labels) want.push_back(label == LABEL_OUTSIDE ? 0 : 255);
        EXPECT_TRUE(test::readBytes(tmp.file("volume.vol")) == want) << "the occupancy file";
        return r;
    }
    Raster run(const PolyMesh& mesh, float h) { return run(loadMesh(mesh), h); }

    test::TempDir tmp;
};

// Box [-1,1] x [-1,2] x [-1,1.5] at h = 0.5: faces on the grid planes 2 and
// 6 (x), 2 and 8 (y), 2 and 7 (z); the walks overshoot towards + by one voxel at most.
TEST_F(RasterizerTest, AlignedBoxHasInsideSurfaceAndOutsideLayers) {
    const Raster r = run(shapes::box({-1, -1, -1}, {1, 2, 1.5}), 0.5f);
    ASSERT_EQ(std::vector<int>(r.dims, r.dims + 3), (std::vector<int>{9, 11, 10}));
    test::forEachVoxel(r.dims, [&](const int* p, std::size_t i) {
        const Voxel v = {p[0], p[1], p[2]};
        if (!within(v, {2, 2, 2}, {7, 9, 8}))
            EXPECT_EQ(r.labels[i], LABEL_OUTSIDE) << i;
        else if (!within(v, {2, 2, 2}, {6, 8, 7}))
            EXPECT_NE(r.labels[i], RASTER_INSIDE) << i;
        else
            EXPECT_EQ(r.labels[i], within(v, {3, 3, 3}, {5, 7, 6}) ? RASTER_INSIDE : RASTER_SURFACE)
                << i;
    });
    // The fan line (2,2,2) -> (2,8,2) has length 6; its last step marks 7, past the box.
    EXPECT_EQ(r.at({2, 9, 2}), RASTER_SURFACE);
    // Without triangles every voxel is outside; the grid still spans the bounding box.
    const Raster empty = run(PolyMesh{{{0, 0, 0}, {1, 2, 3}}, {}}, 0.5f);
    EXPECT_EQ(empty.labels, std::vector<unsigned char>(7 * 9 * 11, LABEL_OUTSIDE));
}

// One triangle on the x axis at h = 1 (grid x = world x + 2, y = z = 2): a run of marks.
TEST_F(RasterizerTest, WalksAlongALineMarkTheExpectedRun) {
    const struct {
        const char* what;
        float x0, x1, x2;
        int first, last;  // marked x voxels, none when first > last
    } cases[] = {
        // Fan points 2..6 from P0 = 4: the walks run one unit past each end.
        {"walks past both ends", 2, 0, 4, 1, 7},
        {"half unit rounds down", 0, 1, 3.5f, 2, 6},  // fan points 3, 4, 5
        {"over half rounds up", 0, 1, 3.75f, 2, 7},   // fan points up to 6
        // The last step reaches 8, past nx = 8: dropped, not written into the next row.
        {"marks past the grid are dropped", 0, 0.05f, 3.6f, 2, 7},
        {"first corners coincide", 0, 0, 3, 1, 0},
        {"second and third corners coincide", 0, 3, 3, 1, 0},
        {"first and third corners coincide", 0, 3, 0, 2, 6},  // draws the edge to P1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::set<Voxel> expected;
        for (int x = c.first; x <= c.last; ++x) expected.insert({x, 2, 2});
        EXPECT_EQ(
            run(PolyMesh{{{c.x0, 0, 0}, {c.x1, 0, 0}, {c.x2, 0, 0}}, {{0, 1, 2}}}, 1.0f).surface(),
            expected);
    }
    // On the diagonal x = y = z the walk samples voxels 2, 2, 3, 3, 4, 4 on every
    // axis; each crossing marks seven corners of a 2x2x2 block, the next step the eighth.
    std::set<Voxel> expected;
    for (int k = 0; k < 16; ++k)
        expected.insert({2 + k / 8 + (k & 1), 2 + k / 8 + (k >> 1 & 1), 2 + k / 8 + (k >> 2 & 1)});
    EXPECT_EQ(run(PolyMesh{{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {{0, 1, 2}}}, 1.0f).surface(),
              expected);
}

TEST_F(RasterizerTest, OccupancyFileFailuresWarnAndKeepTheLabels) {
    const TriMesh mesh = loadMesh(shapes::icosphere(2));
    const Raster reference = run(mesh, 0.1f);
    auto expectWarning = [&](const std::string& path, const std::string& what, int error) {
        Raster r;
        ::testing::internal::CaptureStderr();
        r.labels = rasterizeClosedMesh(mesh, 0.1f, r.dims, r.origin, path);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shapescale: warning: cannot " + what +
                                                                " " + path + ": " +
                                                                std::strerror(error) + "\n");
        EXPECT_EQ(r.labels, reference.labels);
        EXPECT_FALSE(test::fileExists(path)) << "no file, not even a partial one";
    };
    expectWarning(tmp.file("no-such-dir/volume.vol"), "create", ENOENT);
    // A file-size limit of 1000 bytes stops the write part-way.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    expectWarning(tmp.file("limited.vol"), "write", EFBIG);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

// Known points inside and outside (world units), whatever the triangle order, the thread
// count and the orientation of nested surfaces; the voxels that hold a vertex are surface.
TEST_F(RasterizerTest, ClosedMeshesWhateverTheTriangleOrderAndThreadCount) {
    // 6 x 6 x 3 cells of 6 units, the solid ones closed boxes; the empty ones are a channel
    // from x = 0 that bends into a cavity (4, 4, 1) no axis-parallel line reaches.
    const std::set<Voxel> empty = {{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {2, 2, 1}, {2, 3, 1},
                                   {3, 3, 1}, {4, 3, 1}, {3, 4, 1}, {4, 4, 1}};
    PolyMesh block;
    for (int cell = 0; cell < 108; ++cell) {
        const double i = cell % 6, j = cell / 6 % 6, k = cell / 36;
        if (empty.count({int(i), int(j), int(k)}) == 0)
            block = shapes::merged(
                block, shapes::box({6 * i, 6 * j, 6 * k}, {6 * i + 6, 6 * j + 6, 6 * k + 6}));
    }
    const PolyMesh outer = shapes::box({-3, -3, -3}, {3, 3, 3});
    const PolyMesh inner = shapes::box({-1, -1, -1}, {1, 1, 1});
    using Points = std::vector<std::array<float, 3>>;
    const Points cavity = {{27.5, 27.5, 9.5}, {3.5, 9.5, 9.5}}, corner = {{-3.75, 0, 0}},
                 shellAndCore = {{-1.75, -1.75, -1.75}, {0.25, 0.25, 0.25}};
    const struct {
        const char* what;
        PolyMesh mesh;
        float h;
        Points inside, outside;
    } shapes[] = {
        {"icosphere", shapes::icosphere(3, 1.0), 0.04f, {{0, 0, 0}}, {{0.95, 0.95, 0.95}}},
        {"torus", shapes::torus(2, 0.7, 48, 24), 0.08f, {{2, 0, 0}}, {{0, 0, 0}}},
        {"cavity", block, 1, {{3.5, 3.5, 3.5}, {33.5, 33.5, 15.5}}, cavity},
        {"outer flipped", shapes::merged(shapes::flipped(outer), inner), 0.5, shellAndCore, corner},
        {"inner flipped", shapes::merged(outer, shapes::flipped(inner)), 0.5, shellAndCore, corner},
    };
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.what);
        const TriMesh mesh = loadMesh(s.mesh);
        const Raster r = test::withThreads(3, [&] { return run(mesh, s.h); });
        PolyMesh shuffled = s.mesh;
        std::shuffle(shuffled.faces.begin(), shuffled.faces.end(), std::mt19937(42));
        EXPECT_EQ(run(shuffled, s.h).labels, r.labels) << "triangles shuffled";
        EXPECT_EQ(test::withThreads(1, [&] { return run(mesh, s.h); }).labels, r.labels);
        auto labelAt = [&](const float* p) {
            Voxel v;
            for (int a = 0; a < 3; ++a) v[a] = int((p[a] - r.origin[a]) / s.h);
            return r.at(v);
        };
        std::size_t unmarked = 0;
        for (const auto& p : mesh.vertices) unmarked += labelAt(p.data()) != RASTER_SURFACE;
        EXPECT_EQ(unmarked, 0u) << "voxels holding a vertex that are not surface";
        for (const auto& p : s.inside) EXPECT_EQ(labelAt(p.data()), RASTER_INSIDE) << p[0];
        for (const auto& p : s.outside) EXPECT_EQ(labelAt(p.data()), LABEL_OUTSIDE) << p[0];
    }
}

}  // namespace
}  // namespace shapescale
