#include "driver/Driver.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "driver/Error.hpp"
#include "driver/OffLoader.hpp"
#include "driver/Vec3.hpp"
#include "mapt/Transform.hpp"

namespace shapescale {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

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
    errno = 0;
    InputFile file(std::fopen(path.c_str(), "r"));
    if (!file) {
        const int reason = errno;
        // The historical message on standard output, then the reason.
        std::printf("file not found\n");
        std::fflush(stdout);
        throw Error("cannot open mesh " + path + ": " + systemReason(reason));
    }
    TriMesh mesh = loadOffMesh(file.get(), path);
    if (mesh.vertices.empty()) throw Error(path + ": the mesh has no vertex");
    return mesh;
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

int runShapescale(int argc, char** argv) {
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
    computeMAPTfromTrimesh(mesh, s.gridResolution, s.startRadius, s.radiusCount, s.radiusStep,
                           s.sigma, static_cast<float>(options.kernelChoice), options.closedMesh,
                           options.tensorsOn, options.bothSides, options.outDir.c_str(), 1);

    const double seconds = static_cast<double>(std::clock() - start) / 1000000.0;
    std::fprintf(stderr, "Time elapsed: %g sec.\n", seconds);
    std::fflush(stderr);
    // A completed run ends with status 1; batch scripts in use test for it.
    return 1;
}

}  // namespace shapescale
