// The transform: its stages on hand-made volumes, the fast voting against the
// reference loop, whole runs in memory and the scale painted on the mesh.

#include <atomic>
#include <csignal>
#include <cstring>
#include <numeric>
#include <set>

#include "core/Interrupt.hpp"
#include "filters/BallSum.hpp"
#include "filters/Gaussian.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/MaptRun.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/SampleRandom.hpp"
#include "mapt/Transform.hpp"
#include "mapt/VertexScale.hpp"
#include "mapt/Voting.hpp"
#include "mapt/reference/ReferenceVoting.hpp"
#include "support/RandomVolume.hpp"
#include "support/TestFiles.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {
namespace {

using shapes::PolyMesh;
using test::lines;
using test::readText;
using test::withNormals;

// A run on an n^3 grid with origin 0 and voxel size h, every voxel inside.
MaptRun emptyRun(int n, double h = 1.0, bool tensors = false) {
    MaptRun run;
    std::fill_n(run.grid.dims, 3, n);
    std::fill_n(run.grid.voxelSize, 3, h);
    run.tensorsOn = tensors;
    run.allocateVolumes();
    run.labels.assign(run.voxels(), 0);
    return run;
}

// An n^3 run holding random votes, filtered with kernel `choice` at width r / 2.
MaptRun filterRun(int n, float choice, double h = 1.0, bool tensors = false) {
    MaptRun run = emptyRun(n, h, tensors);
    run.votes = test::randomVolume(run.grid.dims, 0.0f, 1.0f);
    run.startRadius = 2.0;
    run.sigma = 1.0;
    run.kernel = kernelChoiceFrom(choice);
    return run;
}

double total(const std::vector<float>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0);
}

// Neighbours from the faces: 0 lists 1, 1, 2; 1 lists 2, 2, 0; 2 lists 0, 0, 1; 3 none. Each
// vertex moves half way to its neighbours' mean, taken over the positions before the pass.
TEST(Smoothing, HalfWayToTheMeanOfTheOldNeighbourPositions) {
    TriMesh mesh = shapes::loadMesh(
        {{{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {9, 9, 9}}, {{0, 1, 2}, {0, 1, 2}, {0, 2, 1}}});
    smoothVertices(mesh);
    const float expected[4][3] = {
        {4 / 3.0f, 2 / 3.0f, 0}, {2, 4 / 3.0f, 0}, {2 / 3.0f, 2, 0}, {9, 9, 9}};
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t a = 0; a < 3; ++a)
            EXPECT_FLOAT_EQ(mesh.vertices[i][a], expected[i][a]) << i << " " << a;
}

TEST(Voting, OneVoxelTriangleHas26SamplesThatDepositItsArea) {
    MaptRun run = emptyRun(8);
    run.blendNormals = false;
    // Normal +z, area 0.5.
    voteSurface(run, withNormals({{{2, 2, 2.5}, {3, 2, 2.5}, {2, 3, 2.5}}, {{0, 1, 2}}}), 1.0);
    // Every sample lands one voxel below the triangle's plane, each with a share of A / 26.
    double slice = 0;
    for (std::size_t i = 0; i < 64; ++i) slice += run.votes[run.grid.index(i % 8, i / 8, 1)];
    EXPECT_NEAR(slice / (0.5f / 26.0f), 26.0, 1e-3);  // float sums of 26 shares
    EXPECT_EQ(slice, total(run.votes));
}

TEST(Voting, VotesLandOnlyWhereExpected) {
    const PolyMesh degenerate = {
        {{2, 2, 2}, {2, 2, 2}, {3, 3, 2}, {4, 4, 4}, {5, 4, 4}, {5, 4, 4}},
        {{0, 1, 2}, {2, 0, 1}, {3, 4, 5}}};  // first corners coincide; zero area
    const struct {
        const char* what;
        int n;
        double radius;
        std::array<int, 3> voxel;  // the only voxel with votes; {-1} for none
        PolyMesh mesh;
    } cases[] = {
        // Small enough for one sample: the centroid (corner 0 is in another voxel), whatever the
        // random sequence.
        {"centroid", 8, 1.5, {4, 3, 3}, {{{3.95, 3, 5}, {4.25, 3, 5}, {4.1, 3.1, 5}}, {{0, 1, 2}}}},
        {"degenerate", 8, 1.0, {-1}, degenerate},
        {"leaving the grid", 6, 10.0, {-1}, {{{2, 2, 2}, {3, 2, 2}, {2, 3, 2}}, {{0, 1, 2}}}},
    };
    for (const auto& c : cases) {
        for (unsigned seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(c.what);
            MaptRun run = emptyRun(c.n);
            run.random.reseed(seed);
            voteSurface(run, withNormals(c.mesh), c.radius);
            const auto [x, y, z] = c.voxel;
            const float at = x < 0 ? 0.0f : run.votes[run.grid.index(x, y, z)];
            EXPECT_EQ(at > 0.0f, x >= 0);
            EXPECT_EQ(total(run.votes), at);
        }
    }
}

// A single-sample triangle in the plane x = 3 (or z = 3): its centroid sits at
// 3 * 0.33333334 * 3 in double, and moved by exactly that radius against the
// normal it lands on 0, moved along the normal on 6.
TEST(Voting, BoundsOfInnerAndOuterVotesAndTheOuterTensorWithoutArea) {
    const double w = 1.0f / 3.0f;
    const double radius = (w * 3.0 + w * 3.0) + w * 3.0;
    const struct {
        bool onZ, normalPlus;
        std::vector<std::array<std::size_t, 3>> voted;  // voxels with votes; the inner one first
    } cases[] = {
        {false, true, {{6, 5, 5}}},              // inner on x = 0: rejected
        {false, false, {{6, 5, 5}, {0, 5, 5}}},  // outer on x = 0: accepted
        {true, true, {{5, 5, 6}}},               // z = 0 is rejected on both sides
        {true, false, {{5, 5, 6}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "z " << c.onZ << " plus " << c.normalPlus);
        PolyMesh poly{{{3, 5, 5}, {3, 5.1, 5}, {3, 5, 5.1}}, {{0, 1, 2}}};
        if (!c.normalPlus) std::swap(poly.faces[0][1], poly.faces[0][2]);
        if (c.onZ) {  // swapping x and z mirrors, so the face order swaps too
            for (auto& v : poly.vertices) std::swap(v[0], v[2]);
            std::swap(poly.faces[0][1], poly.faces[0][2]);
        }
        MaptRun run = emptyRun(10, 1.0, true);
        run.blendNormals = false;
        run.bothSides = true;
        voteSurface(run, withNormals(poly), radius);
        std::vector<std::size_t> at;
        for (const auto& [x, y, z] : c.voted) at.push_back(run.grid.index(x, y, z));
        const float area = run.votes[at[0]];
        EXPECT_GT(area, 0.0f);
        EXPECT_FLOAT_EQ(float(total(run.votes)), area * float(at.size()));
        if (at.size() == 2) {
            EXPECT_EQ(run.votes[at[1]], area);
            EXPECT_FLOAT_EQ(run.tensor[0][at[0]], area);  // n = (-1, 0, 0): xx times the area
            EXPECT_FLOAT_EQ(run.tensor[0][at[1]], 1.0f);  // 1 / sampleCount, no area
            EXPECT_EQ(total(run.tensor[1]) + total(run.tensor[3]) + total(run.tensor[5]), 0.0);
        }
    }
}

TEST(Histogram, BinBoundariesAreComputedInSinglePrecision) {
    for (int b = 1; b < HISTOGRAM_BINS; ++b) {
        const float low = static_cast<float>(b) / 12.0f;
        EXPECT_EQ(histogramBin(low), b);
        EXPECT_EQ(histogramBin(std::nextafter(low, 0.0f)), b - 1);
    }
    const std::pair<float, int> edges[] = {
        {0.0f, 0},     {0.5f, 6},          {std::nextafter(1.0f, 0.0f), 11}, {1.0f, -1}, {3.0f, -1},
        {-1e-30f, -1}, {std::nanf(""), -1}};
    for (const auto& [value, bin] : edges) EXPECT_EQ(histogramBin(value), bin) << value;
}

TEST(Maxima, NormalisesBySphereAreaAndCountsInsideVoxels) {
    MaptRun run = emptyRun(2, 0.5);
    const double area = 4.0 * FOUR_PI * 0.5 * 4.0 * 0.5;  // r = 4 voxels, h = 0.5: 16 pi
    run.apt[0] = static_cast<float>(area * 0.95);
    run.apt[1] = run.apt[2] = static_cast<float>(area * 0.55);
    run.labels[2] = LABEL_OUTSIDE;
    run.apt[3] = -1.0f;
    updateMaxima(run, 4.0);
    EXPECT_NEAR(run.apt[0], 0.95f, 1e-6f);  // float rounding of the stored sum
    EXPECT_NEAR(run.jmapt[1], 0.55f, 1e-6f);
    EXPECT_EQ(run.jmapt[2], run.jmapt[1]);  // outside voxels take part in the maxima
    EXPECT_EQ(run.jmapt[3], 0.0f);          // never above 0: no maximum, no scale
    EXPECT_EQ(run.scale, (std::vector<float>{4, 4, 4, 0, 0, 0, 0, 0}));
    // Voxels 4..7 hold 0 (bin 0); voxel 2 is outside; voxel 3 is below 0.
    EXPECT_EQ(run.histogram, (Histogram{4, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
}

TEST(Maxima, OnlyAHigherValueMovesTheScaleAndCopiesTheTensors) {
    MaptRun run = emptyRun(2, 1.0, true);
    run.apt[0] = 3.0f;
    run.tensor[3][0] = 7.0f;
    run.tensor[3][1] = 9.0f;
    updateMaxima(run, 2.0);
    EXPECT_EQ(run.bestTensor[3][0], 7.0f);
    EXPECT_EQ(run.bestTensor[3][1], 0.0f);  // voxel 1 never rose above 0
    // A vote sum that gives exactly the same value at radius 3 keeps the earlier scale.
    const float best = run.jmapt[0];
    const double d3 = 3.0 * FOUR_PI * 1.0 * 3.0 * 1.0;
    float sum = static_cast<float>(best * d3);
    for (int step = 0; step < 8 && static_cast<float>(sum / d3) != best; ++step)
        sum = std::nextafter(sum, static_cast<float>(sum / d3) < best ? 1e30f : 0.0f);
    ASSERT_EQ(static_cast<float>(sum / d3), best);
    run.apt[0] = sum;
    run.tensor[3][0] = 8.0f;
    updateMaxima(run, 3.0);
    EXPECT_EQ(run.scale[0], 2.0f);
    EXPECT_EQ(run.bestTensor[3][0], 7.0f);
    run.apt[0] = sum * 2.0f;  // 2 * 9/16 of the best at radius 4: higher
    updateMaxima(run, 4.0);
    EXPECT_EQ(run.scale[0], 4.0f);
    EXPECT_EQ(run.bestTensor[3][0], 8.0f);
}

TEST(FilterChoice, KernelChoiceSelectsTheFilterAtAWidthProportionalToTheRadius) {
    const int dims[3] = {12, 12, 12};
    const std::vector<float> votes = test::randomVolume(dims, 0.0f, 1.0f);
    std::vector<float> expected(votes.size());
    filter3DNN(votes.data(), expected.data(), dims, 2.5f, 2);
    std::vector<float> ball(votes.size());
    sphereFlt(votes.data(), ball.data(), dims, 2.5f);
    std::vector<float> ballThenGaussian = ball;
    filter3D(ballThenGaussian.data(), ballThenGaussian.data(), dims, 5.0f, 5);
    const std::pair<float, const std::vector<float>*> cases[] = {{1.0f, &expected},
                                                                 {3.0f, &expected},
                                                                 {-1.0f, &expected},
                                                                 {0.0f, &ball},
                                                                 {2.0f, &ballThenGaussian}};
    for (const auto& [choice, result] : cases) {
        MaptRun run = filterRun(12, choice);  // at radius 5 the width is 2.5
        filterVotes(run, 5.0);
        EXPECT_EQ(run.apt, *result) << "choice " << choice;
    }
}

// The maxima folded into the last filter pass (rows in any order, on several
// threads) give the same volumes and counts as the separate pass after it.
TEST(FilterChoice, MaximaInTheLastPassEqualTheSeparatePass) {
    for (const float choice : {0.0f, 1.0f, 2.0f}) {
        auto makeRun = [&] {
            MaptRun run = filterRun(32, choice, 0.25);  // 2^15 voxels: the filters use every thread
            for (std::size_t i = 0; i < run.voxels(); i += 7) run.labels[i] = LABEL_OUTSIDE;
            return run;
        };
        MaptRun separate = makeRun();
        MaptRun fused = makeRun();
        for (const double r : {3.0, 5.0}) {
            filterVotes(separate, r);
            updateMaxima(separate, r);
            MaximaPass maxima(fused, r);
            test::withThreads(2, [&] {
                return filterVotes(fused, r, [&](std::size_t row) { maxima.row(row); }), 0;
            });
            maxima.finish();
            EXPECT_EQ(fused.apt, separate.apt) << choice;
            EXPECT_EQ(fused.jmapt, separate.jmapt) << choice;
            EXPECT_EQ(fused.scale, separate.scale) << choice;
            EXPECT_EQ(fused.histogram, separate.histogram) << choice;
            EXPECT_EQ(fused.atLeastOne, separate.atLeastOne) << choice;
        }
    }
}

// A signal stops each filter within its rows (the rows after it are skipped)
// and the voting before it adds a vote; both throw Interrupted.
TEST(Interruption, FiltersAndVotingStopInsideTheirLoops) {
    auto expectStopped = [](const std::function<void()>& work, const char* where) {
        try {
            work();
            ADD_FAILURE() << "no interruption " << where;
        } catch (const Interrupted& e) {
            EXPECT_EQ(std::string(e.what()), std::string("interrupted by SIGTERM ") + where);
        }
        detail::pendingSignal.store(0);
    };
    for (const float choice : {0.0f, 1.0f, 2.0f}) {
        MaptRun run = filterRun(64, choice);
        std::atomic<std::size_t> rows{0};
        expectStopped(
            [&] {
                filterVotes(run, 4.0, [&](std::size_t) {
                    if (rows++ == 0) detail::pendingSignal.store(SIGTERM);
                });
            },
            WHILE_FILTERING);
        EXPECT_LT(rows.load(), 64u * 64u / 2) << choice;  // most rows never finished
    }
    MaptRun run = filterRun(64, 0.0f, 1.0, true);
    expectStopped(
        [&] {
            detail::pendingSignal.store(SIGTERM);
            filterVotes(run, 4.0);
        },
        WHILE_FILTERING);  // the box filter of the tensors among them
    std::fill(run.votes.begin(), run.votes.end(), 0.0f);
    const TriMesh triangle = withNormals({{{2, 2, 2.5}, {60, 2, 2.5}, {2, 60, 2.5}}, {{0, 1, 2}}});
    expectStopped(
        [&] {
            detail::pendingSignal.store(SIGTERM);
            voteSurface(run, triangle, 8.0);
        },
        "while voting");
    EXPECT_EQ(*std::max_element(run.votes.begin(), run.votes.end()), 0.0f);
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 4) == 0);
}

TEST(SampleRandom, CoversZeroTo2Pow31AndRepeatsPerSeed) {
    SampleRandom a(7), b(7), c(8);
    std::uint32_t low = SampleRandom::MAX, high = 0;
    double sum = 0.0;
    int differ = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t x = a.next();
        ASSERT_EQ(x, b.next());
        differ += x != c.next();
        ASSERT_LE(x, SampleRandom::MAX);
        low = std::min(low, x);
        high = std::max(high, x);
        sum += x;
    }
    EXPECT_GT(differ, n - 10);
    EXPECT_LT(low, 1u << 16);  // 2e5 draws: the extremes come within ~2^31 / 2e5
    EXPECT_GT(high, SampleRandom::MAX - (1u << 16));
    EXPECT_NEAR(sum / n / 0x1p31, 0.5, 0.005);  // mean of a uniform draw, 0.0006 std error
    for (std::uint64_t skipped : {0, 1, 2, 999, 12345}) {
        SampleRandom whole(9), skipping(9);
        for (std::uint64_t i = 0; i < skipped; ++i) whole.next();
        skipping.skip(skipped);
        EXPECT_EQ(whole.next(), skipping.next()) << skipped;
    }
}

// The fast loop against the reference fed the same draws, for every flag
// combination, even sampling and two radii, with one and two threads: votes and tensors bit
// for bit. A torus in a box at h 0.03: about 3 million samples, so that the
// fast loop works in several batches, and box triangles of some 360,000
// samples each, which batches cut. With two threads and odd flags, blocks of
// 5 triangles and batches of 4099 samples: many blocks, and batches and
// threads' shares that start inside a triangle.
TEST(FastVoting, EqualsTheReferenceForTheSameDraws) {
    TriMesh mesh = shapes::loadMesh(shapes::merged(
        shapes::torus(1.0, 0.45, 30, 14), shapes::box({-1.8, -1.8, -0.5}, {1.8, 1.8, 0.5})));
    computeVertexNormals(mesh);
    auto freshRun = [&](int flags) {
        MaptRun run;
        const float h = 0.03f;
        setUpGrid(mesh.bboxMin, mesh.bboxMax, h, run.grid.dims, run.grid.origin);
        for (double& size : run.grid.voxelSize) size = h;
        run.blendNormals = flags & 1;
        run.tensorsOn = flags & 2;
        run.bothSides = flags & 4;
        run.evenSampling = flags & 8;
        run.allocateVolumes();
        run.random.reseed(11);
        return run;
    };
    for (int flags = 0; flags <= 8; ++flags) {  // 8: even sampling
        for (double r : {flags % 3 == 0 ? 6.0 : 1.5}) {
            SCOPED_TRACE("flags " + std::to_string(flags) + ", r " + std::to_string(r));
            MaptRun fast = freshRun(flags), reference = freshRun(flags), serial = freshRun(flags);
            test::withThreads(1, [&] { return voteSurface(serial, mesh, r), 0; });
            if (flags & 1) {
                fast.votingBuffers.blockTriangles = 5;
                fast.votingBuffers.batchSamples = 4099;
            }
            test::withThreads(2, [&] { return voteSurface(fast, mesh, r), 0; });
            EXPECT_TRUE(sameBits(fast.votes, serial.votes));
            // The fast loop's draws: one key from the run's generator, then
            // one stream per triangle.
            const std::uint64_t key = SampleRandom(11).nextKey();
            std::size_t current = SIZE_MAX;
            SampleRandom stream;
            reference::voteSurface(reference, mesh, r, [&](std::size_t triangle) {
                if (triangle != current) stream = SampleRandom::forItem(key, triangle);
                current = triangle;
                return int(stream.next());
            });
            EXPECT_TRUE(sameBits(fast.votes, reference.votes));
            for (int c = 0; c < TENSOR_COMPONENTS; ++c)
                EXPECT_TRUE(sameBits(fast.tensor[std::size_t(c)], reference.tensor[std::size_t(c)]))
                    << c;
            if (flags != 0) continue;
            MaptRun reseeded = freshRun(flags);
            reseeded.random.reseed(12);
            voteSurface(reseeded, mesh, r);
            EXPECT_FALSE(sameBits(fast.votes, reseeded.votes)) << "the seed changes nothing";
        }
    }
}

// A seeded run: every result file the same with one and with two threads,
// and a second seed gives other votes.
TEST(FastVoting, SeededRunsRepeatWhateverTheThreadCount) {
    auto run = [&](int threads, std::uint32_t seed, const test::TempDir& dir) {
        TriMesh mesh = shapes::loadMesh(shapes::dumbbell(16, 20));  // smoothed by the run
        computeVertexNormals(mesh);
        const TransformSettings settings{.gridResolution = 0.15,  // about 17 x 17 x 32 voxels
                                         .radiusCount = 2,
                                         .tensorsOn = true,
                                         .bothSides = true,
                                         .outDir = dir.path(),
                                         .occupancyPath = dir.file("volume.vol"),
                                         .seeded = true,
                                         .seed = seed};
        return test::withThreads(threads, [&] { return runTransform(mesh, settings, nullptr); });
    };
    test::TempDir one, two, other;
    const std::vector<float> jmapt1 = run(1, 5, one), jmapt2 = run(2, 5, two);
    const std::vector<float> jmapt3 = run(2, 6, other);
    EXPECT_TRUE(sameBits(jmapt1, jmapt2));
    EXPECT_FALSE(sameBits(jmapt1, jmapt3));
    const std::vector<std::string> names = test::listDir(one.path());
    EXPECT_EQ(names, test::listDir(two.path()));
    // Pairs: apt and vxx per radius, jmapt, scale, six tensors; hist, info, volume.vol.
    EXPECT_EQ(names.size(), 2 * (2 * 2 + 2 + 6) + 3u);
    for (const std::string& name : names)
        EXPECT_EQ(test::readBytes(one.file(name)), test::readBytes(two.file(name))) << name;
}

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

}  // namespace
}  // namespace shapescale
