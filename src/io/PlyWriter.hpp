#pragma once
// A triangle mesh painted with a scalar per vertex, as a PLY file that mesh
// viewers (MeshLab, ParaView, Blender) open: each vertex carries its position,
// two scalars and the colour of the first one.

#include <array>
#include <string>
#include <vector>

#include "core/Vec3.hpp"

namespace shapescale {

enum class PlyEncoding { ascii, binaryLittleEndian };

using RGB8 = std::array<unsigned char, 3>;

/// Colour of t on a perceptual, colour-blind safe map running from dark
/// violet (t = 0) through blue and green to yellow (t = 1), the look of
/// viridis. t is clamped to [0, 1]; a NaN gets the colour of 0.
RGB8 perceptualColour(double t);

/// One painted mesh. The caller owns every list; the writer only reads them.
struct PaintedMesh {
    const std::vector<Vec3f>* positions = nullptr;           ///< world units
    const std::vector<std::array<int, 3>>* faces = nullptr;  ///< vertex numbers
    const std::vector<float>* scale = nullptr;               ///< one per vertex, the painted value
    const std::vector<float>* jmapt = nullptr;               ///< one per vertex
    float colourLow = 0.0f;   ///< scale shown with the colour of t = 0
    float colourHigh = 1.0f;  ///< scale shown with the colour of t = 1
};

/// Writes `mesh` to `path` (created or replaced; whole or absent): element
/// vertex with float x, y, z, scale, jmapt and uchar red, green, blue (the
/// colour of (scale - colourLow) / (colourHigh - colourLow)); element face
/// with a list of uchar count and int vertex numbers.
/// @throw Error when the lists disagree in length, a face names a vertex that
///        does not exist, or the file cannot be written (path and reason)
void writePaintedPly(const std::string& path, const PaintedMesh& mesh, PlyEncoding encoding);

}  // namespace shapescale
