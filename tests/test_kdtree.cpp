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

void expectNode(const Node& node, double split, int left, int right, int point) {
    EXPECT_EQ(node.split_value, split);
    EXPECT_EQ(node.left_child, left);
    EXPECT_EQ(node.right_child, right);
    EXPECT_EQ(node.point_index, point);
}

// ---------------------------------------------------------------- shape

TEST(KDTreeShape, OnePointIsOneLeaf) {
    const KDTree tree({{4.0, -2.0, 7.0}});
    ASSERT_EQ(tree.nodeList().size(), 1u);
    expectNode(tree.nodeList()[0], 0.0, -1, -1, 0);
    EXPECT_EQ(tree.axisCount(), 3);
    EXPECT_EQ(tree.pointCount(), 1);
}

TEST(KDTreeShape, TwoPointsSplitAtTheSmallerX) {
    const KDTree tree({{5.0, 0.0, 0.0}, {-3.0, 1.0, 1.0}});
    ASSERT_EQ(tree.nodeList().size(), 3u);
    expectNode(tree.nodeList()[0], -3.0, 1, 2, -1);
    expectNode(tree.nodeList()[1], 0.0, -1, -1, 1);
    expectNode(tree.nodeList()[2], 0.0, -1, -1, 0);
}

TEST(KDTreeShape, TwoPointsWithEqualXPutTheSecondLeft) {
    // The heap sort swaps two equal keys.
    const KDTree tree({{2.0, 0.0, 0.0}, {2.0, 1.0, 1.0}});
    ASSERT_EQ(tree.nodeList().size(), 3u);
    expectNode(tree.nodeList()[0], 2.0, 1, 2, -1);
    expectNode(tree.nodeList()[1], 0.0, -1, -1, 1);
    expectNode(tree.nodeList()[2], 0.0, -1, -1, 0);
}

TEST(KDTreeShape, FourCollinearPoints) {
    // Root: rank walk (4 <= 4 ln 4); children: heap sort (4 > 2 ln 2), which
    // swaps their equal y coordinates.
    const KDTree tree({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    const auto& nodes = tree.nodeList();
    ASSERT_EQ(nodes.size(), 7u);
    expectNode(nodes[0], 1.0, 1, 4, -1);
    expectNode(nodes[1], 0.0, 2, 3, -1);
    expectNode(nodes[2], 0.0, -1, -1, 1);
    expectNode(nodes[3], 0.0, -1, -1, 0);
    expectNode(nodes[4], 0.0, 5, 6, -1);
    expectNode(nodes[5], 0.0, -1, -1, 3);
    expectNode(nodes[6], 0.0, -1, -1, 2);
}

TEST(KDTreeShape, ThreeDuplicatesFollowTheHeapTieOrder) {
    // Root (3 <= 3 ln 3): rank walk, ranks from the min-heap's pops 0, 2, 1;
    // left pair [0, 2] heap-sorted along y, which swaps them.
    const KDTree tree({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    const auto& nodes = tree.nodeList();
    ASSERT_EQ(nodes.size(), 5u);
    expectNode(nodes[0], 0.0, 1, 4, -1);
    expectNode(nodes[1], 0.0, 2, 3, -1);
    expectNode(nodes[2], 0.0, -1, -1, 2);
    expectNode(nodes[3], 0.0, -1, -1, 0);
    expectNode(nodes[4], 0.0, -1, -1, 1);
}

TEST(KDTreeShape, InvariantsHoldOnRandomSets) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    std::uniform_int_distribution<int> gridCoordinate(0, 2);
    for (int dims : {1, 2, 3, 5}) {
        for (int n : {2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 33, 100, 513}) {
            Points spread(static_cast<std::size_t>(n)), grid(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                for (int k = 0; k < dims; ++k) {
                    spread[static_cast<std::size_t>(i)].push_back(coordinate(rng));
                    grid[static_cast<std::size_t>(i)].push_back(gridCoordinate(rng));
                }
            }
            SCOPED_TRACE("dims " + std::to_string(dims) + ", n " + std::to_string(n));
            expectTreeInvariants(KDTree(spread), spread);
            expectTreeInvariants(KDTree(grid), grid);
        }
    }
}

// ---------------------------------------------------------------- queries

TEST(KDTreeQuery, OnePointAnswersZeroEverywhere) {
    const KDTree tree({{1.0, 2.0, 3.0}});
    EXPECT_EQ(tree.nearest_point({1.0, 2.0, 3.0}), 0);
    EXPECT_EQ(tree.nearest_point({-1e30, 5.0, 0.0}), 0);
}

TEST(KDTreeQuery, FirstMetOfEquallyNearLeavesWins) {
    // Descent reaches point 3 (2.25); the search then meets point 1 at 0.25
    // and, later, point 2 at the same distance.
    const KDTree tree({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    EXPECT_EQ(tree.nearest_point({1.5, 0.0, 0.0}), 1);
    EXPECT_EQ(tree.nearest_point({2.9, 0.0, 0.0}), 3);
    EXPECT_EQ(tree.nearest_point({-7.0, 0.0, 0.0}), 0);
}

TEST(KDTreeQuery, DescentLeafWinsAnExactTie) {
    // Root splits at x = 0; the query at x = 1 descends right, to point 1.
    // Point 0 is met first by the search but is not strictly nearer.
    const KDTree tree({{0, 0, 0}, {2, 0, 0}});
    EXPECT_EQ(tree.nearest_point({1.0, 0.0, 0.0}), 1);
}

TEST(KDTreeQuery, QueryOnASplittingPlaneDescendsLeft) {
    // Root splits at x = 1; (1, 0) is 4 away from both points: the left leaf,
    // reached by the descent, keeps the place.
    const KDTree tree({{1.0, 2.0}, {3.0, 0.0}});
    EXPECT_EQ(tree.nearest_point({1.0, 0.0}), 0);
}

TEST(KDTreeQuery, QueryOnASplittingPlaneSearchesBothSides) {
    // The descent finds point 0 at 100; the nearer point 1 (at 4) lies right.
    const KDTree tree({{1.0, 10.0}, {3.0, 0.0}});
    EXPECT_EQ(tree.nearest_point({1.0, 0.0}), 1);
}

TEST(KDTreeQuery, DuplicatePointsAnswerTheLeafTheRulesPick) {
    // Layout as in ThreeDuplicatesFollowTheHeapTieOrder: leaves hold points
    // 2, 0, 1 from left to right.
    const KDTree tree({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(tree.nearest_point({0.0, 0.0, 0.0}), 2);  // descent: left, left
    EXPECT_EQ(tree.nearest_point({5.0, 5.0, 5.0}), 1);  // descent: right
}

TEST(KDTreeQuery, SearchComparesSinglePrecisionDistances) {
    // F is (1 + 2^-30)^2 = 1 + 2^-29 away, which rounds to 1.0f; N is exactly
    // 1 away. Descent reaches F; the search rounds F's distance to 1 and N,
    // at 1 as well, is not strictly nearer, so F wins although N is nearer.
    const double f = -(1.0 + std::ldexp(1.0, -30));
    const Points points = {{f, 0.0}, {1.0, 0.0}, {0.0, 1.5}};
    const KDTree tree(points);
    EXPECT_EQ(tree.nearest_point({0.0, 0.0}), 0);
}

TEST(KDTreeQuery, MatchesTheOracleOnRandomSets) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    std::uniform_real_distribution<double> queryCoordinate(-1.5, 1.5);
    std::uniform_int_distribution<int> gridCoordinate(0, 3);
    std::uniform_int_distribution<int> halfStep(-2, 8);  // half-integers in [-1, 4]
    for (int dims : {1, 2, 3, 4}) {
        for (int n : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 64, 100, 257, 1000}) {
            Points spread, floats, grid;
            for (int i = 0; i < n; ++i) {
                std::vector<double> s, f, g;
                for (int k = 0; k < dims; ++k) {
                    s.push_back(coordinate(rng));
                    f.push_back(static_cast<double>(static_cast<float>(coordinate(rng))));
                    g.push_back(gridCoordinate(rng));
                }
                spread.push_back(s);
                floats.push_back(f);
                grid.push_back(g);
            }
            for (const Points* points : {&spread, &floats, &grid}) {
                const bool isGrid = points == &grid;
                const KDTree tree(*points);
                std::vector<Points::value_type> queries(points->begin(), points->end());
                for (int i = 0; i < 150; ++i) {
                    std::vector<double> q;
                    for (int k = 0; k < dims; ++k)
                        q.push_back(isGrid ? 0.5 * halfStep(rng) : queryCoordinate(rng));
                    queries.push_back(q);
                }
                for (const auto& q : queries) {
                    const int answer = tree.nearest_point(q);
                    ASSERT_GE(answer, 0);
                    ASSERT_LT(answer, n);
                    EXPECT_EQ(
                        rounded(squaredDistance(q, (*points)[static_cast<std::size_t>(answer)])),
                        minRoundedDistance(*points, q))
                        << "dims " << dims << ", n " << n;
                    EXPECT_EQ(answer, firstMetOracle(tree, *points, q))
                        << "dims " << dims << ", n " << n;
                }
            }
        }
    }
}

// ---------------------------------------------------------------- refusals

TEST(KDTreeRefusals, EmptyPointList) {
    EXPECT_THROW(KDTree(Points{}), std::invalid_argument);
}

TEST(KDTreeRefusals, PointsWithoutCoordinates) {
    EXPECT_THROW(KDTree(Points{{}, {}}), std::invalid_argument);
}

TEST(KDTreeRefusals, PointsOfUnequalLength) {
    EXPECT_THROW(KDTree(Points{{0, 0, 0}, {1, 1}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0}, {1, 1, 1}}), std::invalid_argument);
}

TEST(KDTreeRefusals, QueryOfAnotherLength) {
    const KDTree tree({{0, 0, 0}, {1, 1, 1}});
    EXPECT_THROW(tree.nearest_point({0.0, 0.0}), std::invalid_argument);
}

}  // namespace
}  // namespace shapescale
