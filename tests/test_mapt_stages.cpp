#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>

#include "core/Vec3.hpp"
#include "filters/BoxSphere.hpp"
#include "filters/Gaussian.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/Voting.hpp"
#include "shapes/Shapes.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {
namespace {

using shapes::PolyMesh;

// A run on an n^3 grid with origin 0 and voxel size h, volumes cleared.
MaptRun emptyRun(int n, double h = 1.0, bool tensors = false) {
    MaptRun run;
    for (int a = 0; a < 3; ++a) {
        run.grid.dims[a] = n;
        run.grid.voxelSize[a] = h;
    }
    run.tensorsOn = tensors;
    run.allocateVolumes();
    run.labels.assign(run.voxels(), 0);
    return run;
}

TriMesh meshWithNormals(const PolyMesh& poly) {
    TriMesh mesh = shapes::loadMesh(poly);
    computeVertexNormals(mesh);
    return mesh;
}

double total(const std::vector<float>& volume) {
    double sum = 0;
    for (float v : volume) sum += v;
    return sum;
}

// ---- smoothing ----

TEST(Smoothing, MovesHalfWayToTheNeighbourMeanFromTheOldPositions) {
    PolyMesh poly;
    poly.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    poly.faces = {{0, 1, 2}, {0, 2, 1}};  // neighbours of 0: 1 and 2
    TriMesh mesh = shapes::loadMesh(poly);
    ASSERT_EQ(mesh.vertexNeighbours[0], (std::vector<int>{1, 2}));
    smoothVertices(mesh);
    EXPECT_FLOAT_EQ(mesh.vertices[0][0], 0.25f);
    EXPECT_FLOAT_EQ(mesh.vertices[0][1], 0.25f);
    EXPECT_EQ(mesh.vertices[0][2], 0.0f);
    // Vertex 1 (neighbours 2 and 0) moved from the old position of 0, not the new one.
    EXPECT_FLOAT_EQ(mesh.vertices[1][0], 0.5f);
    EXPECT_FLOAT_EQ(mesh.vertices[1][1], 0.25f);
}

TEST(Smoothing, RepeatedNeighboursCountTwiceAndLoneVerticesStay) {
    PolyMesh poly;
    poly.vertices = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {9, 9, 9}};
    poly.faces = {{0, 1, 2}, {0, 1, 2}, {0, 2, 1}};  // 0 lists 1, 1, 2
    TriMesh mesh = shapes::loadMesh(poly);
    smoothVertices(mesh);
    // mean of (4,0), (4,0), (0,4) is (8/3, 4/3); half of it
    EXPECT_FLOAT_EQ(mesh.vertices[0][0], 4.0f / 3.0f);
    EXPECT_FLOAT_EQ(mesh.vertices[0][1], 2.0f / 3.0f);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(mesh.vertices[3][a], 9.0f);
}

TEST(Smoothing, MovesTheCallersVerticesThroughTheSharedTriples) {
    TriMesh mesh = shapes::loadMesh(shapes::icosphere(1));
    TriMesh copy = mesh;
    smoothVertices(copy);
    EXPECT_EQ(mesh.vertices[0][0], copy.vertices[0][0]);
    const Vec3f& v = mesh.vertices[0];
    EXPECT_LT(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 1.0f);  // a sphere shrinks
}

// ---- voting ----

TEST(Voting, OneVoxelTriangleHas26SamplesThatDepositItsArea) {
    MaptRun run = emptyRun(8);
    run.blendNormals = false;
    PolyMesh poly;
    poly.vertices = {{2, 2, 2.5}, {3, 2, 2.5}, {2, 3, 2.5}};  // normal +z, area 0.5
    poly.faces = {{0, 1, 2}};
    const TriMesh mesh = meshWithNormals(poly);
    std::srand(42);
    voteSurface(run, mesh, 1.0);
    // Every sample lands one voxel below the triangle's plane, each with a
    // share of A / 26.
    const float share = 0.5f / 26.0f;
    double slice = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) slice += run.votes[voxelIndex(run.grid.dims, x, y, 1)];
    EXPECT_NEAR(slice / share, 26.0, 1e-3);  // float sums of 26 shares
    EXPECT_EQ(slice, total(run.votes));
}

TEST(Voting, TheFirstSampleIsTheCentroid) {
    // A triangle small enough for a single sample votes only at its centroid,
    // whatever the random sequence.
    for (unsigned seed : {1u, 2u, 3u}) {
        MaptRun run = emptyRun(8);
        PolyMesh poly;
        poly.vertices = {{4.1, 3.0, 5.0}, {4.2, 3.0, 5.0}, {4.1, 3.1, 5.0}};
        poly.faces = {{0, 1, 2}};
        std::srand(seed);
        voteSurface(run, meshWithNormals(poly), 1.5);
        EXPECT_GT(run.votes[voxelIndex(run.grid.dims, 4, 3, 3)], 0.0f);
        EXPECT_EQ(total(run.votes), run.votes[voxelIndex(run.grid.dims, 4, 3, 3)]);
    }
}

// A single-sample triangle in the plane x = 3 (or z = 3): its centroid sits at
// 3 * 0.33333334 * 3 in double, and moved by exactly that radius against the
// normal it lands on 0, moved along the normal on 6.
TEST(Voting, BoundsOfInnerAndOuterVotesAndTheOuterTensorWithoutArea) {
    const double w = 1.0f / 3.0f;
    const double radius = (w * 3.0 + w * 3.0) + w * 3.0;
    struct Case {
        bool onZ, normalPlus;
        std::vector<std::array<int, 3>> voted;  // voxels with votes; the first is the inner one
    };
    const std::vector<Case> cases = {
        {false, true, {{6, 5, 5}}},              // inner on x = 0: rejected
        {false, false, {{6, 5, 5}, {0, 5, 5}}},  // outer on x = 0: accepted
        {true, true, {{5, 5, 6}}},               // z = 0 is rejected on both sides
        {true, false, {{5, 5, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "z " << c.onZ << " plus " << c.normalPlus);
        PolyMesh poly;
        poly.vertices = {{3, 5, 5}, {3, 5.1, 5}, {3, 5, 5.1}};
        poly.faces = {c.normalPlus ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 2, 1}};
        if (c.onZ) {  // swapping x and z mirrors, so the face order swaps too
            for (auto& v : poly.vertices) std::swap(v[0], v[2]);
            std::swap(poly.faces[0][1], poly.faces[0][2]);
        }
        MaptRun run = emptyRun(10, 1.0, true);
        run.blendNormals = false;
        run.bothSides = true;
        voteSurface(run, meshWithNormals(poly), radius);
        const std::size_t inner =
            voxelIndex(run.grid.dims, c.voted[0][0], c.voted[0][1], c.voted[0][2]);
        const float area = run.votes[inner];
        EXPECT_GT(area, 0.0f);
        EXPECT_FLOAT_EQ(static_cast<float>(total(run.votes)),
                        area * static_cast<float>(c.voted.size()));
        if (c.voted.size() == 2) {
            const std::size_t outer =
                voxelIndex(run.grid.dims, c.voted[1][0], c.voted[1][1], c.voted[1][2]);
            EXPECT_EQ(run.votes[outer], area);
            EXPECT_FLOAT_EQ(run.tensor[0][inner], area);  // n = (-1, 0, 0): xx times the area
            EXPECT_FLOAT_EQ(run.tensor[0][outer], 1.0f);  // 1 / sampleCount, no area
            EXPECT_EQ(total(run.tensor[1]) + total(run.tensor[3]) + total(run.tensor[5]), 0.0);
        }
    }
}

TEST(Voting, DegenerateTrianglesVoteNothing) {
    MaptRun run = emptyRun(8);
    PolyMesh poly;
    poly.vertices = {{2, 2, 2}, {2, 2, 2}, {3, 3, 2}, {4, 4, 4}, {5, 4, 4}, {5, 4, 4}};
    poly.faces = {{0, 1, 2}, {2, 0, 1}, {3, 4, 5}};  // coincident first corners; zero area
    voteSurface(run, meshWithNormals(poly), 1.0);
    EXPECT_EQ(total(run.votes), 0.0);
}

TEST(Voting, PointsLeavingTheGridAreDropped) {
    MaptRun run = emptyRun(6);
    PolyMesh poly;
    poly.vertices = {{2, 2, 2}, {3, 2, 2}, {2, 3, 2}};
    poly.faces = {{0, 1, 2}};
    voteSurface(run, meshWithNormals(poly), 10.0);
    EXPECT_EQ(total(run.votes), 0.0);
}

// ---- normalisation, maxima, histogram ----

TEST(Histogram, BinBoundariesAreComputedInSinglePrecision) {
    for (int b = 0; b < HISTOGRAM_BINS; ++b) {
        const float low = static_cast<float>(b) / 12.0f;
        EXPECT_EQ(histogramBin(low), b);
        if (b > 0) {
            EXPECT_EQ(histogramBin(std::nextafter(low, 0.0f)), b - 1);
        }
    }
    EXPECT_EQ(histogramBin(std::nextafter(1.0f, 0.0f)), 11);
    EXPECT_EQ(histogramBin(1.0f), -1);
    EXPECT_EQ(histogramBin(3.0f), -1);
    EXPECT_EQ(histogramBin(-1e-30f), -1);
    EXPECT_EQ(histogramBin(std::nanf("")), -1);
    EXPECT_EQ(histogramBin(0.5f), 6);
}

TEST(Maxima, NormalisesBySphereAreaAndCountsInsideVoxels) {
    MaptRun run = emptyRun(2, 0.5);
    const double area = 4.0 * FOUR_PI * 0.5 * 4.0 * 0.5;  // r = 4 voxels, h = 0.5: 16 pi
    EXPECT_NEAR(area, 50.2655, 1e-4);
    run.apt[0] = static_cast<float>(area * 0.95);
    run.apt[1] = static_cast<float>(area * 0.55);
    run.apt[2] = static_cast<float>(area * 0.55);
    run.labels[2] = 255;
    run.apt[3] = -1.0f;
    updateMaxima(run, 4.0);
    EXPECT_NEAR(run.apt[0], 0.95f, 1e-6f);  // float rounding of the stored sum
    EXPECT_NEAR(run.jmapt[1], 0.55f, 1e-6f);
    EXPECT_EQ(run.scale[0], 4.0f);
    EXPECT_EQ(run.jmapt[2], run.jmapt[1]);  // outside voxels take part in the maxima
    EXPECT_EQ(run.scale[2], 4.0f);
    EXPECT_EQ(run.jmapt[3], 0.0f);  // never above 0: no maximum, no scale
    EXPECT_EQ(run.scale[3], 0.0f);
    EXPECT_EQ(run.scale[5], 0.0f);
    // Voxels 4..7 hold 0 (bin 0); voxel 2 is outside; voxel 3 is below 0.
    const std::array<std::int64_t, HISTOGRAM_BINS> expected = {4, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(run.histogram, expected);
}

TEST(Maxima, AnEqualValueAtALaterRadiusKeepsTheEarlierScale) {
    MaptRun run = emptyRun(1, 1.0);
    run.apt[0] = 3.0f;
    updateMaxima(run, 2.0);
    const float best = run.jmapt[0];
    // A vote sum that gives exactly the same value at radius 3.
    const double d3 = 3.0 * FOUR_PI * 1.0 * 3.0 * 1.0;
    float sum = static_cast<float>(best * d3);
    for (int step = 0; step < 8 && static_cast<float>(sum / d3) != best; ++step)
        sum = std::nextafter(sum, static_cast<float>(sum / d3) < best ? 1e30f : 0.0f);
    ASSERT_EQ(static_cast<float>(sum / d3), best);
    run.apt[0] = sum;
    updateMaxima(run, 3.0);
    EXPECT_EQ(run.scale[0], 2.0f);
    run.apt[0] = sum * 2.0f;  // 2 * 9/16 of the best at radius 4: higher
    updateMaxima(run, 4.0);
    EXPECT_EQ(run.scale[0], 4.0f);
}

TEST(Maxima, TensorsAreCopiedWhereTheMaximumRises) {
    MaptRun run = emptyRun(2, 1.0, true);
    run.apt[0] = 10.0f;
    run.tensor[3][0] = 7.0f;
    run.tensor[3][1] = 9.0f;
    updateMaxima(run, 1.0);
    EXPECT_EQ(run.bestTensor[3][0], 7.0f);
    EXPECT_EQ(run.bestTensor[3][1], 0.0f);  // voxel 1 never rose above 0
}

TEST(FilterChoice, KernelChoiceSelectsTheFilterAtAWidthProportionalToTheRadius) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> votes(12 * 12 * 12);
    for (float& v : votes) v = value(rng);
    auto runWith = [&](float choice) {
        MaptRun run = emptyRun(12);
        run.votes = votes;
        run.startRadius = 2.0;
        run.sigma = 1.0;
        run.kernel = kernelChoiceFrom(choice);
        return run;
    };
    const double r = 5.0;  // width 2.5
    const std::size_t n = votes.size();

    std::vector<float> expected(n, 0.0f);
    for (float choice : {1.0f, 3.0f, -1.0f}) {
        MaptRun run = runWith(choice);
        filterVotes(run, r);
        std::fill(expected.begin(), expected.end(), 0.0f);
        filter3DNN(votes.data(), expected.data(), run.grid.dims, 2.5f, 2);
        EXPECT_EQ(run.apt, expected) << "choice " << choice;
    }
    MaptRun sphere = runWith(0.0f);
    filterVotes(sphere, r);
    sphereFlt(votes.data(), expected.data(), sphere.grid.dims, 2.5f);
    EXPECT_EQ(sphere.apt, expected);

    MaptRun both = runWith(2.0f);
    filterVotes(both, r);
    filter3D(expected.data(), expected.data(), both.grid.dims, 5.0f, 5);
    EXPECT_EQ(both.apt, expected);
}

}  // namespace
}  // namespace shapescale
