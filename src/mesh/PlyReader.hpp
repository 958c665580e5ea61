#pragma once
// Reader of triangle meshes in the PLY format (Stanford polygon files).

#include <cstdio>
#include <string>

#include "mesh/ReadReport.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reads a PLY mesh from an open stream; the caller opens and closes it.
///
/// Accepted: the encodings ascii, binary_little_endian and binary_big_endian;
/// any elements and properties in the header, of the types char, uchar,
/// short, ushort, int, uint, float, double and their sized aliases (int8 ..
/// uint32, float32, float64). The element "vertex" gives the vertices from its
/// properties x, y, z (any numeric type; text is rounded to float as the OFF
/// reader rounds it, binary doubles are rounded to float); the element "face"
/// gives the polygons from its list property "vertex_indices" (or
/// "vertex_index"), list counts and indices of any integer type. The element
/// "tristrips" gives triangle strips from the same list: -1 ends a strip,
/// every second triangle of a strip has its first two corners swapped (the
/// strip's orientation), and a triangle that repeats a vertex is left out.
/// Every other property and element (normals, colours, edges, materials) is
/// read past. Each polygon becomes a fan around its first vertex, as in OFF.
///
/// @param[in]  in      stream positioned at the start of the file
/// @param[in]  name    used in error messages only
/// @param[out] report  when given: the contents, "8 vertex and 12 edge elements"
/// @return the mesh, vertex normals not yet computed; nVertices is the number
///         of vertex elements, nFaces that of faces and strip triangles
/// @throw Error for a malformed header or data, a face of fewer than three
///        vertices, a vertex number outside the vertices, a coordinate that is
///        not finite in single precision, counts that the file is too short
///        for; the message names the file and the line (ascii, header) or the
///        byte offset (binary data)
TriMesh readPlyMesh(std::FILE* in, const std::string& name, ReadReport* report = nullptr);

}  // namespace shapescale
