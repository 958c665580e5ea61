#pragma once
// VTK XML files, which ParaView and VTK open with their own readers, names
// and values of every array kept: ImageData (.vti) for the volumes of a run,
// PolyData (.vtp) for a painted mesh. Every array is appended raw,
// little-endian, after a 64-bit byte count, so an array beyond 4 GiB fits.

#include <array>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"

namespace shapescale {

/// One point array: a value per point (per voxel in volume order, or per
/// vertex), Float32 or UInt8. The caller owns the values.
struct VtkPointArray {
    /// Floats are written as float(double(value) * factor), converted block by
    /// block: 1 writes them as they are, h turns voxel units into world units.
    VtkPointArray(std::string arrayName, std::span<const float> values, double valueFactor = 1.0)
        : name(std::move(arrayName)), floats(values), factor(valueFactor) {}
    VtkPointArray(std::string arrayName, std::span<const unsigned char> values)
        : name(std::move(arrayName)), bytes(values), isBytes(true) {}

    std::size_t size() const { return isBytes ? bytes.size() : floats.size(); }

    std::string name;
    std::span<const float> floats;
    std::span<const unsigned char> bytes;
    double factor = 1.0;
    bool isBytes = false;
};

/// Writes volumes on `grid` as VTK XML ImageData: WholeExtent and Extent
/// 0..nx-1, 0..ny-1, 0..nz-1, Origin at the centre of voxel 0 (grid.origin +
/// h/2: VTK places a value at a point), Spacing h on every axis, the arrays as
/// point data, the first one the active scalars.
/// @param[in] path    created or replaced, whole or absent
/// @param[in] grid    dims, origin (world units, low corner of voxel 0), h (world units)
/// @param[in] arrays  each nx*ny*nz values, index x + nx*(y + ny*z) (VTK's own order)
/// @throw Error when an array's length differs from the grid's voxel count, or
///        the file cannot be written (path and reason); Interrupted by a signal
void writeVtkImageData(const std::string& path, const Grid& grid,
                       const std::vector<VtkPointArray>& arrays);

/// Writes a triangle mesh as VTK XML PolyData: the positions as Points
/// (Float32, world units), the triangles as Polys (Int32 connectivity, Int64
/// end offsets 3, 6, 9, ...), the arrays as point data, the first one the
/// active scalars.
/// @param[in] path       created or replaced, whole or absent
/// @param[in] points     world units
/// @param[in] triangles  vertex numbers into `points`
/// @param[in] arrays     each one value per point
/// @throw Error when an array's length differs from the point count, a
///        triangle names a vertex that does not exist, or the file cannot be
///        written (path and reason)
void writeVtkPolyData(const std::string& path, std::span<const Vec3f> points,
                      std::span<const std::array<int, 3>> triangles,
                      const std::vector<VtkPointArray>& arrays);

}  // namespace shapescale
