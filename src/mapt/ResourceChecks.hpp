#pragma once
// Checks, before anything is allocated or written, that a run fits the
// machine: its volumes in memory and under the address-space limit, its result
// files on the output file system.

#include <string>

#include "mapt/Settings.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Refuses a grid that the Analyze format cannot hold, or whose run would not
/// fit into the machine's memory or under the process's address-space limit
/// (RLIMIT_AS). Counted: the labels, the float volumes (4, or 16 with
/// tensors, and the one or two that the writer holds), the filters'
/// workspace (with two float temporaries unless the ball sum runs alone),
/// the voting's lists and the mesh with its copies.
/// @param[in] mesh       of the run; its vertices, faces and neighbour lists are counted
/// @param[in] dims       nx, ny, nz
/// @param[in] tensorsOn  the run keeps the twelve tensor volumes
/// @param[in] kernel     the filter of the run
/// @param[in] voxeliser  the nearest-vertex voxeliser's tree is counted too
/// @param[in] writesFiles  the run writes result files (through the writer)
/// @param[in] names        how the message names the grid resolution
/// @throw Error for a grid the format cannot hold (checked only when the run
///        writes files); OutOfMemory naming the grid, the bytes it needs (by
///        part) and the limit it exceeds
void checkGridFits(const TriMesh& mesh, const int* dims, bool tensorsOn, KernelChoice kernel,
                   Voxeliser voxeliser, bool writesFiles, const SettingNames& names);

/// Refuses a run whose result files cannot fit on the file system of `outDir`
/// (or of its nearest existing ancestor): without this a huge radius count
/// would write for hours and then fail on a full disk. Counted: every volume
/// pair and the two text files; not the occupancy file, which goes to the
/// working directory. A file system that cannot be asked passes.
/// @param[in] outDir       the output directory, existing or not
/// @param[in] dims         nx, ny, nz
/// @param[in] radiusCount  radii of the run; 0 or less writes only the final results
/// @param[in] tensorsOn    the run writes the tensor volumes too
/// @param[in] names        how the message names the radius count and the resolution
/// @throw Error naming the bytes the run would write and the free space
void checkOutputFits(const std::string& outDir, const int* dims, int radiusCount, bool tensorsOn,
                     const SettingNames& names);

}  // namespace shapescale
