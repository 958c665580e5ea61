// Nearest-point search and the nearest-vertex voxeliser: tree build, single
// queries, and whole label volumes.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kdtree/KDTree.hpp"
#include "mesh/TriMesh.hpp"
#include "shapes/Shapes.hpp"
#include "voxel/NearestVertex.hpp"

namespace {

using shapescale::KDTree;

std::vector<std::vector<double>> randomPoints(int n, std::mt19937& rng) {
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    std::vector<std::vector<double>> points(static_cast<std::size_t>(n));
    for (auto& p : points) p = {coordinate(rng), coordinate(rng), coordinate(rng)};
    return points;
}

void BM_TreeBuild(benchmark::State& state) {
    std::mt19937 rng(42);
    const auto points = randomPoints(static_cast<int>(state.range(0)), rng);
    for (auto _ : state) {
        KDTree tree(points);
        benchmark::DoNotOptimize(tree.nodeList().data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TreeBuild)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_NearestPoint(benchmark::State& state) {
    std::mt19937 rng(42);
    const KDTree tree(randomPoints(static_cast<int>(state.range(0)), rng));
    const auto queries = randomPoints(4096, rng);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.nearest_point(queries[i]));
        i = (i + 1) % queries.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NearestPoint)->Arg(10000)->Arg(100000);

shapescale::TriMesh meshWithNormals(const shapescale::shapes::PolyMesh& poly) {
    shapescale::TriMesh mesh = shapescale::shapes::loadMesh(poly);
    shapescale::computeVertexNormals(mesh);
    return mesh;
}

// Voxel edge chosen for about `perAxis` voxels across the mesh's widest extent.
void runMesh2Volume(benchmark::State& state, const shapescale::TriMesh& mesh, float width,
                    shapescale::NearestSearch search = shapescale::NearestSearch::fast) {
    const float h = width / static_cast<float>(state.range(0));
    int dims[3];
    float origin[3];
    for (auto _ : state) {
        auto labels = shapescale::mesh2Volume(mesh, h, dims, origin, search);
        benchmark::DoNotOptimize(labels.data());
    }
    state.counters["nx"] = dims[0];
    state.counters["ny"] = dims[1];
    state.counters["nz"] = dims[2];
    state.counters["vertices"] = static_cast<double>(mesh.vertices.size());
    state.SetItemsProcessed(state.iterations() * dims[0] * dims[1] * dims[2]);
}

void BM_Mesh2VolumeIcosphere(benchmark::State& state) {
    // Level 5: 10242 vertices; level 6: 40962.
    const auto mesh =
        meshWithNormals(shapescale::shapes::icosphere(static_cast<int>(state.range(1))));
    runMesh2Volume(state, mesh, 2.0f);
}
BENCHMARK(BM_Mesh2VolumeIcosphere)
    ->Args({96, 5})
    ->Args({96, 6})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Mesh2VolumeTorus30k(benchmark::State& state) {
    // 250 x 120 = 30000 vertices; ring 1, tube 0.8: 3.6 x 3.6 x 1.6 world units.
    const auto mesh = meshWithNormals(shapescale::shapes::torus(1.0, 0.8, 250, 120));
    runMesh2Volume(state, mesh, 3.6f);
}
BENCHMARK(BM_Mesh2VolumeTorus30k)->Arg(96)->Unit(benchmark::kMillisecond)->UseRealTime();

// The benchmark mesh of the whole-run table: 37,252 vertices, 74,500 triangles.
const shapescale::TriMesh& lumpyMesh() {
    static const shapescale::TriMesh mesh =
        meshWithNormals(shapescale::shapes::lumpySphere(150, 250));
    return mesh;
}

// Fast search against the tree's own query, side by side, at 64, 128 and 256
// voxels along the longest side (the tree alone takes about a minute at 256).
void BM_Mesh2VolumeLumpyFast(benchmark::State& state) {
    runMesh2Volume(state, lumpyMesh(), 2.4f);
}
BENCHMARK(BM_Mesh2VolumeLumpyFast)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Mesh2VolumeLumpyTree(benchmark::State& state) {
    runMesh2Volume(state, lumpyMesh(), 2.4f, shapescale::NearestSearch::specifiedTree);
}
BENCHMARK(BM_Mesh2VolumeLumpyTree)
    ->Arg(64)
    ->Arg(128)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
