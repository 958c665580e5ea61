#include "mesh/TriMesh.hpp"

#include <cmath>

#include "core/Vec3.hpp"

namespace shapescale {

namespace {

// Adds, per triangle, the unnormalised face normal (twice the area) to its
// three vertices: components widened to double, summed, stored as float.
// Then divides each normal by its length; the squares are summed in single
// precision, the root taken in double and rounded to float for the division.
void accumulateAndNormalise(TriMesh& mesh) {
    for (const Triangle& t : mesh.faces) {
        double p[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vec3f& v = mesh.vertices[static_cast<std::size_t>(t[k])];
            for (int a = 0; a < 3; ++a) p[k][a] = v[a];
        }
        double e1[3], e2[3], c[3];
        diff(p[1], p[0], e1);
        diff(p[2], p[0], e2);
        vprod(e1, e2, c);
        for (int k = 0; k < 3; ++k) {
            Vec3f& n = mesh.vertexNormals[static_cast<std::size_t>(t[k])];
            for (int a = 0; a < 3; ++a) n[a] = static_cast<float>(static_cast<double>(n[a]) + c[a]);
        }
    }
    for (Vec3f& n : mesh.vertexNormals) {
        const float squares = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        const double length = std::sqrt(static_cast<double>(squares));
        sdiv(n.data(), static_cast<float>(length), n.data());
    }
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
    mesh.vertexNeighbours.emplace_back();
}

void computeVertexNormals(TriMesh& mesh) {
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) mesh.vertexNormals.push_back({0, 0, 0});
    accumulateAndNormalise(mesh);
}

void refreshVertexNormals(TriMesh& mesh) {
    for (Vec3f& n : mesh.vertexNormals) n = {0.0f, 0.0f, 0.0f};
    accumulateAndNormalise(mesh);
}

MeshMeasures measureMesh(const TriMesh& mesh) {
    double volumeSum = 0.0;
    double areaSum = 0.0;
    for (const Triangle& t : mesh.faces) {
        const float* a = mesh.vertices[static_cast<std::size_t>(t[0])].data();
        const float* b = mesh.vertices[static_cast<std::size_t>(t[1])].data();
        const float* c = mesh.vertices[static_cast<std::size_t>(t[2])].data();
        // Each product in single precision, the determinant summed in double.
        const float p1 = a[0] * b[1] * c[2];
        const float p2 = a[1] * b[2] * c[0];
        const float p3 = a[2] * b[0] * c[1];
        const float p4 = a[0] * b[2] * c[1];
        const float p5 = a[1] * b[0] * c[2];
        const float p6 = a[2] * b[1] * c[0];
        volumeSum += static_cast<double>(p1) + p2 + p3 - p4 - p5 - p6;

        double ad[3], e1[3], e2[3], cr[3];
        for (int k = 0; k < 3; ++k) {
            ad[k] = a[k];
            e1[k] = static_cast<double>(b[k]) - ad[k];
            e2[k] = static_cast<double>(c[k]) - ad[k];
        }
        vprod(e1, e2, cr);
        areaSum += std::sqrt(cr[0] * cr[0] + cr[1] * cr[1] + cr[2] * cr[2]);
    }
    MeshMeasures m;
    m.volume = static_cast<float>(volumeSum / 6.0);
    m.areaSum = areaSum;
    return m;
}

}  // namespace shapescale
