#include "mesh/MeshBuilder.hpp"

#include <climits>
#include <new>
#include <utility>

#include "core/Error.hpp"

namespace shapescale::readers {

void MeshBuilder::addVertex(const Vec3f& v) {
    if (mesh_.vertices.size() >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " vertices");
    appendVertex(mesh_, v);
}

void MeshBuilder::addPolygon(const int* corners, std::size_t n, std::uint64_t where) {
    if (polygons_ >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " faces");
    const long long count = static_cast<long long>(mesh_.vertices.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (corners[k] >= 0 && corners[k] < count) continue;
        pending_.push_back({polygons_, where, std::vector<int>(corners, corners + n)});
        break;
    }
    if (n > 3 && firstTriangles_.empty())
        for (std::size_t j = 0; j < polygons_; ++j) firstTriangles_.push_back(j);
    if (!firstTriangles_.empty()) firstTriangles_.push_back(mesh_.faces.size());
    for (std::size_t k = 1; k + 1 < n; ++k)
        mesh_.faces.push_back({corners[0], corners[k], corners[k + 1]});
    ++polygons_;
}

void MeshBuilder::reservePolygons(std::size_t polygons, std::size_t corners) {
    try {
        // A fan of n corners makes n - 2 triangles.
        mesh_.faces.reserve(corners >= 2 * polygons ? corners - 2 * polygons : 0);
    } catch (const std::bad_alloc&) {
        // A hint only: the lists grow with the data actually read.
    }
}

TriMesh MeshBuilder::build() {
    // A vertex number valid when its polygon came stays valid: the first
    // polygon with a number outside the vertices is a pending one.
    const long long count = static_cast<long long>(mesh_.vertices.size());
    for (const Pending& p : pending_) {
        for (int c : p.corners) {
            if (c >= 0 && c < count) continue;
            const std::string where = place_ == Place::line
                                          ? ":" + std::to_string(p.where) + ": "
                                          : ": byte " + std::to_string(p.where) + ": ";
            throw Error(
                fileName_ + where + "face " + std::to_string(p.polygon) + ": vertex number " +
                std::to_string(static_cast<long long>(c) + firstNumber_) + " is outside " +
                std::to_string(firstNumber_) + ".." + std::to_string(count - 1 + firstNumber_));
        }
    }
    const std::span<const Triangle> faces(mesh_.faces.data(), mesh_.faces.size());
    mesh_.vertexNeighbours =
        firstTriangles_.empty()
            ? NeighbourLists::ofTriangles(mesh_.vertices.size(), faces)
            : NeighbourLists::ofFans(mesh_.vertices.size(), faces, firstTriangles_);
    mesh_.nVertices = static_cast<int>(count);
    mesh_.nFaces = static_cast<int>(polygons_);
    return std::move(mesh_);
}

}  // namespace shapescale::readers
