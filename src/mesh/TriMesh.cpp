#include "mesh/TriMesh.hpp"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/Vec3.hpp"

namespace shapescale {

namespace {

// Triangles per block of the measures: the terms of a block (16 bytes each)
// are made in parallel, then summed in order. Large blocks keep the waits
// between the two few; 16 MiB of terms at most.
constexpr std::size_t BLOCK = std::size_t(1) << 20;

// The vertex numbers lo .. hi - 1 of part p of `parts`.
struct VertexRange {
    std::size_t lo, hi;
    VertexRange(std::size_t vertexCount, int p, int parts)
        : lo(vertexCount * std::size_t(p) / std::size_t(parts)),
          hi(vertexCount * std::size_t(p + 1) / std::size_t(parts)) {}
    bool holds(int v) const { return static_cast<std::size_t>(v) - lo < hi - lo; }
};

// The unnormalised face normal (p1 - p0) x (p2 - p0), twice the area, from
// the positions widened to double.
std::array<double, 3> faceProduct(const Vec3f* vertices, const Triangle& t) {
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
        const Vec3f& v = vertices[static_cast<std::size_t>(t[k])];
        for (int a = 0; a < 3; ++a) p[k][a] = v[a];
    }
    double e1[3], e2[3];
    std::array<double, 3> c;
    diff(p[1], p[0], e1);
    diff(p[2], p[0], e2);
    vprod(e1, e2, c.data());
    return c;
}

// Sets every normal from the current positions: adds, per triangle, the face
// product to its three vertices (components widened to double, summed, stored
// as float), then divides each normal by its length; the squares are summed
// in single precision, the root taken in double and rounded to float for the
// division.
//
// Each thread owns a range of vertices and goes through every triangle in
// order, adding only to its own vertices: every vertex's sum is formed in the
// same order on any number of threads, and no thread waits for another. A
// triangle with corners in two ranges has its product made by both threads.
void accumulateAndNormalise(TriMesh& mesh) {
    const std::size_t nFaces = mesh.faces.size();
    const std::size_t nVertices = mesh.vertexNormals.size();
    const Triangle* faces = mesh.faces.data();
    const Vec3f* vertices = mesh.vertices.data();
    Vec3f* normals = mesh.vertexNormals.data();
    const int parts = omp_get_max_threads();
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) {
        const VertexRange range(nVertices, p, parts);
        std::fill(normals + range.lo, normals + range.hi, Vec3f{0.0f, 0.0f, 0.0f});
        for (std::size_t j = 0; j < nFaces; ++j) {
            const Triangle& t = faces[j];
            if (!range.holds(t[0]) && !range.holds(t[1]) && !range.holds(t[2])) continue;
            const std::array<double, 3> c = faceProduct(vertices, t);
            for (int k = 0; k < 3; ++k) {
                if (!range.holds(t[k])) continue;
                Vec3f& n = normals[static_cast<std::size_t>(t[k])];
                for (int a = 0; a < 3; ++a)
                    n[a] = static_cast<float>(static_cast<double>(n[a]) + c[a]);
            }
        }
        for (std::size_t i = range.lo; i < range.hi; ++i) {
            Vec3f& n = normals[i];
            const float squares = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
            const double length = std::sqrt(static_cast<double>(squares));
            sdiv(n.data(), static_cast<float>(length), n.data());
        }
    }
}

// The determinant term of the signed volume (each product in single
// precision, summed in double) and the length of the face product.
struct FaceMeasures {
    double volume;
    double area;
};

FaceMeasures faceMeasures(const Vec3f* vertices, const Triangle& t) {
    const float* a = vertices[static_cast<std::size_t>(t[0])].data();
    const float* b = vertices[static_cast<std::size_t>(t[1])].data();
    const float* c = vertices[static_cast<std::size_t>(t[2])].data();
    const float p1 = a[0] * b[1] * c[2];
    const float p2 = a[1] * b[2] * c[0];
    const float p3 = a[2] * b[0] * c[1];
    const float p4 = a[0] * b[2] * c[1];
    const float p5 = a[1] * b[0] * c[2];
    const float p6 = a[2] * b[1] * c[0];
    double ad[3], e1[3], e2[3], cr[3];
    for (int k = 0; k < 3; ++k) {
        ad[k] = a[k];
        e1[k] = static_cast<double>(b[k]) - ad[k];
        e2[k] = static_cast<double>(c[k]) - ad[k];
    }
    vprod(e1, e2, cr);
    return {static_cast<double>(p1) + p2 + p3 - p4 - p5 - p6,
            std::sqrt(cr[0] * cr[0] + cr[1] * cr[1] + cr[2] * cr[2])};
}

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
    // Calls visit(v, entry) for every entry of the lists of part p's vertices,
    // in polygon order.
    auto eachEntry = [&](int p, auto visit) {
        const VertexRange range(vertexCount, p, parts);
        for (std::size_t j = 0; j < polygonCount; ++j) {
            const Triangle w = firstCorners(j);
            for (int k = 0; k < 3; ++k)
                if (range.holds(w[k])) visit(std::size_t(w[k]), w[(k + 1) % 3]);
        }
    };
    // offsets[v + 1]: the length of the list of v.
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p) eachEntry(p, [&](std::size_t v, int) { ++offsets[v + 1]; });
    // offsets[v]: where the list of v ends once filled; shifted by one after.
    for (std::size_t v = 1; v <= vertexCount; ++v) offsets[v] += offsets[v - 1];
    arrays->entries.resize(offsets[vertexCount]);
    int* entries = arrays->entries.data();
#pragma omp parallel for schedule(static)
    for (int p = 0; p < parts; ++p)
        eachEntry(p, [&](std::size_t v, int entry) { entries[offsets[v]++] = entry; });
    std::copy_backward(offsets.begin(), offsets.end() - 1, offsets.end());
    offsets[0] = 0;
    return NeighbourLists(std::move(arrays));
}

NeighbourLists NeighbourLists::ofTriangles(std::size_t vertexCount,
                                           std::span<const Triangle> triangles) {
    return build(vertexCount, triangles.size(), [&](std::size_t j) { return triangles[j]; });
}

NeighbourLists NeighbourLists::ofFans(std::size_t vertexCount, std::span<const Triangle> triangles,
                                      std::span<const std::size_t> firstTriangles) {
    return build(vertexCount, firstTriangles.size(),
                 [&](std::size_t j) { return triangles[firstTriangles[j]]; });
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

void appendVertex(TriMesh& mesh, const Vec3f& v) {
    if (mesh.vertices.empty()) {
        for (int a = 0; a < 3; ++a) mesh.bboxMin[a] = mesh.bboxMax[a] = v[a];
    } else {
        for (int a = 0; a < 3; ++a) {
            if (v[a] < mesh.bboxMin[a]) mesh.bboxMin[a] = v[a];
            if (v[a] > mesh.bboxMax[a]) mesh.bboxMax[a] = v[a];
        }
    }
    mesh.vertices.push_back(v);
}

void computeVertexNormals(TriMesh& mesh) {
    mesh.vertexNormals.assign(mesh.vertices.size(), {0.0f, 0.0f, 0.0f});
    accumulateAndNormalise(mesh);
}

void refreshVertexNormals(TriMesh& mesh) {
    accumulateAndNormalise(mesh);
}

// The terms of a block in parallel, their sums in triangle order: the volume
// feeds every derived length, so its bits must not depend on the threads.
MeshMeasures measureMesh(const TriMesh& mesh) {
    const std::size_t nFaces = mesh.faces.size();
    const Triangle* faces = mesh.faces.data();
    const Vec3f* vertices = mesh.vertices.data();
    std::vector<FaceMeasures> terms(std::min(nFaces, BLOCK));
    double volumeSum = 0.0;
    double areaSum = 0.0;
    std::int64_t degenerate = 0;
    for (std::size_t begin = 0; begin < nFaces; begin += BLOCK) {
        const std::ptrdiff_t count = std::ptrdiff_t(std::min(BLOCK, nFaces - begin));
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t j = 0; j < count; ++j)
            terms[std::size_t(j)] = faceMeasures(vertices, faces[begin + std::size_t(j)]);
        for (std::ptrdiff_t j = 0; j < count; ++j) {
            volumeSum += terms[std::size_t(j)].volume;
            areaSum += terms[std::size_t(j)].area;
            degenerate += terms[std::size_t(j)].area == 0.0 ? 1 : 0;
        }
    }
    MeshMeasures m;
    m.volume = static_cast<float>(volumeSum / 6.0);
    m.degenerateTriangles = degenerate;
    m.areaSum = areaSum;
    return m;
}

}  // namespace shapescale
