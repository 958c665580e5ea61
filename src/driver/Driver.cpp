#include "driver/Driver.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/Error.hpp"
#include "core/Vec3.hpp"
#include "mapt/Transform.hpp"
#include "mesh/MeshReader.hpp"

namespace shapescale {

namespace {

float baseScaleOf(const MeshMeasures& measures, bool closedMesh) {
    if (closedMesh) {
        // 3 V in single precision, the rest in double.
        const float threeV = 3.0f * measures.volume;
        return static_cast<float>(std::cbrt(threeV / FOUR_PI) / 25.0);
    }
    const float area = static_cast<float>(measures.areaSum * 0.5);
    return static_cast<float>(std::sqrt(area / FOUR_PI) / 40.0);
}

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
    RunSettings s;
    s.volume = measures.volume;
    s.baseScale = baseScaleOf(measures, options.closedMesh != 0);
    s.gridResolution = options.gridResolution == 0.0f ? s.baseScale : options.gridResolution;
    s.startRadius = options.startRadius == 0.0f ? 2.0f * s.baseScale : options.startRadius;
    s.radiusStep = options.radiusStep == 0.0f ? s.baseScale : options.radiusStep;
    s.sigma = options.sigma == 0.0f ? s.baseScale : options.sigma;
    s.radiusCount = options.radiusCount == 0 ? 8 : options.radiusCount;
    return s;
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
