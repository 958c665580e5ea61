#pragma once
// The straightforward surface voting: one triangle after the other, one
// sample after the other, each vote added as it is drawn. The reference that
// the tests and the benchmarks hold the voting of this library's parent
// against; it does the same arithmetic, so the two agree bit for bit when fed
// the same draws.

#include <cstddef>
#include <functional>

#include "mapt/MaptRun.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale::reference {

/// Adds the votes of every triangle at radius r (voxel units) to run.votes
/// and, with tensors, to run.tensor, as voteSurface does.
/// @param[in] draw  the generator: given the triangle's index, the next
///                  integer in 0 .. 2^31 - 1 for that triangle
void voteSurface(MaptRun& run, const TriMesh& mesh, double r,
                 const std::function<int(std::size_t)>& draw);

/// The same, drawing from run.random in triangle and sample order.
void voteSurface(MaptRun& run, const TriMesh& mesh, double r);

}  // namespace shapescale::reference
