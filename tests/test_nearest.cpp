// The nearest-vertex voxeliser and the bucketed nearest search against the tree.

#include <limits>
#include <random>

#include "kdtree/FastNearest.hpp"
#include "kdtree/KDTree.hpp"
#include "mesh/TriMesh.hpp"
#include "support/RandomVolume.hpp"
#include "support/TestFiles.hpp"
#include "voxel/NearestVertex.hpp"

namespace shapescale {
namespace {

using shapes::loadMesh;
using test::withNormals;
using Points = std::vector<std::vector<double>>;

struct Volume {
    int dims[3];
    float origin[3];
    std::vector<unsigned char> labels;

    Volume(const TriMesh& mesh, float h) : labels(mesh2Volume(mesh, h, dims, origin)) {}
    unsigned char at(int x, int y, int z) const {
        return labels[static_cast<std::size_t>(x + dims[0] * (y + dims[1] * z))];
    }
};

// Voxel centre in the tool's mixed precision: first centre in double, index * h in float.
double centreOf(float origin, float h, int index) {
    return (static_cast<double>(origin) + static_cast<double>(h) * 0.5) +
           static_cast<double>(static_cast<float>(index) * h);
}

TEST(NearestVertex, SingleVertexGivesAnAllInsideGridAndWhatCannotBeLabelledIsRefused) {
    const Volume v(withNormals({{{0.0, 0.0, 0.0}}, {}}), 1.0f);
    EXPECT_EQ(std::vector<int>(v.dims, v.dims + 3), std::vector<int>(3, 5));
    EXPECT_EQ(std::vector<float>(v.origin, v.origin + 3), std::vector<float>(3, -2.0f));
    EXPECT_EQ(v.labels, std::vector<unsigned char>(125, 0));
    int dims[3];
    float origin[3];
    EXPECT_THROW(mesh2Volume(TriMesh{}, 1.0f, dims, origin), Error);  // no vertex
    EXPECT_THROW(mesh2Volume(loadMesh({{{0.0, 0.0, 0.0}}, {}}), 1.0f, dims, origin), Error);
    EXPECT_THROW(mesh2Volume(withNormals(shapes::unitCube()), 0.0f, dims, origin), Error);
}

// Column i holds a vertex with normal +z exactly at the centre of layer k_i: p = 0 there
// and p > 0 one layer up only with the mixed-precision centres (far from the world origin
// the double sum's rounding decides, near it the float step).
TEST(NearestVertex, TangentPlaneAndZeroNormalAreInside) {
    for (const float h : {0.1f, 0.07f}) {
        for (const std::array<float, 3> anchor :
             {std::array{1000.25f, 2000.5f, 3000.75f}, std::array{0.013f, -0.31f, 0.77f}}) {
            SCOPED_TRACE("h " + std::to_string(h) + ", anchor x " + std::to_string(anchor[0]));
            // The anchor, the box's low corner, has a zero normal.
            float origin[3];
            for (std::size_t a = 0; a < 3; ++a) origin[a] = anchor[a] - (h + h);
            auto centre = [&](int a, int i) {
                return static_cast<float>(centreOf(origin[a], h, i));
            };
            auto layerOf = [](int i) { return 2 + (7 * i) % 20; };
            shapes::PolyMesh poly{{{anchor[0], anchor[1], anchor[2]}}, {}};
            for (int i = 2; i < 40; ++i)
                poly.vertices.push_back(
                    {centre(0, i), centre(1, 2 + i % 2), centre(2, layerOf(i))});
            TriMesh mesh = loadMesh(poly);
            for (std::size_t k = 0; k < poly.vertices.size(); ++k)
                mesh.vertexNormals.push_back({0, 0, k == 0 ? 0.0f : 1.0f});
            const Volume v(mesh, h);
            for (int a = 0; a < 3; ++a) ASSERT_EQ(v.origin[a], origin[a]);
            EXPECT_EQ(v.at(0, 0, 0), 0);  // nearest to the anchor: p = 0 for the zero normal
            for (int i = 2; i < 40; ++i) {
                EXPECT_EQ(v.at(i, 2 + i % 2, layerOf(i)), 0) << i;
                EXPECT_EQ(v.at(i, 2 + i % 2, layerOf(i) + 1), 255) << i;
            }
        }
    }
}

// Each label is the side of some vertex at the smallest single-precision distance (the tree
// picks among ties). Normals are within ~0.1 rad of radial, so |c| < 0.85 is inside, also
// below the open hemisphere's rim, and well beyond the surface is outside.
TEST(NearestVertex, SpheresMatchABruteForceOracleWithOneOrTwoThreads) {
    const float h = 0.1f;
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "hemisphere" : "icosphere");
        const TriMesh mesh = withNormals(open ? shapes::hemisphere(3) : shapes::icosphere(3));
        const Volume v = test::withThreads(2, [&] { return Volume(mesh, h); });
        EXPECT_EQ(v.labels, test::withThreads(1, [&] { return Volume(mesh, h).labels; }))
            << "one and two threads differ";
        int inside = 0, outside = 0, insideBelowRim = 0;
        test::forEachVoxel(v.dims, [&](const int* index, std::size_t voxel) {
            std::array<double, 3> c;
            for (int a = 0; a < 3; ++a) c[a] = centreOf(v.origin[a], h, index[a]);
            double best = std::numeric_limits<double>::infinity();
            bool canBeOutside = false, canBeInside = false;
            for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
                const Vec3f& p = mesh.vertices[i];
                double d = 0.0;
                for (std::size_t a = 0; a < 3; ++a) d += (c[a] - p[a]) * (c[a] - p[a]);
                d = static_cast<double>(static_cast<float>(d));
                if (d > best) continue;
                if (d < best) canBeOutside = canBeInside = false;
                best = d;
                float side = 0.0f;  // single precision, summed x, y, z
                for (std::size_t a = 0; a < 3; ++a)
                    side += (static_cast<float>(c[a]) - p[a]) * mesh.vertexNormals[i][a];
                (side > 0.0f ? canBeOutside : canBeInside) = true;
            }
            const unsigned char label = v.labels[voxel];
            EXPECT_TRUE(label == 255 ? canBeOutside : (label == 0 && canBeInside)) << voxel;
            const double r = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
            if (r > 1.15 && (!open || c[2] > 0.15)) {
                EXPECT_EQ(label, 255) << voxel;
                ++outside;
            } else if (r < 0.85) {
                EXPECT_EQ(label, 0) << voxel;
                ++inside;
                insideBelowRim += c[2] < 0.0;
            }
        });
        EXPECT_TRUE(inside > 500 && outside > 500 && insideBelowRim > 100)
            << inside << " inside, " << outside << " outside, " << insideBelowRim
            << " below the rim";
    }
}

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
        // clang-format off
        {"lattice", lattice(6, 5, 4, 0.0, 1.0, 1), {-1.5, 0.5, 17}, 1000, 1000},
        {"lattice, every point twice", lattice(5, 4, 4, 0.0, 1.0, 2), {-1.0, 0.5, 14}, 1000, 1000},
        {"lattice far from the origin", lattice(5, 5, 5, 1000.25, 0.125, 1), {1000.0, 0.0625, 15}, 1000, 500},
        {"random", random, {-1.1, 0.147, 16}, 0, 0},
        {"sphere and its centre", sphere, {-1.2, 0.2, 13}, 50, 100},
        // clang-format on
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
