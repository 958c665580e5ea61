#pragma once
// Writer of float volumes as Analyze 7.5 image pairs.

#include <string>

namespace shapescale {

/// Largest extent per axis that the header's 16-bit dim fields hold.
inline constexpr int ANALYZE_MAX_DIM = 32767;

/// Writes `name`.hdr (348 bytes) and then `name`.img (nx*ny*nz little-endian
/// floats in volume order, no offset), replacing existing files. Both are
/// written under temporary names and renamed into place once both are
/// complete (OutputFile), so a pair is whole or absent.
///
/// @param[in] name       directory and base name, no extension; any length
/// @param[in] data       nx*ny*nz floats, index x + nx*(y + ny*z); not changed
/// @param[in] voxelSize  edge lengths along x, y, z in world units (stored as floats)
/// @param[in] dims       nx, ny, nz
/// @throw Error when a dimension is outside 1..32767, the voxel count exceeds
///        the format's 32-bit range, or a file cannot be created, written or
///        closed, or the run is interrupted (Interrupted); the message names
///        the file and the system's reason, and an earlier pair of that name
///        stays as it was.
void saveAnalyze(const std::string& name, const float* data, const double* voxelSize,
                 const int* dims);

/// Checks that a grid fits the format; the same Error as saveAnalyze.
void checkAnalyzeDims(const int* dims);

}  // namespace shapescale
