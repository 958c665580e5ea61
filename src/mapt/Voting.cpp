#include "mapt/Voting.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>

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

void voteSurfaceReference(MaptRun& run, const TriMesh& mesh, double r,
                          const std::function<int()>& draw) {
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
            const float u1 = static_cast<float>(draw()) * RAND_SCALE;
            w0 = u1;
            const float rest = 1.0f - u1;
            w1 = static_cast<float>(draw()) * rest * RAND_SCALE;
            w2 = rest - w1;
        }
    }
}

namespace {

// The sampling loop of voteSurface with the run's flags fixed at compile
// time and the generator inlined; the arithmetic is the reference's, operation
// for operation, so that the same sequence of draws gives the same bits.
template <bool BLEND, bool TENSORS, bool BOTH>
void voteAll(MaptRun& run, const TriMesh& mesh, double r) {
    const int* dims = run.grid.dims;
    const double nx = dims[0], ny = dims[1], nz = dims[2];
    float* votes = run.votes.data();
    float* tensor[TENSOR_COMPONENTS];
    for (int c = 0; c < TENSOR_COMPONENTS; ++c)
        tensor[c] = TENSORS ? run.tensor[static_cast<std::size_t>(c)].data() : nullptr;
    SampleRandom& random = run.random;
    TriangleSamples s;
    for (const Triangle& t : mesh.faces) {
        if (!prepareTriangle(run, mesh, t, s)) continue;
        const float countF = static_cast<float>(s.sampleCount);
        const float share = s.area / countF;
        // The tensor increments are the same for every sample of the triangle.
        double innerTensor[TENSOR_COMPONENTS], outerTensor[TENSOR_COMPONENTS];
        for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
            const double nn = s.n[TENSOR_A[c]] * s.n[TENSOR_B[c]];
            innerTensor[c] = nn * static_cast<double>(s.area) / countF;
            outerTensor[c] = nn / countF;
        }
        double inner[3], outer[3];
        for (int a = 0; a < 3; ++a) {
            inner[a] = -r * s.n[a];
            outer[a] = r * s.n[a];
        }
        auto add = [&](double qx, double qy, double qz, const double* increments) {
            const std::size_t i =
                voxelIndex(dims, static_cast<std::size_t>(qx), static_cast<std::size_t>(qy),
                           static_cast<std::size_t>(qz));
            votes[i] += share;
            if constexpr (TENSORS) {
                for (int c = 0; c < TENSOR_COMPONENTS; ++c)
                    tensor[c][i] =
                        static_cast<float>(static_cast<double>(tensor[c][i]) + increments[c]);
            }
        };
        float w0 = 1.0f / 3.0f, w1 = 1.0f / 3.0f, w2 = 1.0f / 3.0f;  // the centroid first
        for (std::int64_t j = 0;; ++j) {
            const double d0 = w0, d1 = w1, d2 = w2;
            double point[3];
            for (int a = 0; a < 3; ++a)
                point[a] = (d0 * s.p[0][a] + d1 * s.p[1][a]) + d2 * s.p[2][a];
            if constexpr (BLEND) {
                for (int a = 0; a < 3; ++a) {
                    const double b =
                        (d0 * s.normal[0][a] + d1 * s.normal[1][a]) + d2 * s.normal[2][a];
                    inner[a] = -r * b;
                    outer[a] = r * b;
                }
            }
            const double q0 = point[0] + inner[0], q1 = point[1] + inner[1],
                         q2 = point[2] + inner[2];
            if (q0 > 0.0 && q0 < nx && q1 > 0.0 && q1 < ny && q2 > 0.0 && q2 < nz)
                add(q0, q1, q2, innerTensor);
            if constexpr (BOTH) {
                const double o0 = point[0] + outer[0], o1 = point[1] + outer[1],
                             o2 = point[2] + outer[2];
                if (o0 >= 0.0 && o0 < nx && o1 >= 0.0 && o1 < ny && o2 > 0.0 && o2 < nz)
                    add(o0, o1, o2, outerTensor);
            }
            if (j + 1 == s.sampleCount) break;
            const float u1 = static_cast<float>(random.next()) * RAND_SCALE;
            w0 = u1;
            const float rest = 1.0f - u1;
            w1 = static_cast<float>(random.next()) * rest * RAND_SCALE;
            w2 = rest - w1;
        }
    }
}

template <bool BLEND, bool TENSORS>
void voteBothOrInner(MaptRun& run, const TriMesh& mesh, double r) {
    if (run.bothSides) {
        voteAll<BLEND, TENSORS, true>(run, mesh, r);
    } else {
        voteAll<BLEND, TENSORS, false>(run, mesh, r);
    }
}

}  // namespace

void voteSurface(MaptRun& run, const TriMesh& mesh, double r) {
    // Serial on purpose: the votes of all triangles meet in shared voxels and
    // their float sums must come in one fixed order.
    if (run.blendNormals) {
        if (run.tensorsOn) {
            voteBothOrInner<true, true>(run, mesh, r);
        } else {
            voteBothOrInner<true, false>(run, mesh, r);
        }
    } else if (run.tensorsOn) {
        voteBothOrInner<false, true>(run, mesh, r);
    } else {
        voteBothOrInner<false, false>(run, mesh, r);
    }
}

}  // namespace shapescale
