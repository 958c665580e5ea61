#include "mapt/Voting.hpp"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "core/Grid.hpp"
#include "core/Interrupt.hpp"
#include "core/TeamBarrier.hpp"
#include "core/Vec3.hpp"
#include "mapt/SampleWeights.hpp"

namespace shapescale {

namespace {

// Tensor pairs in storage order: xx, xy, xz, yy, yz, zz.
constexpr int TENSOR_A[TENSOR_COMPONENTS] = {0, 0, 0, 1, 1, 2};
constexpr int TENSOR_B[TENSOR_COMPONENTS] = {0, 1, 2, 1, 2, 2};

// dist(a, b) == 0 without the root: a sum of squares is 0 exactly when its
// square root is, underflowing squares included.
bool coincide(const double* a, const double* b) {
    double d[3];
    diff(a, b, d);
    return d[0] * d[0] + d[1] * d[1] + d[2] * d[2] == 0.0;
}

// Corners in voxel units (difference in float, division in double), area in
// world units rounded to float, the count of sampleCountOf. Returns the
// sample count, 0 for a triangle that votes nothing.
std::int64_t prepareTriangle(const MaptRun& run, const TriMesh& mesh, const Triangle& t,
                             PreparedTriangle& s) {
    const double h = run.grid.h();
    for (int k = 0; k < 3; ++k) {
        const Vec3f& v = mesh.vertices[static_cast<std::size_t>(t[k])];
        const Vec3f& nv = mesh.vertexNormals[static_cast<std::size_t>(t[k])];
        for (int a = 0; a < 3; ++a) {
            s.p[k][a] = static_cast<double>(v[a] - run.grid.origin[a]) / h;
            s.normal[k][a] = nv[a];
        }
    }
    if (coincide(s.p[1], s.p[0]) || coincide(s.p[2], s.p[0])) return 0;
    double e1[3], e2[3], c[3];
    diff(s.p[1], s.p[0], e1);
    diff(s.p[2], s.p[0], e2);
    vprod(e1, e2, c);
    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    s.area = static_cast<float>(length * h * h * 0.5);
    s.n[0] = s.n[1] = s.n[2] = 0.0;
    sdiv(c, length, s.n);
    const std::int64_t count = sampleCountOf(s.area, h, run.evenSampling);
    if (count == 0) return 0;
    s.share = s.area / static_cast<float>(count);
    return count;
}

constexpr std::int64_t NO_VOXEL = -1;

// The increments of an inner vote (n_a n_b A / count) and of an outer one
// (n_a n_b / count, without the area), the same for every sample.
std::array<double, 12> tensorIncrementsOf(const PreparedTriangle& s, std::int64_t count) {
    const float countF = static_cast<float>(count);
    std::array<double, 12> increments;
    for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
        const double nn = s.n[TENSOR_A[c]] * s.n[TENSOR_B[c]];
        increments[static_cast<std::size_t>(c)] = nn * static_cast<double>(s.area) / countF;
        increments[static_cast<std::size_t>(c) + 6] = nn / countF;
    }
    return increments;
}

// The voxels of samples [from, to) of one triangle, in sample order, into
// inner[] and outer[] (NO_VOXEL for a vote outside the bounds); each vote is
// counted in planeVotes[z]. The arithmetic of the reference loop, operation
// for operation. `random` is the triangle's stream from its start: sample 0
// is the centroid, sample j > 0 takes draws 2j - 2 and 2j - 1 (with `even`
// sample j takes draws 2j and 2j + 1), so a range that starts inside the
// triangle skips the draws before it.
template <bool BLEND, bool BOTH>
void sampleVoxels(const PreparedTriangle& s, bool even, double r, const int* dims,
                  SampleRandom random, std::int64_t from, std::int64_t to, std::int64_t* inner,
                  std::int64_t* outer, std::int64_t* planeVotes) {
    const double nx = dims[0], ny = dims[1], nz = dims[2];
    double innerOffset[3], outerOffset[3];
    for (int a = 0; a < 3; ++a) {
        innerOffset[a] = -r * s.n[a];
        outerOffset[a] = r * s.n[a];
    }
    // The bounds make every coordinate positive and below 2^31: the signed
    // conversion truncates as the unsigned one would, and costs less.
    const auto row = static_cast<std::int64_t>(dims[0]);
    const std::int64_t slice = row * dims[1];
    auto voxel = [&](double x, double y, double z) {
        const auto iz = static_cast<std::int64_t>(z);
        ++planeVotes[iz];
        return static_cast<std::int64_t>(x) + row * static_cast<std::int64_t>(y) + slice * iz;
    };
    const auto draw = [&] { return random.next(); };
    float w0, w1, w2;
    if (from == 0) {
        firstWeights(even, draw, w0, w1, w2);
    } else {
        random.skip(static_cast<std::uint64_t>(2 * (from - 1) + (even ? 2 : 0)));
        nextWeights(even, draw, w0, w1, w2);
    }
    for (std::int64_t j = from, k = 0; j < to; ++j, ++k) {
        const double d0 = w0, d1 = w1, d2 = w2;
        double point[3];
        for (int a = 0; a < 3; ++a) point[a] = (d0 * s.p[0][a] + d1 * s.p[1][a]) + d2 * s.p[2][a];
        if constexpr (BLEND) {
            for (int a = 0; a < 3; ++a) {
                const double b = (d0 * s.normal[0][a] + d1 * s.normal[1][a]) + d2 * s.normal[2][a];
                innerOffset[a] = -r * b;
                outerOffset[a] = r * b;
            }
        }
        const double q0 = point[0] + innerOffset[0], q1 = point[1] + innerOffset[1],
                     q2 = point[2] + innerOffset[2];
        inner[k] = q0 > 0.0 && q0 < nx && q1 > 0.0 && q1 < ny && q2 > 0.0 && q2 < nz
                       ? voxel(q0, q1, q2)
                       : NO_VOXEL;
        if constexpr (BOTH) {
            const double o0 = point[0] + outerOffset[0], o1 = point[1] + outerOffset[1],
                         o2 = point[2] + outerOffset[2];
            // x and y may be 0 on this side, z may not.
            outer[k] = o0 >= 0.0 && o0 < nx && o1 >= 0.0 && o1 < ny && o2 > 0.0 && o2 < nz
                           ? voxel(o0, o1, o2)
                           : NO_VOXEL;
        }
        if (j + 1 < to) nextWeights(even, draw, w0, w1, w2);
    }
}

// The first z-plane of slab `slab` of `slabs`: the lowest plane with at least
// a slab's share of the batch's votes below it. planeVotes holds `rows` rows
// of nz counts, one per sampling thread.
std::int64_t slabStart(const std::int64_t* planeVotes, int rows, std::int64_t nz, int slab,
                       int slabs) {
    if (slab == 0) return 0;
    if (slab == slabs) return nz;
    auto votesAt = [&](std::int64_t z) {
        std::int64_t sum = 0;
        for (int t = 0; t < rows; ++t) sum += planeVotes[t * nz + z];
        return sum;
    };
    std::int64_t total = 0;
    for (std::int64_t z = 0; z < nz; ++z) total += votesAt(z);
    const std::int64_t target = total * slab / slabs;
    std::int64_t below = 0;
    for (std::int64_t z = 0; z < nz; ++z) {
        if (below >= target) return z;
        below += votesAt(z);
    }
    return nz;
}

template <bool TENSORS>
void addVote(float* votes, float* const* tensor, std::int64_t voxel, float share,
             const double* increments) {
    const auto i = static_cast<std::size_t>(voxel);
    votes[i] += share;
    if constexpr (TENSORS) {
        for (int c = 0; c < TENSOR_COMPONENTS; ++c) {
            float& value = tensor[c][i];
            value = static_cast<float>(static_cast<double>(value) + increments[c]);
        }
    }
}

// The triangle of the block that holds sample `sample` of the block.
std::int64_t triangleOf(const std::vector<std::int64_t>& first, std::int64_t triangles,
                        std::int64_t sample) {
    return std::upper_bound(first.begin(), first.begin() + triangles + 1, sample) - first.begin() -
           1;
}

// The buffers sized for blocks of up to `triangles` triangles and batches of
// up to `samples` samples.
void sizeBuffers(VotingBuffers& b, std::size_t triangles, std::size_t samples, bool tensors,
                 bool both, std::size_t planeCounts) {
    auto grow = [](auto& list, std::size_t n) {
        if (list.size() < n) list.resize(n);
    };
    grow(b.triangles, triangles);
    for (BlockVotes& block : b.blocks) {
        grow(block.first, triangles + 1);
        grow(block.share, triangles);
        if (tensors) grow(block.tensorIncrements, triangles);
    }
    for (BatchVoxels& batch : b.batches) {
        grow(batch.inner, samples);
        if (both) grow(batch.outer, samples);
        grow(batch.planeVotes, planeCounts);
    }
}

// Per radius, block by block of triangles: each triangle prepared once, the
// threads sharing the block evenly; a prefix sum of the sample counts gives
// each triangle its slots; then the block's samples go in batches. A batch's
// samples are shared evenly among the threads, each drawing from the
// triangle's own stream (skipped ahead where a share starts inside a
// triangle), so who samples what changes nothing. Then each thread owns a
// slab of z-planes and adds, in triangle, sample and inner-then-outer order,
// the votes that land in it: every float sum in the order of the reference
// loop, whatever the thread count. Block data and batch voxels are kept
// twice, so one barrier per block and one per batch suffice: a thread that
// has added batch k may sample batch k + 1 (or prepare the next block) while
// others still add batch k.
template <bool BLEND, bool TENSORS, bool BOTH>
void voteAll(MaptRun& run, const TriMesh& mesh, double r) {
    const std::uint64_t pass = run.random.nextKey();
    VotingBuffers& b = run.votingBuffers;
    const int* dims = run.grid.dims;
    const auto triangles = static_cast<std::int64_t>(mesh.faces.size());
    const std::int64_t blockSize = std::max<std::int64_t>(b.blockTriangles, 1);
    const std::int64_t batchSize = std::max<std::int64_t>(b.batchSamples, 1);
    const auto nz = static_cast<std::int64_t>(dims[2]);
    const auto slice = static_cast<std::int64_t>(run.grid.sliceVoxels());
    const int maxThreads = omp_get_max_threads();
    sizeBuffers(b, static_cast<std::size_t>(std::min(blockSize, triangles)),
                static_cast<std::size_t>(batchSize), TENSORS, BOTH,
                static_cast<std::size_t>(maxThreads * nz));
    float* const votes = run.votes.data();
    float* tensor[TENSOR_COMPONENTS] = {};
    if constexpr (TENSORS)
        for (int c = 0; c < TENSOR_COMPONENTS; ++c)
            tensor[c] = run.tensor[static_cast<std::size_t>(c)].data();

    TeamBarrier barrier;
    // Written by the last thread to reach a barrier, read by all after it:
    // every thread leaves the loops at the same point.
    bool stop = false;
    auto pollSignal = [&] { stop = interruptRequested(); };
#pragma omp parallel
    {
#pragma omp single
        barrier.reset(omp_get_num_threads());
        const int thread = omp_get_thread_num();
        const int threads = omp_get_num_threads();
        int parity = 0;  // of the batch
        for (std::int64_t block = 0, index = 0; block < triangles && !stop;
             block += blockSize, ++index) {
            const std::int64_t n = std::min(blockSize, triangles - block);
            BlockVotes& data = b.blocks[index % 2];
            for (std::int64_t i = n * thread / threads; i < n * (thread + 1) / threads; ++i) {
                const auto at = static_cast<std::size_t>(i);
                const std::int64_t count = prepareTriangle(
                    run, mesh, mesh.faces[static_cast<std::size_t>(block + i)], b.triangles[at]);
                data.first[at + 1] = count;
                data.share[at] = b.triangles[at].share;
                if (TENSORS && count > 0)
                    data.tensorIncrements[at] = tensorIncrementsOf(b.triangles[at], count);
            }
            barrier.wait([&] {
                data.first[0] = 0;
                std::partial_sum(data.first.begin() + 1, data.first.begin() + n + 1,
                                 data.first.begin() + 1);
                pollSignal();
            });
            const std::int64_t samples = data.first[static_cast<std::size_t>(n)];
            for (std::int64_t s0 = 0; s0 < samples && !stop; s0 += batchSize, parity ^= 1) {
                const std::int64_t s1 = std::min(s0 + batchSize, samples);
                BatchVoxels& voxels = b.batches[parity];
                std::int64_t* const inner = voxels.inner.data();
                std::int64_t* const outer = voxels.outer.data();
                std::int64_t* const planeVotes = voxels.planeVotes.data();
                // This thread's share of the sampling.
                std::fill(planeVotes + thread * nz, planeVotes + (thread + 1) * nz, 0);
                const std::int64_t from = s0 + (s1 - s0) * thread / threads;
                const std::int64_t to = s0 + (s1 - s0) * (thread + 1) / threads;
                for (std::int64_t t = from < to ? triangleOf(data.first, n, from) : n;
                     t < n && data.first[static_cast<std::size_t>(t)] < to; ++t) {
                    const std::int64_t start = data.first[static_cast<std::size_t>(t)];
                    const std::int64_t lo = std::max(start, from);
                    const std::int64_t hi =
                        std::min(data.first[static_cast<std::size_t>(t) + 1], to);
                    if (lo >= hi) continue;
                    sampleVoxels<BLEND, BOTH>(
                        b.triangles[static_cast<std::size_t>(t)], run.evenSampling, r, dims,
                        SampleRandom::forItem(pass, static_cast<std::uint64_t>(block + t)),
                        lo - start, hi - start, inner + (lo - s0),
                        BOTH ? outer + (lo - s0) : nullptr, planeVotes + thread * nz);
                }
                barrier.wait(pollSignal);
                if (stop) break;
                // This thread's slab of the adding: voxel indices [first, first + span).
                const std::int64_t first =
                    slice * slabStart(planeVotes, threads, nz, thread, threads);
                const auto span = static_cast<std::uint64_t>(
                    slice * slabStart(planeVotes, threads, nz, thread + 1, threads) - first);
                auto mine = [&](std::int64_t voxel) {
                    return static_cast<std::uint64_t>(voxel - first) < span;
                };
                for (std::int64_t t = triangleOf(data.first, n, s0);
                     t < n && data.first[static_cast<std::size_t>(t)] < s1; ++t) {
                    const auto at = static_cast<std::size_t>(t);
                    const std::int64_t lo = std::max(data.first[at], s0) - s0;
                    const std::int64_t hi = std::min(data.first[at + 1], s1) - s0;
                    const float share = data.share[at];
                    const double* increments = TENSORS ? data.tensorIncrements[at].data() : nullptr;
                    for (std::int64_t k = lo; k < hi; ++k) {
                        if (mine(inner[k]))
                            addVote<TENSORS>(votes, tensor, inner[k], share, increments);
                        if (BOTH && mine(outer[k]))
                            addVote<TENSORS>(votes, tensor, outer[k], share,
                                             TENSORS ? increments + 6 : nullptr);
                    }
                }
            }
        }
    }
    if (stop) checkInterrupt("while voting");
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

double VotingBuffers::peakBytes(int threads, int nz) const {
    const double block = static_cast<double>(blockTriangles);
    const double perBlock = block * (sizeof(std::int64_t) + sizeof(float) + 12 * sizeof(double));
    const double perBatch = static_cast<double>(batchSamples) * 2 * sizeof(std::int64_t) +
                            static_cast<double>(threads) * nz * sizeof(std::int64_t);
    return block * sizeof(PreparedTriangle) + 2 * (perBlock + perBatch);
}

}  // namespace shapescale
