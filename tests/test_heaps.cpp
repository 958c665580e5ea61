#include <memory>
#include <numeric>
#include <random>

#include "kdtree/MyHeaps.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

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

}  // namespace
}  // namespace shapescale
