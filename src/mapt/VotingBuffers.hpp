#pragma once
// Working lists of the voting, kept by the run so that the radius loop
// allocates only while they grow.

#include <cstdint>
#include <vector>

namespace shapescale {

struct VotingBuffers {
    /// Per sample of a batch: the voxel of the inner and of the outer vote, -1
    /// for none; two of each, one batch being added while the next is sampled.
    std::vector<std::int64_t> inner[2], outer[2];
    std::vector<std::int64_t> first;       ///< per triangle: its first sample within its batch
    std::vector<std::int64_t> batchStart;  ///< first triangle of each batch, then the count
    std::vector<char> single;              ///< per batch: one triangle, sampled as it is added
};

}  // namespace shapescale
