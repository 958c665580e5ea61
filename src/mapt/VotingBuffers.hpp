#pragma once
// Working lists of the voting, kept by the run so that the radius loop
// allocates only while they grow. Their size is bounded by the block and
// batch sizes, not by the mesh.

#include <array>
#include <cstdint>
#include <vector>

namespace shapescale {

/// One triangle as the sampling sees it, computed once per radius.
struct PreparedTriangle {
    double p[3][3];       ///< corners, voxel units
    double normal[3][3];  ///< vertex normals
    double n[3];          ///< unit face normal, or 0
    float area;           ///< world units
    float share;          ///< area / sampleCount in single precision: one vote
};

/// What the adding of a block of triangles reads. The run keeps two, so that
/// a thread done adding one block can prepare the next while others still add.
struct BlockVotes {
    /// Per triangle of the block: its first sample, then the block's sample count.
    std::vector<std::int64_t> first;
    std::vector<float> share;  ///< per triangle: the area of one vote
    /// Per triangle, with tensors: the six increments of an inner vote
    /// (n_a n_b A / count), then the six of an outer one (n_a n_b / count).
    std::vector<std::array<double, 12>> tensorIncrements;
};

/// The voxels of one batch of samples, kept twice like BlockVotes.
struct BatchVoxels {
    /// Per sample: the voxel of the inner and of the outer vote, -1 for none.
    std::vector<std::int64_t> inner, outer;
    /// Per sampling thread and z-plane: the votes that land there, from which
    /// the adding's slabs are cut so that each thread adds about as many.
    std::vector<std::int64_t> planeVotes;
};

struct VotingBuffers {
    /// Triangles prepared at once; a prefix sum of their sample counts gives
    /// each of them its slots.
    std::int64_t blockTriangles = std::int64_t{1} << 15;
    /// Samples whose voxels are kept at once (16 bytes each): the sampling of
    /// a batch is shared among the threads by sample, the adding by z-slab.
    std::int64_t batchSamples = std::int64_t{1} << 17;

    std::vector<PreparedTriangle> triangles;  ///< per triangle of the block being sampled
    BlockVotes blocks[2];
    BatchVoxels batches[2];

    /// Bytes these lists hold at most with `threads` threads and nz z-planes.
    double peakBytes(int threads, int nz) const;
};

}  // namespace shapescale
