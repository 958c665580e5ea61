#pragma once
// The voxel grid shared by every volume of a run, and typed views of volumes
// laid out on it.
//
// Layout: one flat array of nx*ny*nz elements, voxel (x, y, z) at index
// x + nx*(y + ny*z). Counts and indices are 64-bit: a grid can exceed 2^31
// voxels.

#include <cstddef>
#include <string>

namespace shapescale {

/// Label of a voxel outside the shape, in the label volume of either
/// voxeliser; the transform tells only this value from the others.
inline constexpr unsigned char LABEL_OUTSIDE = 255;

/// True when some extent is 0 or less: such a grid holds no voxel.
inline bool hasNoVoxel(const int* dims) {
    return dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0;
}

/// nx * ny * nz.
inline std::size_t voxelCount(const int* dims) {
    return static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]) *
           static_cast<std::size_t>(dims[2]);
}

/// x + nx * (y + ny * z).
inline std::size_t voxelIndex(const int* dims, std::size_t x, std::size_t y, std::size_t z) {
    return x + static_cast<std::size_t>(dims[0]) * (y + static_cast<std::size_t>(dims[1]) * z);
}

/// "nx x ny x nz", as messages name a grid.
inline std::string gridText(const int* dims) {
    return std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " +
           std::to_string(dims[2]);
}

/// Extents, placement and voxel size of a run's grid.
struct Grid {
    int dims[3] = {0, 0, 0};          ///< nx, ny, nz
    float origin[3] = {0, 0, 0};      ///< world position of the low corner of voxel (0, 0, 0)
    double voxelSize[3] = {0, 0, 0};  ///< edge lengths along x, y, z, world units

    std::size_t nx() const { return static_cast<std::size_t>(dims[0]); }
    std::size_t ny() const { return static_cast<std::size_t>(dims[1]); }
    std::size_t nz() const { return static_cast<std::size_t>(dims[2]); }
    std::size_t sliceVoxels() const { return nx() * ny(); }
    std::size_t voxels() const { return voxelCount(dims); }
    bool empty() const { return hasNoVoxel(dims); }
    /// Index of voxel (x, y, z).
    std::size_t index(std::size_t x, std::size_t y, std::size_t z) const {
        return voxelIndex(dims, x, y, z);
    }
    /// Voxel edge length h, world units (the same on every axis).
    double h() const { return voxelSize[0]; }
};

/// A volume laid out on a grid, seen through a pointer it does not own.
template <class T>
struct VolumeView {
    T* data = nullptr;
    const Grid* grid = nullptr;

    T& operator[](std::size_t i) const { return data[i]; }
    std::size_t size() const { return grid->voxels(); }
};

}  // namespace shapescale
