#include "mapt/Transform.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "driver/Error.hpp"
#include "io/Analyze.hpp"
#include "mapt/MaptRun.hpp"
#include "voxel/Grid.hpp"
#include "voxel/NearestVertex.hpp"
#include "voxel/Rasterizer.hpp"

namespace shapescale {

namespace {

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

void allocateVolumes(MaptRun& run) {
    const std::size_t n = voxelCount(run.dims);
    run.votes.assign(n, 0.0f);
    run.apt.assign(n, 0.0f);
    run.jmapt.assign(n, 0.0f);
    run.scale.assign(n, 0.0f);
    if (run.tensorsOn) {
        for (auto& t : run.tensor) t.assign(n, 0.0f);
        for (auto& t : run.bestTensor) t.assign(n, 0.0f);
    }
}

}  // namespace

std::vector<float> computeMAPTfromTrimesh(TriMesh mesh, double h, double startRadius,
                                          int radiusCount, double radiusStep, double sigma,
                                          float kernelChoice, int closedMesh, int tensorsOn,
                                          int bothSides, const char* outDir, int blendNormals) {
    MaptRun run;
    run.outDir = outDir != nullptr ? outDir : ".";
    run.kernelChoice = kernelChoice;
    run.tensorsOn = tensorsOn != 0;
    run.bothSides = bothSides != 0;
    run.blendNormals = blendNormals != 0;

    std::fprintf(stderr, "in=%d\n", closedMesh);
    std::fflush(stderr);
    std::fprintf(stderr, "both=%d\n", bothSides);
    std::fflush(stderr);
    // Seeded with the time: two runs on the same input differ slightly.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // Settings are derived and checked before any output exists.
    checkLength("starting radius", startRadius);
    checkLength("radius step", radiusStep);
    checkLength("sigma", sigma);
    h = deriveGridResolution(mesh, h);
    for (double& size : run.voxelSize) size = h;
    run.startRadius = startRadius / h;
    run.radiusStep = radiusStep / h;
    run.sigma = sigma > 0.0 ? sigma / h : sigma;
    if (run.startRadius == 0.0) run.startRadius = 1.0;
    if (run.radiusStep == 0.0) run.radiusStep = 3.0;
    if (run.sigma == 0.0) run.sigma = 3.0;
    if (run.sigma < 0.0) throw Error("sigma " + number(sigma) + " is negative" + CLOCKWISE_HINT);
    checkRadii(run, radiusCount, h);

    const float hFloat = static_cast<float>(h);
    setUpGrid(mesh.bboxMin, mesh.bboxMax, hFloat, run.dims, run.origin);
    checkGridFits(run.dims, run.tensorsOn);

    createOutputDirectory(run.outDir);
    // Keeps the lines of the radii done if a later stage fails.
    run.histFile =
        std::make_unique<OutputFile>(run.outputPath("hist.txt"), OutputFile::Incomplete::keep);

    if (closedMesh != 0) {
        run.labels = rasterizeClosedMesh(mesh, hFloat, run.dims, run.origin);
    } else {
        int nx = 0;
        float originX = 0.0f;
        preliminaryGrid(mesh, h, nx, originX);
        // No separators: the format of this line is kept as it always was.
        std::fprintf(stderr, "mesh non chiusa%d%g\n", nx, static_cast<double>(originX));
        std::fflush(stderr);
        run.labels = mesh2Volume(mesh, hFloat, run.dims, run.origin);
    }

    allocateVolumes(run);
    std::fprintf(stderr, "offset %g %g %g\n", static_cast<double>(run.origin[0]),
                 static_cast<double>(run.origin[1]), static_cast<double>(run.origin[2]));
    std::fflush(stderr);

    run.radius = run.startRadius;
    for (run.radiusIndex = 0; run.radiusIndex < radiusCount; ++run.radiusIndex) {
        std::fill(run.votes.begin(), run.votes.end(), 0.0f);
        std::fill(run.apt.begin(), run.apt.end(), 0.0f);
        if (run.radiusIndex > 0) smoothVertices(mesh);
        refreshVertexNormals(mesh);
        voteSurface(run, mesh, run.radius);
        filterVotes(run, run.radius);
        updateMaxima(run, run.radius);
        writeHistogramLine(run);
        run.radius += run.radiusStep;
        writeRadiusVolumes(run);
    }

    run.histFile->close();
    writeFinalResults(run);
    return std::move(run.jmapt);
}

}  // namespace shapescale
