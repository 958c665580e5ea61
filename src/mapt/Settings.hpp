#pragma once
// The settings of one transform run, in one record.

#include <cstdint>
#include <string>

namespace shapescale {

/// How the votes of a radius are gathered.
enum class KernelChoice {
    ballSum,              ///< sphereFlt at the radius's width
    ballSumThenGaussian,  ///< sphereFlt, then filter3D at twice the width
    rawGaussian,          ///< filter3DNN at the radius's width
};

/// How the voxels outside the shape are told from the others.
enum class Voxeliser {
    closedMesh,     ///< rasterizeClosedMesh: draw the triangles, flood the outside
    nearestVertex,  ///< mesh2Volume: side of the nearest vertex's normal
};

/// Formats written for every volume besides the Analyze 7.5 pair, which is
/// always written.
struct VolumeFormats {
    bool nifti = false;    ///< also <name>.nii
    bool niftiGz = false;  ///< also <name>.nii.gz
};

/// Files that the caller writes from the run's results into the output
/// directory or beside it, counted by the up-front disk check.
struct ExtraOutputs {
    bool vtkImage = false;  ///< "result.vti": jmapt, scale, labels (and the tensors)
    bool previews = false;  ///< two PNG pictures of mid-slices
    double otherBytes = 0;  ///< the painted mesh, the summary, the centres: bytes at most
};

/// How the caller names the settings where a message tells what to change:
/// the command line's options by default; the Python module gives its keywords.
struct SettingNames {
    const char* resolution = "-r";
    const char* startRadius = "-s";
    const char* radiusStep = "-p";
    const char* sigma = "-g";
    const char* radiusCount = "-n";
    const char* orient = "--orient";  ///< the request to flip a clockwise mesh
};

/// The most worker threads a run accepts, from any front end.
inline constexpr int MAX_THREADS = 1024;

/// Everything a transform run needs besides the mesh. Lengths are in world
/// units; a length of 0 is derived as the transform specifies (h from the
/// bounding box, 1 voxel for the first radius, 3 voxels for the step and the
/// width).
struct TransformSettings {
    double gridResolution = 0.0;  ///< voxel edge length h
    double startRadius = 0.0;     ///< first radius
    int radiusCount = 8;          ///< 0 or less runs no radius
    double radiusStep = 0.0;      ///< step between radii
    double sigma = 0.0;           ///< filter width at the first radius
    KernelChoice kernel = KernelChoice::ballSum;
    Voxeliser voxeliser = Voxeliser::closedMesh;
    bool tensorsOn = false;                    ///< accumulate and write the normal tensors
    bool bothSides = false;                    ///< vote on the outer side of the surface too
    bool blendNormals = true;                  ///< offsets follow the blended vertex normals
    bool evenSampling = false;                 ///< samples spread evenly, in proportion to the area
    std::string outDir = ".";                  ///< created if missing
    std::string occupancyPath = "volume.vol";  ///< the closed-mesh voxeliser's side file
    bool seeded = false;     ///< seed the sampling with `seed` instead of the clock
    std::uint32_t seed = 0;  ///< used when `seeded`
    /// Results only in memory (runTransformKeeping, for the Python module):
    /// no output directory, no result or occupancy file, nothing on the
    /// standard streams. outDir and occupancyPath are then unused.
    bool inMemory = false;
    VolumeFormats formats{};  ///< extra files next to each Analyze pair
    ExtraOutputs extras{};    ///< the caller's files, for the disk check only
    SettingNames names{};     ///< for the hints of the refusals
};

/// The kernel choice of the command line's float: exactly 0 is the ball sum,
/// exactly 2 the ball sum followed by the Gaussian, any other value
/// (NaN included) the raw Gaussian.
KernelChoice kernelChoiceFrom(float value);

}  // namespace shapescale
