#include "mesh/MeshReader.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "mesh/OffReader.hpp"

namespace shapescale {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

TriMesh readMesh(const std::string& path) {
    errno = 0;
    InputFile file(std::fopen(path.c_str(), "r"));
    if (!file) throw MeshFileNotFound("cannot open mesh " + path + ": " + systemReason(errno));
    TriMesh mesh = loadOffMesh(file.get(), path);
    if (mesh.vertices.empty()) throw Error(path + ": the mesh has no vertex");
    return mesh;
}

}  // namespace shapescale
