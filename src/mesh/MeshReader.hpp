#pragma once
// Opens a mesh file and reads it with the reader of its format.

#include <string>
#include <vector>

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
/// @param[in]  path      the mesh file
/// @param[out] warnings  when given: the reader's warnings are appended, one
///                       line each (e.g. bytes after a binary STL's triangles)
/// @return the mesh with at least one vertex and one triangle, vertex normals
///         not yet computed
/// @throw MeshFileNotFound when the file cannot be opened ("cannot open mesh
///        <path>: <reason>"); Error for malformed content (file and line), for
///        a mesh without vertices and for a file without faces ("<path>: the
///        file has no face: it holds <contents>")
TriMesh readMesh(const std::string& path, std::vector<std::string>* warnings = nullptr);

}  // namespace shapescale
