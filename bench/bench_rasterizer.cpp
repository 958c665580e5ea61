// Closed-mesh rasteriser on an icosphere of 81,920 triangles, on grids of
// about 64, 128 and 256 voxels per axis.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "shapes/Shapes.hpp"
#include "voxel/Rasterizer.hpp"

namespace {

using shapescale::TriMesh;

const TriMesh& sphereMesh() {
    static const TriMesh mesh = shapescale::shapes::loadMesh(shapescale::shapes::icosphere(6));
    return mesh;
}

// Voxels per axis n: the unit sphere spans 2 / h voxels plus the five layers
// the grid adds around it.
void BM_RasterizeIcosphere(benchmark::State& state) {
    const TriMesh& mesh = sphereMesh();
    const float h = 2.0f / static_cast<float>(state.range(0) - 5);
    const std::string occupancy =
        (std::filesystem::temp_directory_path() / "shapescale-bench-volume.vol").string();
    int dims[3];
    float origin[3];
    for (auto _ : state) {
        auto labels = shapescale::rasterizeClosedMesh(mesh, h, dims, origin, occupancy);
        benchmark::DoNotOptimize(labels.data());
    }
    std::filesystem::remove(occupancy);
    state.counters["triangles"] = static_cast<double>(mesh.faces.size());
    state.counters["voxels"] = static_cast<double>(dims[0]) * dims[1] * dims[2];
}
BENCHMARK(BM_RasterizeIcosphere)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace
