#include "mapt/Transform.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/Error.hpp"
#include "io/Analyze.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/MaptRun.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/ResultFiles.hpp"
#include "mapt/Voting.hpp"
#include "voxel/GridSetup.hpp"
#include "voxel/NearestVertex.hpp"
#include "voxel/Rasterizer.hpp"

namespace shapescale {

namespace {

using Clock = std::chrono::steady_clock;

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A negative length derived from the mesh comes from a negative volume.
const char* const CLOCKWISE_HINT =
    "; a negative value derived from the mesh means that its faces seem to be ordered "
    "clockwise seen from outside (negative volume): reorient the mesh or give the lengths "
    "explicitly (-r, -s, -p, -g)";

double deriveGridResolution(const TriMesh& mesh, double h) {
    if (!std::isfinite(h)) throw Error("the grid resolution is not a finite number: " + number(h));
    if (h != 0.0) {
        if (h < 0.0)
            throw Error("the grid resolution " + number(h) + " is not positive" + CLOCKWISE_HINT);
        return h;
    }
    // Differences and product in single precision, root and division in double.
    const float extent = (mesh.bboxMax[0] - mesh.bboxMin[0]) * (mesh.bboxMax[1] - mesh.bboxMin[1]) *
                         (mesh.bboxMax[2] - mesh.bboxMin[2]);
    const double derived = std::cbrt(extent) / 150.0;
    if (!(derived > 0.0) || !std::isfinite(derived))
        throw Error(
            "no grid resolution can be derived from the mesh: its bounding box is flat "
            "(volume " +
            number(extent) + "); give one with -r");
    return derived;
}

void checkLength(const char* what, double value) {
    if (!std::isfinite(value))
        throw Error(std::string("the ") + what + " is not a finite number: " + number(value));
}

// Every radius of the run must be positive: the offsets would change side and
// the sphere-area normaliser would be zero or negative.
void checkRadii(const MaptRun& run, int radiusCount, double h) {
    double r = run.startRadius;
    for (int k = 0; k < radiusCount; ++k) {
        if (!(r > 0.0) || !std::isfinite(r))
            throw Error("radius " + std::to_string(k) + " of the run would be " + number(r * h) +
                        " (starting radius " + number(run.startRadius * h) + ", step " +
                        number(run.radiusStep * h) + "): radii must be positive" + CLOCKWISE_HINT);
        r += run.radiusStep;
    }
}

std::size_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return SIZE_MAX;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}

// Refuses, before anything is allocated, a grid that the output format cannot
// hold or whose volumes would not fit into memory.
void checkGridFits(const int* dims, bool tensorsOn) {
    checkAnalyzeDims(dims);
    const std::size_t n = voxelCount(dims);
    // labels, votes, apt, jmapt, scale, 2 x 6 tensors, two filter temporaries
    const std::size_t floatVolumes = 4 + (tensorsOn ? 2 * TENSOR_COMPONENTS : 0) + 2;
    const double needed = static_cast<double>(n) * (1.0 + 4.0 * static_cast<double>(floatVolumes));
    const double available = static_cast<double>(physicalMemory());
    if (needed > available) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "the grid %d x %d x %d needs %.1f GiB of memory, more than this machine "
                      "has (%.1f GiB); choose a coarser grid resolution with -r",
                      dims[0], dims[1], dims[2], needed / 1073741824.0, available / 1073741824.0);
        throw Error(text);
    }
}

void createOutputDirectory(const std::string& outDir) {
    errno = 0;
    if (mkdir(outDir.c_str(), 0775) != 0 && errno != EEXIST)
        throw Error("cannot create output directory " + outDir + ": " + systemReason(errno));
}

// The grid before voxelisation, reported by the nearest-vertex path: origin in
// double rounded to float, the extent's difference in float, division in double.
void preliminaryGrid(const TriMesh& mesh, double h, int& nx, float& originX) {
    originX = static_cast<float>(static_cast<double>(mesh.bboxMin[0]) - 2.0 * h);
    const double extent = static_cast<double>(mesh.bboxMax[0] - originX) / h;
    nx = extent < 2147483000.0 ? static_cast<int>(extent) + 3 : INT32_MAX;
}

// Settings in voxel units after the derivations, checked before any output
// exists: a failure here leaves nothing on disk.
void resolveSettings(MaptRun& run, const TriMesh& mesh, const TransformSettings& settings) {
    checkLength("starting radius", settings.startRadius);
    checkLength("radius step", settings.radiusStep);
    checkLength("sigma", settings.sigma);
    const double h = deriveGridResolution(mesh, settings.gridResolution);
    for (double& size : run.grid.voxelSize) size = h;
    run.startRadius = settings.startRadius / h;
    run.radiusStep = settings.radiusStep / h;
    // A negative sigma is left undivided; it is refused just below.
    run.sigma = settings.sigma > 0.0 ? settings.sigma / h : settings.sigma;
    if (run.startRadius == 0.0) run.startRadius = 1.0;
    if (run.radiusStep == 0.0) run.radiusStep = 3.0;
    if (run.sigma == 0.0) run.sigma = 3.0;
    if (run.sigma < 0.0)
        throw Error("sigma " + number(settings.sigma) + " is negative" + CLOCKWISE_HINT);
    checkRadii(run, settings.radiusCount, h);
    run.kernel = settings.kernel;
    run.tensorsOn = settings.tensorsOn;
    run.bothSides = settings.bothSides;
    run.blendNormals = settings.blendNormals;
    run.outDir = settings.outDir;
}

std::vector<unsigned char> voxelise(const TriMesh& mesh, const TransformSettings& settings,
                                    Grid& grid) {
    const float hFloat = static_cast<float>(grid.h());
    if (settings.voxeliser == Voxeliser::closedMesh)
        return rasterizeClosedMesh(mesh, hFloat, grid.dims, grid.origin, settings.occupancyPath);
    int nx = 0;
    float originX = 0.0f;
    preliminaryGrid(mesh, grid.h(), nx, originX);
    // The specified line: no separator between the text, nx and the origin.
    std::fprintf(stderr, "mesh non chiusa%d%g\n", nx, static_cast<double>(originX));
    std::fflush(stderr);
    return mesh2Volume(mesh, hFloat, grid.dims, grid.origin);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

KernelChoice kernelChoiceFrom(float value) {
    if (value == 0.0f) return KernelChoice::ballSum;
    if (value == 2.0f) return KernelChoice::ballSumThenGaussian;
    return KernelChoice::rawGaussian;
}

void MaptRun::allocateVolumes() {
    const std::size_t n = voxels();
    votes.assign(n, 0.0f);
    apt.assign(n, 0.0f);
    jmapt.assign(n, 0.0f);
    scale.assign(n, 0.0f);
    if (tensorsOn) {
        for (auto& t : tensor) t.assign(n, 0.0f);
        for (auto& t : bestTensor) t.assign(n, 0.0f);
    }
}

std::vector<float> runTransform(TriMesh mesh, const TransformSettings& settings,
                                RunObserver* observer) {
    RunObserver silent;
    RunObserver& watch = observer != nullptr ? *observer : silent;
    std::fprintf(stderr, "in=%d\n", settings.voxeliser == Voxeliser::closedMesh ? 1 : 0);
    std::fflush(stderr);
    std::fprintf(stderr, "both=%d\n", settings.bothSides ? 1 : 0);
    std::fflush(stderr);
    MaptRun run;
    // Seeded with the time unless a seed is given: two such runs on the same
    // input differ slightly.
    run.random.reseed(settings.seeded ? settings.seed
                                      : static_cast<std::uint64_t>(std::time(nullptr)));
    resolveSettings(run, mesh, settings);
    Grid& grid = run.grid;
    setUpGrid(mesh.bboxMin, mesh.bboxMax, static_cast<float>(grid.h()), grid.dims, grid.origin);
    checkGridFits(grid.dims, run.tensorsOn);

    createOutputDirectory(run.outDir);
    // Keeps the lines of the radii done if a later stage fails.
    run.histFile =
        std::make_unique<OutputFile>(run.outputPath("hist.txt"), OutputFile::Incomplete::keep);

    const Clock::time_point voxelising = Clock::now();
    run.labels = voxelise(mesh, settings, grid);
    RunStart start;
    start.grid = &grid;
    start.startRadius = run.startRadius;
    start.radiusStep = run.radiusStep;
    start.sigma = run.sigma;
    start.radiusCount = std::max(settings.radiusCount, 0);
    start.voxelisingSeconds = secondsSince(voxelising);

    run.allocateVolumes();
    std::fprintf(stderr, "offset %g %g %g\n", static_cast<double>(grid.origin[0]),
                 static_cast<double>(grid.origin[1]), static_cast<double>(grid.origin[2]));
    std::fflush(stderr);
    watch.runStarted(start);

    run.radius = run.startRadius;
    for (run.radiusIndex = 0; run.radiusIndex < settings.radiusCount; ++run.radiusIndex) {
        RadiusDone done;
        done.index = run.radiusIndex;
        done.count = settings.radiusCount;
        done.radius = run.radius;
        Clock::time_point t = Clock::now();
        std::fill(run.votes.begin(), run.votes.end(), 0.0f);
        std::fill(run.apt.begin(), run.apt.end(), 0.0f);
        if (run.radiusIndex > 0) smoothVertices(mesh, run.smoothingScratch);
        refreshVertexNormals(mesh);
        done.times.smoothing = secondsSince(t);
        t = Clock::now();
        voteSurface(run, mesh, run.radius);
        done.times.voting = secondsSince(t);
        t = Clock::now();
        filterVotes(run, run.radius);
        done.times.filtering = secondsSince(t);
        t = Clock::now();
        updateMaxima(run, run.radius);
        done.times.maxima = secondsSince(t);
        t = Clock::now();
        writeHistogramLine(run);
        run.radius += run.radiusStep;
        writeRadiusVolumes(run);
        done.times.writing = secondsSince(t);
        done.histogram = &run.histogram;
        done.atLeastOne = run.atLeastOne;
        watch.radiusDone(done);
    }

    const Clock::time_point writing = Clock::now();
    run.histFile->close();
    writeFinalResults(run);
    watch.runFinished(secondsSince(writing));
    return std::move(run.jmapt);
}

std::vector<float> computeMAPTfromTrimesh(TriMesh mesh, double h, double startRadius,
                                          int radiusCount, double radiusStep, double sigma,
                                          float kernelChoice, int closedMesh, int tensorsOn,
                                          int bothSides, const char* outDir, int blendNormals) {
    TransformSettings settings;
    settings.gridResolution = h;
    settings.startRadius = startRadius;
    settings.radiusCount = radiusCount;
    settings.radiusStep = radiusStep;
    settings.sigma = sigma;
    settings.kernel = kernelChoiceFrom(kernelChoice);
    settings.voxeliser = closedMesh != 0 ? Voxeliser::closedMesh : Voxeliser::nearestVertex;
    settings.tensorsOn = tensorsOn != 0;
    settings.bothSides = bothSides != 0;
    settings.blendNormals = blendNormals != 0;
    settings.outDir = outDir != nullptr ? outDir : ".";
    return runTransform(std::move(mesh), settings, nullptr);
}

}  // namespace shapescale
