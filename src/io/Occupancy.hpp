#pragma once
// The occupancy file "volume.vol" that the closed-mesh voxeliser leaves.

#include <string>

namespace shapescale {

/// Writes the occupancy of a label volume: nx, ny, nz as int32 and h three
/// times as float32 (24 bytes, little-endian whatever the host), then one
/// byte per voxel in volume order, 0 where the label is LABEL_OUTSIDE and 255
/// elsewhere. The run does not depend on this file, so a file that cannot be
/// created or written costs one warning line on standard error
/// ("shapescale: warning: ...") and leaves no partial file (OutputFile writes
/// under a temporary name). An interruption is not a warning: Interrupted
/// goes on to the caller.
/// @param[in] path    file created or replaced
/// @param[in] labels  nx*ny*nz labels, index x + nx*(y + ny*z)
/// @param[in] dims    nx, ny, nz
/// @param[in] h       voxel edge length, world units, as the voxeliser used it
/// @return whether the file was written (false after the warning)
bool writeOccupancy(const std::string& path, const unsigned char* labels, const int* dims, float h);

}  // namespace shapescale
