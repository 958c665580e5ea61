#pragma once
// The triangle mesh record that every stage of a run works on.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/Vec3.hpp"

namespace shapescale {

using Triangle = std::array<int, 3>;

/// A list whose elements are shared by every copy of it: copying the list
/// copies a handle, so a change made to an element through one copy is seen
/// through all of them, and the elements live as long as the last copy.
/// Only the loader and computeVertexNormals grow the lists, before the mesh
/// is first copied.
template <class T>
class SharedList {
  public:
    SharedList() : items_(std::make_shared<std::vector<T>>()) {}

    T& operator[](std::size_t i) const { return (*items_)[i]; }
    /// The elements, contiguous; valid until the list grows.
    T* data() const { return items_->data(); }
    std::size_t size() const { return items_->size(); }
    bool empty() const { return items_->empty(); }
    void push_back(const T& value) { items_->push_back(value); }
    void reserve(std::size_t n) { items_->reserve(n); }
    /// Replaces the elements by n copies of `value`, for every copy of the list.
    void assign(std::size_t n, const T& value) { items_->assign(n, value); }
    auto begin() const { return items_->begin(); }
    auto end() const { return items_->end(); }
    /// True when both lists are handles to the same elements.
    bool sharesWith(const SharedList& other) const { return items_ == other.items_; }

  private:
    std::shared_ptr<std::vector<T>> items_;
};

/// The neighbour lists of all vertices in one array: for a polygon whose
/// first three corners are a, b, c (in polygon order), b is listed at a, c at
/// b and a at c; only those three corners of a polygon take part, and a
/// vertex can be listed more than once. The lists never change once made, so
/// every copy shares one array: copying is a handle copy, and giving a mesh
/// new lists leaves its copies' lists as they were.
class NeighbourLists {
  public:
    /// No vertex.
    NeighbourLists() = default;

    /// The lists of triangles (a, b, c), in order.
    /// @param[in] vertexCount  number of lists; every vertex number is below it
    /// @param[in] triangles    vertex numbers from 0, checked by the caller
    static NeighbourLists ofTriangles(std::size_t vertexCount, std::span<const Triangle> triangles);

    /// The lists of polygons split into fans (w0, wk, wk+1): the first
    /// triangle of polygon j, triangles[firstTriangles[j]], holds its first
    /// three corners.
    /// @param[in] firstTriangles  one per polygon, in polygon order
    static NeighbourLists ofFans(std::size_t vertexCount, std::span<const Triangle> triangles,
                                 std::span<const std::size_t> firstTriangles);

    /// The list of `vertex`, in polygon order; valid while a copy of these lists lives.
    std::span<const int> operator[](std::size_t vertex) const {
        const std::size_t* o = arrays_->offsets.data() + vertex;
        return {arrays_->entries.data() + o[0], o[1] - o[0]};
    }
    /// Number of lists (one per vertex).
    std::size_t size() const { return arrays_ ? arrays_->offsets.size() - 1 : 0; }
    /// The list of vertex i is entries()[offsets()[i] .. offsets()[i + 1]).
    std::span<const std::size_t> offsets() const;
    std::span<const int> entries() const;
    /// Bytes of the shared array, held once whatever the number of copies.
    std::size_t bytes() const;
    /// True when both are handles to the same array.
    bool sharesWith(const NeighbourLists& other) const { return arrays_ == other.arrays_; }
    /// The same lists, entry for entry.
    bool operator==(const NeighbourLists& other) const;

  private:
    struct Arrays {
        std::vector<std::size_t> offsets;  // vertex count + 1, from 0
        std::vector<int> entries;
    };
    explicit NeighbourLists(std::shared_ptr<const Arrays> arrays) : arrays_(std::move(arrays)) {}
    template <class FirstCorners>
    static NeighbourLists build(std::size_t vertexCount, std::size_t polygonCount,
                                FirstCorners firstCorners);

    std::shared_ptr<const Arrays> arrays_;
};

/// Triangle mesh as loaded from a mesh file. Copies share the vertex, face
/// and normal triples (see SharedList) and the neighbour lists.
struct TriMesh {
    int nVertices = 0;           ///< vertex count from the counts line
    int nFaces = 0;              ///< face lines read (not triangles)
    SharedList<Vec3f> vertices;  ///< world units, file order
    SharedList<Triangle> faces;  ///< vertex numbers, polygons split into fans
    /// One list per vertex; made by the reader once every polygon is read.
    NeighbourLists vertexNeighbours;
    SharedList<Vec3f> vertexNormals;  ///< unit, area-weighted; empty until computed
    float bboxMin[3] = {0.0f, 0.0f, 0.0f};
    float bboxMax[3] = {0.0f, 0.0f, 0.0f};
};

/// Appends a vertex as every reader does: its coordinates, and the bounding
/// box grown by strict comparisons (the first vertex sets both corners). The
/// neighbour lists are made once all polygons are read (NeighbourLists).
void appendVertex(TriMesh& mesh, const Vec3f& v);

/// Appends one unit normal per vertex to mesh.vertexNormals (expected empty):
/// the area-weighted mean of the normals of the triangles around the vertex,
/// outward for a closed mesh ordered counter-clockwise seen from outside.
/// A vertex of no triangle, or whose contributions cancel, gets (0, 0, 0).
/// Each vertex's sum runs over its triangles in triangle order, whatever the
/// number of threads.
void computeVertexNormals(TriMesh& mesh);

/// Rewrites every entry of mesh.vertexNormals (one per vertex, already there)
/// from the current vertex positions, as computeVertexNormals does.
void refreshVertexNormals(TriMesh& mesh);

/// Signed volume and area sum of the triangles, with the driver's precision:
/// each product of the determinant in single precision, sums in double, in
/// triangle order (the same bits on any number of threads).
struct MeshMeasures {
    float volume = 0.0f;   ///< signed; positive for counter-clockwise faces seen from outside
    double areaSum = 0.0;  ///< sum of |(b - a) x (c - a)|, twice the surface area
    std::int64_t degenerateTriangles = 0;  ///< triangles of area 0 (as areaSum computes it)
};
MeshMeasures measureMesh(const TriMesh& mesh);

/// One pass of Laplacian smoothing with weight 0.5: every vertex moves half
/// way towards the mean of its neighbour list (duplicates counted), all
/// displacements computed from the positions before the pass. A vertex with
/// no neighbour stays. Moves the shared vertex triples in place; the same
/// bits on any number of threads.
void smoothVertices(TriMesh& mesh);

/// smoothVertices with the pass's displacements in caller-owned scratch, so
/// that a loop of passes allocates only once.
/// @param[in,out] displacement  resized to the vertex count; its contents are not used
void smoothVertices(TriMesh& mesh, std::vector<Vec3f>& displacement);

}  // namespace shapescale
