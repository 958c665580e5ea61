#pragma once
// The triangle mesh record that every stage of a run works on.

#include <array>
#include <cstddef>
#include <memory>
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
    std::size_t size() const { return items_->size(); }
    bool empty() const { return items_->empty(); }
    void push_back(const T& value) { items_->push_back(value); }
    auto begin() const { return items_->begin(); }
    auto end() const { return items_->end(); }
    /// True when both lists are handles to the same elements.
    bool sharesWith(const SharedList& other) const { return items_ == other.items_; }

  private:
    std::shared_ptr<std::vector<T>> items_;
};

/// Triangle mesh as loaded from a mesh file. Copies share the vertex, face
/// and normal triples (see SharedList); the neighbour lists are duplicated.
struct TriMesh {
    int nVertices = 0;           ///< vertex count from the counts line
    int nFaces = 0;              ///< face lines read (not triangles)
    SharedList<Vec3f> vertices;  ///< world units, file order
    SharedList<Triangle> faces;  ///< vertex numbers, polygons split into fans
    /// Per vertex: for a face (a, b, c, ...) b is listed at a, c at b, a at c.
    std::vector<std::vector<int>> vertexNeighbours;
    SharedList<Vec3f> vertexNormals;  ///< unit, area-weighted; empty until computed
    float bboxMin[3] = {0.0f, 0.0f, 0.0f};
    float bboxMax[3] = {0.0f, 0.0f, 0.0f};
};

/// Appends a vertex as every reader does: its coordinates, an empty neighbour
/// list, and the bounding box grown by strict comparisons (the first vertex
/// sets both corners).
void appendVertex(TriMesh& mesh, const Vec3f& v);

/// Appends one unit normal per vertex to mesh.vertexNormals (expected empty):
/// the area-weighted mean of the normals of the triangles around the vertex,
/// outward for a closed mesh ordered counter-clockwise seen from outside.
/// A vertex of no triangle, or whose contributions cancel, gets (0, 0, 0).
void computeVertexNormals(TriMesh& mesh);

/// Rewrites every entry of mesh.vertexNormals (one per vertex, already there)
/// from the current vertex positions, as computeVertexNormals does.
void refreshVertexNormals(TriMesh& mesh);

/// Signed volume and area sum of the triangles, with the driver's precision:
/// each product of the determinant in single precision, sums in double.
struct MeshMeasures {
    float volume = 0.0f;   ///< signed; positive for counter-clockwise faces seen from outside
    double areaSum = 0.0;  ///< sum of |(b - a) x (c - a)|, twice the surface area
};
MeshMeasures measureMesh(const TriMesh& mesh);

/// One pass of Laplacian smoothing with weight 0.5: every vertex moves half
/// way towards the mean of its neighbour list (duplicates counted), all
/// displacements computed from the positions before the pass. A vertex with
/// no neighbour stays. Moves the shared vertex triples in place.
void smoothVertices(TriMesh& mesh);

/// smoothVertices with the pass's displacements in caller-owned scratch, so
/// that a loop of passes allocates only once.
/// @param[in,out] displacement  resized to the vertex count; its contents are not used
void smoothVertices(TriMesh& mesh, std::vector<Vec3f>& displacement);

}  // namespace shapescale
