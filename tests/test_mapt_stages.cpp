#include <numeric>

#include "filters/BallSum.hpp"
#include "filters/Gaussian.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/Voting.hpp"
#include "support/RandomVolume.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::PolyMesh;
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
        MaptRun run = emptyRun(12);
        run.votes = votes;
        run.startRadius = 2.0;  // at radius 5 the width is 2.5
        run.sigma = 1.0;
        run.kernel = kernelChoiceFrom(choice);
        filterVotes(run, 5.0);
        EXPECT_EQ(run.apt, *result) << "choice " << choice;
    }
}

}  // namespace
}  // namespace shapescale
