#pragma once
// What a transform run tells whoever watches it (a progress display, a
// summary file). The transform never depends on what observes it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Grid.hpp"

namespace shapescale {

inline constexpr int HISTOGRAM_BINS = 12;
using Histogram = std::array<std::int64_t, HISTOGRAM_BINS>;

inline constexpr int TENSOR_COMPONENTS = 6;  ///< xx, xy, xz, yy, yz, zz
/// The tensor components by name, as their volume files are named.
inline constexpr std::array<const char*, TENSOR_COMPONENTS> TENSOR_NAMES = {"vxx", "vxy", "vxz",
                                                                            "vyy", "vyz", "vzz"};

/// Wall-clock seconds of the stages of one radius.
struct StageTimes {
    double smoothing = 0;  ///< smoothing and normals
    double voting = 0;
    double filtering = 0;
    double maxima = 0;   ///< normalisation, maxima and histogram
    double writing = 0;  ///< the histogram line and the volumes of the radius
};

/// The run after set-up: the grid fixed by the voxeliser and the radii.
struct RunStart {
    const Grid* grid = nullptr;
    double startRadius = 0;  ///< voxel units
    double radiusStep = 0;   ///< voxel units
    double sigma = 0;        ///< voxel units
    int radiusCount = 0;
    double voxelisingSeconds = 0;
};

/// One completed radius.
struct RadiusDone {
    int index = 0;      ///< from 0
    int count = 0;      ///< radii in the run
    double radius = 0;  ///< voxel units
    const Histogram* histogram = nullptr;
    std::int64_t atLeastOne = 0;  ///< voxels not outside whose APT value is 1 or more (no bin)
    StageTimes times{};
    /// The APT volume of this radius (nx*ny*nz, x fastest); valid during the call only.
    const std::vector<float>* apt = nullptr;
};

/// The final volumes of the run, after they are written; valid during the call only.
struct FinalVolumes {
    const Grid* grid = nullptr;
    const unsigned char* labels = nullptr;  ///< LABEL_OUTSIDE or not, nx*ny*nz
    const float* jmapt = nullptr;           ///< nx*ny*nz
    const float* scale = nullptr;           ///< nx*ny*nz, voxel units
    /// The tensor at the maxima, TENSOR_NAMES order, nx*ny*nz each; null without tensors.
    std::array<const float*, TENSOR_COMPONENTS> bestTensor{};
};

class RunObserver {
  public:
    virtual ~RunObserver() = default;
    virtual void runStarted(const RunStart&) {}
    /// The stages of radius `index` are done; its histogram line and volumes
    /// are written next (a display on the terminal makes room for them).
    virtual void radiusWriting(int index) { (void)index; }
    virtual void radiusDone(const RadiusDone&) {}
    /// A result file is complete under `path`.
    virtual void fileWritten(const std::string& path) { (void)path; }
    /// After the final results are written, before runFinished.
    virtual void finalVolumes(const FinalVolumes&) {}
    /// After the final results are written.
    virtual void runFinished(double writingSeconds) { (void)writingSeconds; }
};

}  // namespace shapescale
