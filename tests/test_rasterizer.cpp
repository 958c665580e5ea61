#include "voxel/Rasterizer.hpp"

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>

#include "support/ChannelMesh.hpp"
#include "support/MeshBuilders.hpp"
#include "support/TestFiles.hpp"
#include "voxel/Grid.hpp"

namespace shapescale {
namespace {

using test::loadMesh;
using test::PolyMesh;
using Voxel = std::array<int, 3>;

struct Raster {
    std::vector<unsigned char> labels;
    int dims[3] = {0, 0, 0};
    float origin[3] = {0, 0, 0};

    unsigned char at(int x, int y, int z) const {
        return labels[voxelIndex(dims, std::size_t(x), std::size_t(y), std::size_t(z))];
    }
    template <class F>
    void forEach(F f) const {
        for (int z = 0; z < dims[2]; ++z)
            for (int y = 0; y < dims[1]; ++y)
                for (int x = 0; x < dims[0]; ++x) f(x, y, z, at(x, y, z));
    }
    std::set<Voxel> surface() const {
        std::set<Voxel> s;
        forEach([&](int x, int y, int z, unsigned char l) {
            if (l == LABEL_SURFACE) s.insert({x, y, z});
        });
        return s;
    }
};

class RasterizerTest : public ::testing::Test {
  protected:
    Raster run(const TriMesh& mesh, float h) {
        Raster r;
        r.labels = rasterizeClosedMesh(mesh, h, r.dims, r.origin, tmp.file("volume.vol"));
        return r;
    }
    Raster run(const PolyMesh& mesh, float h) { return run(loadMesh(mesh), h); }

    test::TempDir tmp;
};

// Oracle: the voxels connected to the grid's faces through non-surface voxels
// by face adjacency, found by a plain depth-first fill.
std::vector<bool> floodFromBorder(const Raster& r) {
    const int* n = r.dims;
    std::vector<bool> reached(r.labels.size(), false);
    std::vector<Voxel> stack;
    auto push = [&](int x, int y, int z) {
        if (x < 0 || y < 0 || z < 0 || x >= n[0] || y >= n[1] || z >= n[2]) return;
        const std::size_t i = voxelIndex(n, std::size_t(x), std::size_t(y), std::size_t(z));
        if (reached[i] || r.labels[i] == LABEL_SURFACE) return;
        reached[i] = true;
        stack.push_back({x, y, z});
    };
    r.forEach([&](int x, int y, int z, unsigned char) {
        if (x == 0 || y == 0 || z == 0 || x == n[0] - 1 || y == n[1] - 1 || z == n[2] - 1)
            push(x, y, z);
    });
    while (!stack.empty()) {
        const auto [x, y, z] = stack.back();
        stack.pop_back();
        push(x - 1, y, z), push(x + 1, y, z), push(x, y - 1, z);
        push(x, y + 1, z), push(x, y, z - 1), push(x, y, z + 1);
    }
    return reached;
}

void expectOutsideMatchesFlood(const Raster& r) {
    const std::vector<bool> reached = floodFromBorder(r);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < r.labels.size(); ++i)
        mismatches += reached[i] != (r.labels[i] == LABEL_OUTSIDE);
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(RasterizerTest, MeshWithoutTrianglesIsAllOutside) {
    const Raster r = run(PolyMesh{{{0, 0, 0}, {1, 2, 3}}, {}}, 0.5f);
    // origin = 0 - (0.5 + 0.5); dims = trunc((max + 1) / 0.5) + 3.
    EXPECT_EQ(std::vector<int>(r.dims, r.dims + 3), (std::vector<int>{7, 9, 11}));
    EXPECT_EQ(std::vector<float>(r.origin, r.origin + 3), (std::vector<float>{-1, -1, -1}));
    EXPECT_EQ(std::count(r.labels.begin(), r.labels.end(), LABEL_OUTSIDE), 7 * 9 * 11);
    const std::vector<unsigned char> file = test::readBytes(tmp.file("volume.vol"));
    ASSERT_EQ(file.size(), 24u + 7 * 9 * 11);
    EXPECT_TRUE(std::all_of(file.begin() + 24, file.end(), [](unsigned char b) { return b == 0; }));
}

// Box [-1,1] x [-1,2] x [-1,1.5] at h = 0.5: origin -2, grid coordinates
// 2 + 2 * world, so the faces lie on the grid planes 2 and 6 (x), 2 and 8 (y),
// 2 and 7 (z). Each triangle lies in one plane, so its marks keep that voxel
// coordinate; every triangle starts at the face's low corner, so the walks
// overshoot only towards +, by one voxel at most (its edges are whole units).
TEST_F(RasterizerTest, AlignedBoxHasInsideSurfaceAndOutsideLayers) {
    const Raster r = run(test::box({-1, -1, -1}, {1, 2, 1.5}), 0.5f);
    ASSERT_EQ(std::vector<int>(r.dims, r.dims + 3), (std::vector<int>{9, 11, 10}));
    EXPECT_EQ(std::vector<float>(r.origin, r.origin + 3), (std::vector<float>{-2, -2, -2}));
    const int hi[3] = {6, 8, 7};
    r.forEach([&](int x, int y, int z, unsigned char label) {
        const int v[3] = {x, y, z};
        bool inBlock = true, inReach = true, onPlane = false;
        for (int a = 0; a < 3; ++a) {
            inBlock = inBlock && v[a] >= 2 && v[a] <= hi[a];
            inReach = inReach && v[a] >= 2 && v[a] <= hi[a] + 1;
            onPlane = onPlane || v[a] == 2 || v[a] == hi[a];
        }
        SCOPED_TRACE(::testing::Message() << x << "," << y << "," << z);
        if (inBlock)
            EXPECT_EQ(label, onPlane ? LABEL_SURFACE : LABEL_INSIDE);
        else if (inReach && onPlane)
            EXPECT_TRUE(label == LABEL_SURFACE || label == LABEL_OUTSIDE);
        else
            EXPECT_EQ(label, LABEL_OUTSIDE);
    });
    // The fan line along the edge (2,2,2) -> (2,8,2) has length 6; its last
    // step is t = 6 and marks u = 7, one voxel past the box.
    EXPECT_EQ(r.at(2, 9, 2), LABEL_SURFACE);
}

// h = 1 and cells of 6: cell (i, j, k) spans grid planes 6i + 2 .. 6i + 8 and
// its centre voxel 6i + 5 lies on no plane, so no triangle marks it.
TEST_F(RasterizerTest, CavityBehindBentChannelIsFloodedFromOutside) {
    using Block = test::BentChannelBlock;
    const Raster r = run(Block::mesh(6.0), 1.0f);
    for (int i = 0; i < Block::EXTENT[0]; ++i)
        for (int j = 0; j < Block::EXTENT[1]; ++j)
            for (int k = 0; k < Block::EXTENT[2]; ++k)
                EXPECT_EQ(r.at(6 * i + 5, 6 * j + 5, 6 * k + 5),
                          Block::isEmpty({i, j, k}) ? LABEL_OUTSIDE : LABEL_INSIDE)
                    << "cell " << i << "," << j << "," << k;
    expectOutsideMatchesFlood(r);
}

// Outer box [-3,3]^3 and inner box [-1,1]^3 at h = 0.5: origin -4, outer
// faces on grid planes 2 and 14, inner ones on 6 and 10 (marks up to 11).
TEST_F(RasterizerTest, NestedSurfacesEncloseShellAndCoreWhateverTheirOrientation) {
    const PolyMesh outer = test::box({-3, -3, -3}, {3, 3, 3});
    const PolyMesh inner = test::box({-1, -1, -1}, {1, 1, 1});
    for (bool flipOuter : {false, true}) {
        for (bool flipInner : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "flip outer " << flipOuter << " inner " << flipInner);
            const Raster r = run(test::merged(flipOuter ? test::flipped(outer) : outer,
                                              flipInner ? test::flipped(inner) : inner),
                                 0.5f);
            ASSERT_EQ(r.dims[0], 17);
            auto within = [](int x, int y, int z, int lo, int hi) {
                return std::min({x, y, z}) >= lo && std::max({x, y, z}) <= hi;
            };
            std::size_t wrong = 0;
            r.forEach([&](int x, int y, int z, unsigned char label) {
                const bool shell = within(x, y, z, 3, 13) && !within(x, y, z, 6, 11);
                const bool core = within(x, y, z, 7, 9);
                if (shell || core) wrong += label != LABEL_INSIDE;
                if (!within(x, y, z, 2, 15)) wrong += label != LABEL_OUTSIDE;
            });
            EXPECT_EQ(wrong, 0u);
            expectOutsideMatchesFlood(r);
        }
    }
}

// One triangle on the x axis (h = 1, so grid x = world x + 2, y = z = 2): the
// fan and the walks all run along x and the marks are a run of voxels.
TEST_F(RasterizerTest, WalksAlongALineMarkTheExpectedRun) {
    struct Case {
        const char* what;
        float x0, x1, x2;
        int first, last;  // marked x voxels, none when first > last
    };
    const Case cases[] = {
        // From P0 = 4 to the fan points 2..6; the walks run one unit past
        // each end (voxels 1 and 7), and the fan line to 4 has length zero.
        {"walks past both ends", 2, 0, 4, 1, 7},
        // d12 = 2.5: fan points 3, 4, 5 (a half rounds down), walk to 6.
        {"half unit rounds down", 0, 1, 3.5f, 2, 6},
        // d12 = 2.75: fan points up to 6, walk to 7.
        {"over half rounds up", 0, 1, 3.75f, 2, 7},
        // Fan point 6.05, length 4.05: the last step reaches 8, past nx = 8;
        // it must be dropped, not written into the next row.
        {"marks past the grid are dropped", 0, 0.05f, 3.6f, 2, 7},
        {"first corners coincide", 0, 0, 3, 1, 0},
        {"second and third corners coincide", 0, 3, 3, 1, 0},
        // Only the two tested distances skip: P0 = P2 draws the edge to P1.
        {"first and third corners coincide", 0, 3, 0, 2, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Raster r =
            run(PolyMesh{{{c.x0, 0, 0}, {c.x1, 0, 0}, {c.x2, 0, 0}}, {{0, 1, 2}}}, 1.0f);
        std::set<Voxel> expected;
        for (int x = c.first; x <= c.last; ++x) expected.insert({x, 2, 2});
        EXPECT_EQ(r.surface(), expected);
        EXPECT_EQ(std::count(r.labels.begin(), r.labels.end(), LABEL_OUTSIDE),
                  std::ptrdiff_t(r.labels.size() - expected.size()));
    }
}

// One triangle on the diagonal x = y = z (grid 2 + world): the fan points lie
// at distances sqrt(3), sqrt(3) + 1 and sqrt(3) + 2 from P0 = (2,2,2), so the
// longest walk has 3.73 units and samples tau = 0..5 at 2 + tau / sqrt(3),
// voxels 2, 2, 3, 3, 4, 4 on every axis. The steps from 2 to 3 and from 3 to 4
// each mark seven corners of a 2x2x2 block; with the eighth corner being the
// next step's first, both blocks are marked whole.
TEST_F(RasterizerTest, DiagonalWalkMarksBothBlocksOfEachCrossing) {
    const Raster r = run(PolyMesh{{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {{0, 1, 2}}}, 1.0f);
    std::set<Voxel> expected;
    for (int lo : {2, 3})
        for (int k = 0; k < 8; ++k)
            expected.insert({lo + (k & 1), lo + (k >> 1 & 1), lo + (k >> 2)});
    EXPECT_EQ(r.surface(), expected);
}

TEST_F(RasterizerTest, TriangleOrderDoesNotChangeTheLabels) {
    const PolyMesh sphere = test::icosphere(3);
    PolyMesh shuffled = sphere;
    std::mt19937 rng(42);
    std::shuffle(shuffled.faces.begin(), shuffled.faces.end(), rng);
    EXPECT_EQ(run(sphere, 0.06f).labels, run(shuffled, 0.06f).labels);
}

TEST_F(RasterizerTest, OccupancyFileHoldsHeaderAndOutsideMask) {
    const float h = 0.1f;
    const Raster r = run(test::torus(2, 0.7, 32, 16), h);
    const std::vector<unsigned char> file = test::readBytes(tmp.file("volume.vol"));
    ASSERT_EQ(file.size(), 24 + r.labels.size());
    auto word = [&](int k) {
        std::uint32_t w = 0;
        for (int b = 0; b < 4; ++b) w |= std::uint32_t(file[std::size_t(4 * k + b)]) << (8 * b);
        return w;
    };
    for (int a = 0; a < 3; ++a) EXPECT_EQ(word(a), std::uint32_t(r.dims[a]));
    for (int a = 3; a < 6; ++a) EXPECT_EQ(word(a), std::bit_cast<std::uint32_t>(h));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < r.labels.size(); ++i)
        wrong += file[24 + i] != (r.labels[i] == LABEL_OUTSIDE ? 0 : 255);
    EXPECT_EQ(wrong, 0u);
}

TEST_F(RasterizerTest, OccupancyFileFailuresWarnAndKeepTheLabels) {
    const TriMesh mesh = loadMesh(test::icosphere(2));
    const Raster reference = run(mesh, 0.1f);

    // Cannot create: the directory does not exist.
    const std::string missing = tmp.file("no-such-dir/volume.vol");
    Raster r;
    ::testing::internal::CaptureStderr();
    r.labels = rasterizeClosedMesh(mesh, 0.1f, r.dims, r.origin, missing);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.labels, reference.labels);
    EXPECT_EQ(
        err, "shapescale: warning: cannot create " + missing + ": " + std::strerror(ENOENT) + "\n");

    // Cannot write: a file-size limit of 1000 bytes stops the write part-way.
    const std::string limited = tmp.file("limited.vol");
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ::testing::internal::CaptureStderr();
    r.labels = rasterizeClosedMesh(mesh, 0.1f, r.dims, r.origin, limited);
    err = ::testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r.labels, reference.labels);
    EXPECT_EQ(err,
              "shapescale: warning: cannot write " + limited + ": " + std::strerror(EFBIG) + "\n");
    EXPECT_FALSE(test::fileExists(limited)) << "a partial file must not be left";
}

TEST_F(RasterizerTest, ClosedMeshesMatchTheFloodOracle) {
    const struct {
        const char* what;
        PolyMesh mesh;
        float h;
        std::array<float, 3> inside, outside;  // world points known on either side
    } shapes[] = {
        {"icosphere", test::icosphere(3, 1.0), 0.04f, {0, 0, 0}, {0.95f, 0.95f, 0.95f}},
        {"torus", test::torus(2, 0.7, 48, 24), 0.08f, {2, 0, 0}, {0, 0, 0}},
    };
    for (const auto& s : shapes) {
        SCOPED_TRACE(s.what);
        const TriMesh mesh = loadMesh(s.mesh);
        const Raster r = run(mesh, s.h);
        auto labelAt = [&](const float* p) {
            int v[3];
            for (int a = 0; a < 3; ++a) v[a] = int((p[a] - r.origin[a]) / s.h);
            return r.at(v[0], v[1], v[2]);
        };
        std::size_t unmarked = 0;
        for (const auto& p : mesh.vertices) unmarked += labelAt(p.data()) != LABEL_SURFACE;
        EXPECT_EQ(unmarked, 0u) << "voxels holding a vertex that are not surface";
        expectOutsideMatchesFlood(r);
        EXPECT_EQ(labelAt(s.inside.data()), LABEL_INSIDE);
        EXPECT_EQ(labelAt(s.outside.data()), LABEL_OUTSIDE);
    }
}

TEST_F(RasterizerTest, SameLabelsForAnyThreadCount) {
    const TriMesh mesh =
        loadMesh(test::merged(test::torus(2, 0.7, 48, 24), test::icosphere(3, 0.5)));
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    const Raster serial = run(mesh, 0.05f);
    omp_set_num_threads(3);
    const Raster threaded = run(mesh, 0.05f);
    omp_set_num_threads(before);
    EXPECT_EQ(serial.labels, threaded.labels);
}

}  // namespace
}  // namespace shapescale
