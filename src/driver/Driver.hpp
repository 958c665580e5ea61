#pragma once
// The run driver: options, mesh, derived defaults, the transform, timing.

#include "driver/Options.hpp"
#include "mapt/Defaults.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Exit statuses that the driver decides; failures end with EXIT_RUN_FAILED
/// (2, core/Error.hpp) through main.
inline constexpr int EXIT_OK = 0;  ///< --help, --version, or a completed run with --exit-zero
inline constexpr int EXIT_COMPLETED =
    1;                                ///< a completed run, as specified: batch scripts test for it
inline constexpr int EXIT_USAGE = 1;  ///< a usage text

/// Base scale and defaults from the mesh (deriveRunSettings) for the options.
RunSettings deriveSettings(const Options& options, const MeshMeasures& measures);

/// The whole program: returns the exit status (1 after usage texts and after
/// a completed run, 0 for --help, --version and a completed run with --exit-zero). Throws Error for
/// every other failure; main turns it into a message and status 2.
int runCommandLine(int argc, char** argv);

}  // namespace shapescale
