#include "driver/Driver.hpp"

#include <cstdio>
#include <ctime>

#include "core/Error.hpp"
#include "mapt/Transform.hpp"
#include "mesh/MeshReader.hpp"

namespace shapescale {

namespace {

TriMesh loadMeshFile(const std::string& path) {
    try {
        return readMesh(path);
    } catch (const MeshFileNotFound&) {
        // The specified line on standard output, before the error line.
        std::printf("file not found\n");
        std::fflush(stdout);
        throw;
    }
}

TransformSettings transformSettings(const Options& options, const RunSettings& s) {
    TransformSettings t;
    t.gridResolution = s.gridResolution;
    t.startRadius = s.startRadius;
    t.radiusCount = s.radiusCount;
    t.radiusStep = s.radiusStep;
    t.sigma = s.sigma;
    t.kernel = kernelChoiceFrom(static_cast<float>(options.kernelChoice));
    t.voxeliser = options.closedMesh != 0 ? Voxeliser::closedMesh : Voxeliser::nearestVertex;
    t.tensorsOn = options.tensorsOn != 0;
    t.bothSides = options.bothSides != 0;
    t.blendNormals = true;
    t.outDir = options.outDir;
    return t;
}

}  // namespace

RunSettings deriveSettings(const Options& options, const MeshMeasures& measures) {
    RequestedLengths requested;
    requested.gridResolution = options.gridResolution;
    requested.startRadius = options.startRadius;
    requested.radiusStep = options.radiusStep;
    requested.sigma = options.sigma;
    requested.radiusCount = options.radiusCount;
    return deriveRunSettings(requested, measures, options.closedMesh != 0);
}

int runCommandLine(int argc, char** argv) {
    Options options;
    const ParseOutcome outcome = parseOptions(argc, argv, options);
    if (outcome != ParseOutcome::ok) {
        std::fputs(usageText(outcome, argv[0]).c_str(), stderr);
        return 1;
    }

    const std::clock_t start = std::clock();
    TriMesh mesh = loadMeshFile(options.meshPath);
    const RunSettings s = deriveSettings(options, measureMesh(mesh));

    std::printf("%s %g %g %g %g %g %g %d\n", options.meshPath.c_str(),
                static_cast<double>(s.volume), static_cast<double>(s.baseScale),
                static_cast<double>(s.startRadius), static_cast<double>(s.gridResolution),
                static_cast<double>(s.radiusStep), static_cast<double>(s.sigma), options.tensorsOn);
    std::fflush(stdout);

    computeVertexNormals(mesh);
    runTransform(mesh, transformSettings(options, s));

    const double seconds = static_cast<double>(std::clock() - start) / 1000000.0;
    std::fprintf(stderr, "Time elapsed: %g sec.\n", seconds);
    std::fflush(stderr);
    // A completed run ends with status 1, as specified: batch scripts written
    // for this tool test for that status.
    return 1;
}

}  // namespace shapescale
