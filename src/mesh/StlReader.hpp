#pragma once
// Reader of triangle meshes in the STL format (ASCII and binary).

#include <cstdio>
#include <string>

#include "mesh/ReadReport.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reads an STL mesh from an open stream; the caller opens and closes it.
///
/// Binary or ASCII: a file whose size is 84 + 50 n bytes, n the triangle
/// count at byte 80, is binary even when its 80-byte header begins with
/// "solid" (as many exporters write); otherwise a file that begins with
/// "solid" and has no control character but blanks in its first 84 bytes is
/// ASCII (keywords in any case, several solids one after another).
/// When the stream cannot tell its size, "solid" decides. A binary file
/// with fewer bytes after its last triangle than a triangle takes (a newline,
/// padding) is read, with a warning in the report.
///
/// STL stores each triangle's corners as coordinates, so corners at the same
/// position are merged into one vertex: positions are compared after the
/// conversion to float, bit for bit, except that -0 and +0 are the same
/// position (a vertex shared by two triangles must stay one vertex when an
/// exporter writes its zero with different signs; the vertex keeps the value
/// of its first appearance). Vertices are numbered in order of first
/// appearance; each triangle gives one face (a, b, c) and the neighbour
/// entries a -> b, b -> c, c -> a. An ASCII facet with more than three
/// vertices is a polygon, split into a fan like an OFF face. Facet normals
/// are not read: the mesh's normals come from the corner order.
///
/// @param[in]  in      stream positioned at the start of the file
/// @param[in]  name    used in error messages only
/// @param[out] report  when given: the contents ("12 triangles", "12 facets")
///                     and the warning about bytes after the last triangle
/// @return the mesh, vertex normals not yet computed; nVertices is the number
///         of merged vertices, nFaces the number of facets
/// @throw Error for a malformed or truncated file, a facet of fewer than three
///        vertices, a coordinate that is not finite in single precision; the
///        message names the file and the line (ASCII) or byte offset (binary)
TriMesh readStlMesh(std::FILE* in, const std::string& name, ReadReport* report = nullptr);

}  // namespace shapescale
