#pragma once
// The warnings a user needs about a loaded mesh before the run.

#include <string>
#include <vector>

#include "driver/Options.hpp"
#include "mesh/MeshStats.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// One sentence per problem the transform may suffer from (empty when none):
/// an open mesh in the closed-mesh mode, non-manifold edges, triangles whose
/// orientations disagree.
std::vector<std::string> meshWarnings(const MeshStats& stats, bool closedMeshMode);

/// One sentence per problem of the mesh's geometry for a grid of edge `h`
/// (world units): most triangles degenerate; coordinates so far from the
/// origin against the voxel that single precision keeps fewer than 12 bits
/// of a voxel's position.
std::vector<std::string> geometryWarnings(const TriMesh& mesh, const MeshMeasures& measures,
                                          double h);

/// Refuses a closed mesh that encloses no volume (a two-sided sheet, a mesh of
/// degenerate faces) when a length of the run is to be derived from that
/// volume: every length would be meaningless.
/// @throw Error naming the volume and the options that avoid the derivation
void checkVolumeForDerivedLengths(const TriMesh& mesh, const MeshMeasures& measures,
                                  const Options& options);

}  // namespace shapescale
