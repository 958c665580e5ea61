#pragma once
// The meshes only the tests build: cubes and boxes, a capped cylinder, an open
// hemisphere, and reversed and merged copies of any mesh.

#include <array>

#include "shapes/Shapes.hpp"

namespace shapescale::shapes {

/// The unit cube [0, 1]^3 as 12 triangles.
PolyMesh unitCube();
/// The axis-aligned box [lo, hi] as 12 triangles.
PolyMesh box(const std::array<double, 3>& lo, const std::array<double, 3>& hi);
/// The unit cube as 6 quadrilaterals.
PolyMesh quadCube();
/// Capped cylinder around the z axis from z = -length/2 to length/2: `rings`
/// bands of `segments` quads split in two, each cap a fan around its centre.
PolyMesh cylinder(double radius, double length, int segments, int rings);
/// The same surface with every face reversed (clockwise seen from outside).
PolyMesh flipped(PolyMesh mesh);
/// Both meshes in one, b's vertex numbers shifted.
PolyMesh merged(const PolyMesh& a, const PolyMesh& b);
/// Upper half of an icosphere (vertices with z >= 0 and the faces among them): an open surface.
PolyMesh hemisphere(int levels, double radius = 1.0);

}  // namespace shapescale::shapes
