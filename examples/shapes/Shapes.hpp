#pragma once
// Generated polygon meshes (spheres, tori, the demo dumbbell, lumpy spheres)
// and their OFF, PLY, STL and OBJ bytes, for the tests, the benchmarks and the
// generator of the shipped example.

#include <array>
#include <string>
#include <vector>

#include "mesh/TriMesh.hpp"

namespace shapescale::shapes {

/// A polygon mesh: vertices and faces of any size, faces counter-clockwise
/// seen from outside unless a builder says otherwise.
struct PolyMesh {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::vector<int>> faces;
};

/// Icosahedron subdivided `levels` times, projected onto the sphere.
PolyMesh icosphere(int levels, double radius = 1.0, std::array<double, 3> centre = {0, 0, 0});
/// Torus around the z axis: ring radius R, tube radius r, nu x nv quads split in two.
PolyMesh torus(double R, double r, int nu, int nv);
/// A closed surface of revolution around the z axis with thick and thin parts:
/// a large bulb, a thin neck and a smaller bulb, about 2 * rings * segments
/// triangles, 4 units long.
PolyMesh dumbbell(int rings, int segments);
/// A sphere of radius about 1 with smooth bumps and dents (radius 1 +- 0.2),
/// about 2 * rings * segments triangles, for benchmarks: poles and rings of
/// `segments` vertices, like dumbbell().
PolyMesh lumpySphere(int rings, int segments);

/// Every triangle split `times` times into four by the midpoints of its
/// edges: the same surface with 4^times as many triangles, each new vertex
/// made once per edge, in the order the edges are met.
/// @throw std::invalid_argument when a face is not a triangle
PolyMesh subdivided(PolyMesh mesh, int times);

/// OFF text: "OFF", counts, one vertex per line ("%.17g"), one face per line.
std::string toOff(const PolyMesh& mesh);
/// Writes toOff(mesh) to `path`.
void writeOff(const PolyMesh& mesh, const std::string& path);
/// Loads the mesh through the real OFF reader, from memory.
TriMesh loadMesh(const PolyMesh& mesh);
/// Loads OFF text through the real reader, from memory.
TriMesh loadOffText(const std::string& text);

/// How toPly writes a mesh. Types are PLY type names (char, uchar, short,
/// ushort, int, uint, float, double or the sized aliases).
struct PlyStyle {
    enum class Encoding { ascii, binaryLittleEndian, binaryBigEndian };
    Encoding encoding = Encoding::ascii;
    std::string coordinateType = "float";
    std::string countType = "uchar";  ///< of the face lists
    std::string indexType = "int";
    /// Comments, obj_info, a colour, a normal and a texture list per vertex
    /// around x, y, z, a texture list and flags per face, an edge element and
    /// an empty material element: everything a reader must read past.
    bool extras = false;
};
/// PLY bytes of the mesh; coordinates rounded to the coordinate type.
std::string toPly(const PolyMesh& mesh, const PlyStyle& style = {});
/// STL bytes of the mesh, polygons split into fans (w0, wk, wk+1) with facet
/// normals; coordinates rounded to float. The binary header begins with
/// "solid", as many exporters write it.
std::string toStl(const PolyMesh& mesh, bool binary);
/// OBJ text of the mesh with comments, groups, texture coordinates and
/// normals; the faces cycle through the corner forms v, v/vt, v//vn and
/// v/vt/vn, vertex numbers negative (relative) when `relative` is set.
std::string toObj(const PolyMesh& mesh, bool relative);

}  // namespace shapescale::shapes
