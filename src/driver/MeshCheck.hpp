#pragma once
// The warnings a user needs about a loaded mesh before the run.

#include <string>
#include <vector>

#include "mesh/MeshStats.hpp"

namespace shapescale {

/// One sentence per problem the transform may suffer from (empty when none):
/// an open mesh in the closed-mesh mode, non-manifold edges, triangles whose
/// orientations disagree.
std::vector<std::string> meshWarnings(const MeshStats& stats, bool closedMeshMode);

}  // namespace shapescale
