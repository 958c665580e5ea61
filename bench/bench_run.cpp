// Whole-run benchmark: runs the transform on generated meshes and prints one
// table with, per stage, the wall time of the library's stages, their
// processor time, and the run's peak memory. The first four rows (a lumpy
// sphere of 74,500 triangles) also time the straightforward reference stages
// on the same grid and radii and print the ratio; the rows on large meshes
// and grids run only when picked by number, and compare the loading with
// Open3D's read of the same file.
//
// Each row runs in a child process, so that its peak memory (ru_maxrss) is
// its own; its mesh file is written by another child beforehand, so that the
// generator's memory is not counted. References that would take hours (ball
// sums of large radii, the tree query for every voxel) are timed on a sample
// of the volume and scaled to the whole; they are marked "(extrapolated)".

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>
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

// Processor seconds of this process so far, every thread included.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

enum Stage { LOADING, MEASURES, VOXELISING, SMOOTHING, VOTING, FILTERING, MAXIMA, WRITING, STAGES };
const char* const STAGE_NAMES[STAGES] = {
    "loading", "measures+normals", "voxelising", "smoothing+normals",
    "voting",  "filtering",        "maxima",     "writing"};

// What a child reports: plain data through a pipe.
struct RowResult {
    double fast[STAGES] = {};
    double reference[STAGES] = {};  // < 0: no separate reference (the same code)
    bool extrapolated[STAGES] = {};
    // Processor seconds: per stage where the run's observer marks its bounds,
    // the four per-radius computing stages together under SMOOTHING.
    double processor[STAGES] = {};
    double total = 0;
    double totalProcessor = 0;
    double open3d = -1;  // seconds of Open3D's read of the same file; < 0: not available
    long peakKiB = 0;
    int dims[3] = {};
    int radii = 0;
    long triangles = 0;
};

struct Row {
    const char* name;
    int splits;       // times the mesh's triangles are split in four; -1: the 74,500 sphere
    int voxelsAlong;  // voxels along the longest side; 0: derived from the mesh
    int radiusCount;  // 0: derived (8)
    KernelChoice kernel;
    bool tensors;
    Voxeliser voxeliser;
    bool hasReference;  // times the straightforward stages too
    bool onRequest;     // long: runs only when picked by number
};

// Wall and processor time of the stages as the run's observer reports them.
class Recorder : public RunObserver {
  public:
    RunStart start;
    Grid grid;
    std::vector<double> radii;
    double times[STAGES] = {};
    double processor[STAGES] = {};
    double mark = 0;  // processor seconds at the last bound

    // Processor seconds since the last bound, booked to `stage`.
    void book(Stage stage) {
        const double now = processorSeconds();
        processor[stage] += now - mark;
        mark = now;
    }
    void runStarted(const RunStart& s) override {
        book(VOXELISING);
        start = s;
        grid = *s.grid;
        times[VOXELISING] = s.voxelisingSeconds;
    }
    void radiusWriting(int) override { book(SMOOTHING); }
    void radiusDone(const RadiusDone& d) override {
        book(WRITING);
        radii.push_back(d.radius);
        times[SMOOTHING] += d.times.smoothing;
        times[VOTING] += d.times.voting;
        times[FILTERING] += d.times.filtering;
        times[MAXIMA] += d.times.maxima;
        times[WRITING] += d.times.writing;
    }
    void runFinished(double seconds) override {
        book(WRITING);
        times[WRITING] += seconds;
    }
};

// The lumpy sphere of 74,500 triangles, or one of 52,000 triangles split
// `splits` times: 208,000, 832,000 or 3,328,000 triangles for 1, 2 or 3.
shapes::PolyMesh rowMesh(int splits) {
    if (splits < 0) return shapes::lumpySphere(150, 250);
    return shapes::subdivided(shapes::lumpySphere(105, 250), splits);
}

// The 74,500-triangle sphere as OFF text; the split meshes as binary
// little-endian PLY, as scanners and mesh libraries write them.
std::string meshFileName(const Row& row) {
    return row.splits < 0 ? "mesh.off" : "mesh.ply";
}

void writeMeshFile(const Row& row, const std::string& path) {
    const shapes::PolyMesh mesh = rowMesh(row.splits);
    if (row.splits < 0) {
        shapes::writeOff(mesh, path);
        return;
    }
    shapes::PlyStyle style;
    style.encoding = shapes::PlyStyle::Encoding::binaryLittleEndian;
    const std::string bytes = shapes::toPly(mesh, style);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    const bool written =
        out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out == nullptr || std::fclose(out) != 0 || !written)
        throw std::runtime_error("cannot write " + path);
}

// Seconds of Open3D's read of `path` (its import not counted), in a child
// Python; -1 when Debian's python3-open3d is not there or the read fails.
double open3dSeconds(const std::string& path) {
    const std::string command =
        "/usr/bin/python3 -c 'import sys, time, open3d\n"
        "t = time.perf_counter()\n"
        "m = open3d.io.read_triangle_mesh(sys.argv[1])\n"
        "s = time.perf_counter() - t\n"
        "print(s if len(m.triangles) > 0 else -1)' '" +
        path + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1.0;
    double seconds = -1.0;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char* end = nullptr;
        const double value = std::strtod(line, &end);
        if (end != line) seconds = value;  // the last number printed
    }
    return pclose(pipe) == 0 ? seconds : -1.0;
}

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

RowResult runRow(const Row& row, int radiusCount, const std::string& dir) {
    RowResult result;
    const std::string path = dir + "/" + meshFileName(row);
    if (row.splits >= 0) result.open3d = open3dSeconds(path);
    // The mesh goes through the reader of its format as the command line reads it.
    double cpu = processorSeconds();
    const Stopwatch loading;
    TriMesh mesh = readMesh(path);
    result.fast[LOADING] = loading.seconds();
    result.processor[LOADING] = processorSeconds() - cpu;
    result.triangles = static_cast<long>(mesh.faces.size());
    cpu = processorSeconds();
    const Stopwatch measuring;
    const MeshMeasures measures = measureMesh(mesh);
    computeVertexNormals(mesh);
    result.fast[MEASURES] = measuring.seconds();
    result.processor[MEASURES] = processorSeconds() - cpu;

    // The command line's settings: every length derived from the mesh, as
    // without options, except the fine grids' resolution and their radii.
    RequestedLengths requested;
    if (row.voxelsAlong > 0) {
        float extent = 0.0f;
        for (int a = 0; a < 3; ++a) extent = std::max(extent, mesh.bboxMax[a] - mesh.bboxMin[a]);
        // The grid adds 5 layers to the mesh's extent.
        requested.gridResolution = extent / static_cast<float>(row.voxelsAlong - 5);
    }
    requested.radiusCount = row.radiusCount;
    const RunSettings derived =
        deriveRunSettings(requested, measures, row.voxeliser == Voxeliser::closedMesh);
    TransformSettings settings = withLengths({.kernel = row.kernel,
                                              .voxeliser = row.voxeliser,
                                              .tensorsOn = row.tensors,
                                              .outDir = dir + "/out",
                                              .occupancyPath = dir + "/volume.vol",
                                              .seeded = true,
                                              .seed = 1},
                                             derived);
    if (radiusCount > 0) settings.radiusCount = radiusCount;

    Recorder recorder;
    recorder.mark = processorSeconds();
    const Stopwatch running;
    runTransform(mesh, settings, &recorder);
    // The loader and the measures included.
    result.total = result.fast[LOADING] + result.fast[MEASURES] + running.seconds();
    result.totalProcessor = processorSeconds();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    result.peakKiB = usage.ru_maxrss;
    std::copy(recorder.times + VOXELISING, recorder.times + STAGES, result.fast + VOXELISING);
    std::copy(recorder.processor + VOXELISING, recorder.processor + STAGES,
              result.processor + VOXELISING);
    std::copy(recorder.grid.dims, recorder.grid.dims + 3, result.dims);
    result.radii = static_cast<int>(recorder.radii.size());
    std::filesystem::remove_all(settings.outDir);
    for (double& r : result.reference) r = -1.0;
    if (!row.hasReference) return result;

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

// Runs `work` in a child process and reads the plain record it returns
// through a pipe; false when the child fails.
template <class Result, class Work>
bool runInChild(Work work, Result& result) {
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
        bool ok = false;
        try {
            const Result r = work();
            ok = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        } catch (const std::exception&) {
        }
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

// The row's mesh file written by one child, the row run by another.
bool runRowInChildren(const Row& row, int radiusCount, RowResult& result) {
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("shapescale-bench-run-" + std::to_string(getpid())))
                                .string();
    std::filesystem::create_directories(dir);
    bool written = false;
    const bool ok = runInChild(
                        [&] {
                            writeMeshFile(row, dir + "/" + meshFileName(row));
                            return true;
                        },
                        written) &&
                    runInChild([&] { return runRow(row, radiusCount, dir); }, result);
    std::filesystem::remove_all(dir);
    return ok;
}

void printRow(const Row& row, const RowResult& r) {
    std::printf(
        "\n%s: %ld triangles, grid %s, %d radii, %.2f s in all (loading included), "
        "processor %.2f s (%.2f per second), peak memory %.0f MiB\n",
        row.name, r.triangles, gridText(r.dims).c_str(), r.radii, r.total, r.totalProcessor,
        r.total > 0.0 ? r.totalProcessor / r.total : 0.0, static_cast<double>(r.peakKiB) / 1024.0);
    for (int s = 0; s < STAGES; ++s) {
        char processor[32] = "";
        // The four per-radius stages share one processor figure, on the first.
        if (s < VOTING || s == WRITING)
            std::snprintf(processor, sizeof processor, "%8.3f s%s", r.processor[s],
                          s == SMOOTHING ? " (to maxima)" : "");
        char name[32];
        std::snprintf(name, sizeof name, "%s%s", STAGE_NAMES[s],
                      s == LOADING ? (row.splits < 0 ? " (OFF)" : " (PLY)") : "");
        if (!row.hasReference) {
            std::printf("  %-22s %10.3f s %-24s", name, r.fast[s], processor);
            if (s == LOADING && r.open3d >= 0.0)
                std::printf(" Open3D %.3f s: %.2fx", r.open3d, r.fast[s] / r.open3d);
            else if (s == LOADING)
                std::printf(" Open3D n/a");
            std::printf("\n");
        } else if (r.reference[s] < 0.0) {
            std::printf("  %-22s %26s %10.3f s %8s %s\n", name, "(same code)", r.fast[s], "",
                        processor);
        } else {
            std::printf("  %-22s %12.3f s %-14s %9.3f s %7.1fx %s\n", name, r.reference[s],
                        r.extrapolated[s] ? "(extrapolated)" : "", r.fast[s],
                        r.fast[s] > 0.0 ? r.reference[s] / r.fast[s] : 0.0, processor);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const KernelChoice ball = KernelChoice::ballSum;
    const Voxeliser closed = Voxeliser::closedMesh;
    const std::vector<Row> rows = {
        {"default settings", -1, 0, 0, ball, false, closed, true, false},
        {"fine, kernel 0", -1, 256, 16, ball, false, closed, true, false},
        {"fine, kernel 1, tensors", -1, 256, 16, KernelChoice::rawGaussian, true, closed, true,
         false},
        {"fine, nearest-vertex (-c)", -1, 256, 16, ball, false, Voxeliser::nearestVertex, true,
         false},
        {"3.3 M triangles, default settings", 3, 0, 0, ball, false, closed, false, true},
        {"830 k triangles, fine, kernel 0", 2, 256, 16, ball, false, closed, false, true},
        {"75 k triangles, 512 voxels", -1, 512, 16, ball, false, closed, false, true},
    };
    // Arguments pick rows by number (from 1), and "--radii N" runs N radii
    // instead of the rows' own counts: for a quick look. Without row numbers
    // the rows that are not on request run.
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
    if (picked.empty())
        std::copy_if(rows.begin(), rows.end(), std::back_inserter(picked),
                     [](const Row& row) { return !row.onRequest; });
    std::printf(
        "Whole runs on generated lumpy spheres; per stage: reference, fast, ratio, processor\n"
        "time. Wall-clock seconds summed over the radii. Rows 5 to 7 (large meshes and grids)\n"
        "run when picked by number: bench/run.sh BUILD 5 6 7.\n");
    std::printf("  %-22s %14s %14s %11s %8s %10s\n", "stage", "reference", "", "fast", "ratio",
                "processor");
    int failures = 0;
    for (const Row& row : picked) {
        RowResult result;
        if (runRowInChildren(row, radiusCount, result)) {
            printRow(row, result);
        } else {
            std::printf("\n%s: the run failed\n", row.name);
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
