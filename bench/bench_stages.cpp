// The per-radius stages on the benchmark mesh (lumpy sphere, 37,252 vertices,
// 74,500 triangles) at about 64, 128 and 256 voxels along the longest side:
// smoothing and normals, voting (fast against the straightforward reference, side
// by side), maxima and the writing of one volume.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/Analyze.hpp"
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
