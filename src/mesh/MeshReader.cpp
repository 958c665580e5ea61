#include "mesh/MeshReader.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "mesh/ObjReader.hpp"
#include "mesh/OffReader.hpp"
#include "mesh/PlyReader.hpp"
#include "mesh/StlReader.hpp"

namespace shapescale {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

using Reader = TriMesh (*)(std::FILE*, const std::string&, ReadReport*);

/// The reader for the extension of the file name, in any case; OFF for
/// every other name, so that existing scripts keep their behaviour.
Reader readerFor(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    std::string extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        for (char c : path.substr(dot + 1))
            extension.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    if (extension == "ply") return readPlyMesh;
    if (extension == "stl") return readStlMesh;
    if (extension == "obj") return readObjMesh;
    return loadOffMesh;
}

}  // namespace

TriMesh readMesh(const std::string& path, std::vector<std::string>* warnings) {
    errno = 0;
    InputFile file(std::fopen(path.c_str(), "r"));
    if (!file) throw MeshFileNotFound("cannot open mesh " + path + ": " + systemReason(errno));
    ReadReport report;
    TriMesh mesh = readerFor(path)(file.get(), path, &report);
    if (mesh.vertices.empty()) throw Error(path + ": the mesh has no vertex");
    // A point cloud or a set of lines has nothing to voxelise.
    if (mesh.faces.empty())
        throw Error(path + ": the file has no face: it holds " + report.contents);
    if (warnings != nullptr)
        warnings->insert(warnings->end(), report.warnings.begin(), report.warnings.end());
    return mesh;
}

}  // namespace shapescale
