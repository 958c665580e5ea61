#include "mapt/Transform.hpp"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"
#include "core/Stopwatch.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/MaptRun.hpp"
#include "mapt/Maxima.hpp"
#include "mapt/ResolveSettings.hpp"
#include "mapt/ResourceChecks.hpp"
#include "mapt/ResultFiles.hpp"
#include "mapt/ResultWriter.hpp"
#include "mapt/Voting.hpp"
#include "voxel/GridSetup.hpp"
#include "voxel/NearestVertex.hpp"
#include "voxel/Rasterizer.hpp"

namespace shapescale {

namespace {

// One line of the run's report on standard error, flushed at once.
[[gnu::format(printf, 1, 2)]] void reportLine(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fflush(stderr);
}

// The grid before voxelisation, reported by the nearest-vertex path: origin in
// double rounded to float, the extent's difference in float, division in double.
void preliminaryGrid(const TriMesh& mesh, double h, int& nx, float& originX) {
    originX = static_cast<float>(static_cast<double>(mesh.bboxMin[0]) - 2.0 * h);
    const double extent = static_cast<double>(mesh.bboxMax[0] - originX) / h;
    nx = extent < 2147483000.0 ? static_cast<int>(extent) + 3 : INT32_MAX;
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
        reportLine("mesh non chiusa%d%g\n", nx, static_cast<double>(originX));
    }
    return mesh2Volume(mesh, hFloat, grid.dims, grid.origin);
}

// A caller of the library may hand a mesh whose normals are not computed yet;
// the voxelisers and the voting need one per vertex.
void ensureVertexNormals(TriMesh& mesh) {
    if (mesh.vertexNormals.empty()) computeVertexNormals(mesh);
    if (mesh.vertexNormals.size() != mesh.vertices.size())
        throw Error("the mesh has " + std::to_string(mesh.vertexNormals.size()) +
                    " vertex normals for " + std::to_string(mesh.vertices.size()) + " vertices");
}

// Stops the run when SIGINT or SIGTERM has arrived; TransformRun words the message.
void stopIfInterrupted() {
    if (interruptRequested()) throw Interrupted(interruptSignal(), "");
}

// One call of runTransformKeeping: the run's working state, the mesh it
// smooths, and whom it tells.
class TransformRun {
  public:
    TransformRun(TriMesh& mesh, const TransformSettings& settings, RunObserver& observer)
        : mesh_(mesh),
          settings_(settings),
          observer_(observer),
          writes_(!settings.inMemory),
          radiusCount_(std::max(settings.radiusCount, 0)) {
        // Seeded with the time unless a seed is given: two such runs on the
        // same input differ slightly.
        run_.random.reseed(settings.seeded ? settings.seed
                                           : static_cast<std::uint64_t>(std::time(nullptr)));
        run_.observer = &observer;
    }

    TransformResult run() {
        if (writes_) {
            reportLine("in=%d\n", settings_.voxeliser == Voxeliser::closedMesh ? 1 : 0);
            reportLine("both=%d\n", settings_.bothSides ? 1 : 0);
        }
        try {
            stopIfInterrupted();
            setUp();
            RunStart start{.grid = &run_.grid,
                           .startRadius = run_.startRadius,
                           .radiusStep = run_.radiusStep,
                           .sigma = run_.sigma,
                           .radiusCount = radiusCount_};
            stage(start.voxelisingSeconds, [&] { voxeliseMesh(); });
            run_.allocateVolumes();
            if (writes_) {
                // One more volume (two with tensors): the radius being written.
                run_.aptWriting.assign(run_.voxels(), 0.0f);
                if (run_.tensorsOn) run_.vxxWriting.assign(run_.voxels(), 0.0f);
            }
            const float* origin = run_.grid.origin;
            if (writes_)
                reportLine("offset %g %g %g\n", static_cast<double>(origin[0]),
                           static_cast<double>(origin[1]), static_cast<double>(origin[2]));
            observer_.runStarted(start);
            run_.radius = run_.startRadius;
            for (run_.radiusIndex = 0; run_.radiusIndex < settings_.radiusCount; ++run_.radiusIndex)
                computeRadius();
            finish();
        } catch (const Interrupted& e) {
            // The radius being written counts once its files are in place.
            writer_.settle();
            const int stage = position_ == RADII ? completeRadii_.load() : position_;
            throw Interrupted(e.signal(), interruptedText(e.signal(), stage, radiusCount_));
        }
        return takeResult();
    }

  private:
    // Times one stage into `seconds`, then stops the run if a signal arrived
    // or the writer failed meanwhile: between stages every file written so
    // far is whole.
    template <class Stage>
    void stage(double& seconds, Stage&& work) {
        const Stopwatch watch;
        work();
        seconds = watch.seconds();
        stopIfInterrupted();
        writer_.rethrowFailure();
        reportWrittenFiles();
    }

    void reportWrittenFiles() {
        for (const std::string& path : writer_.takeFiles()) observer_.fileWritten(path);
    }

    // Waits for the writer to be idle, then reports what it completed.
    void waitForWriter() {
        writer_.wait();
        reportWrittenFiles();
    }

    // Settings, grid, the checks that the run fits, and the output directory
    // with "hist.txt": everything that can refuse the run comes before any output.
    void setUp() {
        ensureVertexNormals(mesh_);
        resolveSettings(run_, mesh_, settings_);
        Grid& grid = run_.grid;
        setUpGrid(mesh_.bboxMin, mesh_.bboxMax, static_cast<float>(grid.h()), grid.dims,
                  grid.origin);
        checkGridFits(mesh_, grid.dims, run_.tensorsOn, run_.kernel, settings_.voxeliser, writes_,
                      settings_.names);
        if (!writes_) return;
        checkOutputFits(run_.outDir, grid.dims, settings_.radiusCount, run_.tensorsOn,
                        settings_.names);
        createOutputDirectory(run_.outDir);
        // Keeps the lines of the radii done if a later stage fails.
        run_.histFile =
            std::make_unique<OutputFile>(run_.outputPath("hist.txt"), OutputFile::Incomplete::keep);
    }

    void voxeliseMesh() {
        run_.labels = voxelise(mesh_, settings_, run_.grid);
        if (writes_ && settings_.voxeliser == Voxeliser::closedMesh)
            observer_.fileWritten(settings_.occupancyPath);
    }

    void computeRadius() {
        position_ = RADII;
        RadiusDone done{
            .index = run_.radiusIndex, .count = settings_.radiusCount, .radius = run_.radius};
        stage(done.times.smoothing, [&] { smoothForRadius(); });
        stage(done.times.voting, [&] { voteSurface(run_, mesh_, run_.radius); });
        if (run_.tensorsOn) {
            // The maxima copy the filtered tensors, which the box filter
            // finishes only after the APT volume.
            stage(done.times.filtering, [&] { filterVotes(run_, run_.radius); });
            stage(done.times.maxima, [&] { updateMaxima(run_, run_.radius); });
        } else {
            // The maxima in the last filter pass, while each row is in cache.
            MaximaPass maxima(run_, run_.radius);
            stage(done.times.filtering, [&] {
                filterVotes(run_, run_.radius, [&](std::size_t row) { maxima.row(row); });
                maxima.finish();
            });
        }
        observer_.radiusWriting(run_.radiusIndex);
        stage(done.times.writing, [&] { writeRadius(); });
        done.histogram = &run_.histogram;
        done.atLeastOne = run_.atLeastOne;
        done.apt = writes_ ? &run_.aptWriting : &run_.apt;
        observer_.radiusDone(done);
    }

    // The radius's volumes cleared; the mesh smoothed (from the second radius
    // on) and its normals refreshed.
    void smoothForRadius() {
        std::fill(run_.votes.begin(), run_.votes.end(), 0.0f);
        std::fill(run_.apt.begin(), run_.apt.end(), 0.0f);
        if (run_.radiusIndex > 0) smoothVertices(mesh_, run_.smoothingScratch);
        refreshVertexNormals(mesh_);
    }

    // The histogram line on standard output, and the radius's volumes and
    // its line in "hist.txt" handed to the writer, which writes them while
    // the next radius is computed: the APT volume by swapping buffers with
    // the writer (the next radius clears it), the xx tensor, which the next
    // radius goes on adding to, by copying it. The radius counts as complete
    // once the writer has put its files in place.
    void writeRadius() {
        result_.radii.push_back(run_.radius);
        result_.histograms.push_back(run_.histogram);
        result_.atLeastOne.push_back(run_.atLeastOne);
        if (writes_) {
            printHistogramLine(run_.histogram);
            waitForWriter();
            run_.apt.swap(run_.aptWriting);
            if (run_.tensorsOn) run_.vxxWriting = run_.tensor[0];
            writer_.start([this, index = run_.radiusIndex,
                           histogram = run_.histogram](std::vector<std::string>& files) {
                writeRadiusVolumes(run_, index, run_.aptWriting,
                                   run_.tensorsOn ? &run_.vxxWriting : nullptr, files);
                writeHistogramLine(*run_.histFile, histogram);
                completeRadii_ = index + 1;
            });
        } else {
            completeRadii_ = run_.radiusIndex + 1;
        }
        run_.radius += run_.radiusStep;
    }

    // The final volumes are written while the observers make what they make
    // of them (previews, images).
    void finish() {
        const Stopwatch writing;
        if (writes_) waitForWriter();  // the last radius's files
        position_ = radiusCount_;
        stopIfInterrupted();  // polled here too for a run without radii
        if (writes_)
            writer_.start([this](std::vector<std::string>& files) {
                run_.histFile->close();
                files.push_back(run_.histFile->path());
                writeFinalResults(run_, files);
            });
        FinalVolumes final{.grid = &run_.grid,
                           .labels = run_.labels.data(),
                           .jmapt = run_.jmapt.data(),
                           .scale = run_.scale.data()};
        if (run_.tensorsOn)
            for (std::size_t c = 0; c < TENSOR_COMPONENTS; ++c)
                final.bestTensor[c] = run_.bestTensor[c].data();
        observer_.finalVolumes(final);
        if (writes_) waitForWriter();
        observer_.runFinished(writing.seconds());
    }

    TransformResult takeResult() {
        result_.grid = run_.grid;
        result_.startRadius = run_.startRadius;
        result_.radiusStep = run_.radiusStep;
        result_.sigma = run_.sigma;
        result_.kernel = run_.kernel;
        result_.labels = std::move(run_.labels);
        result_.jmapt = std::move(run_.jmapt);
        result_.scale = std::move(run_.scale);
        if (run_.tensorsOn) result_.bestTensor = std::move(run_.bestTensor);
        return std::move(result_);
    }

    TriMesh& mesh_;
    const TransformSettings& settings_;
    RunObserver& observer_;
    const bool writes_;
    const int radiusCount_;  ///< settings.radiusCount, 0 when negative
    MaptRun run_;
    TransformResult result_;
    /// While the radii are computed, position_ holds this and an interruption
    /// reports completeRadii_.
    static constexpr int RADII = -2;
    /// Where an interruption reports the run (see interruptedText): -1 before
    /// the radii, radiusCount_ once every radius is complete.
    int position_ = -1;
    /// Radii whose files are all in place; set by the writer.
    std::atomic<int> completeRadii_ = 0;
    /// Declared last, so that it is gone before the buffers its job reads.
    ResultWriter writer_;
};

}  // namespace

TransformResult runTransformKeeping(TriMesh mesh, const TransformSettings& settings,
                                    RunObserver* observer) {
    RunObserver silent;
    return TransformRun(mesh, settings, observer != nullptr ? *observer : silent).run();
}

std::vector<float> runTransform(TriMesh mesh, const TransformSettings& settings,
                                RunObserver* observer) {
    return runTransformKeeping(std::move(mesh), settings, observer).jmapt;
}

std::vector<float> computeMAPTfromTrimesh(TriMesh mesh, double h, double startRadius,
                                          int radiusCount, double radiusStep, double sigma,
                                          float kernelChoice, int closedMesh, int tensorsOn,
                                          int bothSides, const char* outDir, int blendNormals) {
    const TransformSettings settings{
        .gridResolution = h,
        .startRadius = startRadius,
        .radiusCount = radiusCount,
        .radiusStep = radiusStep,
        .sigma = sigma,
        .kernel = kernelChoiceFrom(kernelChoice),
        .voxeliser = closedMesh != 0 ? Voxeliser::closedMesh : Voxeliser::nearestVertex,
        .tensorsOn = tensorsOn != 0,
        .bothSides = bothSides != 0,
        .blendNormals = blendNormals != 0,
        .outDir = outDir != nullptr ? outDir : ".",
    };
    return runTransform(std::move(mesh), settings, nullptr);
}

}  // namespace shapescale
