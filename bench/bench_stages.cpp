// The per-radius stages on the benchmark mesh (lumpy sphere, 37,252 vertices,
// 74,500 triangles) at about 64, 128 and 256 voxels along the longest side:
// smoothing and normals, voting (fast against the straightforward reference, side
// by side), maxima and the writing of one volume; and the centres found in
// final volumes of 128, 256 and 512 voxels a side.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include <cmath>

#include "io/Analyze.hpp"
#include "mapt/Centres.hpp"
#include "mapt/MaptRun.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/Voting.hpp"
#include "mapt/reference/ReferenceVoting.hpp"
#include "shapes/Shapes.hpp"
#include "voxel/GridSetup.hpp"

namespace {

using shapescale::MaptRun;
using shapescale::TriMesh;

TriMesh lumpyMesh() {
    TriMesh mesh = shapescale::shapes::loadMesh(shapescale::shapes::lumpySphere(150, 250));
    shapescale::computeVertexNormals(mesh);
    return mesh;
}

const TriMesh& sharedMesh() {
    static const TriMesh mesh = lumpyMesh();
    return mesh;
}

// A run whose grid puts about `perAxis` voxels along the mesh's longest side.
MaptRun runOnGrid(const TriMesh& mesh, int perAxis, bool tensorsAndBoth) {
    MaptRun run;
    float extent = 0.0f;
    for (int a = 0; a < 3; ++a) extent = std::max(extent, mesh.bboxMax[a] - mesh.bboxMin[a]);
    const float h = extent / static_cast<float>(perAxis - 5);  // the grid adds 5 layers
    shapescale::setUpGrid(mesh.bboxMin, mesh.bboxMax, h, run.grid.dims, run.grid.origin);
    for (double& size : run.grid.voxelSize) size = h;
    run.tensorsOn = tensorsAndBoth;
    run.bothSides = tensorsAndBoth;
    run.allocateVolumes();
    run.labels.assign(run.voxels(), 0);
    for (std::size_t i = 0; i < run.labels.size(); i += 2) run.labels[i] = 255;
    return run;
}

void voxelCounters(benchmark::State& state, const MaptRun& run) {
    state.counters["nx"] = run.grid.dims[0];
    state.counters["ny"] = run.grid.dims[1];
    state.counters["nz"] = run.grid.dims[2];
}

void BM_SmoothingAndNormals(benchmark::State& state) {
    TriMesh mesh = lumpyMesh();  // its own vertices: the passes move them
    std::vector<shapescale::Vec3f> scratch;
    for (auto _ : state) {
        shapescale::smoothVertices(mesh, scratch);
        shapescale::refreshVertexNormals(mesh);
        benchmark::DoNotOptimize(mesh.vertices[0].data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(mesh.vertices.size()));
}
BENCHMARK(BM_SmoothingAndNormals)->Unit(benchmark::kMillisecond);

// Radius 3 voxels; range(1) = 1 adds the tensors and the outer votes.
void BM_VotingFast(benchmark::State& state) {
    MaptRun run = runOnGrid(sharedMesh(), static_cast<int>(state.range(0)), state.range(1) != 0);
    run.random.reseed(1);
    for (auto _ : state) shapescale::voteSurface(run, sharedMesh(), 3.0);
    voxelCounters(state, run);
}
void BM_VotingReference(benchmark::State& state) {
    MaptRun run = runOnGrid(sharedMesh(), static_cast<int>(state.range(0)), state.range(1) != 0);
    run.random.reseed(1);
    for (auto _ : state) shapescale::reference::voteSurface(run, sharedMesh(), 3.0);
    voxelCounters(state, run);
}
BENCHMARK(BM_VotingFast)->ArgsProduct({{64, 128, 256}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VotingReference)->ArgsProduct({{64, 128, 256}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_Maxima(benchmark::State& state) {
    MaptRun run = runOnGrid(sharedMesh(), static_cast<int>(state.range(0)), false);
    for (std::size_t i = 0; i < run.apt.size(); ++i) run.apt[i] = static_cast<float>(i % 97);
    for (auto _ : state) shapescale::updateMaxima(run, 3.0);
    voxelCounters(state, run);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(run.voxels()));
}
BENCHMARK(BM_Maxima)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond);

// Final volumes of n^3 voxels like a run's: a ball inside, smooth jmapt with
// six peaks of 0.6 to 1.5 over a slope from the rim, in steps of 1/256 so that
// the peaks are plateaus; range(1) is the threshold in hundredths.
void BM_Centres(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    shapescale::Grid grid;
    grid.dims[0] = grid.dims[1] = grid.dims[2] = static_cast<int>(n);
    for (double& h : grid.voxelSize) h = 1.0 / static_cast<double>(n);
    std::vector<unsigned char> labels(grid.voxels());
    std::vector<float> jmapt(grid.voxels()), scale(grid.voxels(), 8.0f);
    const double c = 0.5 * static_cast<double>(n), width = 0.06 * static_cast<double>(n);
    for (std::size_t z = 0; z < n; ++z)
        for (std::size_t y = 0; y < n; ++y)
            for (std::size_t x = 0; x < n; ++x) {
                const double p[3] = {double(x) - c, double(y) - c, double(z) - c};
                const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
                double value = 0.3 * (1.0 - r / (0.45 * double(n)));
                for (int k = 0; k < 6; ++k) {
                    double d2 = 0;
                    for (int a = 0; a < 3; ++a) {
                        const double q =
                            p[a] - (k % 3 == a ? (k < 3 ? 0.25 : -0.25) * double(n) : 0);
                        d2 += q * q;
                    }
                    value = std::max(value, (0.6 + 0.15 * k) * std::exp(-d2 / (2 * width * width)));
                }
                const std::size_t i = grid.index(x, y, z);
                labels[i] = r < 0.45 * double(n) ? 0 : shapescale::LABEL_OUTSIDE;
                jmapt[i] = static_cast<float>(std::floor(std::max(value, 0.0) * 256) / 256);
            }
    const float threshold = static_cast<float>(state.range(1)) / 100.0f;
    std::size_t found = 0;
    for (auto _ : state)
        found = shapescale::findCentres(grid, labels.data(), jmapt.data(), scale.data(), threshold)
                    .size();
    state.counters["centres"] = static_cast<double>(found);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grid.voxels()));
}
BENCHMARK(BM_Centres)->ArgsProduct({{128, 256, 512}, {50, 5}})->Unit(benchmark::kMillisecond);

void BM_WriteVolume(benchmark::State& state) {
    const MaptRun run = runOnGrid(sharedMesh(), static_cast<int>(state.range(0)), false);
    const std::string name =
        (std::filesystem::temp_directory_path() / "shapescale-bench-volume").string();
    for (auto _ : state)
        shapescale::saveAnalyze(name, run.apt.data(), run.grid.voxelSize, run.grid.dims);
    std::filesystem::remove(name + ".hdr");
    std::filesystem::remove(name + ".img");
    voxelCounters(state, run);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(run.voxels() * 4));
}
BENCHMARK(BM_WriteVolume)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace
