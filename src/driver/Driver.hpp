#pragma once
// The run driver: options, mesh, derived defaults, the transform, timing.

#include "driver/Options.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Exit statuses that the driver decides; failures end with EXIT_RUN_FAILED
/// (2, core/Error.hpp) through main.
inline constexpr int EXIT_OK = 0;  ///< --help, --version, or a completed run with --exit-zero
inline constexpr int EXIT_COMPLETED = 1;  ///< a completed run, as the tool always ended
inline constexpr int EXIT_USAGE = 1;      ///< a usage text

/// The settings after defaults, as the summary line shows them.
struct RunSettings {
    float volume = 0.0f;     ///< signed volume V
    float baseScale = 0.0f;  ///< length unit of the defaults
    float gridResolution = 0.0f;
    float startRadius = 0.0f;
    float radiusStep = 0.0f;
    float sigma = 0.0f;
    int radiusCount = 0;
};

/// Base scale and defaults from the mesh: closed meshes use the radius of the
/// sphere of equal volume over 25, others the radius of the sphere of equal
/// area over 40. Settings equal to 0 are replaced (a NaN is not).
RunSettings deriveSettings(const Options& options, const MeshMeasures& measures);

/// The whole program: returns the exit status (1 after usage texts and after
/// a completed run, 0 for --help, --version and a completed run with --exit-zero). Throws Error for
/// every other failure; main turns it into a message and status 2.
int runCommandLine(int argc, char** argv);

}  // namespace shapescale
