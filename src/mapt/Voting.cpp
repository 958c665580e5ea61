#include "mapt/Voting.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"
#include "mapt/SampleWeights.hpp"

namespace shapescale {

namespace {

// Tensor pairs in storage order: xx, xy, xz, yy, yz, zz.
constexpr int TENSOR_A[TENSOR_COMPONENTS] = {0, 0, 0, 1, 1, 2};
constexpr int TENSOR_B[TENSOR_COMPONENTS] = {0, 1, 2, 1, 2, 2};

struct TriangleSamples {
    double p[3][3];       // corners, voxel units
    double normal[3][3];  // vertex normals
    double n[3];          // unit face normal, or 0
    float area;           // world units
    std::int64_t sampleCount;
    bool even;  // samples spread evenly (SampleWeights.hpp)
};

// Corners in voxel units (difference in float, division in double), area in
// world units rounded to float, the count of sampleCountOf.
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
    s.even = run.evenSampling;
    s.sampleCount = sampleCountOf(s.area, h, s.even);
    return s.sampleCount > 0;
}

// Samples per batch: the voxels of a batch's samples are found in parallel,
// then added in triangle and sample order. A triangle with more samples than
// this is voted on its own, serially.
constexpr std::int64_t BATCH_SAMPLES = std::int64_t{1} << 18;

constexpr std::int64_t NO_VOXEL = -1;

// Per triangle, what the adding needs besides the voxels.
struct TriangleVotes {
    float share;  // A / sampleCount in single precision
    double innerTensor[TENSOR_COMPONENTS];
    double outerTensor[TENSOR_COMPONENTS];
};

TriangleVotes votesOf(const TriangleSamples& s) {
    TriangleVotes v;
    const float countF = static_cast<float>(s.sampleCount);
    v.share = s.area / countF;
    // The same for every sample of the triangle: nn * A / count with the
    // area, nn / count without it for the outer vote.
    for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
        const double nn = s.n[TENSOR_A[c]] * s.n[TENSOR_B[c]];
        v.innerTensor[c] = nn * static_cast<double>(s.area) / countF;
        v.outerTensor[c] = nn / countF;
    }
    return v;
}

// The voxels of every sample of one triangle, in sample order, handed to
// `put(inner, outer)` (NO_VOXEL for a vote outside the bounds). The
// arithmetic of the reference loop, operation for operation.
template <bool BLEND, bool BOTH, class Put>
void sampleVoxels(const TriangleSamples& s, double r, const int* dims, SampleRandom random,
                  Put&& put) {
    const double nx = dims[0], ny = dims[1], nz = dims[2];
    double inner[3], outer[3];
    for (int a = 0; a < 3; ++a) {
        inner[a] = -r * s.n[a];
        outer[a] = r * s.n[a];
    }
    // The bounds make every coordinate positive and below 2^31: the signed
    // conversion truncates as the unsigned one would, and costs less.
    auto voxel = [&](double x, double y, double z) {
        return static_cast<std::int64_t>(
            voxelIndex(dims, static_cast<std::size_t>(static_cast<std::int64_t>(x)),
                       static_cast<std::size_t>(static_cast<std::int64_t>(y)),
                       static_cast<std::size_t>(static_cast<std::int64_t>(z))));
    };
    const auto next = [&] { return random.next(); };
    float w0, w1, w2;
    firstWeights(s.even, next, w0, w1, w2);
    for (std::int64_t j = 0;; ++j) {
        const double d0 = w0, d1 = w1, d2 = w2;
        double point[3];
        for (int a = 0; a < 3; ++a) point[a] = (d0 * s.p[0][a] + d1 * s.p[1][a]) + d2 * s.p[2][a];
        if constexpr (BLEND) {
            for (int a = 0; a < 3; ++a) {
                const double b = (d0 * s.normal[0][a] + d1 * s.normal[1][a]) + d2 * s.normal[2][a];
                inner[a] = -r * b;
                outer[a] = r * b;
            }
        }
        const double q0 = point[0] + inner[0], q1 = point[1] + inner[1], q2 = point[2] + inner[2];
        std::int64_t in = NO_VOXEL, out = NO_VOXEL;
        if (q0 > 0.0 && q0 < nx && q1 > 0.0 && q1 < ny && q2 > 0.0 && q2 < nz)
            in = voxel(q0, q1, q2);
        if constexpr (BOTH) {
            const double o0 = point[0] + outer[0], o1 = point[1] + outer[1],
                         o2 = point[2] + outer[2];
            // x and y may be 0 on this side, z may not.
            if (o0 >= 0.0 && o0 < nx && o1 >= 0.0 && o1 < ny && o2 > 0.0 && o2 < nz)
                out = voxel(o0, o1, o2);
        }
        put(in, out);
        if (j + 1 == s.sampleCount) break;
        nextWeights(s.even, next, w0, w1, w2);
    }
}

template <bool TENSORS>
void addVote(MaptRun& run, std::int64_t voxel, float share, const double* increments) {
    const auto i = static_cast<std::size_t>(voxel);
    run.votes[i] += share;
    if constexpr (TENSORS) {
        for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
            float& value = run.tensor[static_cast<std::size_t>(c)][i];
            value = static_cast<float>(static_cast<double>(value) + increments[c]);
        }
    }
}

// Splits the triangles [begin, end) of a batch among the threads. With more
// than one thread, thread 0 also adds the previous batch's votes meanwhile,
// so it samples only a tenth; the others share the rest evenly. Which thread
// samples a triangle changes nothing in the result.
void shareOf(std::int64_t begin, std::int64_t end, int thread, int threads, std::int64_t& from,
             std::int64_t& to) {
    const std::int64_t n = end - begin;
    if (threads == 1) {
        from = begin;
        to = end;
        return;
    }
    const std::int64_t head = n / 10;
    if (thread == 0) {
        from = begin;
        to = begin + head;
        return;
    }
    const std::int64_t rest = n - head;
    const std::int64_t others = threads - 1;
    from = begin + head + rest * (thread - 1) / others;
    to = begin + head + rest * thread / others;
}

template <bool BLEND, bool TENSORS, bool BOTH>
void voteAll(MaptRun& run, const TriMesh& mesh, double r) {
    const std::uint64_t pass = run.random.nextKey();
    VotingBuffers& buffers = run.votingBuffers;
    const int* dims = run.grid.dims;
    const auto triangles = static_cast<std::int64_t>(mesh.faces.size());
    auto prepare = [&](std::int64_t t, TriangleSamples& s) {
        return prepareTriangle(run, mesh, mesh.faces[static_cast<std::size_t>(t)], s);
    };

    // Batches: consecutive triangles up to BATCH_SAMPLES samples, or one
    // larger triangle on its own.
    buffers.first.assign(static_cast<std::size_t>(triangles) + 1, 0);
    buffers.batchStart.clear();
    buffers.single.clear();
    std::int64_t largest = 0;
    {
        TriangleSamples s;
        std::int64_t samples = 0;
        for (std::int64_t t = 0; t < triangles; ++t) {
            const std::int64_t count = prepare(t, s) ? s.sampleCount : 0;
            const bool alone = count > BATCH_SAMPLES;
            if (t == 0 || alone || samples + count > BATCH_SAMPLES || buffers.single.back()) {
                buffers.batchStart.push_back(t);
                buffers.single.push_back(alone ? 1 : 0);
                samples = 0;
            }
            buffers.first[static_cast<std::size_t>(t)] = samples;
            samples += count;
            if (!alone) largest = std::max(largest, samples);
        }
        buffers.batchStart.push_back(triangles);
    }
    for (int k = 0; k < 2; ++k) {
        if (buffers.inner[k].size() < static_cast<std::size_t>(largest)) {
            buffers.inner[k].resize(static_cast<std::size_t>(largest));
            buffers.outer[k].resize(static_cast<std::size_t>(largest));
        }
    }
    const auto batches = static_cast<std::int64_t>(buffers.single.size());

    auto addBoth = [&](const TriangleVotes& v, std::int64_t in, std::int64_t out) {
        if (in != NO_VOXEL) addVote<TENSORS>(run, in, v.share, v.innerTensor);
        if (BOTH && out != NO_VOXEL) addVote<TENSORS>(run, out, v.share, v.outerTensor);
    };
    // The float sums of batch b, in triangle, sample, inner-then-outer order.
    auto addBatch = [&](std::int64_t b) {
        const auto side = static_cast<std::size_t>(b % 2);
        const std::int64_t begin = buffers.batchStart[static_cast<std::size_t>(b)];
        const std::int64_t end = buffers.batchStart[static_cast<std::size_t>(b) + 1];
        TriangleSamples s;
        if (buffers.single[static_cast<std::size_t>(b)]) {
            // Too many samples to keep: drawn and added in one go, one stream.
            if (!prepare(begin, s)) return;
            const TriangleVotes v = votesOf(s);
            sampleVoxels<BLEND, BOTH>(
                s, r, dims, SampleRandom::forItem(pass, static_cast<std::uint64_t>(begin)),
                [&](std::int64_t in, std::int64_t out) { addBoth(v, in, out); });
            return;
        }
        const std::int64_t* inner = buffers.inner[side].data();
        const std::int64_t* outer = buffers.outer[side].data();
        for (std::int64_t t = begin; t < end; ++t) {
            if (!prepare(t, s)) continue;
            const TriangleVotes v = votesOf(s);
            const std::int64_t from = buffers.first[static_cast<std::size_t>(t)];
            for (std::int64_t k = from; k < from + s.sampleCount; ++k)
                addBoth(v, inner[k], outer[k]);
        }
    };
    // The voxels of some triangles of batch b, each from its own stream into
    // its own slots.
    auto sampleBatch = [&](std::int64_t b, int thread, int threads) {
        if (buffers.single[static_cast<std::size_t>(b)]) return;
        const auto side = static_cast<std::size_t>(b % 2);
        std::int64_t from = 0, to = 0;
        shareOf(buffers.batchStart[static_cast<std::size_t>(b)],
                buffers.batchStart[static_cast<std::size_t>(b) + 1], thread, threads, from, to);
        std::int64_t* inner = buffers.inner[side].data();
        std::int64_t* outer = buffers.outer[side].data();
        TriangleSamples s;
        for (std::int64_t t = from; t < to; ++t) {
            if (!prepare(t, s)) continue;
            std::int64_t k = buffers.first[static_cast<std::size_t>(t)];
            sampleVoxels<BLEND, BOTH>(s, r, dims,
                                      SampleRandom::forItem(pass, static_cast<std::uint64_t>(t)),
                                      [&](std::int64_t in, std::int64_t out) {
                                          inner[k] = in;
                                          outer[k] = out;
                                          ++k;
                                      });
        }
    };
    // A pipeline: while thread 0 adds batch b - 1, all threads sample batch b.
#pragma omp parallel
    {
        const int thread = omp_get_thread_num();
        const int threads = omp_get_num_threads();
        for (std::int64_t b = 0; b <= batches; ++b) {
            if (thread == 0 && b > 0) addBatch(b - 1);
            if (b < batches) sampleBatch(b, thread, threads);
#pragma omp barrier
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
