#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kdtree/FastNearest.hpp"
#include "kdtree/KDTree.hpp"
#include "mesh/TriMesh.hpp"
#include "shapes/Shapes.hpp"
#include "voxel/NearestVertex.hpp"

namespace shapescale {
namespace {

using Points = std::vector<std::vector<double>>;

Points lattice(int nx, int ny, int nz, double origin, double step, int copies) {
    Points points;
    for (int c = 0; c < copies; ++c)
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    points.push_back({origin + x * step, origin + y * step, origin + z * step});
    return points;
}

// Query grid: `count` positions per axis from `first` by `step`.
struct QueryGrid {
    double first, step;
    int count;
};

// Leaf order of each point: the tree's nodes are in pre-order.
std::vector<int> leafOrder(const KDTree& tree) {
    std::vector<int> order(static_cast<std::size_t>(tree.pointCount()));
    int k = 0;
    for (const auto& node : tree.nodeList())
        if (node.isLeaf()) order[static_cast<std::size_t>(node.point_index)] = k++;
    return order;
}

// Every query of the grid, answered by the tree's own search, by the fast search
// without and with a random hint, and block by block; plus how often the rounded
// minimum was shared and how often the answer was not the first of the sharers in
// leaf order (the tree's descent leaf kept its place).
TEST(FastNearest, AnswersAsTheTreeDoesTiesIncluded) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    Points random(1500);
    for (auto& p : random) p = {unit(rng), unit(rng), 0.25 * unit(rng)};
    Points sphere;
    for (const auto& v : shapes::icosphere(3).vertices) sphere.push_back({v[0], v[1], v[2]});
    struct Case {
        std::string name;
        Points points;
        QueryGrid grid;
        int minTies, minDescentWins;
    };
    const std::vector<Case> cases = {
        {"lattice", lattice(6, 5, 4, 0.0, 1.0, 1), {-1.5, 0.5, 17}, 1000, 1000},
        {"lattice, every point twice", lattice(5, 4, 4, 0.0, 1.0, 2), {-1.0, 0.5, 14}, 1000, 1000},
        {"lattice far from the origin",
         lattice(5, 5, 5, 1000.25, 0.125, 1),
         {1000.0, 0.0625, 15},
         1000,
         500},
        {"random", random, {-1.1, 0.147, 16}, 0, 0},
        {"sphere and its centre", sphere, {-1.2, 0.2, 13}, 50, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KDTree tree(c.points);
        const FastNearest fast(tree);
        const std::vector<int> order = leafOrder(tree);
        const int n = c.grid.count;
        std::vector<double> axis;
        for (int i = 0; i < n; ++i) axis.push_back(c.grid.first + i * c.grid.step);
        std::vector<int> expected(static_cast<std::size_t>(n * n * n));
        int ties = 0, descentWins = 0;
        std::uniform_int_distribution<int> anyPoint(0, tree.pointCount() - 1);
        for (int k = 0; k < n; ++k)
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    const std::vector<double> q = {axis[std::size_t(i)], axis[std::size_t(j)],
                                                   axis[std::size_t(k)]};
                    const int want = tree.nearest_point(q);
                    expected[std::size_t(i + n * (j + n * k))] = want;
                    ASSERT_EQ(fast.nearest(q.data()), want) << q[0] << " " << q[1] << " " << q[2];
                    ASSERT_EQ(fast.nearest(q.data(), anyPoint(rng)), want);
                    // Brute force: the points at the smallest rounded distance.
                    float best = INFINITY;
                    std::vector<int> sharers;
                    for (int p = 0; p < tree.pointCount(); ++p) {
                        double s = 0.0;
                        for (int a = 0; a < 3; ++a)
                            s += (q[std::size_t(a)] - tree.point(p)[a]) *
                                 (q[std::size_t(a)] - tree.point(p)[a]);
                        const float d = static_cast<float>(s);
                        if (d < best) sharers.clear();
                        if (d <= best) sharers.push_back(p), best = d;
                    }
                    ASSERT_NE(std::find(sharers.begin(), sharers.end(), want), sharers.end());
                    ties += sharers.size() > 1;
                    for (int p : sharers)
                        descentWins += order[std::size_t(p)] < order[std::size_t(want)];
                }
        EXPECT_GE(ties, c.minTies);
        EXPECT_GE(descentWins, c.minDescentWins);
        // Blocks of 3 x 2 x 4 (the last ones cut short) against the same answers.
        FastNearest::BlockScratch scratch;
        for (int k = 0; k < n; k += 4)
            for (int j = 0; j < n; j += 2)
                for (int i = 0; i < n; i += 3) {
                    const int sx = std::min(3, n - i), sy = std::min(2, n - j),
                              sz = std::min(4, n - k);
                    std::vector<int> out(std::size_t(sx * sy * sz), -1);
                    fast.nearestOnBlock(&axis[std::size_t(i)], sx, &axis[std::size_t(j)], sy,
                                        &axis[std::size_t(k)], sz, out.data(), scratch);
                    for (int z = 0; z < sz; ++z)
                        for (int y = 0; y < sy; ++y)
                            for (int x = 0; x < sx; ++x)
                                ASSERT_EQ(
                                    out[std::size_t(x + sx * (y + sy * z))],
                                    expected[std::size_t((i + x) + n * ((j + y) + n * (k + z)))])
                                    << i + x << " " << j + y << " " << k + z;
                }
    }
}

// Whole label volumes: the fast search against the tree's own query, on meshes whose
// vertices sit on voxel centres or symmetric to them (equal distances abound), with
// duplicate vertices, open and curved; the fast path with one and with two threads.
TEST(FastNearest, VoxeliserLabelsEqualTheTreesWithOneOrTwoThreads) {
    struct Case {
        std::string name;
        shapes::PolyMesh poly;
        float h;
    };
    const std::vector<Case> cases = {
        {"unit cube, h 1/8", shapes::unitCube(), 0.125f},
        {"unit cube, h 0.1", shapes::unitCube(), 0.1f},
        {"box with corners on voxel centres", shapes::box({0, 0, 0}, {2.25, 1.75, 1.25}), 0.5f},
        {"cube twice (duplicate vertices)", shapes::merged(shapes::unitCube(), shapes::unitCube()),
         0.0625f},
        {"torus", shapes::torus(1.0, 0.4, 24, 12), 0.07f},
        {"lumpy sphere", shapes::lumpySphere(24, 30), 0.05f},
        {"hemisphere (open)", shapes::hemisphere(2), 0.08f},
    };
    const int saved = omp_get_max_threads();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TriMesh mesh = shapes::loadMesh(c.poly);
        computeVertexNormals(mesh);
        int dims[3], fastDims[3];
        float origin[3], fastOrigin[3];
        omp_set_num_threads(2);
        const auto reference = mesh2Volume(mesh, c.h, dims, origin, NearestSearch::specifiedTree);
        for (int threads : {1, 2}) {
            omp_set_num_threads(threads);
            const auto labels = mesh2Volume(mesh, c.h, fastDims, fastOrigin, NearestSearch::fast);
            EXPECT_EQ(labels, reference) << threads << " threads";
            for (int a = 0; a < 3; ++a) EXPECT_EQ(fastDims[a], dims[a]);
        }
        EXPECT_NE(std::count(reference.begin(), reference.end(), 255), 0);
        EXPECT_NE(std::count(reference.begin(), reference.end(), 0), 0);
    }
    omp_set_num_threads(saved);
}

}  // namespace
}  // namespace shapescale
