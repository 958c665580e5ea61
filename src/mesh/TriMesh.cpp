#include "mesh/TriMesh.hpp"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/Vec3.hpp"

namespace shapescale {

namespace {

// Triangles per block of the normal and measure passes: their per-triangle
// terms (24 bytes each) stay in the cache between the two loops of a block.
constexpr std::size_t BLOCK = std::size_t(1) << 16;

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

// Adds, per triangle, the face product to its three vertices: components
// widened to double, summed, stored as float. Then divides each normal by its
// length; the squares are summed in single precision, the root taken in
// double and rounded to float for the division.
//
// The products of a block are made in parallel; then each thread adds them,
// in triangle order, to the vertices of its own range only, so that every
// vertex's sum is formed in the same order on any number of threads.
void accumulateAndNormalise(TriMesh& mesh) {
    const std::size_t nFaces = mesh.faces.size();
    const std::size_t nVertices = mesh.vertexNormals.size();
    const Triangle* faces = mesh.faces.data();
    const Vec3f* vertices = mesh.vertices.data();
    Vec3f* normals = mesh.vertexNormals.data();
    std::vector<std::array<double, 3>> products(std::min(nFaces, BLOCK));
    const int parts = omp_get_max_threads();
    for (std::size_t begin = 0; begin < nFaces; begin += BLOCK) {
        const std::ptrdiff_t count = std::ptrdiff_t(std::min(BLOCK, nFaces - begin));
        const Triangle* block = faces + begin;
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t j = 0; j < count; ++j)
            products[std::size_t(j)] = faceProduct(vertices, block[j]);
#pragma omp parallel for schedule(static)
        for (int p = 0; p < parts; ++p) {
            const VertexRange range(nVertices, p, parts);
            for (std::ptrdiff_t j = 0; j < count; ++j) {
                const Triangle& t = block[j];
                const std::array<double, 3>& c = products[std::size_t(j)];
                for (int k = 0; k < 3; ++k) {
                    if (!range.holds(t[k])) continue;
                    Vec3f& n = normals[static_cast<std::size_t>(t[k])];
                    for (int a = 0; a < 3; ++a)
                        n[a] = static_cast<float>(static_cast<double>(n[a]) + c[a]);
                }
            }
        }
    }
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t i = 0; i < std::ptrdiff_t(nVertices); ++i) {
        Vec3f& n = normals[i];
        const float squares = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        const double length = std::sqrt(static_cast<double>(squares));
        sdiv(n.data(), static_cast<float>(length), n.data());
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
    for (Vec3f& n : mesh.vertexNormals) n = {0.0f, 0.0f, 0.0f};
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
    for (std::size_t begin = 0; begin < nFaces; begin += BLOCK) {
        const std::ptrdiff_t count = std::ptrdiff_t(std::min(BLOCK, nFaces - begin));
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t j = 0; j < count; ++j)
            terms[std::size_t(j)] = faceMeasures(vertices, faces[begin + std::size_t(j)]);
        for (std::ptrdiff_t j = 0; j < count; ++j) {
            volumeSum += terms[std::size_t(j)].volume;
            areaSum += terms[std::size_t(j)].area;
        }
    }
    MeshMeasures m;
    m.volume = static_cast<float>(volumeSum / 6.0);
    m.areaSum = areaSum;
    return m;
}

}  // namespace shapescale
