#include "mapt/Voting.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"

namespace shapescale {

namespace {

// 2^-31: rand() covers 0 .. 2^31 - 1.
constexpr float RAND_SCALE = 0x1p-31f;

// Tensor pairs in storage order: xx, xy, xz, yy, yz, zz.
constexpr int TENSOR_A[TENSOR_COMPONENTS] = {0, 0, 0, 1, 1, 2};
constexpr int TENSOR_B[TENSOR_COMPONENTS] = {0, 1, 2, 1, 2, 2};

struct TriangleSamples {
    double p[3][3];       // corners, voxel units
    double normal[3][3];  // vertex normals
    double n[3];          // unit face normal, or 0
    float area;           // world units
    std::int64_t sampleCount;
};

// Corners in voxel units (difference in float, division in double), area in
// world units rounded to float, about 50 samples per square voxel plus one.
bool prepareTriangle(const MaptRun& run, const TriMesh& mesh, const Triangle& t,
                     TriangleSamples& s) {
    const double h = run.grid.h();
    for (int k = 0; k < 3; ++k) {
        const Vec3f& v = mesh.vertices[static_cast<std::size_t>(t[k])];
        const Vec3f& nv = mesh.vertexNormals[static_cast<std::size_t>(t[k])];
        for (int a = 0; a < 3; ++a) {
            s.p[k][a] = static_cast<double>(v[a] - run.grid.origin[a]) / h;
            s.normal[k][a] = nv[a];
        }
    }
    if (dist(s.p[1], s.p[0]) == 0.0 || dist(s.p[2], s.p[0]) == 0.0) return false;
    double e1[3], e2[3], c[3];
    diff(s.p[1], s.p[0], e1);
    diff(s.p[2], s.p[0], e2);
    vprod(e1, e2, c);
    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    s.area = static_cast<float>(length * h * h * 0.5);
    s.n[0] = s.n[1] = s.n[2] = 0.0;
    sdiv(c, length, s.n);
    const double samples = static_cast<double>(s.area * 50.0f) / (h * h) + 1.0;
    if (!(samples >= 1.0)) return false;
    s.sampleCount = static_cast<std::int64_t>(samples);
    return true;
}

}  // namespace

void voteSurface(MaptRun& run, const TriMesh& mesh, double r) {
    const int* dims = run.grid.dims;
    const double nx = dims[0], ny = dims[1], nz = dims[2];
    TriangleSamples s;
    for (const Triangle& t : mesh.faces) {
        if (!prepareTriangle(run, mesh, t, s)) continue;
        const float countF = static_cast<float>(s.sampleCount);
        const float share = s.area / countF;
        double nn[TENSOR_COMPONENTS];
        for (int c = 0; c < TENSOR_COMPONENTS; ++c) nn[c] = s.n[TENSOR_A[c]] * s.n[TENSOR_B[c]];

        double inner[3], outer[3];
        for (int a = 0; a < 3; ++a) {
            inner[a] = -r * s.n[a];
            outer[a] = r * s.n[a];
        }
        float w0 = 1.0f / 3.0f, w1 = 1.0f / 3.0f, w2 = 1.0f / 3.0f;  // the centroid first
        for (std::int64_t j = 0; j < s.sampleCount; ++j) {
            const double d0 = w0, d1 = w1, d2 = w2;
            double point[3];
            for (int a = 0; a < 3; ++a)
                point[a] = (d0 * s.p[0][a] + d1 * s.p[1][a]) + d2 * s.p[2][a];
            if (run.blendNormals) {
                // The blended normal is not re-normalised.
                for (int a = 0; a < 3; ++a) {
                    const double b =
                        (d0 * s.normal[0][a] + d1 * s.normal[1][a]) + d2 * s.normal[2][a];
                    inner[a] = -r * b;
                    outer[a] = r * b;
                }
            }
            const double q[3] = {point[0] + inner[0], point[1] + inner[1], point[2] + inner[2]};
            if (q[0] > 0.0 && q[0] < nx && q[1] > 0.0 && q[1] < ny && q[2] > 0.0 && q[2] < nz) {
                const std::size_t i =
                    voxelIndex(dims, static_cast<std::size_t>(q[0]), static_cast<std::size_t>(q[1]),
                               static_cast<std::size_t>(q[2]));
                run.votes[i] += share;
                if (run.tensorsOn) {
                    for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
                        float& value = run.tensor[static_cast<std::size_t>(c)][i];
                        value = static_cast<float>(static_cast<double>(value) +
                                                   nn[c] * static_cast<double>(s.area) / countF);
                    }
                }
            }
            if (run.bothSides) {
                const double o[3] = {point[0] + outer[0], point[1] + outer[1], point[2] + outer[2]};
                // x and y may be 0 on this side, z may not: the specified bounds, which
                // decide the outer votes of the lowest layers.
                if (o[0] >= 0.0 && o[0] < nx && o[1] >= 0.0 && o[1] < ny && o[2] > 0.0 &&
                    o[2] < nz) {
                    const std::size_t i =
                        voxelIndex(dims, static_cast<std::size_t>(o[0]),
                                   static_cast<std::size_t>(o[1]), static_cast<std::size_t>(o[2]));
                    run.votes[i] += share;
                    if (run.tensorsOn) {
                        // Without the area factor, unlike the inner vote.
                        for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
                            float& value = run.tensor[static_cast<std::size_t>(c)][i];
                            value = static_cast<float>(static_cast<double>(value) + nn[c] / countF);
                        }
                    }
                }
            }
            if (j + 1 == s.sampleCount) break;
            const float u1 = static_cast<float>(std::rand()) * RAND_SCALE;
            w0 = u1;
            const float rest = 1.0f - u1;
            w1 = static_cast<float>(std::rand()) * rest * RAND_SCALE;
            w2 = rest - w1;
        }
    }
}

}  // namespace shapescale
