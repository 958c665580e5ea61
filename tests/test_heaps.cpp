#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kdtree/MyHeaps.hpp"

namespace shapescale {
namespace {

static_assert(std::is_base_of_v<std::out_of_range, InvalidIndexException>);
static_assert(std::is_base_of_v<std::out_of_range, InvalidKeyIncreaseException>);
static_assert(std::is_base_of_v<std::out_of_range, HeapEmptyException>);

// Pushes the keys with the indices 0, 1, 2, ... in that order.
template <class Heap>
void pushInIndexOrder(Heap& heap, const std::vector<double>& keys) {
    for (std::size_t i = 0; i < keys.size(); ++i) heap.push(keys[i], static_cast<int>(i));
}

template <class Heap>
std::vector<int> popAllIndices(Heap& heap) {
    std::vector<int> order;
    while (!heap.empty()) {
        order.push_back(heap.top().index);
        heap.pop();
    }
    return order;
}

template <class Call>
std::string underflowMessage(Call call) {
    try {
        call();
    } catch (HeapEmptyException* raw) {
        const std::unique_ptr<HeapEmptyException> owned(raw);
        return owned->what();
    }
    return "no exception";
}

TEST(HeapOrder, MinHeapPopsSmallestKeyFirst) {
    MinHeap<double> heap(3);
    pushInIndexOrder(heap, {3.0, 1.0, 2.0});
    EXPECT_EQ(heap.top().key, 1.0);
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{1, 2, 0}));
}

TEST(HeapOrder, MaxHeapPopsLargestKeyFirst) {
    MaxHeap<double> heap(4);
    pushInIndexOrder(heap, {3.0, 1.0, 7.0, 2.0});
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{2, 0, 3, 1}));
}

TEST(HeapOrder, EqualKeysFollowTheStrictSiftRules) {
    // First pop moves index 2 to the root; its only child (index 1) is not
    // strictly smaller, so 2 stays there.
    MinHeap<double> three(3);
    pushInIndexOrder(three, {5.0, 5.0, 5.0});
    EXPECT_EQ(popAllIndices(three), (std::vector<int>{0, 2, 1}));
    // Heap [0:1, 1:2, 2:2, 3:3]; the first pop moves index 3 to the root,
    // whose two children both hold 2: the left one (index 1) rises.
    MinHeap<double> four(4);
    pushInIndexOrder(four, {1.0, 2.0, 2.0, 3.0});
    EXPECT_EQ(popAllIndices(four), (std::vector<int>{0, 1, 2, 3}));
}

TEST(HeapOrder, RandomKeysComeOutSortedWithEveryIndexOnce) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> smallKeys(0, 9);  // many equal keys
    for (int n : {1, 2, 3, 7, 64, 513}) {
        MinHeap<double> heap(n);
        std::vector<double> keys(static_cast<std::size_t>(n));
        for (double& key : keys) key = smallKeys(rng);
        pushInIndexOrder(heap, keys);
        const std::vector<int> order = popAllIndices(heap);
        ASSERT_EQ(order.size(), keys.size());
        for (std::size_t k = 1; k < order.size(); ++k)
            EXPECT_LE(keys[static_cast<std::size_t>(order[k - 1])],
                      keys[static_cast<std::size_t>(order[k])]);
        std::vector<int> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < n; ++i) EXPECT_EQ(sorted[static_cast<std::size_t>(i)], i);
    }
}

TEST(HeapOrder, CopiesAreIndependent) {
    MinHeap<double> original(3);
    pushInIndexOrder(original, {2.0, 1.0});
    MinHeap<double> copy = original;
    copy.pop();
    copy.push(0.5, 2);
    EXPECT_EQ(popAllIndices(original), (std::vector<int>{1, 0}));
    EXPECT_EQ(popAllIndices(copy), (std::vector<int>{2, 0}));
}

TEST(HeapPositions, StayConsistentThroughPushesAndPops) {
    // After every operation, each entry's recorded position is where it
    // stands, and every index not in the heap is at -1.
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> keys(-1.0, 1.0);
    const int capacity = 200;
    MinHeap<double> heap(capacity);
    auto expectConsistent = [&] {
        std::vector<int> expected(static_cast<std::size_t>(capacity), -1);
        for (std::size_t p = 0; p < heap.entries().size(); ++p)
            expected[static_cast<std::size_t>(heap.entries()[p].index)] = static_cast<int>(p);
        for (int i = 0; i < capacity; ++i)
            ASSERT_EQ(heap.positionOf(i), expected[static_cast<std::size_t>(i)]) << "index " << i;
    };
    std::vector<int> indices(static_cast<std::size_t>(capacity));
    for (int i = 0; i < capacity; ++i) indices[static_cast<std::size_t>(i)] = i;
    std::shuffle(indices.begin(), indices.end(), rng);
    for (int i : indices) {
        heap.push(keys(rng), i);
        expectConsistent();
    }
    while (!heap.empty()) {
        heap.pop();
        expectConsistent();
    }
}

TEST(HeapRefusals, IndicesATrackingHeapCannotHoldAreRefused) {
    MinHeap<double> heap(3);
    heap.push(1.0, 2);
    try {
        heap.push(0.0, 3);
        FAIL() << "no exception";
    } catch (const InvalidIndexException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the index in the push must be smaller than the maximal allowed index "
                  "(specified in constructor)");
    }
    EXPECT_THROW(heap.push(0.0, -1), InvalidIndexException);
    EXPECT_THROW(MinHeap<double>(0).push(1.0, 0), InvalidIndexException);
    // Nothing changed.
    EXPECT_EQ(heap.size(), 1);
    EXPECT_EQ(heap.top().index, 2);
}

TEST(HeapRefusals, HeapWithoutCapacityAcceptsAnyIndex) {
    MinHeap<double> heap;
    EXPECT_FALSE(heap.tracksPositions());
    heap.push(2.0, 1000000);
    heap.push(1.0, 3);
    EXPECT_EQ(heap.positionOf(3), -1);
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{3, 1000000}));
}

TEST(HeapRefusals, EmptyHeapThrowsAnOwnedPointer) {
    MinHeap<double> heap(1);
    heap.push(1.0, 0);
    heap.pop();
    EXPECT_EQ(underflowMessage([&] { heap.pop(); }), "heap underflow");
    EXPECT_EQ(underflowMessage([&] { (void)heap.top(); }), "heap underflow");
    EXPECT_TRUE(heap.empty());
}

}  // namespace
}  // namespace shapescale
