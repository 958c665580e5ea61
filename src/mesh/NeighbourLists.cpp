#include <omp.h>

#include <algorithm>

#include "mesh/TriMesh.hpp"

namespace shapescale {

namespace {

// The vertex numbers lo .. hi - 1 of part p of `parts`.
struct VertexRange {
    std::size_t lo, hi;
    VertexRange(std::size_t vertexCount, int p, int parts)
        : lo(vertexCount * std::size_t(p) / std::size_t(parts)),
          hi(vertexCount * std::size_t(p + 1) / std::size_t(parts)) {}
    bool holds(int v) const { return static_cast<std::size_t>(v) - lo < hi - lo; }
};

}  // namespace

// Two passes over the polygons (counting, then filling in polygon order).
// Each thread owns a range of vertices and scans every polygon for entries of
// its own, so a list is filled in the same order on any number of threads.
template <class FirstCorners>
NeighbourLists NeighbourLists::build(std::size_t vertexCount, std::size_t polygonCount,
                                     FirstCorners firstCorners) {
    auto arrays = std::make_shared<Arrays>();
    std::vector<std::size_t>& offsets = arrays->offsets;
    offsets.assign(vertexCount + 1, 0);
    const int parts = omp_get_max_threads();
    // offsets[v + 1]: the length of the list of v.
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) {
        const VertexRange range(vertexCount, p, parts);
        for (std::size_t j = 0; j < polygonCount; ++j) {
            const Triangle w = firstCorners(j);
            for (int k = 0; k < 3; ++k)
                if (range.holds(w[k])) ++offsets[std::size_t(w[k]) + 1];
        }
    }
    // offsets[v]: where the list of v ends once filled; shifted by one after.
    for (std::size_t v = 1; v <= vertexCount; ++v) offsets[v] += offsets[v - 1];
    arrays->entries.resize(offsets[vertexCount]);
    int* entries = arrays->entries.data();
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) {
        const VertexRange range(vertexCount, p, parts);
        for (std::size_t j = 0; j < polygonCount; ++j) {
            const Triangle w = firstCorners(j);
            for (int k = 0; k < 3; ++k)
                if (range.holds(w[k])) entries[offsets[std::size_t(w[k])]++] = w[(k + 1) % 3];
        }
    }
    std::copy_backward(offsets.begin(), offsets.end() - 1, offsets.end());
    offsets[0] = 0;
    return NeighbourLists(std::move(arrays));
}

NeighbourLists NeighbourLists::ofTriangles(std::size_t vertexCount,
                                           std::span<const Triangle> triangles) {
    return build(vertexCount, triangles.size(), [&](std::size_t j) { return triangles[j]; });
}

NeighbourLists NeighbourLists::ofPolygons(std::size_t vertexCount, std::span<const int> corners,
                                          std::span<const std::size_t> ends) {
    return build(vertexCount, ends.size(), [&](std::size_t j) {
        const int* w = corners.data() + (j == 0 ? 0 : ends[j - 1]);
        return Triangle{w[0], w[1], w[2]};
    });
}

std::span<const std::size_t> NeighbourLists::offsets() const {
    if (!arrays_) return {};
    return arrays_->offsets;
}

std::span<const int> NeighbourLists::entries() const {
    if (!arrays_) return {};
    return arrays_->entries;
}

std::size_t NeighbourLists::bytes() const {
    if (!arrays_) return 0;
    return sizeof(Arrays) + arrays_->offsets.capacity() * sizeof(std::size_t) +
           arrays_->entries.capacity() * sizeof(int);
}

bool NeighbourLists::operator==(const NeighbourLists& other) const {
    if (size() != other.size()) return false;
    if (size() == 0) return true;
    return arrays_->offsets == other.arrays_->offsets && arrays_->entries == other.arrays_->entries;
}

}  // namespace shapescale
