#pragma once
// The run driver: options, mesh, derived defaults, the transform, timing.

#include "driver/Options.hpp"
#include "mapt/Defaults.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Base scale and defaults from the mesh (deriveRunSettings) for the options.
RunSettings deriveSettings(const Options& options, const MeshMeasures& measures);

/// The whole program: returns the exit status (1 after usage texts and after
/// a completed run). Throws Error for every other failure; main turns it into
/// a message and status 2.
int runCommandLine(int argc, char** argv);

}  // namespace shapescale
