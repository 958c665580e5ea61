#include "mapt/ResultFiles.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/Interrupt.hpp"
#include "io/Analyze.hpp"
#include "io/NIfTI.hpp"

namespace shapescale {

namespace {

void saveVolume(const MaptRun& run, const std::string& name, const std::vector<float>& volume,
                std::vector<std::string>& files) {
    const std::string base = run.outputPath(name);
    saveAnalyze(base, volume.data(), run.grid.voxelSize, run.grid.dims);
    files.push_back(base + ".hdr");
    files.push_back(base + ".img");
    // Only on request: a plain run writes the Analyze pair and nothing else.
    if (run.formats.nifti) {
        saveNifti(base + ".nii", volume.data(), run.grid, NiftiCompression::none, name);
        files.push_back(base + ".nii");
    }
    if (run.formats.niftiGz) {
        saveNifti(base + ".nii.gz", volume.data(), run.grid, NiftiCompression::gzip, name);
        files.push_back(base + ".nii.gz");
    }
}

}  // namespace

void printHistogramLine(const Histogram& histogram) {
    for (std::int64_t count : histogram) std::printf("%" PRId64 " ", count);
    std::printf("\n");
    std::fflush(stdout);
}

void writeHistogramLine(OutputFile& histFile, const Histogram& histogram) {
    for (std::int64_t count : histogram) histFile.print("%" PRId64 " ", count);
    histFile.print("\n");
    // A run that is stopped keeps the lines of the radii it completed.
    histFile.flush();
}

void writeRadiusVolumes(const MaptRun& run, int index, const std::vector<float>& apt,
                        const std::vector<float>* vxx, std::vector<std::string>& files) {
    const std::string suffix = std::to_string(index);
    saveVolume(run, "apt_" + suffix, apt, files);
    if (vxx != nullptr) saveVolume(run, "vxx_" + suffix, *vxx, files);
}

void writeFinalResults(const MaptRun& run, std::vector<std::string>& files) {
    saveVolume(run, "jmapt", run.jmapt, files);
    saveVolume(run, "scale", run.scale, files);

    const double h = run.grid.h();
    OutputFile info(run.outputPath("info.txt"));
    info.print("%f %f\n", run.startRadius * h, run.radiusStep * h);
    info.print("%f %f %f \n", static_cast<double>(run.grid.origin[0]),
               static_cast<double>(run.grid.origin[1]), static_cast<double>(run.grid.origin[2]));
    info.print("%f %f %f \n", run.grid.voxelSize[0], run.grid.voxelSize[1], run.grid.voxelSize[2]);
    info.close();
    files.push_back(info.path());

    if (run.tensorsOn)
        for (std::size_t c = 0; c < TENSOR_NAMES.size(); ++c)
            saveVolume(run, TENSOR_NAMES[c], run.bestTensor[c], files);
}

std::string interruptedText(int signal, int stage, int radiusCount) {
    std::string text = "interrupted by " + signalName(signal);
    if (stage < 0)
        text += " before radius 0 of " + std::to_string(radiusCount);
    else if (stage < radiusCount)
        text += " at radius " + std::to_string(stage) + " of " + std::to_string(radiusCount);
    else
        text += " while writing the final results";
    const int complete = std::max(stage, 0);
    if (complete == 0) return text + "; no radius is complete";
    if (complete == 1) return text + "; the files of radius 0 are complete";
    return text + "; the files of radii 0.." + std::to_string(complete - 1) + " are complete";
}

}  // namespace shapescale
