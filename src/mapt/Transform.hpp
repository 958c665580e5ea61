#pragma once
// The multi-scale APT transform of a triangle mesh.

#include <array>
#include <cstdint>
#include <vector>

#include "core/Grid.hpp"
#include "mapt/RunObserver.hpp"
#include "mapt/Settings.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// Everything a run computed, kept in memory. Volumes are nx*ny*nz on `grid`,
/// index x + nx*(y + ny*z).
struct TransformResult {
    Grid grid;               ///< as the voxeliser fixed it; h on every axis
    double startRadius = 0;  ///< voxel units, after the defaults
    double radiusStep = 0;   ///< voxel units, after the defaults
    double sigma = 0;        ///< filter width at the first radius, voxel units
    KernelChoice kernel = KernelChoice::ballSum;
    std::vector<double> radii;          ///< voxel units, as the run formed them (repeated addition)
    std::vector<Histogram> histograms;  ///< one per radius
    std::vector<std::int64_t> atLeastOne;  ///< per radius, voxels not outside with APT >= 1
    std::vector<unsigned char> labels;     ///< LABEL_OUTSIDE or not
    std::vector<float> jmapt;
    std::vector<float> scale;  ///< radius of the maximum, voxel units
    /// xx, xy, xz, yy, yz, zz at the maxima; empty without tensors.
    std::array<std::vector<float>, 6> bestTensor;
};

/// runTransform, keeping every final volume; with settings.inMemory nothing
/// is written and nothing printed.
/// @throw Error as runTransform; whatever the observer throws passes through
TransformResult runTransformKeeping(TriMesh mesh, const TransformSettings& settings,
                                    RunObserver* observer = nullptr);

/// The transform with its settings in one record; see computeMAPTfromTrimesh
/// for what it computes and writes.
/// @param mesh      by value: the copy shares the vertex triples, so smoothing
///                  moves the caller's vertices too; vertexNormals must hold
///                  one entry per vertex
/// @param settings  lengths in world units, 0 derived
/// @param observer  told of the set-up, each radius and the end; may be null
/// @return the jmapt volume (nx*ny*nz floats)
/// @throw Error as computeMAPTfromTrimesh
std::vector<float> runTransform(TriMesh mesh, const TransformSettings& settings,
                                RunObserver* observer = nullptr);

/// Refuses, without any output, a run that runTransform would refuse before
/// its first line: settings, grid layout, memory and disk estimates.
/// @param mesh      as runTransform; only its bounding box and sizes are read
/// @param settings  as runTransform
/// @throw Error as runTransform's set-up
void checkTransform(const TriMesh& mesh, const TransformSettings& settings);

/// Computes, for the radii r_k = start + k * step (k < radiusCount), the APT
/// volume of the mesh surface and keeps per voxel the largest value ("jmapt")
/// and the radius where it was reached ("scale"); writes every result into
/// `outDir` (created if missing): "hist.txt", "apt_<k>", "jmapt", "scale",
/// "info.txt" and, with tensors, "vxx_<k>" and the six tensor volumes. The
/// closed-mesh voxeliser also writes "volume.vol" into the working directory.
///
/// @param mesh          by value: the copy shares the vertex triples, so the
///                      smoothing before every radius after the first moves
///                      the caller's vertices too; vertexNormals must hold one
///                      entry per vertex
/// @param h             grid resolution, world units; 0 derives it from the bounding box
/// @param startRadius   world units; 0 means 1 voxel
/// @param radiusCount   0 or less runs no radius
/// @param radiusStep    world units; 0 means 3 voxels
/// @param sigma         filter width at the first radius, world units; 0 means 3 voxels
/// @param kernelChoice  0: ball sum; 2: ball sum then normalised Gaussian; else raw Gaussian
///                      (see kernelChoiceFrom)
/// @param closedMesh    nonzero: rasterise and flood; zero: nearest-vertex labels
/// @param tensorsOn     nonzero: accumulate and write the normal tensors
/// @param bothSides     nonzero: vote on the outer side too
/// @param outDir        output directory; nullptr means "."
/// @param blendNormals  nonzero: offsets follow the blended vertex normals
/// @return the jmapt volume (nx*ny*nz floats)
/// The twelve positional parameters are the specified entry point; they are
/// turned into a TransformSettings record once and handed to runTransform.
/// @throw Error for invalid settings (before any output is created), a grid
///        too large for the format or the memory, and any output that cannot
///        be written
std::vector<float> computeMAPTfromTrimesh(TriMesh mesh, double h, double startRadius,
                                          int radiusCount, double radiusStep, double sigma,
                                          float kernelChoice, int closedMesh, int tensorsOn,
                                          int bothSides, const char* outDir, int blendNormals);

}  // namespace shapescale
