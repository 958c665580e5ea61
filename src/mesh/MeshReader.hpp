#pragma once
// Opens a mesh file and reads it with the reader of its format.

#include <string>

#include "core/Error.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// The mesh file could not be opened; the driver reports this case with its
/// own line on standard output before the error line.
class MeshFileNotFound : public Error {
  public:
    using Error::Error;
};

/// Reads the mesh at `path`. The reader is chosen by the file's extension, in
/// any case: ".ply" readPlyMesh, ".stl" readStlMesh, ".obj" readObjMesh; OFF is
/// the reference format and the one read for any other extension.
/// @return the mesh with at least one vertex, vertex normals not yet computed
/// @throw MeshFileNotFound when the file cannot be opened ("cannot open mesh
///        <path>: <reason>"); Error for malformed content (file and line) and
///        for a mesh without vertices
TriMesh readMesh(const std::string& path);

}  // namespace shapescale
