#pragma once
// The working state of one transform run, shared by its stages.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/TriMesh.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

inline constexpr int HISTOGRAM_BINS = 12;
inline constexpr int TENSOR_COMPONENTS = 6;  ///< xx, xy, xz, yy, yz, zz

struct MaptRun {
    double voxelSize[3] = {0, 0, 0};  ///< h per axis, world units
    int dims[3] = {0, 0, 0};
    float origin[3] = {0, 0, 0};  ///< low corner of voxel (0, 0, 0), world units
    double startRadius = 0;       ///< voxel units
    double radiusStep = 0;        ///< voxel units
    double sigma = 0;             ///< filter width at the first radius, voxel units
    double radius = 0;            ///< current radius, voxel units
    int radiusIndex = 0;

    float kernelChoice = 0;
    bool tensorsOn = false;
    bool bothSides = false;
    bool blendNormals = true;
    std::string outDir;

    std::vector<unsigned char> labels;  ///< 255 = outside
    std::vector<float> votes;
    std::vector<float> apt;
    std::vector<float> jmapt;
    std::vector<float> scale;  ///< voxel units
    std::array<std::vector<float>, TENSOR_COMPONENTS> tensor;
    std::array<std::vector<float>, TENSOR_COMPONENTS> bestTensor;
    std::array<std::int64_t, HISTOGRAM_BINS> histogram{};
    std::unique_ptr<OutputFile> histFile;

    std::size_t voxels() const { return votes.size(); }
    std::string outputPath(const std::string& name) const { return outDir + "/" + name; }
};

/// One pass of Laplacian smoothing with weight 0.5 over all vertices.
void smoothVertices(TriMesh& mesh);

/// Adds the votes of every triangle at radius r (voxel units) to run.votes
/// and, with tensors, to run.tensor. Draws from std::rand.
void voteSurface(MaptRun& run, const TriMesh& mesh, double r);

/// Filters run.votes into run.apt with the filter of run.kernelChoice at the
/// width of radius r; box-filters the tensors in place.
void filterVotes(MaptRun& run, double r);

/// Normalises run.apt by the sphere area at radius r, raises jmapt and scale,
/// copies tensors at raised maxima and counts the histogram.
void updateMaxima(MaptRun& run, double r);

/// Bin of an APT value: b with b/12 <= a < (b + 1)/12 (bounds in single
/// precision), or -1 for values below 0, from 1 on, and NaN.
int histogramBin(float a);

/// The histogram line on standard output and in "hist.txt" (flushed).
void writeHistogramLine(MaptRun& run);
/// "apt_<k>" and, with tensors, "vxx_<k>" for k = run.radiusIndex.
void writeRadiusVolumes(const MaptRun& run);
/// "jmapt", "scale", "info.txt" and, with tensors, the six best-tensor volumes.
void writeFinalResults(const MaptRun& run);

}  // namespace shapescale
