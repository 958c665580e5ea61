#include "mesh/MeshBuilder.hpp"

#include <climits>
#include <utility>

#include "core/Error.hpp"

namespace shapescale::readers {

void MeshBuilder::addVertex(const Vec3f& v) {
    if (mesh_.vertices.size() >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " vertices");
    appendVertex(mesh_, v);
}

void MeshBuilder::addPolygon(const std::vector<int>& corners, std::uint64_t where) {
    if (ends_.size() >= static_cast<std::size_t>(INT_MAX))
        throw Error(fileName_ + ": more than " + std::to_string(INT_MAX) + " faces");
    corners_.insert(corners_.end(), corners.begin(), corners.end());
    ends_.push_back(corners_.size());
    places_.push_back(where);
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
        for (std::size_t k = 1; k + 1 < n; ++k) mesh_.faces.push_back({w[0], w[k], w[k + 1]});
        begin = ends_[j];
    }
    places_ = {};  // needed for messages only: freed before the lists are made
    mesh_.vertexNeighbours = NeighbourLists::ofPolygons(mesh_.vertices.size(), corners_, ends_);
    mesh_.nVertices = static_cast<int>(count);
    mesh_.nFaces = static_cast<int>(ends_.size());
    return std::move(mesh_);
}

}  // namespace shapescale::readers
