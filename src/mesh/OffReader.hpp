#pragma once
// Reader of triangle meshes in the OFF text format.

#include <cstdio>
#include <string>

#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Reads an OFF mesh from an open text stream; the caller opens and closes it.
///
/// Accepted: the header keyword OFF with or without prefixes (COFF, NOFF,
/// STOFF, ...; their vertex lines are read one per line, first three numbers),
/// counts on the header line itself ("OFF1046 900 0") or on a later line,
/// '#' comments and blank lines anywhere, Windows line ends, polygons of any
/// size (split into fans around their first vertex). In a plain OFF file a
/// vertex may span lines.
///
/// Prints "errore <j> <n> \n" on standard output for each face line j (from 0)
/// with fewer than three vertices n and goes on.
///
/// @param[in] in        stream positioned at the start of the file
/// @param[in] fileName  used in error messages only
/// @return the mesh, vertex normals not yet computed
/// @throw Error for malformed content, with file name and line number
TriMesh loadOffMesh(std::FILE* in, const std::string& fileName);

}  // namespace shapescale
