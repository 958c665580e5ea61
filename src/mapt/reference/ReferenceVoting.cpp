#include "mapt/reference/ReferenceVoting.hpp"

#include <cmath>
#include <cstdint>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"
#include "mapt/SampleWeights.hpp"

namespace shapescale::reference {

namespace {

// Tensor pairs in storage order: xx, xy, xz, yy, yz, zz.
constexpr int TENSOR_A[TENSOR_COMPONENTS] = {0, 0, 0, 1, 1, 2};
constexpr int TENSOR_B[TENSOR_COMPONENTS] = {0, 1, 2, 1, 2, 2};

// Adds one vote to voxel (trunc q) and its tensor increments.
void addVote(MaptRun& run, const double* q, float share, const double* increments) {
    const std::size_t i =
        voxelIndex(run.grid.dims, static_cast<std::size_t>(q[0]), static_cast<std::size_t>(q[1]),
                   static_cast<std::size_t>(q[2]));
    run.votes[i] += share;
    if (!run.tensorsOn) return;
    for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
        float& value = run.tensor[static_cast<std::size_t>(c)][i];
        value = static_cast<float>(static_cast<double>(value) + increments[c]);
    }
}

}  // namespace

void voteSurface(MaptRun& run, const TriMesh& mesh, double r,
                 const std::function<int(std::size_t)>& draw) {
    const double h = run.grid.h();
    const double nx = run.grid.dims[0], ny = run.grid.dims[1], nz = run.grid.dims[2];
    for (std::size_t triangle = 0; triangle < mesh.faces.size(); ++triangle) {
        // Corners in voxel units (difference in float, division in double).
        double p[3][3], normal[3][3];
        for (int k = 0; k < 3; ++k) {
            const auto v = static_cast<std::size_t>(mesh.faces[triangle][k]);
            for (int a = 0; a < 3; ++a) {
                p[k][a] = static_cast<double>(mesh.vertices[v][a] - run.grid.origin[a]) / h;
                normal[k][a] = mesh.vertexNormals[v][a];
            }
        }
        if (dist(p[1], p[0]) == 0.0 || dist(p[2], p[0]) == 0.0) continue;
        double e1[3], e2[3], cross[3];
        diff(p[1], p[0], e1);
        diff(p[2], p[0], e2);
        vprod(e1, e2, cross);
        const double length =
            std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
        // Area in world units rounded to float; the count of sampleCountOf.
        const float area = static_cast<float>(length * h * h * 0.5);
        double n[3] = {0.0, 0.0, 0.0};
        sdiv(cross, length, n);
        const std::int64_t sampleCount = sampleCountOf(area, h, run.evenSampling);
        if (sampleCount <= 0) continue;

        const float countF = static_cast<float>(sampleCount);
        const float share = area / countF;
        // The inner tensor vote carries the area, the outer one does not.
        double innerTensor[TENSOR_COMPONENTS], outerTensor[TENSOR_COMPONENTS];
        for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
            const double nn = n[TENSOR_A[c]] * n[TENSOR_B[c]];
            innerTensor[c] = nn * static_cast<double>(area) / countF;
            outerTensor[c] = nn / countF;
        }
        double inner[3], outer[3];
        for (int a = 0; a < 3; ++a) {
            inner[a] = -r * n[a];
            outer[a] = r * n[a];
        }
        const auto next = [&] { return draw(triangle); };
        float w0, w1, w2;
        firstWeights(run.evenSampling, next, w0, w1, w2);
        for (std::int64_t j = 0; j < sampleCount; ++j) {
            const double d0 = w0, d1 = w1, d2 = w2;
            double point[3];
            for (int a = 0; a < 3; ++a) point[a] = (d0 * p[0][a] + d1 * p[1][a]) + d2 * p[2][a];
            if (run.blendNormals) {
                // The blended normal is not re-normalised.
                for (int a = 0; a < 3; ++a) {
                    const double b = (d0 * normal[0][a] + d1 * normal[1][a]) + d2 * normal[2][a];
                    inner[a] = -r * b;
                    outer[a] = r * b;
                }
            }
            const double q[3] = {point[0] + inner[0], point[1] + inner[1], point[2] + inner[2]};
            if (q[0] > 0.0 && q[0] < nx && q[1] > 0.0 && q[1] < ny && q[2] > 0.0 && q[2] < nz)
                addVote(run, q, share, innerTensor);
            if (run.bothSides) {
                const double o[3] = {point[0] + outer[0], point[1] + outer[1], point[2] + outer[2]};
                // x and y may be 0 on this side, z may not: the specified bounds, which
                // decide the outer votes of the lowest layers.
                if (o[0] >= 0.0 && o[0] < nx && o[1] >= 0.0 && o[1] < ny && o[2] > 0.0 && o[2] < nz)
                    addVote(run, o, share, outerTensor);
            }
            if (j + 1 == sampleCount) break;
            nextWeights(run.evenSampling, next, w0, w1, w2);
        }
    }
}

void voteSurface(MaptRun& run, const TriMesh& mesh, double r) {
    voteSurface(run, mesh, r, [&](std::size_t) { return static_cast<int>(run.random.next()); });
}

}  // namespace shapescale::reference
