#include "mapt/Transform.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
#include "core/Interrupt.hpp"
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
    "clockwise seen from outside (negative volume): run again with --orient, reorient the mesh "
    "or give the lengths explicitly (-r, -s, -p, -g)";

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

// Address space this process already holds (code, libraries, the mesh),
// which counts against RLIMIT_AS too; 0 when it cannot be read.
double addressSpaceInUse() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0.0;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    return read ? static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGE_SIZE)) : 0.0;
}

// Bytes a run holds at its peak, in the order they are allocated.
struct MemoryEstimate {
    double labels = 0;       ///< one byte per voxel
    double volumes = 0;      ///< votes, apt, jmapt, scale (+ 12 tensor volumes)
    double temporaries = 0;  ///< two float volumes inside every filter call
    double mesh = 0;         ///< the caller's mesh and the copies that hold neighbour lists
    int floatVolumes = 0;
    double total() const { return labels + volumes + temporaries + mesh; }
};

// The neighbour lists are duplicated by every copy of the mesh: the driver's,
// the transform's and the voxeliser's live together while voxelising. The
// nearest-vertex voxeliser's k-d tree holds about 200 bytes per vertex
// (point copies, three rank lists, heaps), counted with the mesh.
MemoryEstimate estimateMemory(const TriMesh& mesh, const int* dims, bool tensorsOn,
                              Voxeliser voxeliser) {
    const double n = static_cast<double>(voxelCount(dims));
    MemoryEstimate m;
    m.floatVolumes = 4 + (tensorsOn ? 2 * TENSOR_COMPONENTS : 0);
    m.labels = n;
    m.volumes = 4.0 * n * m.floatVolumes;
    m.temporaries = 4.0 * n * 2;
    double neighbours = 0;
    for (const auto& list : mesh.vertexNeighbours)
        neighbours += static_cast<double>(sizeof list + list.capacity() * sizeof(int));
    const double vertices = static_cast<double>(mesh.vertices.size());
    m.mesh = vertices * 2 * sizeof(Vec3f) +
             static_cast<double>(mesh.faces.size()) * sizeof(Triangle) + 3 * neighbours +
             (voxeliser == Voxeliser::nearestVertex ? 200.0 * vertices : 0.0);
    return m;
}

// "1.50 GiB", "357 KiB", "1010 MiB": the largest unit below the size.
std::string gibibytes(double bytes) {
    const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (unit < 4 && bytes >= 1024.0) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    const int decimals = unit == 0 || bytes >= 100.0 ? 0 : bytes >= 10.0 ? 1 : 2;
    std::snprintf(text, sizeof text, "%.*f %s", decimals, bytes, units[unit]);
    return text;
}

// Refuses, before anything is allocated, a grid that the output format cannot
// hold or whose run would not fit into the machine's memory or under the
// process's address-space limit (RLIMIT_AS).
void checkGridFits(const TriMesh& mesh, const int* dims, bool tensorsOn, Voxeliser voxeliser) {
    checkAnalyzeDims(dims);
    const MemoryEstimate m = estimateMemory(mesh, dims, tensorsOn, voxeliser);
    const double needed = m.total();
    std::string limit;
    const double physical = static_cast<double>(physicalMemory());
    if (needed > physical) limit = "more than this machine has (" + gibibytes(physical) + ")";
    rlimit as{};
    if (limit.empty() && getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        const double inUse = addressSpaceInUse();
        if (needed > static_cast<double>(as.rlim_cur) - inUse)
            limit = "more than the address-space limit leaves (RLIMIT_AS " +
                    gibibytes(static_cast<double>(as.rlim_cur)) + ", " + gibibytes(inUse) +
                    " of it in use)";
    }
    if (limit.empty()) return;
    throw Error("the grid " + std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " +
                std::to_string(dims[2]) + " needs " + gibibytes(needed) + " of memory (labels " +
                gibibytes(m.labels) + ", " + std::to_string(m.floatVolumes) + " float volumes " +
                gibibytes(m.volumes) + ", filter temporaries " + gibibytes(m.temporaries) +
                ", mesh " + gibibytes(m.mesh) + "), " + limit +
                "; choose a coarser grid resolution with -r");
}

// Free bytes of the file system that holds `dir`, or of its nearest existing
// ancestor when `dir` is not there yet; infinity when it cannot be asked.
double freeSpaceFor(std::string dir) {
    struct statvfs fs {};
    while (statvfs(dir.c_str(), &fs) != 0) {
        if (errno != ENOENT) return HUGE_VAL;
        const std::size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos)
            dir = ".";
        else if (slash == 0)
            dir = "/";
        else
            dir = dir.substr(0, slash);
        if (dir == "." || dir == "/") {
            if (statvfs(dir.c_str(), &fs) != 0) return HUGE_VAL;
            break;
        }
    }
    return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

// Refuses, before any output exists, a run whose result files cannot fit on
// the output file system: without this a huge radius count (-n 1000000)
// would write for hours and then fail on a full disk. Counted: every volume
// pair (348-byte header and 4 bytes per voxel) and the two text files; not
// the occupancy file, which goes to the working directory.
void checkOutputFits(const std::string& outDir, const int* dims, int radiusCount, bool tensorsOn) {
    const double pair = 348.0 + 4.0 * static_cast<double>(voxelCount(dims));
    const double perRadius = (tensorsOn ? 2.0 : 1.0) * pair + 12.0 * 21.0;  // hist line
    const double finals = (tensorsOn ? 8.0 : 2.0) * pair + 200.0;           // info.txt
    const double needed = std::max(radiusCount, 0) * perRadius + finals;
    const double free = freeSpaceFor(outDir);
    if (needed <= free) return;
    throw Error("the run would write " + gibibytes(needed) + " into " + outDir + " (" +
                std::to_string(radiusCount) + " radii of " + gibibytes(perRadius) +
                " each and the final volumes), more than its file system has free (" +
                gibibytes(free) + "); use fewer radii (-n) or a coarser grid (-r)");
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
    run.evenSampling = settings.evenSampling;
    run.outDir = settings.outDir;
    run.formats = settings.formats;
}

std::vector<unsigned char> voxelise(const TriMesh& mesh, const TransformSettings& settings,
                                    Grid& grid) {
    const float hFloat = static_cast<float>(grid.h());
    if (settings.voxeliser == Voxeliser::closedMesh)
        return rasterizeClosedMesh(mesh, hFloat, grid.dims, grid.origin,
                                   settings.inMemory ? std::string() : settings.occupancyPath);
    if (!settings.inMemory) {
        int nx = 0;
        float originX = 0.0f;
        preliminaryGrid(mesh, grid.h(), nx, originX);
        // The specified line: no separator between the text, nx and the origin.
        std::fprintf(stderr, "mesh non chiusa%d%g\n", nx, static_cast<double>(originX));
        std::fflush(stderr);
    }
    return mesh2Volume(mesh, hFloat, grid.dims, grid.origin);
}

// "interrupted by SIGTERM at radius 3 of 8; the files of radii 0..2 are
// complete": radius k is complete once its volumes are written.
std::string interruptedText(int signal, int stage, int radiusCount) {
    std::string text = "interrupted by " + signalName(signal);
    if (stage < 0)
        text += " before radius 0 of " + std::to_string(radiusCount);
    else if (stage < radiusCount)
        text += " at radius " + std::to_string(stage) + " of " + std::to_string(radiusCount);
    else
        text += " while writing the final results";
    const int complete = std::max(stage, 0);
    if (complete == 0) return text + "; no radius is complete";
    if (complete == 1) return text + "; the files of radius 0 are complete";
    return text + "; the files of radii 0.." + std::to_string(complete - 1) + " are complete";
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
    // The ball sum alone needs no volume-sized temporaries.
    filterWorkspace.reserve(grid.dims, kernel != KernelChoice::ballSum || tensorsOn);
}

TransformResult runTransformKeeping(TriMesh mesh, const TransformSettings& settings,
                                    RunObserver* observer) {
    RunObserver silent;
    RunObserver& watch = observer != nullptr ? *observer : silent;
    const bool writes = !settings.inMemory;
    if (writes) {
        std::fprintf(stderr, "in=%d\n", settings.voxeliser == Voxeliser::closedMesh ? 1 : 0);
        std::fflush(stderr);
        std::fprintf(stderr, "both=%d\n", settings.bothSides ? 1 : 0);
        std::fflush(stderr);
    }
    MaptRun run;
    // Seeded with the time unless a seed is given: two such runs on the same
    // input differ slightly.
    run.random.reseed(settings.seeded ? settings.seed
                                      : static_cast<std::uint64_t>(std::time(nullptr)));
    run.observer = &watch;
    TransformResult result;
    // Where the run stands when a signal stops it: -1 before the first
    // radius, radiusCount while the final results are written.
    int stage = -1;
    const int radiusCount = std::max(settings.radiusCount, 0);
    const auto poll = [] {
        if (interruptRequested()) throw Interrupted(interruptSignal(), "");
    };
    try {
        poll();
        // A caller of the library may hand a mesh whose normals are not
        // computed yet; the voxelisers and the voting need one per vertex.
        if (mesh.vertexNormals.empty()) computeVertexNormals(mesh);
        if (mesh.vertexNormals.size() != mesh.vertices.size())
            throw Error("the mesh has " + std::to_string(mesh.vertexNormals.size()) +
                        " vertex normals for " + std::to_string(mesh.vertices.size()) +
                        " vertices");
        resolveSettings(run, mesh, settings);
        Grid& grid = run.grid;
        setUpGrid(mesh.bboxMin, mesh.bboxMax, static_cast<float>(grid.h()), grid.dims, grid.origin);
        checkGridFits(mesh, grid.dims, run.tensorsOn, settings.voxeliser);
        if (writes) {
            checkOutputFits(run.outDir, grid.dims, settings.radiusCount, run.tensorsOn);
            createOutputDirectory(run.outDir);
            // Keeps the lines of the radii done if a later stage fails.
            run.histFile = std::make_unique<OutputFile>(run.outputPath("hist.txt"),
                                                        OutputFile::Incomplete::keep);
        }

        const Clock::time_point voxelising = Clock::now();
        run.labels = voxelise(mesh, settings, grid);
        if (writes && settings.voxeliser == Voxeliser::closedMesh)
            watch.fileWritten(settings.occupancyPath);
        poll();
        RunStart start;
        start.grid = &grid;
        start.startRadius = run.startRadius;
        start.radiusStep = run.radiusStep;
        start.sigma = run.sigma;
        start.radiusCount = radiusCount;
        start.voxelisingSeconds = secondsSince(voxelising);

        run.allocateVolumes();
        if (writes) {
            std::fprintf(stderr, "offset %g %g %g\n", static_cast<double>(grid.origin[0]),
                         static_cast<double>(grid.origin[1]), static_cast<double>(grid.origin[2]));
            std::fflush(stderr);
        }
        watch.runStarted(start);

        run.radius = run.startRadius;
        for (run.radiusIndex = 0; run.radiusIndex < settings.radiusCount; ++run.radiusIndex) {
            stage = run.radiusIndex;
            poll();
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
            poll();
            t = Clock::now();
            voteSurface(run, mesh, run.radius);
            done.times.voting = secondsSince(t);
            poll();
            t = Clock::now();
            filterVotes(run, run.radius);
            done.times.filtering = secondsSince(t);
            poll();
            t = Clock::now();
            updateMaxima(run, run.radius);
            done.times.maxima = secondsSince(t);
            poll();
            watch.radiusWriting(run.radiusIndex);
            t = Clock::now();
            result.radii.push_back(run.radius);
            result.histograms.push_back(run.histogram);
            result.atLeastOne.push_back(run.atLeastOne);
            if (writes) writeHistogramLine(run);
            run.radius += run.radiusStep;
            if (writes) writeRadiusVolumes(run);
            done.times.writing = secondsSince(t);
            done.histogram = &run.histogram;
            done.atLeastOne = run.atLeastOne;
            done.apt = &run.apt;
            watch.radiusDone(done);
        }

        stage = radiusCount;
        poll();
        const Clock::time_point writing = Clock::now();
        if (writes) {
            run.histFile->close();
            watch.fileWritten(run.histFile->path());
            writeFinalResults(run);
        }
        const double writingSeconds = secondsSince(writing);
        FinalVolumes final;
        final.grid = &grid;
        final.labels = run.labels.data();
        final.jmapt = run.jmapt.data();
        final.scale = run.scale.data();
        watch.finalVolumes(final);
        watch.runFinished(writingSeconds);
    } catch (const Interrupted& e) {
        throw Interrupted(e.signal(), interruptedText(e.signal(), stage, radiusCount));
    }
    result.grid = run.grid;
    result.startRadius = run.startRadius;
    result.radiusStep = run.radiusStep;
    result.sigma = run.sigma;
    result.kernel = run.kernel;
    result.labels = std::move(run.labels);
    result.jmapt = std::move(run.jmapt);
    result.scale = std::move(run.scale);
    if (run.tensorsOn) result.bestTensor = std::move(run.bestTensor);
    return result;
}

std::vector<float> runTransform(TriMesh mesh, const TransformSettings& settings,
                                RunObserver* observer) {
    return runTransformKeeping(std::move(mesh), settings, observer).jmapt;
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
