// The heaps and the k-d tree.

#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <tuple>

#include "kdtree/KDTree.hpp"
#include "kdtree/MyHeaps.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using Points = std::vector<std::vector<double>>;
using Node = KDTree::Node;
using NodeRow = std::tuple<double, int, int, int>;

static_assert(std::is_base_of_v<std::out_of_range, InvalidIndexException> &&
              std::is_base_of_v<std::out_of_range, HeapEmptyException>);

// Pushes the keys with the indices 0, 1, 2, ... unless given, then pops them all.
template <class Heap>
std::vector<int> popOrder(Heap&& heap, const std::vector<double>& keys, std::vector<int> at = {}) {
    for (std::size_t i = 0; i < keys.size(); ++i) heap.push(keys[i], at.empty() ? int(i) : at[i]);
    std::vector<int> order;
    for (; !heap.empty(); heap.pop()) order.push_back(heap.top().index);
    return order;
}

TEST(Heap, PopOrderFollowsTheStrictSiftRules) {
    using Order = std::vector<int>;
    EXPECT_EQ(popOrder(MinHeap<double>(3), {3, 1, 2}), (Order{1, 2, 0}));
    EXPECT_EQ(popOrder(MaxHeap<double>(4), {3, 1, 7, 2}), (Order{2, 0, 3, 1}));
    // Index 2 moves to the root; its child 1 is not strictly smaller, so 2 stays.
    EXPECT_EQ(popOrder(MinHeap<double>(3), {5, 5, 5}), (Order{0, 2, 1}));
    // Index 3 moves to the root; of its two equal children the left one (1) rises.
    EXPECT_EQ(popOrder(MinHeap<double>(4), {1, 2, 2, 3}), (Order{0, 1, 2, 3}));
    // Without a capacity any index goes and no position is kept.
    EXPECT_EQ(popOrder(MinHeap<double>(), {2, 1}, {1000000, 3}), (Order{3, 1000000}));
    MinHeap<double> untracked;
    untracked.push(1.0, 3);
    EXPECT_EQ(untracked.positionOf(3), -1);
}

TEST(Heap, RandomKeysPopSortedWithPositionsConsistentThroughout) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> smallKeys(0, 9);  // many equal keys
    for (const int n : {1, 2, 3, 7, 64, 200}) {
        MinHeap<double> heap(n);
        // Every entry's recorded position is where it stands; absent indices are at -1.
        auto expectConsistent = [&] {
            std::vector<int> expected(std::size_t(n), -1);
            for (std::size_t p = 0; p < heap.entries().size(); ++p)
                expected[std::size_t(heap.entries()[p].index)] = int(p);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(heap.positionOf(i), expected[std::size_t(i)]) << "n " << n << ", " << i;
        };
        std::vector<int> indices(static_cast<std::size_t>(n)), order;
        std::iota(indices.begin(), indices.end(), 0);
        std::shuffle(indices.begin(), indices.end(), rng);
        std::vector<double> keyOf(static_cast<std::size_t>(n));
        for (const int i : indices) {
            heap.push(keyOf[std::size_t(i)] = smallKeys(rng), i);
            expectConsistent();
        }
        for (; !heap.empty(); expectConsistent(), heap.pop()) order.push_back(heap.top().index);
        expectConsistent();
        EXPECT_TRUE(std::is_permutation(order.begin(), order.end(), indices.begin()));
        EXPECT_TRUE(std::is_sorted(
            order.begin(), order.end(),
            [&](int a, int b) { return keyOf[std::size_t(a)] < keyOf[std::size_t(b)]; }))
            << "n " << n;
    }
}

// The message of what `call` throws; HeapEmptyException comes as a pointer the catcher owns.
template <class Call>
std::string thrown(Call call) {
    try {
        call();
    } catch (const InvalidIndexException& e) {
        return e.what();
    } catch (HeapEmptyException* e) {
        return std::unique_ptr<HeapEmptyException>(e)->what();
    }
    return "no exception";
}

TEST(Heap, RefusesIndicesOutsideItsCapacityAndAnEmptyHeap) {
    MinHeap<double> heap(3);
    heap.push(1.0, 2);
    EXPECT_EQ(thrown([&] { heap.push(0.0, 3); }),
              "the index in the push must be smaller than the maximal allowed index "
              "(specified in constructor)");
    EXPECT_THROW(heap.push(0.0, -1), InvalidIndexException);
    EXPECT_THROW(MinHeap<double>(0).push(1.0, 0), InvalidIndexException);
    EXPECT_EQ(popOrder(heap, {}), std::vector<int>{2});  // the refusals changed nothing
    EXPECT_EQ(thrown([&] { heap.pop(); }), "heap underflow");
    EXPECT_EQ(thrown([&] { (void)heap.top(); }), "heap underflow");
}

double distance(const std::vector<double>& a, const std::vector<double>& b, bool round = true) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return round ? static_cast<double>(static_cast<float>(sum)) : sum;
}

// Checks the subtree at `node` (pre-order number `next`); returns its points left to right.
std::vector<int> checkSubtree(const KDTree& tree, int node, int axis, int& next) {
    EXPECT_EQ(node, next++) << "not in pre-order";
    const Node& n = tree.nodeList()[static_cast<std::size_t>(node)];
    if (n.point_index >= 0) return {n.point_index};
    const int nextAxis = (axis + 1) % tree.axisCount();
    std::vector<int> left = checkSubtree(tree, n.left_child, nextAxis, next);
    const std::vector<int> right = checkSubtree(tree, n.right_child, nextAxis, next);
    EXPECT_EQ(left.size(), (left.size() + right.size() + 1) / 2) << "node " << node;
    double leftMax = -std::numeric_limits<double>::infinity();
    for (int p : left) leftMax = std::max(leftMax, tree.point(p)[axis]);
    EXPECT_EQ(n.split_value, leftMax) << "node " << node;
    for (int p : right) EXPECT_GE(tree.point(p)[axis], n.split_value) << "node " << node;
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// The query rule without pruning: the descent's leaf at its unrounded distance, then
// every leaf left to right (node list order), taken when strictly nearer once rounded.
int firstMetOracle(const KDTree& tree, const Points& points, const std::vector<double>& q) {
    const auto& nodes = tree.nodeList();
    std::size_t node = 0;
    for (std::size_t axis = 0; nodes[node].point_index < 0; axis = (axis + 1) % q.size())
        node = static_cast<std::size_t>(
            nodes[node].split_value >= q[axis] ? nodes[node].left_child : nodes[node].right_child);
    int best = nodes[node].point_index;
    double bestDistance = distance(q, points[static_cast<std::size_t>(best)], false);
    for (const Node& n : nodes) {
        if (n.point_index < 0) continue;
        const double d = distance(q, points[static_cast<std::size_t>(n.point_index)]);
        if (bestDistance > d) std::tie(bestDistance, best) = std::pair(d, n.point_index);
    }
    return best;
}

// split_value, left_child, right_child, point_index
NodeRow leaf(int point) {
    return {0.0, -1, -1, point};
}

TEST(KDTree, WorkedExamplesAndQueryRules) {
    const double f = -(1.0 + std::ldexp(1.0, -30));
    const struct {
        const char* what;
        Points points;
        std::vector<NodeRow> nodes;  // empty: not checked
        std::vector<std::pair<std::vector<double>, int>> queries;
    } cases[] = {
        {"one point", {{4, -2, 7}}, {leaf(0)}, {{{4, -2, 7}, 0}, {{-1e30, 5, 0}, 0}}},
        // The heap sort swaps the equal x: the second point goes left.
        {"two points, equal x", {{2, 0, 0}, {2, 1, 1}}, {{2.0, 1, 2, -1}, leaf(1), leaf(0)}, {}},
        // Root by rank walk (4 <= 4 ln 4), children by heap sort, which swaps
        // their equal y. (1.5, 0, 0): descent to 3, then 1 and 2 tie; 1 is met first.
        {"four collinear points",
         {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}},
         {{1.0, 1, 4, -1}, {0.0, 2, 3, -1}, leaf(1), leaf(0), {0.0, 5, 6, -1}, leaf(3), leaf(2)},
         {{{1.5, 0, 0}, 1}, {{2.9, 0, 0}, 3}, {{-7, 0, 0}, 0}}},
        // Ranks from the min-heap's pops 0, 2, 1; the left pair is heap-sorted, which swaps it.
        {"three duplicates",
         {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
         {{0.0, 1, 4, -1}, {0.0, 2, 3, -1}, leaf(2), leaf(0), leaf(1)},
         {{{0, 0, 0}, 2}, {{5, 5, 5}, 1}}},
        // Descent goes right to 1; 0 is met first but is not strictly nearer.
        {"descent leaf wins an exact tie", {{0, 0, 0}, {2, 0, 0}}, {}, {{{1, 0, 0}, 1}}},
        // On the plane x = 1 the descent goes left; the far side is searched too.
        {"query on the splitting plane, tie", {{1, 2}, {3, 0}}, {}, {{{1, 0}, 0}}},
        {"query on the splitting plane, far side", {{1, 10}, {3, 0}}, {}, {{{1, 0}, 1}}},
        // Point 0 is 1 + 2^-29 away, rounded 1.0f: point 1, at 1, is not strictly nearer.
        {"single-precision distances", {{f, 0}, {1, 0}, {0, 1.5}}, {}, {{{0, 0}, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const KDTree tree(c.points);
        std::vector<NodeRow> nodes;
        for (const Node& n : tree.nodeList())
            nodes.emplace_back(n.split_value, n.left_child, n.right_child, n.point_index);
        if (!c.nodes.empty()) {
            EXPECT_EQ(nodes, c.nodes);
        }
        for (const auto& [q, expected] : c.queries) EXPECT_EQ(tree.nearest_point(q), expected);
    }
}

// Spread doubles, widened floats (as mesh vertices are) and small integer grids full of ties.
TEST(KDTree, RandomSetsKeepTheShapeAndMatchBruteForceAndTheFirstMetRule) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> spread(-1.0, 1.0);
    std::uniform_int_distribution<int> gridStep(0, 3), halfStep(-2, 8);
    const std::function<double()> kinds[] = {
        [&] { return spread(rng); },
        [&] { return static_cast<double>(static_cast<float>(spread(rng))); },
        [&] { return static_cast<double>(gridStep(rng)); }};
    for (const std::size_t dims : {1, 2, 3, 4}) {
        for (const std::size_t n : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 64, 100, 257, 1000}) {
            for (const auto& coordinate : kinds) {
                SCOPED_TRACE("dims " + std::to_string(dims) + ", n " + std::to_string(n));
                Points points(n, std::vector<double>(dims));
                for (auto& p : points) std::generate(p.begin(), p.end(), coordinate);
                const KDTree tree(points);
                ASSERT_EQ(tree.nodeList().size(), 2 * n - 1);
                int next = 0;
                checkSubtree(tree, 0, 0, next);

                Points queries = points;  // a point missing from the leaves would not be found
                // Alternately spread and half-integers in [-1, 4], which tie on grids.
                for (int i = 0; i < 150; ++i) {
                    queries.emplace_back(dims);
                    for (double& x : queries.back())
                        x = i % 2 == 0 ? 1.5 * spread(rng) : 0.5 * halfStep(rng);
                }
                for (const auto& q : queries) {
                    const int answer = tree.nearest_point(q);
                    ASSERT_TRUE(answer >= 0 && answer < static_cast<int>(n));
                    double nearest = std::numeric_limits<double>::infinity();
                    for (const auto& p : points) nearest = std::min(nearest, distance(q, p));
                    EXPECT_EQ(distance(q, points[static_cast<std::size_t>(answer)]), nearest);
                    EXPECT_EQ(answer, firstMetOracle(tree, points, q));
                }
            }
        }
    }
}

TEST(KDTree, RefusesMalformedPointListsAndQueries) {
    EXPECT_THROW(KDTree(Points{}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{}, {}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0, 0}, {1, 1}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0}, {1, 1, 1}}), std::invalid_argument);
    EXPECT_THROW(KDTree(Points{{0, 0, 0}, {1, 1, 1}}).nearest_point({0.0, 0.0}),
                 std::invalid_argument);
}

}  // namespace
}  // namespace shapescale
