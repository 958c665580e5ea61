#pragma once
// The working state of one transform run, shared by its stages.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Grid.hpp"
#include "core/Vec3.hpp"
#include "filters/FilterWorkspace.hpp"
#include "io/OutputFile.hpp"
#include "mapt/RunObserver.hpp"
#include "mapt/SampleRandom.hpp"
#include "mapt/Settings.hpp"
#include "mapt/VotingBuffers.hpp"

namespace shapescale {

struct MaptRun {
    Grid grid;               ///< set by the voxeliser; voxel size h on every axis
    double startRadius = 0;  ///< voxel units
    double radiusStep = 0;   ///< voxel units
    double sigma = 0;        ///< filter width at the first radius, voxel units
    double radius = 0;       ///< current radius, voxel units
    int radiusIndex = 0;

    KernelChoice kernel = KernelChoice::ballSum;
    bool tensorsOn = false;
    bool bothSides = false;
    bool blendNormals = true;
    bool evenSampling = false;  ///< sampleCountOf and the weights of SampleWeights.hpp
    std::string outDir;
    VolumeFormats formats;            ///< extra files next to each Analyze pair
    RunObserver* observer = nullptr;  ///< told of every file written; may be null

    std::vector<unsigned char> labels;  ///< LABEL_OUTSIDE or not
    std::vector<float> votes;
    std::vector<float> apt;
    std::vector<float> jmapt;
    std::vector<float> scale;  ///< voxel units
    std::array<std::vector<float>, TENSOR_COMPONENTS> tensor;
    std::array<std::vector<float>, TENSOR_COMPONENTS> bestTensor;
    /// The APT volume and the xx tensor of the radius whose files are being
    /// written while the next radius is computed (empty for a run without files).
    std::vector<float> aptWriting, vxxWriting;
    Histogram histogram{};
    std::int64_t atLeastOne = 0;  ///< counted voxels whose APT value is 1 or more
    std::unique_ptr<OutputFile> histFile;
    /// Scratch of the per-radius filters, kept from radius to radius: it grows
    /// during the first radii and then no radius allocates.
    FilterWorkspace filterWorkspace;
    SampleRandom random;                  ///< the sampling's generator, seeded once per run
    std::vector<Vec3f> smoothingScratch;  ///< the displacements of one smoothing pass
    VotingBuffers votingBuffers;

    std::size_t voxels() const { return grid.voxels(); }
    std::string outputPath(const std::string& name) const { return outDir + "/" + name; }
    /// Every float volume of the run, allocated and cleared (four, or sixteen with tensors).
    void allocateVolumes();
};

}  // namespace shapescale
