#pragma once
// Reader of triangle meshes in the OFF text format.

#include <cstdio>
#include <string>

#include "mesh/ReadReport.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reads an OFF mesh from an open text stream; the caller opens and closes it.
///
/// Accepted: the header keyword OFF with or without prefixes (COFF, NOFF,
/// STOFF, ...; their vertex lines are read one per line, first three numbers),
/// counts on the header line itself ("OFF1046 900 0") or on a later line,
/// '#' comments and blank lines anywhere, Windows line ends, polygons of any
/// size (split into fans around their first vertex). In a plain OFF file a
/// vertex may span lines. 4OFF (also C4OFF, N4OFF, ...) gives four numbers
/// x y z w per vertex; the vertex is (x/w, y/w, z/w), each quotient of the
/// floats correctly rounded, and a weight of 0 is refused. A face's vertex
/// numbers may span lines; what follows the last of them on its line (a
/// colour) is skipped. A file without the keyword, whose first line of content
/// holds three integers, starts with its counts (read only when no line of
/// the file holds the keyword, by a second pass: the stream must seek).
///
/// Prints "errore <j> <n> \n" on standard output for each face j (from 0)
/// with fewer than three vertices n, skips the rest of its line and goes on.
///
/// @param[in]  in        stream positioned at the start of the file
/// @param[in]  fileName  used in error messages only
/// @param[out] report    when given: the contents, "<n> vertices and <m> faces"
/// @return the mesh, vertex normals not yet computed; nFaces counts the faces
///         of fewer than three vertices too
/// @throw Error for malformed content, with file name and line number
TriMesh loadOffMesh(std::FILE* in, const std::string& fileName, ReadReport* report = nullptr);

}  // namespace shapescale
