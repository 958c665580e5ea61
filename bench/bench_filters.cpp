// The fast volume filters against the straightforward ones, side by side in
// one run, on n^3 cubes. Arguments: edge length n, radius or filter width in
// voxels, and 0 for the fast filter or 1 for the reference. Times are wall
// clock (the fast filters use every core).
//
// The ball sum runs on sparse votes as the transform makes them: positive
// values on a spherical shell, 2-2.5 % of the voxels. Its reference visits
// (2R)^3 offsets per voxel and would take hours on the larger cubes, so it is
// timed on a sample of rows spread over the grid and scaled to the whole grid
// (the label says how many rows). The box and Gaussian filters run on dense
// random values, where skipping all-zero rows gains nothing.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/Stopwatch.hpp"
#include "filters/BallSum.hpp"
#include "filters/BoxSum.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/Gaussian.hpp"
#include "filters/reference/ReferenceFilters.hpp"

namespace {

using namespace shapescale;

std::vector<float> randomCube(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n) * n * n);
    for (float& x : v) x = value(rng);
    return v;
}

// Values in (0.5, 1.5) on a shell of radius 0.35 n around the centre, about
// 0.013 n voxels thick (at least one): 2-2.5 % of the voxels.
std::vector<float> shellCube(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(0.5f, 1.5f);
    std::vector<float> v(static_cast<std::size_t>(n) * n * n, 0.0f);
    const double centre = 0.5 * n, radius = 0.35 * n, half = 0.5 * std::max(1.0, 0.013 * n);
    std::size_t i = 0;
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x, ++i) {
                const double d = std::hypot(x + 0.5 - centre, y + 0.5 - centre, z + 0.5 - centre);
                if (std::fabs(d - radius) < half) v[i] = value(rng);
            }
    return v;
}

double nonZeroShare(const std::vector<float>& v) {
    std::size_t count = 0;
    for (float x : v) count += x != 0.0f;
    return static_cast<double>(count) / static_cast<double>(v.size());
}

bool isReference(const benchmark::State& state) {
    return state.range(2) != 0;
}

// Processor time of the whole process (every thread), seconds.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Times filter(in, out, dims, width) per iteration, scaled by `scale`, into a
// separate output (in place, the box filter's repeated sums would soon overflow).
// The benchmark's time is wall clock; the counter cpu_ms is the processor
// time of all threads per iteration, which a machine shared with other work
// disturbs less: the ratio of the two counts the threads that were busy.
template <class Filter>
void timeFilter(benchmark::State& state, const std::vector<float>& in, double scale,
                Filter filter) {
    const int n = static_cast<int>(state.range(0));
    const int dims[3] = {n, n, n};
    const float width = static_cast<float>(state.range(1));
    std::vector<float> out(in.size(), 0.0f);
    // The fast filters' workspace is sized by its first call, as in the
    // transform's first radius; the steady state is what a run repeats.
    if (!isReference(state)) filter(in.data(), out.data(), dims, width);
    double cpu = 0.0;
    for (auto _ : state) {
        const Stopwatch wall;
        const double cpuStart = processSeconds();
        filter(in.data(), out.data(), dims, width);
        benchmark::DoNotOptimize(out.data());
        cpu += (processSeconds() - cpuStart) * scale;
        state.SetIterationTime(wall.seconds() * scale);
    }
    state.counters["cpu_ms"] = 1e3 * cpu / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n * n);
}

void BM_sphereFlt(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<float> in = shellCube(n);
    state.counters["nonzero%"] = 100.0 * nonZeroShare(in);
    if (!isReference(state)) {
        FilterWorkspace ws;
        return timeFilter(state, in, 1.0, [&](const float* i, float* o, const int* d, float r) {
            sphereFlt(i, o, d, r, ws);
        });
    }
    // Every rowStep-th row along y and z: about 1e8 offset visits per iteration.
    const double offsets = std::pow(2.0 * static_cast<double>(state.range(1)), 3.0);
    const double rows = std::max(1.0, 1e8 / (offsets * n));
    const int rowStep = std::max(1, static_cast<int>(std::ceil(n / std::sqrt(rows))));
    const int sampled = (n + rowStep - 1) / rowStep;
    state.SetLabel("reference timed on " + std::to_string(sampled * sampled) + " of " +
                   std::to_string(n * n) + " rows, scaled");
    timeFilter(state, in, static_cast<double>(n) * n / (sampled * sampled),
               [&](const float* i, float* o, const int* d, float r) {
                   reference::sphereFlt(i, o, d, r, rowStep);
               });
}

void BM_boxFlt(benchmark::State& state) {
    FilterWorkspace ws;
    timeFilter(state, randomCube(static_cast<int>(state.range(0))), 1.0,
               [&](const float* i, float* o, const int* d, float r) {
                   isReference(state) ? reference::boxFlt(i, o, d, r) : boxFlt(i, o, d, r, ws);
               });
}

// The transform's calls for a filter width w: filter3D(sigma 2w, maxSize
// trunc(2w)) and filter3DNN(sigma w, maxSize trunc(w)).
void BM_filter3D(benchmark::State& state) {
    FilterWorkspace ws;
    timeFilter(state, randomCube(static_cast<int>(state.range(0))), 1.0,
               [&](const float* i, float* o, const int* d, float w) {
                   const int size = static_cast<int>(w + w);
                   isReference(state) ? reference::filter3D(i, o, d, w + w, size)
                                      : filter3D(i, o, d, w + w, size, ws);
               });
}
void BM_filter3DNN(benchmark::State& state) {
    FilterWorkspace ws;
    timeFilter(state, randomCube(static_cast<int>(state.range(0))), 1.0,
               [&](const float* i, float* o, const int* d, float w) {
                   const int size = static_cast<int>(w);
                   isReference(state) ? reference::filter3DNN(i, o, d, w, size)
                                      : filter3DNN(i, o, d, w, size, ws);
               });
}

// Fast (0) and reference (1) next to each other for every size and radius.
void sizesAndRadii(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "r", "ref"})->UseManualTime()->Unit(benchmark::kMillisecond);
    for (int n : {64, 128, 256})
        for (int r : {2, 4, 8, 12, 20, 30})
            for (int reference : {0, 1}) b->Args({n, r, reference});
}

BENCHMARK(BM_sphereFlt)->Apply(sizesAndRadii);
BENCHMARK(BM_boxFlt)->Apply(sizesAndRadii);
BENCHMARK(BM_filter3D)->Apply(sizesAndRadii);
BENCHMARK(BM_filter3DNN)->Apply(sizesAndRadii);

}  // namespace
