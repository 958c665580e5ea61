#include "driver/Driver.hpp"

#include <omp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include "core/Error.hpp"
#include "core/Stopwatch.hpp"
#include "core/Vec3.hpp"
#include "driver/MeshCheck.hpp"
#include "driver/Preview.hpp"
#include "driver/RunRecord.hpp"
#include "driver/Summary.hpp"
#include "driver/VtkImage.hpp"
#include "io/OutputFile.hpp"
#include "mapt/ResolveSettings.hpp"
#include "mapt/Transform.hpp"
#include "mapt/VertexScale.hpp"
#include "mesh/MeshReader.hpp"
#include "mesh/Orientation.hpp"

namespace shapescale {

namespace {

TriMesh loadMeshFile(const std::string& path, std::vector<std::string>& warnings) {
    try {
        return readMesh(path, &warnings);
    } catch (const MeshFileNotFound&) {
        // The specified line on standard output, before the error line.
        std::printf("file not found\n");
        std::fflush(stdout);
        throw;
    }
}

// Bytes at most of the painted mesh (PLY or VTK XML: position, colour or
// connectivity, scale and jmapt; 64 per vertex and 32 per triangle), and an
// allowance for the summary and the centres, whose sizes are known only at
// the end.
ExtraOutputs extraOutputs(const Options& options, const TriMesh& mesh) {
    double other = 0.0;
    if (!options.vertexScalePath.empty())
        other += 64.0 * static_cast<double>(mesh.vertices.size()) +
                 32.0 * static_cast<double>(mesh.faces.size()) + 4096.0;
    if (!options.summaryPath.empty() || !options.centresPath.empty()) other += 1024.0 * 1024.0;
    return {.vtkImage = options.vtk, .previews = options.preview, .otherBytes = other};
}

TransformSettings transformSettings(const Options& options, const RunSettings& s,
                                    const TriMesh& mesh) {
    return withLengths(
        {.kernel = kernelChoiceFrom(static_cast<float>(options.kernelChoice)),
         .voxeliser = options.closedMesh != 0 ? Voxeliser::closedMesh : Voxeliser::nearestVertex,
         .tensorsOn = options.tensorsOn != 0,
         .bothSides = options.bothSides != 0,
         .evenSampling = options.evenSampling,
         .outDir = options.outDir,
         .seeded = options.seeded,
         .seed = options.seed,
         .formats = {.nifti = options.nifti, .niftiGz = options.niftiGz},
         .extras = extraOutputs(options, mesh)},
        s);
}

// --orient: a closed mesh with a negative signed volume has its faces ordered
// clockwise seen from outside; flipping them makes the volume and every
// derived length positive. An open or inconsistently oriented mesh has no
// inside to decide by.
bool orientForRun(TriMesh& mesh) {
    const float volume = measureMesh(mesh).volume;
    if (!(volume < 0.0f)) return false;
    if (!orientOutward(mesh)) {
        std::fprintf(stderr, "%s\n", unorientedText(mesh, "--orient").c_str());
        std::fflush(stderr);
        return false;
    }
    std::fprintf(stderr, "--orient: the mesh had a negative volume (%g); every face was flipped\n",
                 static_cast<double>(volume));
    std::fflush(stderr);
    return true;
}

// Every file and directory the run will create, checked before it starts: a
// name that cannot be created fails now, not after hours of computing. A file
// inside an output directory still to be created is covered by that
// directory's check.
void checkOutputsWritable(const Options& options) {
    checkOutputDirectory(options.outDir);
    const bool outDirMissing = access(options.outDir.c_str(), F_OK) != 0;
    for (const std::string* path :
         {&options.summaryPath, &options.vertexScalePath, &options.centresPath}) {
        if (path->empty()) continue;
        if (outDirMissing && path->rfind(options.outDir + "/", 0) == 0) continue;
        checkFileCanBeCreated(*path);
    }
}

std::int64_t peakMemoryBytes() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

}  // namespace

RunSettings deriveSettings(const Options& options, const MeshMeasures& measures) {
    const RequestedLengths requested{.gridResolution = options.gridResolution,
                                     .startRadius = options.startRadius,
                                     .radiusStep = options.radiusStep,
                                     .sigma = options.sigma,
                                     .radiusCount = options.radiusCount};
    return deriveRunSettings(requested, measures, options.closedMesh != 0);
}

int runCommandLine(int argc, char** argv) {
    // As typed: getopt moves the operands behind the options.
    const std::vector<std::string> arguments(argv, argv + argc);
    Options options;
    const ParseOutcome outcome = parseOptions(argc, argv, options);
    switch (outcome) {
        case ParseOutcome::help:
            std::fputs(helpText(argv[0]).c_str(), stdout);
            return EXIT_OK;
        case ParseOutcome::version:
            std::fputs(versionText().c_str(), stdout);
            return EXIT_OK;
        case ParseOutcome::badOption:
        case ParseOutcome::noMesh:
            std::fputs(usageText(outcome, argv[0]).c_str(), stderr);
            return EXIT_USAGE;
        case ParseOutcome::ok:
            break;
    }
    const bool painted = !options.vertexScalePath.empty();
    // The options refused any other extension.
    const PaintedFormat paintedFormat =
        paintedFormatOf(options.vertexScalePath).value_or(PaintedFormat::ply);
    if (options.threads > 0) omp_set_num_threads(options.threads);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const bool summary = !options.summaryPath.empty();

    const Stopwatch wall;
    const std::clock_t start = std::clock();
    std::vector<std::string> warnings;  // the reader's first, then the mesh's
    TriMesh mesh = loadMeshFile(options.meshPath, warnings);

    // Edge statistics only for the options and the terminal that show them.
    const bool showWarnings = options.warnings || (terminal && !options.quiet);
    MeshStats topology;
    if (summary || showWarnings || options.orient) topology = computeMeshStats(mesh);
    const bool reoriented = options.orient && orientForRun(mesh);
    if (reoriented) topology = computeMeshStats(mesh);

    const MeshMeasures measures = measureMesh(mesh);
    checkMeshScale(mesh);
    checkVolumeForDerivedLengths(mesh, measures, options);
    const RunSettings s = deriveSettings(options, measures);
    TransformSettings settings = transformSettings(options, s, mesh);

    std::printf("%s %g %g %g %g %g %g %d\n", options.meshPath.c_str(),
                static_cast<double>(s.volume), static_cast<double>(s.baseScale),
                static_cast<double>(s.startRadius), static_cast<double>(s.gridResolution),
                static_cast<double>(s.radiusStep), static_cast<double>(s.sigma), options.tensorsOn);
    std::fflush(stdout);
    // Every refusal that needs no output comes before the run's first line.
    checkTransform(mesh, settings);
    checkOutputsWritable(options);

    for (std::string& w : meshWarnings(topology, options.closedMesh != 0))
        warnings.push_back(std::move(w));
    for (std::string& w : geometryWarnings(mesh, measures, s.gridResolution))
        warnings.push_back(std::move(w));
    if (showWarnings) {
        for (const std::string& w : warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
        std::fflush(stderr);
    }

    computeVertexNormals(mesh);
    // A summary names the seed of every run, so that one can be repeated with
    // --seed: without one it is the clock's, read here instead of in the
    // transform, which would seed with the same value.
    const bool seedFromClock = summary && !settings.seeded;
    if (seedFromClock) {
        settings.seeded = true;
        settings.seed = static_cast<std::uint32_t>(std::time(nullptr));
    }
    const double loadingSeconds = wall.seconds();

    ObserverList observers;
    RunRecord record;
    record.readsFinalVolumes = summary || !options.centresPath.empty();
    record.centreThreshold = options.centreThreshold;
    observers.add(record);
    std::unique_ptr<ProgressLine> progress;
    if (terminal && !options.quiet) {
        progress = std::make_unique<ProgressLine>(stderr);
        observers.add(*progress);
    }
    PreviewWriter preview(options.outDir);
    if (options.preview) observers.add(preview);
    VtkImageWriter vtkImage(options.outDir, record);
    if (options.vtk) observers.add(vtkImage);

    if (!painted) {
        runTransform(mesh, settings, &observers);
    } else {
        // The run smooths the shared vertices: the surface is kept as loaded.
        const SurfaceSnapshot surface = snapshotSurface(mesh);
        const TransformResult result = runTransformKeeping(mesh, settings, &observers);
        writeVertexScale(options.vertexScalePath, surface, result, paintedFormat);
        observers.fileWritten(options.vertexScalePath);
    }
    progress.reset();
    if (!options.centresPath.empty()) {
        writeWholeFile(options.centresPath, centresCsv(record.centres));
        observers.fileWritten(options.centresPath);
    }

    const double seconds = static_cast<double>(std::clock() - start) / 1000000.0;
    std::fprintf(stderr, "Time elapsed: %g sec.\n", seconds);
    std::fflush(stderr);

    if (summary) {
        SummaryInput in;
        in.arguments = arguments;
        in.options = &options;
        in.settings = s;
        in.mesh = &mesh;
        in.measures = measures;
        in.topology = topology;
        in.reoriented = reoriented;
        in.warnings = warnings;
        in.seed = settings.seed;
        in.seedFromClock = seedFromClock;
        in.threads = omp_get_max_threads();
        in.loadingSeconds = loadingSeconds;
        in.processorSeconds = seconds;
        in.wallSeconds = wall.seconds();
        in.peakMemoryBytes = peakMemoryBytes();
        in.extraFiles = preview.files();
        writeSummary(options.summaryPath, in, record);
    }
    // A completed run ends with status 1, as specified: batch scripts written
    // for this tool test for that status. --exit-zero is for the tools that
    // take any other status for a failure.
    return options.exitZero ? EXIT_OK : EXIT_COMPLETED;
}

}  // namespace shapescale
