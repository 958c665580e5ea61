#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "kdtree/KDTree.hpp"

namespace shapescale {
namespace {

using Points = std::vector<std::vector<double>>;
using Node = KDTree::Node;

double squaredDistance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return sum;
}

double rounded(double d) {
    return static_cast<double>(static_cast<float>(d));
}

// Point positions of the leaves below `node`, left to right.
void collectLeaves(const KDTree& tree, int node, std::vector<int>& out) {
    const Node& n = tree.nodeList()[static_cast<std::size_t>(node)];
    if (n.point_index >= 0) {
        out.push_back(n.point_index);
        return;
    }
    collectLeaves(tree, n.left_child, out);
    collectLeaves(tree, n.right_child, out);
}

// Checks the subtree at `node` and returns its number of nodes. `next` is the
// position that pre-order numbering gives this node.
int checkSubtree(const KDTree& tree, int node, int axis, int& next) {
    EXPECT_EQ(node, next) << "not in pre-order";
    ++next;
    const Node& n = tree.nodeList()[static_cast<std::size_t>(node)];
    if (n.point_index >= 0) {
        EXPECT_EQ(n.split_value, 0.0);
        EXPECT_EQ(n.left_child, -1);
        EXPECT_EQ(n.right_child, -1);
        return 1;
    }
    std::vector<int> left, right;
    collectLeaves(tree, n.left_child, left);
    collectLeaves(tree, n.right_child, right);
    const std::size_t size = left.size() + right.size();
    EXPECT_EQ(left.size(), (size + 1) / 2) << "node " << node;
    const auto a = static_cast<std::size_t>(axis);
    double leftMax = -std::numeric_limits<double>::infinity();
    for (int p : left) leftMax = std::max(leftMax, tree.point(p)[a]);
    // The split is the coordinate of the left subtree's last (largest) point.
    EXPECT_EQ(n.split_value, leftMax) << "node " << node;
    for (int p : right) EXPECT_GE(tree.point(p)[a], n.split_value);
    const int nextAxis = (axis + 1) % tree.axisCount();
    const int leftNodes = checkSubtree(tree, n.left_child, nextAxis, next);
    const int rightNodes = checkSubtree(tree, n.right_child, nextAxis, next);
    return 1 + leftNodes + rightNodes;
}

void expectTreeInvariants(const KDTree& tree, const Points& input) {
    const int n = tree.pointCount();
    ASSERT_EQ(n, static_cast<int>(input.size()));
    for (int i = 0; i < n; ++i)
        for (int a = 0; a < tree.axisCount(); ++a)
            EXPECT_EQ(tree.point(i)[a],
                      input[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)]);
    ASSERT_EQ(tree.nodeList().size(), static_cast<std::size_t>(2 * n - 1));
    int next = 0;
    EXPECT_EQ(checkSubtree(tree, 0, 0, next), 2 * n - 1);
    std::vector<int> leaves;
    collectLeaves(tree, 0, leaves);
    std::sort(leaves.begin(), leaves.end());
    for (int i = 0; i < n; ++i) EXPECT_EQ(leaves[static_cast<std::size_t>(i)], i);
}

// The query rule written out without pruning: the descent's leaf at its
// unrounded distance, then every leaf left to right (pre-order numbering puts
// the leaves in that order), taken when its rounded distance is strictly
// smaller. Pruning may only skip leaves that could never be taken.
int firstMetOracle(const KDTree& tree, const Points& points, const std::vector<double>& q) {
    const auto& nodes = tree.nodeList();
    std::size_t node = 0;
    std::size_t axis = 0;
    while (nodes[node].point_index < 0) {
        node = static_cast<std::size_t>(
            nodes[node].split_value >= q[axis] ? nodes[node].left_child : nodes[node].right_child);
        axis = (axis + 1) % static_cast<std::size_t>(tree.axisCount());
    }
    int best = nodes[node].point_index;
    double bestDistance = squaredDistance(q, points[static_cast<std::size_t>(best)]);
    for (const Node& leaf : nodes) {
        if (leaf.point_index < 0) continue;
        const double d =
            rounded(squaredDistance(q, points[static_cast<std::size_t>(leaf.point_index)]));
        if (bestDistance > d) {
            bestDistance = d;
            best = leaf.point_index;
        }
    }
    return best;
}

double minRoundedDistance(const Points& points, const std::vector<double>& q) {
    double best = std::numeric_limits<double>::infinity();
    for (const auto& p : points) best = std::min(best, rounded(squaredDistance(q, p)));
    return best;
}

// Expected node: split_value, left_child, right_child, point_index.
struct NodeRow {
    double split;
    int left, right, point;
};

void expectNodes(const KDTree& tree, const std::vector<NodeRow>& rows) {
    ASSERT_EQ(tree.nodeList().size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Node& n = tree.nodeList()[i];
        EXPECT_EQ(n.split_value, rows[i].split) << "node " << i;
        EXPECT_EQ(n.left_child, rows[i].left) << "node " << i;
        EXPECT_EQ(n.right_child, rows[i].right) << "node " << i;
        EXPECT_EQ(n.point_index, rows[i].point) << "node " << i;
    }
}

// ---------------------------------------------------------------- worked examples

TEST(KDTreeExamples, OnePointIsOneLeaf) {
    const KDTree tree({{4.0, -2.0, 7.0}});
    expectNodes(tree, {{0.0, -1, -1, 0}});
    EXPECT_EQ(tree.nearest_point({4.0, -2.0, 7.0}), 0);
    EXPECT_EQ(tree.nearest_point({-1e30, 5.0, 0.0}), 0);
}

TEST(KDTreeExamples, TwoPointsSplitAtTheSmallerX) {
    expectNodes(KDTree({{5, 0, 0}, {-3, 1, 1}}),
                {{-3.0, 1, 2, -1}, {0.0, -1, -1, 1}, {0.0, -1, -1, 0}});
    // Equal x: the heap sort swaps the two equal keys, the second point goes left.
    expectNodes(KDTree({{2, 0, 0}, {2, 1, 1}}),
                {{2.0, 1, 2, -1}, {0.0, -1, -1, 1}, {0.0, -1, -1, 0}});
}

TEST(KDTreeExamples, FourCollinearPoints) {
    // Root: rank walk (4 <= 4 ln 4); children: heap sort (4 > 2 ln 2), which
    // swaps their equal y coordinates.
    const KDTree tree({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    expectNodes(tree, {{1.0, 1, 4, -1},
                       {0.0, 2, 3, -1},
                       {0.0, -1, -1, 1},
                       {0.0, -1, -1, 0},
                       {0.0, 5, 6, -1},
                       {0.0, -1, -1, 3},
                       {0.0, -1, -1, 2}});
    // Descent reaches point 3 (2.25); the search then meets point 1 at 0.25
    // and, later, point 2 at the same distance: the first met wins.
    EXPECT_EQ(tree.nearest_point({1.5, 0.0, 0.0}), 1);
    EXPECT_EQ(tree.nearest_point({2.9, 0.0, 0.0}), 3);
    EXPECT_EQ(tree.nearest_point({-7.0, 0.0, 0.0}), 0);
}

TEST(KDTreeExamples, ThreeDuplicatesFollowTheHeapTieOrder) {
    // Root (3 <= 3 ln 3): rank walk, ranks from the min-heap's pops 0, 2, 1;
    // left pair [0, 2] heap-sorted along y, which swaps them.
    const KDTree tree({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    expectNodes(
        tree,
        {{0.0, 1, 4, -1}, {0.0, 2, 3, -1}, {0.0, -1, -1, 2}, {0.0, -1, -1, 0}, {0.0, -1, -1, 1}});
    EXPECT_EQ(tree.nearest_point({0.0, 0.0, 0.0}), 2);  // descent: left, left
    EXPECT_EQ(tree.nearest_point({5.0, 5.0, 5.0}), 1);  // descent: right
}

// ---------------------------------------------------------------- query rules

TEST(KDTreeQuery, DescentLeafWinsAnExactTie) {
    // Root splits at x = 0; the query at x = 1 descends right, to point 1.
    // Point 0 is met first by the search but is not strictly nearer.
    EXPECT_EQ(KDTree({{0, 0, 0}, {2, 0, 0}}).nearest_point({1.0, 0.0, 0.0}), 1);
}

TEST(KDTreeQuery, QueryOnASplittingPlane) {
    // Root splits at x = 1. (1, 0) is 4 away from both points: the descent
    // goes left and that leaf keeps the place.
    EXPECT_EQ(KDTree({{1.0, 2.0}, {3.0, 0.0}}).nearest_point({1.0, 0.0}), 0);
    // Both sides are searched: the descent finds point 0 at 100, point 1 is at 4.
    EXPECT_EQ(KDTree({{1.0, 10.0}, {3.0, 0.0}}).nearest_point({1.0, 0.0}), 1);
}

TEST(KDTreeQuery, SearchComparesSinglePrecisionDistances) {
    // F is (1 + 2^-30)^2 = 1 + 2^-29 away, which rounds to 1.0f; N is exactly
    // 1 away. Descent reaches F; the search rounds F's distance to 1 and N,
    // at 1 as well, is not strictly nearer, so F wins although N is nearer.
    const double f = -(1.0 + std::ldexp(1.0, -30));
    EXPECT_EQ(KDTree({{f, 0.0}, {1.0, 0.0}, {0.0, 1.5}}).nearest_point({0.0, 0.0}), 0);
}

// ---------------------------------------------------------------- random sets

// Random point sets of many sizes and dimensions: spread doubles, doubles
// widened from floats (as mesh vertices are), and small integer grids full of
// equal coordinates and duplicates.
struct RandomSets {
    std::vector<Points> sets;
    explicit RandomSets(std::mt19937& rng) {
        std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
        std::uniform_int_distribution<int> gridCoordinate(0, 3);
        for (int dims : {1, 2, 3, 4}) {
            for (int n : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 64, 100, 257, 1000}) {
                Points spread, floats, grid;
                for (int i = 0; i < n; ++i) {
                    std::vector<double> a, b, c;
                    for (int k = 0; k < dims; ++k) {
                        a.push_back(coordinate(rng));
                        b.push_back(static_cast<double>(static_cast<float>(coordinate(rng))));
                        c.push_back(gridCoordinate(rng));
                    }
                    spread.push_back(a);
                    floats.push_back(b);
                    grid.push_back(c);
                }
                sets.insert(sets.end(), {spread, floats, grid});
            }
        }
    }
};

TEST(KDTreeRandomSets, ShapeInvariantsHold) {
    std::mt19937 rng(42);
    for (const Points& points : RandomSets(rng).sets) {
        SCOPED_TRACE("dims " + std::to_string(points[0].size()) + ", n " +
                     std::to_string(points.size()));
        expectTreeInvariants(KDTree(points), points);
    }
}

TEST(KDTreeRandomSets, AnswersMatchBruteForceAndTheFirstMetRule) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> queryCoordinate(-1.5, 1.5);
    std::uniform_int_distribution<int> halfStep(-2, 8);  // half-integers in [-1, 4]: ties on grids
    for (const Points& points : RandomSets(rng).sets) {
        const std::size_t dims = points[0].size();
        const KDTree tree(points);
        Points queries = points;
        for (int i = 0; i < 150; ++i) {
            std::vector<double> q(dims);
            for (double& x : q) x = i % 2 == 0 ? queryCoordinate(rng) : 0.5 * halfStep(rng);
            queries.push_back(q);
        }
        for (const auto& q : queries) {
            const int answer = tree.nearest_point(q);
            ASSERT_GE(answer, 0);
            ASSERT_LT(answer, static_cast<int>(points.size()));
            EXPECT_EQ(rounded(squaredDistance(q, points[static_cast<std::size_t>(answer)])),
                      minRoundedDistance(points, q))
                << "dims " << dims << ", n " << points.size();
            EXPECT_EQ(answer, firstMetOracle(tree, points, q))
                << "dims " << dims << ", n " << points.size();
        }
    }
}

// ---------------------------------------------------------------- refusals

TEST(KDTreeRefusals, MalformedPointListsAndQueries) {
    EXPECT_THROW(KDTree(Points{}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{}, {}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0, 0}, {1, 1}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0}, {1, 1, 1}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0, 0}, {1, 1, 1}}).nearest_point({0.0, 0.0}),
                 std::invalid_argument);
}

}  // namespace
}  // namespace shapescale
