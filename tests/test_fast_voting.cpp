#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mapt/MaptRun.hpp"
#include "mapt/SampleRandom.hpp"
#include "mapt/Transform.hpp"
#include "mapt/Voting.hpp"
#include "mapt/reference/ReferenceVoting.hpp"
#include "shapes/Shapes.hpp"
#include "support/TestFiles.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {
namespace {

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

}  // namespace
}  // namespace shapescale
