#include "mesh/MeshBuilder.hpp"

#include <climits>
#include <new>
#include <utility>

#include "core/Error.hpp"

namespace shapescale::readers {

void appendNeighbours(TriMesh& mesh, int a, int b, int c) {
    mesh.vertexNeighbours[static_cast<std::size_t>(a)].push_back(b);
    mesh.vertexNeighbours[static_cast<std::size_t>(b)].push_back(c);
    mesh.vertexNeighbours[static_cast<std::size_t>(c)].push_back(a);
}

void MeshBuilder::addVertex(const Vec3f& v) {
    if (mesh_.vertices.size() >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " vertices");
    appendVertex(mesh_, v);
}

void MeshBuilder::addPolygon(const int* corners, std::size_t n, std::uint64_t where) {
    if (ends_.size() >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " faces");
    // One by one: for the three corners of a triangle cheaper than a block copy.
    for (std::size_t k = 0; k < n; ++k) corners_.push_back(corners[k]);
    ends_.push_back(corners_.size());
    places_.push_back(where);
}

void MeshBuilder::reservePolygons(std::size_t polygons, std::size_t corners) {
    try {
        corners_.reserve(corners);
        ends_.reserve(polygons);
        places_.reserve(polygons);
    } catch (const std::bad_alloc&) {
        // A hint only: the lists grow with the data actually read.
    }
}

TriMesh MeshBuilder::build() {
    const long long count = static_cast<long long>(mesh_.vertices.size());
    std::size_t begin = 0;
    for (std::size_t j = 0; j < ends_.size(); ++j) {
        for (std::size_t k = begin; k < ends_[j]; ++k) {
            if (corners_[k] >= 0 && corners_[k] < count) continue;
            const std::string where = place_ == Place::line
                                          ? ":" + std::to_string(places_[j]) + ": "
                                          : ": byte " + std::to_string(places_[j]) + ": ";
            throw Error(fileName_ + where + "face " + std::to_string(j) + ": vertex number " +
                        std::to_string(static_cast<long long>(corners_[k]) + firstNumber_) +
                        " is outside " + std::to_string(firstNumber_) + ".." +
                        std::to_string(count - 1 + firstNumber_));
        }
        const int* w = corners_.data() + begin;
        const std::size_t n = ends_[j] - begin;
        appendNeighbours(mesh_, w[0], w[1], w[2]);
        for (std::size_t k = 1; k + 1 < n; ++k) mesh_.faces.push_back({w[0], w[k], w[k + 1]});
        begin = ends_[j];
    }
    mesh_.nVertices = static_cast<int>(count);
    mesh_.nFaces = static_cast<int>(ends_.size());
    return std::move(mesh_);
}

}  // namespace shapescale::readers
