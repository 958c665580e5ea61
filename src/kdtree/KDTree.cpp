#include "kdtree/KDTree.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "kdtree/MyHeaps.hpp"

namespace shapescale {

namespace {

// Node positions are 32-bit ints and a tree of n points has 2n - 1 nodes.
constexpr std::size_t MAX_POINTS = std::size_t{1} << 30;

void checkInput(const std::vector<std::vector<double> >& input) {
    if (input.empty()) throw std::invalid_argument("KDTree: the point list is empty");
    if (input.size() > MAX_POINTS)
        throw std::invalid_argument("KDTree: " + std::to_string(input.size()) +
                                    " points, more than a tree can number");
    const std::size_t length = input.front().size();
    if (length == 0) throw std::invalid_argument("KDTree: the points have no coordinate");
    for (std::size_t j = 1; j < input.size(); ++j) {
        if (input[j].size() != length)
            throw std::invalid_argument(
                "KDTree: point " + std::to_string(j) + " has " + std::to_string(input[j].size()) +
                " coordinates, the first point has " + std::to_string(length));
    }
}

// The search compares leaf and plane distances after rounding them to single
// precision and widening them back. Deliberate: the labels of the voxeliser
// depend on which of several nearly equidistant points wins.
double roundedToFloat(double value) {
    return static_cast<double>(static_cast<float>(value));
}

}  // namespace

KDTree::KDTree(std::vector<std::vector<double> > const& input) {
    checkInput(input);
    point_count = static_cast<int>(input.size());
    axis_count = static_cast<int>(input.front().size());
    const auto n = static_cast<std::size_t>(point_count);
    const auto axes = static_cast<std::size_t>(axis_count);
    points.reserve(n * axes);
    for (const auto& p : input) points.insert(points.end(), p.begin(), p.end());
    nodes.reserve(2 * n - 1);
    rank_slots.assign(n, -1);

    // Ascending order along every axis from one min-heap per axis, pushed in
    // point order: the heap's strict comparisons decide the order of equal
    // coordinates, and the tree's shape (hence its tie-breaking) follows it.
    const MinHeap<double> empty_heap(point_count);
    std::vector<MinHeap<double> > heaps(axes, empty_heap);
    for (std::size_t d = 0; d < axes; ++d) {
        for (int j = 0; j < point_count; ++j) heaps[d].push(point(j)[d], j);
    }
    std::vector<std::vector<int> > rank(axes, std::vector<int>(n));
    for (std::size_t d = 0; d < axes; ++d) {
        for (int k = 0; !heaps[d].empty(); ++k) {
            rank[d][static_cast<std::size_t>(heaps[d].top().index)] = k;
            heaps[d].pop();
        }
    }
    heaps.clear();

    std::vector<int> subset(n);
    for (int j = 0; j < point_count; ++j) subset[static_cast<std::size_t>(j)] = j;
    build_recursively(rank, subset, 0);

    rank_slots.clear();
    rank_slots.shrink_to_fit();
}

int KDTree::build_recursively(const std::vector<std::vector<int> >& rank, std::vector<int>& subset,
                              int axis) {
    const int n = static_cast<int>(subset.size());
    if (n == 1) {
        Node leaf;
        leaf.split_value = 0.0;
        leaf.point_index = subset.front();
        nodes.push_back(leaf);
        return static_cast<int>(nodes.size()) - 1;
    }

    // Small subsets are heap-sorted by coordinate; large ones are read off the
    // rank table. The two ways order equal coordinates differently, and the
    // threshold is part of the tree's shape, which decides the nearest-vertex
    // labels on ties: the specified rule, kept exactly.
    const double dn = static_cast<double>(n);
    const auto& axis_rank = rank[static_cast<std::size_t>(axis)];
    if (static_cast<double>(point_count) > dn * std::log(dn)) {
        heapSortAlongAxis(subset, axis);
    } else {
        // Only the slots of this subset are set and cleared again, instead of
        // clearing all point_count slots at every node: same order, and the
        // build stays O(n log^2 n) instead of O(n^2).
        for (int p : subset)
            rank_slots[static_cast<std::size_t>(axis_rank[static_cast<std::size_t>(p)])] = p;
        int k = 0;
        for (int slot : rank_slots) {
            if (slot >= 0) subset[static_cast<std::size_t>(k++)] = slot;
        }
        for (int p : subset)
            rank_slots[static_cast<std::size_t>(axis_rank[static_cast<std::size_t>(p)])] = -1;
    }

    const auto left_size = static_cast<std::ptrdiff_t>((n - 1) / 2 + 1);  // ceil(n/2)
    std::vector<int> left(subset.begin(), subset.begin() + left_size);
    std::vector<int> right(subset.begin() + left_size, subset.end());
    const int median = left.back();

    // The inner node goes in before its children: pre-order numbering.
    const int position = static_cast<int>(nodes.size());
    Node inner;
    inner.split_value = point(median)[axis];
    nodes.push_back(inner);
    const int next = nextAxis(axis);
    const int left_child = build_recursively(rank, left, next);
    const int right_child = build_recursively(rank, right, next);
    nodes[static_cast<std::size_t>(position)].left_child = left_child;
    nodes[static_cast<std::size_t>(position)].right_child = right_child;
    return position;
}

// In-place ascending heap sort of point positions by coordinate `axis`. Not
// stable; the sift rules below fix where equal coordinates end up, and the
// tree's shape depends on it.
void KDTree::heapSortAlongAxis(std::vector<int>& subset, int axis) const {
    const auto a = static_cast<std::size_t>(axis);
    auto key = [&](int p) { return point(p)[a]; };
    // Moves entry e down from the hole at h within the first m entries.
    auto sift_down = [&](std::size_t h, std::size_t m, int e) {
        std::size_t c = 2 * h + 1;
        while (c < m) {
            if (c + 1 < m && key(subset[c + 1]) > key(subset[c])) ++c;
            if (!(key(subset[c]) > key(e))) break;
            subset[h] = subset[c];
            h = c;
            c = 2 * h + 1;
        }
        subset[h] = e;
    };
    const std::size_t n = subset.size();
    for (std::size_t t = n / 2; t-- > 0;) sift_down(t, n, subset[t]);
    for (std::size_t i = n - 1; i >= 1; --i) {
        const int e = subset[i];
        subset[i] = subset[0];
        sift_down(0, i, e);
    }
}

double KDTree::squaredDistance(const std::vector<double>& q, int index) const {
    const double* p = point(index);
    double sum = 0.0;
    for (std::size_t a = 0; a < q.size(); ++a) {
        const double t = q[a] - p[a];
        sum += t * t;
    }
    return sum;
}

int KDTree::nearest_point(const std::vector<double>& q) const {
    if (q.size() != static_cast<std::size_t>(axis_count))
        throw std::invalid_argument("KDTree: a query point has " + std::to_string(q.size()) +
                                    " coordinates, the tree's points have " +
                                    std::to_string(axis_count));
    // First candidate: the leaf on the query's side of every plane (the
    // plane itself counts as left), at its unrounded squared distance.
    int node = 0;
    int axis = 0;
    while (!nodes[static_cast<std::size_t>(node)].isLeaf()) {
        const Node& inner = nodes[static_cast<std::size_t>(node)];
        node = inner.split_value >= q[static_cast<std::size_t>(axis)] ? inner.left_child
                                                                      : inner.right_child;
        axis = nextAxis(axis);
    }
    int best_index = nodes[static_cast<std::size_t>(node)].point_index;
    double best = squaredDistance(q, best_index);
    check_border_distance(0, 0, q, best, best_index);
    return best_index;
}

// Visits the subtree at `node` (whose axis is `axis`), left before right, and
// takes a leaf only when its rounded distance is strictly below `best`: of
// equally near points the descent's leaf, then the first one met, wins.
// The query is taken by reference; each visit only reads it, so this is the
// same as handing every visit its own copy, minus the copies.
void KDTree::check_border_distance(int node, int axis, const std::vector<double>& q, double& best,
                                   int& best_index) const {
    const Node& current = nodes[static_cast<std::size_t>(node)];
    if (current.isLeaf()) {
        const double d = roundedToFloat(squaredDistance(q, current.point_index));
        if (best > d) {
            best = d;
            best_index = current.point_index;
        }
        return;
    }
    const double q_axis = q[static_cast<std::size_t>(axis)];
    const double offset = current.split_value - q_axis;
    const double plane = roundedToFloat(offset * offset);
    const int next = nextAxis(axis);
    if (plane > best) {
        // The far side lies beyond the plane, farther than the best so far.
        const int near = current.split_value > q_axis ? current.left_child : current.right_child;
        check_border_distance(near, next, q, best, best_index);
    } else {
        check_border_distance(current.left_child, next, q, best, best_index);
        check_border_distance(current.right_child, next, q, best, best_index);
    }
}

}  // namespace shapescale
