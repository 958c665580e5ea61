#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kdtree/MyHeaps.hpp"

namespace shapescale {
namespace {

const std::string INVALID_INDEX_MESSAGE =
    "the index in the push must be smaller than the maximal allowed index (specified in "
    "constructor)";

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

// Every entry's recorded position is where it stands; indices not in the
// heap are at -1.
template <class Heap>
void expectPositionsConsistent(const Heap& heap, int capacity) {
    std::vector<int> expected(static_cast<std::size_t>(capacity), -1);
    const auto& entries = heap.entries();
    for (std::size_t p = 0; p < entries.size(); ++p)
        expected[static_cast<std::size_t>(entries[p].index)] = static_cast<int>(p);
    for (int i = 0; i < capacity; ++i)
        EXPECT_EQ(heap.positionOf(i), expected[static_cast<std::size_t>(i)]) << "index " << i;
}

// No parent key above its child's.
void expectMinHeapOrdered(const MinHeap<double>& heap) {
    const auto& entries = heap.entries();
    for (std::size_t p = 1; p < entries.size(); ++p)
        EXPECT_LE(entries[(p - 1) / 2].key, entries[p].key) << "position " << p;
}

TEST(MinHeapOrder, PopsSmallestKeyFirst) {
    MinHeap<double> heap(3);
    pushInIndexOrder(heap, {3.0, 1.0, 2.0});
    EXPECT_EQ(heap.size(), 3);
    EXPECT_EQ(heap.top().key, 1.0);
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{1, 2, 0}));
}

TEST(MinHeapOrder, EqualKeysFollowTheStrictSiftRules) {
    // First pop moves index 2 to the root; its only child (index 1) is not
    // strictly smaller, so 2 stays there.
    MinHeap<double> heap(3);
    pushInIndexOrder(heap, {5.0, 5.0, 5.0});
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{0, 2, 1}));
}

TEST(MinHeapOrder, OfTwoEqualChildrenTheLeftIsTaken) {
    // Heap [0:1, 1:2, 2:2, 3:3]; the first pop moves index 3 to the root,
    // whose children (indices 1 and 2) both hold 2: index 1 (left) rises.
    MinHeap<double> heap(4);
    pushInIndexOrder(heap, {1.0, 2.0, 2.0, 3.0});
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{0, 1, 2, 3}));
}

TEST(MinHeapOrder, RandomKeysComeOutSortedWithEveryIndexOnce) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> smallKeys(0, 9);  // many equal keys
    for (int n : {1, 2, 3, 7, 64, 513}) {
        MinHeap<double> heap(n);
        std::vector<double> keys;
        for (int i = 0; i < n; ++i) {
            keys.push_back(smallKeys(rng));
            heap.push(keys.back(), i);
            expectMinHeapOrdered(heap);
        }
        const std::vector<int> order = popAllIndices(heap);
        ASSERT_EQ(order.size(), static_cast<std::size_t>(n));
        for (std::size_t k = 1; k < order.size(); ++k)
            EXPECT_LE(keys[static_cast<std::size_t>(order[k - 1])],
                      keys[static_cast<std::size_t>(order[k])]);
        std::vector<int> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < n; ++i) EXPECT_EQ(sorted[static_cast<std::size_t>(i)], i);
    }
}

TEST(MinHeapOrder, CanBeEmptiedAndRefilled) {
    MinHeap<double> heap(2);
    heap.push(1.0, 0);
    heap.pop();
    EXPECT_TRUE(heap.empty());
    heap.push(4.0, 1);
    heap.push(2.0, 0);
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{0, 1}));
}

TEST(MinHeapOrder, CopiesAreIndependent) {
    MinHeap<double> original(3);
    original.push(2.0, 0);
    original.push(1.0, 1);
    MinHeap<double> copy = original;
    copy.pop();
    copy.push(0.5, 2);
    EXPECT_EQ(popAllIndices(original), (std::vector<int>{1, 0}));
    EXPECT_EQ(popAllIndices(copy), (std::vector<int>{2, 0}));
}

TEST(MaxHeapOrder, PopsLargestKeyFirst) {
    MaxHeap<double> heap(4);
    pushInIndexOrder(heap, {3.0, 1.0, 7.0, 2.0});
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{2, 0, 3, 1}));
}

TEST(MaxHeapOrder, WithoutCapacityIsEmptyAndAcceptsAnyIndex) {
    MaxHeap<double> heap;
    EXPECT_TRUE(heap.empty());
    EXPECT_FALSE(heap.tracksPositions());
    heap.push(1.0, 12345);
    EXPECT_EQ(heap.top().index, 12345);
}

TEST(HeapPositions, StayConsistentThroughPushesAndPops) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> keys(-1.0, 1.0);
    const int capacity = 200;
    MinHeap<double> heap(capacity);
    std::vector<int> indices(static_cast<std::size_t>(capacity));
    for (int i = 0; i < capacity; ++i) indices[static_cast<std::size_t>(i)] = i;
    std::shuffle(indices.begin(), indices.end(), rng);
    expectPositionsConsistent(heap, capacity);
    for (int i : indices) {
        heap.push(keys(rng), i);
        expectPositionsConsistent(heap, capacity);
    }
    while (!heap.empty()) {
        const int removed = heap.top().index;
        heap.pop();
        EXPECT_EQ(heap.positionOf(removed), -1);
        expectPositionsConsistent(heap, capacity);
    }
}

TEST(HeapPositions, UntrackedHeapReportsNone) {
    MinHeap<double> heap;
    heap.push(1.0, 0);
    EXPECT_EQ(heap.positionOf(0), -1);
}

TEST(HeapRefusals, IndexAtCapacityIsRefusedWithItsMessage) {
    MinHeap<double> heap(3);
    heap.push(1.0, 2);
    try {
        heap.push(0.0, 3);
        FAIL() << "no exception";
    } catch (const InvalidIndexException& e) {
        EXPECT_EQ(std::string(e.what()), INVALID_INDEX_MESSAGE);
    }
    // Nothing changed.
    EXPECT_EQ(heap.size(), 1);
    EXPECT_EQ(heap.top().index, 2);
}

TEST(HeapRefusals, NegativeIndexIsRefusedOnATrackingHeap) {
    MinHeap<double> heap(3);
    EXPECT_THROW(heap.push(1.0, -1), InvalidIndexException);
    EXPECT_TRUE(heap.empty());
}

TEST(HeapRefusals, ZeroCapacityAcceptsNoIndex) {
    MinHeap<double> heap(0);
    EXPECT_THROW(heap.push(1.0, 0), InvalidIndexException);
}

TEST(HeapRefusals, HeapWithoutCapacityAcceptsAnyIndex) {
    MinHeap<double> heap;
    heap.push(2.0, 1000000);
    heap.push(1.0, 3);
    EXPECT_EQ(popAllIndices(heap), (std::vector<int>{3, 1000000}));
}

TEST(HeapRefusals, ExceptionsAreOutOfRangeErrors) {
    MinHeap<double> heap(1);
    EXPECT_THROW(heap.push(1.0, 1), std::out_of_range);
    static_assert(std::is_base_of_v<std::out_of_range, InvalidKeyIncreaseException>);
    static_assert(std::is_base_of_v<std::out_of_range, HeapEmptyException>);
}

TEST(HeapRefusals, PopOnEmptyThrowsAnOwnedPointer) {
    MinHeap<double> heap(1);
    heap.push(1.0, 0);
    heap.pop();
    try {
        heap.pop();
        FAIL() << "no exception";
    } catch (HeapEmptyException* raw) {
        const std::unique_ptr<HeapEmptyException> e(raw);
        EXPECT_EQ(std::string(e->what()), "heap underflow");
    }
    EXPECT_TRUE(heap.empty());
}

TEST(HeapRefusals, TopOnEmptyThrowsAnOwnedPointer) {
    MaxHeap<double> heap;
    try {
        (void)heap.top();
        FAIL() << "no exception";
    } catch (HeapEmptyException* raw) {
        const std::unique_ptr<HeapEmptyException> e(raw);
        EXPECT_EQ(std::string(e->what()), "heap underflow");
    }
}

}  // namespace
}  // namespace shapescale
