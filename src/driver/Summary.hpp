#pragma once
// The JSON record of a run (--summary FILE).

#include <cstdint>
#include <string>
#include <vector>

#include "driver/Driver.hpp"
#include "driver/MeshCheck.hpp"
#include "driver/RunRecord.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// What the driver knows besides the transform's own record.
struct SummaryInput {
    std::vector<std::string> arguments;  ///< the whole command line, program name first
    const Options* options = nullptr;
    RunSettings settings;  ///< after the defaults, world units
    const TriMesh* mesh = nullptr;
    MeshMeasures measures;  ///< after --orient
    MeshStats topology;
    bool reoriented = false;  ///< --orient flipped the faces
    std::vector<std::string> warnings;
    std::uint32_t seed = 0;
    bool seedFromClock = false;   ///< the clock gave the seed (no --seed)
    int threads = 0;              ///< OpenMP threads of the run
    double loadingSeconds = 0;    ///< wall clock: reading the mesh and preparing
    double processorSeconds = 0;  ///< as the "Time elapsed" line
    double wallSeconds = 0;
    std::int64_t peakMemoryBytes = 0;
    std::vector<std::string> extraFiles;  ///< written by the driver's observers (previews)
};

/// Writes the summary of a completed run to `path` as one JSON object (see the
/// README for its fields); lengths are given in world units and, for the
/// grid's radii, in voxel units too.
/// @throw Error when the file cannot be written (no partial file is left)
void writeSummary(const std::string& path, const SummaryInput& input, const RunRecord& record);

}  // namespace shapescale
