#pragma once
// Reader of triangle meshes in the Wavefront OBJ text format.

#include <cstdio>
#include <string>

#include "mesh/ReadReport.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reads an OBJ mesh from an open text stream; the caller opens and closes it.
///
/// Read: "v x y z" (numbers after z, such as w or a vertex colour, are
/// ignored) and "f" with three or more corners in any of the forms v, v/vt,
/// v//vn and v/vt/vn; vertex numbers from 1, negative numbers counting back
/// from the last vertex read so far (-1 is the last). Each polygon becomes a
/// fan around its first corner, with the neighbour entries of its first three
/// corners, as in OFF. '#' starts a comment, a '\' at the end of a line joins
/// the next line, and every other statement (vt, vn, g, o, s, usemtl, mtllib,
/// l, p, ...) is skipped. A positive vertex number may refer to a vertex that
/// comes later in the file.
///
/// @param[in]  in      stream positioned at the start of the file
/// @param[in]  name    used in error messages only
/// @param[out] report  when given: the contents, "8 vertices ('v') and 7 lines ('l')"
/// @return the mesh, vertex normals not yet computed; nVertices and nFaces are
///         the numbers of "v" and "f" statements
/// @throw Error naming the file and line for a vertex with fewer than three
///        coordinates or a coordinate that is not finite in single precision, a
///        face with fewer than three corners, a corner that is not a number, a
///        vertex number 0 or outside the vertices
TriMesh readObjMesh(std::FILE* in, const std::string& name, ReadReport* report = nullptr);

}  // namespace shapescale
