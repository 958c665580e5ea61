#pragma once
// Indexed binary heaps: entries pair a key with an integer index, and a heap
// made with a capacity remembers where each index currently sits. The k-d
// tree orders its points along every axis with MinHeap<double>.

#include <cassert>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace shapescale {

/// push with an index the heap cannot track (at or above the capacity, or negative).
class InvalidIndexException : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

/// A key update that would move an entry away from the root.
class InvalidKeyIncreaseException : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

/// pop on an empty heap. Thrown as a pointer to a new object: catch
/// `HeapEmptyException*` and delete it (or wrap it in a std::unique_ptr).
class HeapEmptyException : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

namespace detail {

/// The binary heap behind MinHeap and MaxHeap. `Outranks(a, b)` is true when
/// key a belongs strictly nearer the root than key b. Every comparison is
/// strict, so an entry never moves past an equal key; of two equal children
/// the left one is taken. Callers rely on the resulting order of equal keys.
template <class Tkey, class Outranks>
class IndexedHeap {
  public:
    struct Entry {
        Tkey key;
        int index;
    };

    /// A heap that accepts any index and does not track positions.
    IndexedHeap() = default;

    /// A heap that accepts the indices 0 .. capacity - 1 and tracks their positions.
    explicit IndexedHeap(int capacity)
        : position_of(static_cast<std::size_t>(capacity > 0 ? capacity : 0), -1),
          tracks_positions(true) {}

    /// Adds (key, index).
    /// @throw InvalidIndexException on a tracking heap when index >= capacity or
    ///        index < 0; nothing changes then.
    void push(Tkey key, int index) {
        // The negative bound is our own addition: it would otherwise address
        // position_of out of range.
        if (tracks_positions && (index < 0 || index >= static_cast<int>(position_of.size())))
            throw InvalidIndexException(
                "the index in the push must be smaller than the maximal allowed index "
                "(specified in constructor)");
        heap.push_back(Entry{key, index});
        const int p = static_cast<int>(heap.size()) - 1;
        if (tracks_positions) position_of[static_cast<std::size_t>(index)] = p;
        update_key(p, key);
    }

    /// The root entry: the smallest key of a MinHeap, the largest of a MaxHeap.
    /// @throw HeapEmptyException* (owned by the catcher) when the heap is empty
    const Entry& top() const {
        if (heap.empty()) throw new HeapEmptyException("heap underflow");
        return heap.front();
    }

    /// Removes the root entry. On a tracking heap the removed index goes back
    /// to position -1 and the moved entries keep their positions up to date.
    /// @throw HeapEmptyException* (owned by the catcher) when the heap is empty
    void pop() {
        // Thrown as a pointer: the specified interface, whose handlers catch
        // HeapEmptyException* and own the object.
        if (heap.empty()) throw new HeapEmptyException("heap underflow");
        if (tracks_positions) position_of[static_cast<std::size_t>(heap.front().index)] = -1;
        heap.front() = heap.back();
        heap.pop_back();
        if (heap.empty()) return;
        if (tracks_positions) position_of[static_cast<std::size_t>(heap.front().index)] = 0;
        sift_down(0);
    }

    bool empty() const { return heap.empty(); }
    int size() const { return static_cast<int>(heap.size()); }

    /// Entries in heap order (children of position p at 2p + 1 and 2p + 2).
    const std::vector<Entry>& entries() const { return heap; }

    /// Position in entries() of the entry with this index; -1 when the index is
    /// not in the heap, or the heap does not track positions.
    int positionOf(int index) const {
        if (!tracks_positions || index < 0 || index >= static_cast<int>(position_of.size()))
            return -1;
        return position_of[static_cast<std::size_t>(index)];
    }

    bool tracksPositions() const { return tracks_positions; }

    /// Exchanges the entries at two positions (both in 0 .. size - 1).
    void swap(int pos1, int pos2) {
        // clang-format off
        // The specified assertion texts, so that a broken heap reports in the words
        // its maintainers search for.
        assert(!heap.empty());
        assert(pos1>=0 && pos1<(int)heap.size());
        assert(pos2>=0 && pos2<(int)heap.size());
        // clang-format on
        Entry& a = heap[static_cast<std::size_t>(pos1)];
        Entry& b = heap[static_cast<std::size_t>(pos2)];
        if (tracks_positions) {
            position_of[static_cast<std::size_t>(a.index)] = pos2;
            position_of[static_cast<std::size_t>(b.index)] = pos1;
        }
        std::swap(a, b);
    }

  private:
    const Tkey& key_at(int p) const { return heap[static_cast<std::size_t>(p)].key; }

    // Stores `key` at position p and sifts the entry up. Within push the key
    // is the one just stored, so the refusal can never trigger there.
    void update_key(int p, Tkey key) {
        if (Outranks()(key_at(p), key))
            throw InvalidKeyIncreaseException("In MinHeaps only decrease in key updates are legal");
        heap[static_cast<std::size_t>(p)].key = key;
        while (p > 0) {
            const int parent = (p - 1) / 2;
            if (!Outranks()(key_at(p), key_at(parent))) break;
            swap(p, parent);
            p = parent;
        }
    }

    void sift_down(int p) {
        const int n = static_cast<int>(heap.size());
        for (;;) {
            int s = p;
            const int left = 2 * p + 1;
            const int right = left + 1;
            if (left < n && Outranks()(key_at(left), key_at(p))) s = left;
            if (right < n && Outranks()(key_at(right), key_at(s))) s = right;
            if (s == p) return;
            swap(p, s);
            p = s;
        }
    }

    std::vector<Entry> heap;
    std::vector<int> position_of;   // per admissible index; -1 when absent
    bool tracks_positions = false;  // made with a capacity
};

}  // namespace detail

/// Binary min-heap of (key, index) entries; ties keep insertion-dependent order.
template <class Tkey>
class MinHeap : public detail::IndexedHeap<Tkey, std::less<Tkey>> {
  public:
    using detail::IndexedHeap<Tkey, std::less<Tkey>>::IndexedHeap;
};

/// Binary max-heap of (key, index) entries, the mirror of MinHeap.
template <class Tkey>
class MaxHeap : public detail::IndexedHeap<Tkey, std::greater<Tkey>> {
  public:
    using detail::IndexedHeap<Tkey, std::greater<Tkey>>::IndexedHeap;
};

}  // namespace shapescale
