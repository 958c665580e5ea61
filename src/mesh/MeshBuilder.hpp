#pragma once
// Builds a TriMesh from vertices and polygons exactly as the OFF reader does
// for the same polygons, for the readers of the other formats. Internal.

#include <cstdint>
#include <string>
#include <vector>

#include "mesh/ReaderInput.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale::readers {

/// Collects vertices and polygons as a reader meets them; build() checks the
/// vertex numbers and makes the mesh. Everything grows with the data read,
/// never with a count announced in a file.
class MeshBuilder {
  public:
    /// How build() names the place of a polygon in its messages.
    enum class Place { line, byte };

    /// @param[in] fileName     used in error messages only; must outlive this object
    /// @param[in] firstNumber  the number by which the format calls the first vertex
    MeshBuilder(const std::string& fileName, Place place, int firstNumber = 0)
        : fileName_(fileName), place_(place), firstNumber_(firstNumber) {}

    /// Appends a vertex (world units) and widens the bounding box.
    void addVertex(const Vec3f& v);
    /// Appends a polygon of at least three vertex numbers (from 0, checked
    /// later by build()); `where` is its line or byte offset for messages.
    void addPolygon(const int* corners, std::size_t n, std::uint64_t where);
    void addPolygon(const std::vector<int>& corners, std::uint64_t where) {
        addPolygon(corners.data(), corners.size(), where);
    }
    /// Room for the polygons a file announces, so that the lists of a large
    /// file grow once. A hint: a reader passes counts that the file's size
    /// can hold, and adding more is still allowed.
    void reservePolygons(std::size_t polygons, std::size_t corners);
    std::size_t vertexCount() const { return mesh_.vertices.size(); }
    std::size_t polygonCount() const { return polygons_; }

    /// The mesh: vertices in the order added, each polygon (w0 .. wn-1) split
    /// into the fan (w0, wk, wk+1), neighbour entries w0 -> w1, w1 -> w2 and
    /// w2 -> w0 per polygon, nVertices and nFaces the numbers of vertices and
    /// polygons added.
    /// Called once; the builder is spent afterwards.
    /// @throw Error for a vertex number outside 0 .. vertexCount() - 1
    TriMesh build();

  private:
    // A polygon with a vertex number outside the vertices read so far: checked
    // by build(), when every vertex is known.
    struct Pending {
        std::size_t polygon;
        std::uint64_t where;
        std::vector<int> corners;
    };

    const std::string& fileName_;
    Place place_;
    int firstNumber_;
    TriMesh mesh_;  // the fan triangles are made as the polygons come
    std::size_t polygons_ = 0;
    // The first triangle of each polygon, kept from the first polygon of more
    // than three corners on; while empty, polygon j is triangle j.
    std::vector<std::size_t> firstTriangles_;
    std::vector<Pending> pending_;
};

}  // namespace shapescale::readers
