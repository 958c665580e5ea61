// The mesh stages on scanned-size meshes: a lumpy sphere split by edge
// midpoints to about 100 k, 1 M and 3.3 M triangles (argument 0, 1, 2).
// Loading through every reader (binary and text), the neighbour lists, the
// vertex normals, one smoothing pass, volume and area, the copies a run makes,
// and the voting of one radius through voteSurface.
//
// Heap figures ("MiB") come from the allocator's own count (mallinfo2), so
// they include what the allocator adds to every block.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "mapt/MaptRun.hpp"
#include "mapt/Voting.hpp"
#include "mesh/MeshReader.hpp"
#include "mesh/TriMesh.hpp"
#include "shapes/Shapes.hpp"
#include "voxel/GridSetup.hpp"

namespace {

using namespace shapescale;

// 100,000, 1,000,000 and 3,328,000 triangles.
shapes::PolyMesh generated(int size) {
    switch (size) {
        case 0:
            return shapes::subdivided(shapes::lumpySphere(51, 250), 1);
        case 1:
            return shapes::subdivided(shapes::lumpySphere(126, 250), 2);
        default:
            return shapes::subdivided(shapes::lumpySphere(105, 250), 3);
    }
}

const shapes::PolyMesh& polyMesh(int size) {
    static std::map<int, shapes::PolyMesh> cache;
    auto it = cache.find(size);
    if (it == cache.end()) it = cache.emplace(size, generated(size)).first;
    return it->second;
}

// The files of every format, written once and removed at exit.
class MeshFiles {
  public:
    MeshFiles()
        : dir_((std::filesystem::temp_directory_path() /
                ("shapescale-bench-mesh-" + std::to_string(::getpid())))
                   .string()) {
        std::filesystem::create_directories(dir_);
    }
    ~MeshFiles() { std::filesystem::remove_all(dir_); }

    const std::string& path(const std::string& format, int size) {
        const std::string name = dir_ + "/" + std::to_string(size) + "-" + format;
        if (!std::filesystem::exists(name)) write(name, bytes(format, polyMesh(size)));
        return paths_.emplace(name, name).first->second;
    }

  private:
    static std::string bytes(const std::string& format, const shapes::PolyMesh& mesh) {
        shapes::PlyStyle binary;
        binary.encoding = shapes::PlyStyle::Encoding::binaryLittleEndian;
        if (format == "binary.ply") return shapes::toPly(mesh, binary);
        if (format == "ascii.ply") return shapes::toPly(mesh);
        if (format == "binary.stl") return shapes::toStl(mesh, true);
        if (format == "ascii.stl") return shapes::toStl(mesh, false);
        if (format == "text.obj") return shapes::toObj(mesh, false);
        return shapes::toOff(mesh);
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) throw std::runtime_error("cannot write " + path);
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        if (std::fclose(out) != 0 || !written) throw std::runtime_error("cannot write " + path);
    }
    std::string dir_;
    std::map<std::string, std::string> paths_;
};

MeshFiles& files() {
    static MeshFiles instance;
    return instance;
}

// Loaded through the binary PLY reader, normals computed; shared by the cases
// that do not move the vertices.
const TriMesh& loadedMesh(int size) {
    static std::map<int, TriMesh> cache;
    auto it = cache.find(size);
    if (it == cache.end()) {
        TriMesh mesh = readMesh(files().path("binary.ply", size));
        computeVertexNormals(mesh);
        it = cache.emplace(size, std::move(mesh)).first;
    }
    return it->second;
}

// A fresh mesh whose vertices the case may move.
TriMesh ownMesh(int size) {
    TriMesh mesh = readMesh(files().path("binary.ply", size));
    computeVertexNormals(mesh);
    return mesh;
}

std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Sizes 0, 1, 2; wall time, with the processor time of every thread.
void meshSizes(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
}

void triangleCounters(benchmark::State& state, const TriMesh& mesh) {
    state.counters["triangles"] = static_cast<double>(mesh.faces.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(mesh.faces.size()));
}

void BM_Load(benchmark::State& state, const std::string& format) {
    const std::string& path = files().path(format, static_cast<int>(state.range(0)));
    std::size_t triangles = 0;
    for (auto _ : state) {
        const TriMesh mesh = readMesh(path);
        triangles = mesh.faces.size();
    }
    state.counters["triangles"] = static_cast<double>(triangles);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK_CAPTURE(BM_Load, binary_ply, std::string("binary.ply"))->Apply(meshSizes);
BENCHMARK_CAPTURE(BM_Load, ascii_ply, std::string("ascii.ply"))->Apply(meshSizes);
BENCHMARK_CAPTURE(BM_Load, binary_stl, std::string("binary.stl"))->Apply(meshSizes);
BENCHMARK_CAPTURE(BM_Load, ascii_stl, std::string("ascii.stl"))->Apply(meshSizes);
BENCHMARK_CAPTURE(BM_Load, obj, std::string("text.obj"))->Apply(meshSizes);
BENCHMARK_CAPTURE(BM_Load, off, std::string("text.off"))->Apply(meshSizes);

// The lists from the triangles, as a reader makes them; "MiB": their heap.
void BM_NeighbourLists(benchmark::State& state) {
    const TriMesh& mesh = loadedMesh(static_cast<int>(state.range(0)));
    const std::vector<Triangle> triangles(mesh.faces.begin(), mesh.faces.end());
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::size_t before = heapInUse();
        const NeighbourLists lists = NeighbourLists::ofTriangles(mesh.vertices.size(), triangles);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(lists[0].data());
    }
    state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
    triangleCounters(state, mesh);
}

// The copies that live together while a run voxelises (the driver's, the
// transform's, the voxeliser's); "MiB": the heap of the mesh with them.
void BM_MeshCopies(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const std::size_t before = heapInUse();
    const TriMesh mesh = ownMesh(size);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const TriMesh transform = mesh;
        const TriMesh voxeliser = transform;
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(voxeliser.vertices[0].data());
    }
    state.counters["MiB"] = static_cast<double>(bytes) / (1 << 20);
    triangleCounters(state, mesh);
}

void BM_VertexNormals(benchmark::State& state) {
    TriMesh mesh = ownMesh(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        refreshVertexNormals(mesh);
        benchmark::DoNotOptimize(mesh.vertexNormals[0].data());
    }
    triangleCounters(state, mesh);
}

void BM_Smoothing(benchmark::State& state) {
    TriMesh mesh = ownMesh(static_cast<int>(state.range(0)));
    std::vector<Vec3f> scratch;
    for (auto _ : state) {
        smoothVertices(mesh, scratch);
        benchmark::DoNotOptimize(mesh.vertices[0].data());
    }
    triangleCounters(state, mesh);
}

void BM_VolumeAndArea(benchmark::State& state) {
    const TriMesh& mesh = loadedMesh(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(measureMesh(mesh).areaSum);
    triangleCounters(state, mesh);
}

// One radius of 3 voxels on a grid of about 100 voxels along the longest
// side, as the command line's defaults give for these meshes.
void BM_Voting(benchmark::State& state) {
    const TriMesh& mesh = loadedMesh(static_cast<int>(state.range(0)));
    MaptRun run;
    float extent = 0.0f;
    for (int a = 0; a < 3; ++a) extent = std::max(extent, mesh.bboxMax[a] - mesh.bboxMin[a]);
    const float h = extent / 95.0f;  // the grid adds 5 layers
    setUpGrid(mesh.bboxMin, mesh.bboxMax, h, run.grid.dims, run.grid.origin);
    for (double& size : run.grid.voxelSize) size = h;
    run.allocateVolumes();
    run.labels.assign(run.voxels(), 0);
    run.random.reseed(1);
    for (auto _ : state) voteSurface(run, mesh, 3.0);
    triangleCounters(state, mesh);
}

BENCHMARK(BM_NeighbourLists)->Apply(meshSizes);
BENCHMARK(BM_MeshCopies)->Apply(meshSizes);
BENCHMARK(BM_VertexNormals)->Apply(meshSizes);
BENCHMARK(BM_Smoothing)->Apply(meshSizes);
BENCHMARK(BM_VolumeAndArea)->Apply(meshSizes);
BENCHMARK(BM_Voting)->Apply(meshSizes);

}  // namespace
