#pragma once
// Turns a closed mesh whose faces are ordered clockwise seen from outside so
// that they are counter-clockwise, as the voxelisers and normals expect.

#include <string>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reverses every triangle of a closed, consistently oriented mesh whose
/// signed volume (measureMesh) is negative; leaves every other mesh as it is.
///
/// Each triangle (a, b, c) becomes (c, b, a), in place and in the same list
/// order, and the neighbour lists are rebuilt from the reversed triangles as
/// the loader builds them (c -> b, b -> a, a -> c per triangle, in face order).
/// For a triangle mesh the result is the mesh that the same file gives with
/// every face line written backwards ("3 a b c" as "3 c b a"), bit for bit.
/// A polygon was split into a fan (w0, wk, wk+1) by the loader, and its
/// neighbour entries came from w0, w1, w2 only. Reversing the fan triangles
/// keeps that split, so the surface, its volume and its voxels stay exactly
/// those of the loaded file; a polygon reversed as a whole would be split
/// around another corner, a different surface when it is not planar. The
/// neighbour lists then hold the entries of every fan triangle: the result is
/// that of the file triangulated into fans and written backwards. nFaces is
/// kept. Vertex normals, when already computed, are computed again.
///
/// @param[in,out] mesh  the faces are shared with every copy (SharedList), so
///                      copies see the new order; the new neighbour lists are
///                      this mesh's, its copies keep the lists they had
/// @return true when the faces were reversed
bool orientOutward(TriMesh& mesh);

/// Why orientOutward left a mesh of negative volume as it was: one line
/// without a newline, "<request>: the mesh has a negative volume (V) but is
/// open (B boundary edges) or not consistently oriented (M edges), ...".
/// @param[in] mesh     the mesh left as it was
/// @param[in] request  how the caller names the request to orient, e.g. "--orient"
std::string unorientedText(const TriMesh& mesh, const char* request);

}  // namespace shapescale
