// Whole-run benchmark: runs the transform on a generated lumpy sphere (74,500
// triangles) in four settings and prints one table with, per stage, the time
// of the library's stages, the time of the straightforward reference stages
// on the same grid and radii, their ratio, and the run's peak memory.
//
// Each row runs in a child process, so that its peak memory (ru_maxrss) is
// its own. References that would take hours (ball sums of large radii, the
// tree query for every voxel) are timed on a sample of the volume and scaled
// to the whole; they are marked "(extrapolated)".

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Stopwatch.hpp"
#include "filters/reference/ReferenceFilters.hpp"
#include "kdtree/KDTree.hpp"
#include "mapt/Defaults.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/MaptRun.hpp"
#include "mapt/RunObserver.hpp"
#include "mapt/Settings.hpp"
#include "mapt/Transform.hpp"
#include "mapt/reference/ReferenceVoting.hpp"
#include "mesh/MeshReader.hpp"
#include "shapes/Shapes.hpp"

namespace {

using namespace shapescale;

enum Stage { LOADING, VOXELISING, SMOOTHING, VOTING, FILTERING, MAXIMA, WRITING, STAGES };
const char* const STAGE_NAMES[STAGES] = {
    "loading (OFF)", "voxelising", "smoothing+normals", "voting", "filtering", "maxima", "writing"};

// What a child reports: plain data through a pipe.
struct RowResult {
    double fast[STAGES] = {};
    double reference[STAGES] = {};  // < 0: no separate reference (the same code)
    bool extrapolated[STAGES] = {};
    double total = 0;
    long peakKiB = 0;
    int dims[3] = {};
    int radii = 0;
};

struct Row {
    const char* name;
    bool fine;  // about 256 voxels along the longest side, 16 radii
    KernelChoice kernel;
    bool tensors;
    Voxeliser voxeliser;
};

class Recorder : public RunObserver {
  public:
    RunStart start;
    Grid grid;
    std::vector<double> radii;
    double times[STAGES] = {};
    void runStarted(const RunStart& s) override {
        start = s;
        grid = *s.grid;
        times[VOXELISING] = s.voxelisingSeconds;
    }
    void radiusDone(const RadiusDone& d) override {
        radii.push_back(d.radius);
        times[SMOOTHING] += d.times.smoothing;
        times[VOTING] += d.times.voting;
        times[FILTERING] += d.times.filtering;
        times[MAXIMA] += d.times.maxima;
        times[WRITING] += d.times.writing;
    }
    void runFinished(double seconds) override { times[WRITING] += seconds; }
};

TriMesh benchMesh() {
    TriMesh mesh = shapes::loadMesh(shapes::lumpySphere(150, 250));
    computeVertexNormals(mesh);
    return mesh;
}

// The central box of `grid` with at most `side` voxels per axis, cut from `in`.
std::vector<float> centralBlock(const std::vector<float>& in, const int* dims, int side,
                                int* blockDims) {
    int lo[3];
    for (int a = 0; a < 3; ++a) {
        blockDims[a] = std::min(dims[a], side);
        lo[a] = (dims[a] - blockDims[a]) / 2;
    }
    std::vector<float> block(voxelCount(blockDims));
    std::size_t k = 0;
    for (int z = 0; z < blockDims[2]; ++z)
        for (int y = 0; y < blockDims[1]; ++y)
            for (int x = 0; x < blockDims[0]; ++x)
                block[k++] = in[voxelIndex(dims, lo[0] + x, lo[1] + y, lo[2] + z)];
    return block;
}

// Seconds of `filter` on the whole volume, or on a central block of it scaled
// by the voxel ratio when `workPerVoxel` makes the whole too long.
template <class Filter>
double timeScaled(const std::vector<float>& in, const int* dims, double workPerVoxel,
                  Filter&& filter, bool& extrapolated) {
    constexpr double WORK_PER_SAMPLE = 2e8;  // about a second of the reference loops
    const double voxels = static_cast<double>(voxelCount(dims));
    int side = std::max({dims[0], dims[1], dims[2]});
    auto blockVoxelsOf = [&](int s) {
        return double(std::min(s, dims[0])) * std::min(s, dims[1]) * std::min(s, dims[2]);
    };
    while (side > 4 && blockVoxelsOf(side) * workPerVoxel > WORK_PER_SAMPLE) side = side * 3 / 4;
    int blockDims[3];
    const std::vector<float> block = centralBlock(in, dims, side, blockDims);
    std::vector<float> out(block.size());
    const Stopwatch watch;
    filter(block.data(), out.data(), blockDims);
    const double seconds = watch.seconds();
    const double blockVoxels = static_cast<double>(voxelCount(blockDims));
    if (blockVoxels < voxels) extrapolated = true;
    return seconds * voxels / blockVoxels;
}

// The reference filtering of one radius, as the run's filtering stage calls
// the library's filters, timed (or extrapolated).
double referenceFiltering(const MaptRun& run, double r, bool& extrapolated) {
    const int* dims = run.grid.dims;
    const float width = static_cast<float>(filterWidth(r, run.startRadius, run.sigma));
    const double ball = std::pow(2.0 * std::floor(width) + 1.0, 3.0);
    double seconds = 0.0;
    auto gaussianWork = [&](float w) { return 3.0 * (2.0 * kernelSize(w, dims) + 1.0); };
    switch (run.kernel) {
        case KernelChoice::ballSum:
            seconds += timeScaled(
                run.votes, dims, ball,
                [&](const float* in, float* out, const int* d) {
                    reference::sphereFlt(in, out, d, width);
                },
                extrapolated);
            break;
        case KernelChoice::ballSumThenGaussian:
            seconds += timeScaled(
                run.votes, dims, ball + gaussianWork(2.0f * width),
                [&](const float* in, float* out, const int* d) {
                    reference::sphereFlt(in, out, d, width);
                    reference::filter3D(out, out, d, 2.0f * width, kernelSize(2.0f * width, d));
                },
                extrapolated);
            break;
        case KernelChoice::rawGaussian:
            seconds += timeScaled(
                run.votes, dims, gaussianWork(width),
                [&](const float* in, float* out, const int* d) {
                    reference::filter3DNN(in, out, d, width, kernelSize(width, d));
                },
                extrapolated);
            break;
    }
    if (run.tensorsOn) {
        seconds += TENSOR_COMPONENTS * timeScaled(
                                           run.tensor[0], dims, 3.0 * (2.0 * width + 1.0),
                                           [&](const float* in, float* out, const int* d) {
                                               reference::boxFlt(in, out, d, width);
                                           },
                                           extrapolated);
    }
    return seconds;
}

// The tree's own query for every voxel centre of a sample of z planes, scaled.
double referenceNearestVertex(const TriMesh& mesh, const Grid& grid, bool& extrapolated) {
    Stopwatch watch;
    std::vector<std::vector<double> > points;
    for (const Vec3f& v : mesh.vertices) points.push_back({v[0], v[1], v[2]});
    const KDTree tree(points);
    const double build = watch.restart();
    const float h = static_cast<float>(grid.h());
    const int nz = grid.dims[2];
    const int every = std::max(1, nz / 6);
    int planes = 0;
    long checksum = 0;
    for (int z = every / 2; z < nz; z += every, ++planes) {
        for (int y = 0; y < grid.dims[1]; ++y)
            for (int x = 0; x < grid.dims[0]; ++x) {
                const int index[3] = {x, y, z};
                std::vector<double> c(3);
                for (int a = 0; a < 3; ++a)
                    c[std::size_t(a)] =
                        (static_cast<double>(grid.origin[a]) + static_cast<double>(h) * 0.5) +
                        static_cast<double>(static_cast<float>(index[a]) * h);
                checksum += tree.nearest_point(c);
            }
    }
    if (checksum < 0) std::puts("");  // keeps the queries
    extrapolated = planes < nz;
    return build + watch.seconds() * nz / planes;
}

RowResult runRow(const Row& row, int radiusCount) {
    RowResult result;
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("shapescale-bench-run-" + std::to_string(getpid())))
                                .string();
    std::filesystem::create_directories(dir);
    // The mesh goes through the OFF reader as the command line reads it.
    shapes::writeOff(shapes::lumpySphere(150, 250), dir + "/mesh.off");
    const Stopwatch loading;
    TriMesh mesh = readMesh(dir + "/mesh.off");
    const MeshMeasures measures = measureMesh(mesh);
    computeVertexNormals(mesh);
    result.fast[LOADING] = loading.seconds();

    // The command line's settings: every length derived from the mesh, as
    // without options, except the fine grid's resolution and its 16 radii.
    RequestedLengths requested;
    if (row.fine) {
        float extent = 0.0f;
        for (int a = 0; a < 3; ++a) extent = std::max(extent, mesh.bboxMax[a] - mesh.bboxMin[a]);
        requested.gridResolution = extent / 251.0f;  // 256 with the grid's 5 added layers
        requested.radiusCount = 16;
    }
    const RunSettings derived =
        deriveRunSettings(requested, measures, row.voxeliser == Voxeliser::closedMesh);
    TransformSettings settings = withLengths({.kernel = row.kernel,
                                              .voxeliser = row.voxeliser,
                                              .tensorsOn = row.tensors,
                                              .outDir = dir,
                                              .occupancyPath = dir + "/volume.vol",
                                              .seeded = true,
                                              .seed = 1},
                                             derived);
    if (radiusCount > 0) settings.radiusCount = radiusCount;

    Recorder recorder;
    const Stopwatch running;
    runTransform(mesh, settings, &recorder);
    result.total = result.fast[LOADING] + running.seconds();  // the loader included
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    result.peakKiB = usage.ru_maxrss;
    std::copy(recorder.times + VOXELISING, recorder.times + STAGES, result.fast + VOXELISING);
    std::copy(recorder.grid.dims, recorder.grid.dims + 3, result.dims);
    result.radii = static_cast<int>(recorder.radii.size());
    std::filesystem::remove_all(dir);

    // The reference stages on the same grid and radii, from a fresh mesh (the
    // run's copies share and have smoothed the vertices).
    TriMesh fresh = benchMesh();
    MaptRun run;
    run.grid = recorder.grid;
    run.startRadius = recorder.start.startRadius;
    run.radiusStep = recorder.start.radiusStep;
    run.sigma = recorder.start.sigma;
    run.kernel = row.kernel;
    run.tensorsOn = row.tensors;
    run.allocateVolumes();
    run.random.reseed(1);
    for (double& r : result.reference) r = -1.0;
    result.reference[SMOOTHING] = result.reference[VOTING] = result.reference[FILTERING] = 0.0;
    for (std::size_t k = 0; k < recorder.radii.size(); ++k) {
        // The run's smoothing stage also clears the votes and the APT volume.
        Stopwatch stage;
        std::fill(run.votes.begin(), run.votes.end(), 0.0f);
        std::fill(run.apt.begin(), run.apt.end(), 0.0f);
        if (k > 0) smoothVertices(fresh);  // allocates its displacements every pass
        refreshVertexNormals(fresh);
        result.reference[SMOOTHING] += stage.restart();
        reference::voteSurface(run, fresh, recorder.radii[k]);
        result.reference[VOTING] += stage.seconds();
        result.reference[FILTERING] +=
            referenceFiltering(run, recorder.radii[k], result.extrapolated[FILTERING]);
    }
    if (row.voxeliser == Voxeliser::nearestVertex)
        result.reference[VOXELISING] =
            referenceNearestVertex(benchMesh(), recorder.grid, result.extrapolated[VOXELISING]);
    return result;
}

// Runs a row in a child process and reads its result back.
bool runInChild(const Row& row, int radiusCount, RowResult& result) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        // The transform's own lines would interleave with the table.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        const RowResult r = runRow(row, radiusCount);
        const bool ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const bool read_ok =
        read(fds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return read_ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void printRow(const Row& row, const RowResult& r) {
    std::printf("\n%s: grid %s, %d radii, %.2f s in all (loading included), peak memory %.0f MiB\n",
                row.name, gridText(r.dims).c_str(), r.radii, r.total,
                static_cast<double>(r.peakKiB) / 1024.0);
    for (int s = 0; s < STAGES; ++s) {
        if (r.reference[s] < 0.0) {
            std::printf("  %-18s %26s %10.3f s %8s\n", STAGE_NAMES[s], "(same code)", r.fast[s],
                        "");
        } else {
            std::printf("  %-18s %12.3f s %-14s %9.3f s %7.1fx\n", STAGE_NAMES[s], r.reference[s],
                        r.extrapolated[s] ? "(extrapolated)" : "", r.fast[s],
                        r.fast[s] > 0.0 ? r.reference[s] / r.fast[s] : 0.0);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows = {
        {"default settings", false, KernelChoice::ballSum, false, Voxeliser::closedMesh},
        {"fine, kernel 0", true, KernelChoice::ballSum, false, Voxeliser::closedMesh},
        {"fine, kernel 1, tensors", true, KernelChoice::rawGaussian, true, Voxeliser::closedMesh},
        {"fine, nearest-vertex (-c)", true, KernelChoice::ballSum, false, Voxeliser::nearestVertex},
    };
    // Arguments pick rows by number (from 1), and "--radii N" runs N radii
    // instead of the rows' own counts: for a quick look.
    int radiusCount = 0;
    std::vector<Row> picked;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--radii" && i + 1 < argc) {
            radiusCount = std::atoi(argv[++i]);
            continue;
        }
        const int k = std::atoi(argv[i]);
        if (k < 1 || k > static_cast<int>(rows.size())) {
            std::fprintf(stderr, "usage: bench_run [--radii N] [row 1..%zu ...]\n", rows.size());
            return 2;
        }
        picked.push_back(rows[std::size_t(k - 1)]);
    }
    if (!picked.empty()) rows = picked;
    std::printf(
        "Whole runs on a lumpy sphere of 74,500 triangles; per stage: reference, fast,\n"
        "ratio. Wall-clock seconds summed over the radii.\n");
    std::printf("  %-18s %14s %14s %11s %8s\n", "stage", "reference", "", "fast", "ratio");
    int failures = 0;
    for (const Row& row : rows) {
        RowResult result;
        if (runInChild(row, radiusCount, result)) {
            printRow(row, result);
        } else {
            std::printf("\n%s: the run failed\n", row.name);
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
