#pragma once
// Working lists of the voting, kept by the run so that the radius loop
// allocates only while they grow.

#include <cstdint>
#include <vector>

namespace shapescale {

struct VotingBuffers {
    std::vector<std::int64_t> inner;  ///< per sample: voxel of the inner vote, -1 for none
    std::vector<std::int64_t> outer;  ///< per sample: voxel of the outer vote, -1 for none
    std::vector<std::int64_t> first;  ///< per triangle of a batch: its first sample
};

}  // namespace shapescale
