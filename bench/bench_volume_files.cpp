// The volume writers side by side on one 128^3 volume of smooth values with a
// zero background, as an APT volume looks: the Analyze pair every run writes,
// and what --nifti, --nifti-gz and --preview add per volume.

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Grid.hpp"
#include "io/Analyze.hpp"
#include "io/NIfTI.hpp"
#include "io/PngPreview.hpp"

namespace {

using namespace shapescale;

struct Volume {
    Grid grid;
    std::vector<float> values;
    std::vector<unsigned char> labels;
};

const Volume& volume() {
    static const Volume v = [] {
        Volume made;
        for (int& d : made.grid.dims) d = 128;
        for (double& h : made.grid.voxelSize) h = 0.01;
        made.values.resize(made.grid.voxels());
        made.labels.resize(made.grid.voxels());
        for (std::size_t z = 0; z < 128; ++z)
            for (std::size_t y = 0; y < 128; ++y)
                for (std::size_t x = 0; x < 128; ++x) {
                    const double r = std::hypot(x - 64.0, y - 64.0, z - 64.0) / 50.0;
                    const std::size_t i = made.grid.index(x, y, z);
                    made.values[i] = r < 1 ? static_cast<float>(0.5 + 0.5 * std::cos(7 * r)) : 0;
                    made.labels[i] = r < 1 ? 0 : LABEL_OUTSIDE;
                }
        return made;
    }();
    return v;
}

std::string scratch(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

void BM_VolumeFile(benchmark::State& state) {
    const Volume& v = volume();
    const std::string base = scratch("shapescale-bench-volume");
    for (auto _ : state) {
        switch (state.range(0)) {
            case 0:
                saveAnalyze(base, v.values.data(), v.grid.voxelSize, v.grid.dims);
                break;
            case 1:
                saveNifti(base + ".nii", v.values.data(), v.grid, NiftiCompression::none, "b");
                break;
            case 2:
                saveNifti(base + ".nii.gz", v.values.data(), v.grid, NiftiCompression::gzip, "b");
                break;
            default:
                savePng(base + ".png",
                        renderPreview(v.values.data(), v.labels.data(), v.grid, "B"));
        }
    }
    for (const char* ext : {".hdr", ".img", ".nii", ".nii.gz", ".png"})
        std::filesystem::remove(base + ext);
    const char* const labels[] = {"analyze", "nifti", "nifti-gz", "preview-png"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_VolumeFile)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
