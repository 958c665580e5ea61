#pragma once
// Writer of float volumes as single-file NIfTI-1 images, placed in the
// coordinates of the mesh.

#include <string>

#include "core/Grid.hpp"

namespace shapescale {

enum class NiftiCompression {
    none,  ///< plain .nii
    gzip,  ///< .nii.gz, gzip format
};

/// Byte offset of the voxel data in a single-file NIfTI-1 image: the 348-byte
/// header and the 4-byte extension flag (no extension).
inline constexpr int NIFTI_VOX_OFFSET = 352;

/// Writes one volume as a NIfTI-1 single file (magic "n+1"): float32 data in
/// volume order after a 352-byte prefix, little-endian. qform and sform both
/// map voxel (i, j, k) to the world point origin + h * (i + 1/2, j + 1/2, k + 1/2):
/// NIfTI places voxel centres, the grid's origin is the low corner of voxel 0.
/// Both codes are 1 (scanner anatomical: the mesh's own coordinates); the
/// spatial unit is "unknown" because a mesh does not say its unit.
///
/// @param[in] path         the file to write, extension included; any length
/// @param[in] data         nx*ny*nz floats, index x + nx*(y + ny*z); not changed
/// @param[in] grid         dims, origin (world units) and voxel size h (world units)
/// @param[in] compression  none or gzip
/// @param[in] description  stored in the header's descrip field (at most 79 bytes kept)
/// @throw Error when a dimension is outside 1..32767 or the file cannot be
///        created, written or closed; the message names the file, and no
///        partial file is left under `path`.
void saveNifti(const std::string& path, const float* data, const Grid& grid,
               NiftiCompression compression, const std::string& description);

}  // namespace shapescale
