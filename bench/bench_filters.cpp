// The volume filters on cubic volumes of random values. Arguments: edge
// length in voxels, then the radius or filter width in voxels (times 10 for
// the Gaussian widths, so that 2.5 can be given).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "filters/BoxSphere.hpp"
#include "filters/Gaussian.hpp"

namespace {

using namespace shapescale;

std::vector<float> randomCube(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n) * n * n);
    for (float& x : v) x = value(rng);
    return v;
}

// Runs filter(in, out, dims, width) on an n^3 cube into a separate output
// (in place, the box filter's repeated sums would soon overflow).
template <class Filter>
void benchFilter(benchmark::State& state, float width, Filter filter) {
    const int n = static_cast<int>(state.range(0));
    const int dims[3] = {n, n, n};
    const std::vector<float> in = randomCube(n);
    std::vector<float> out(in.size(), 0.0f);
    for (auto _ : state) {
        filter(in.data(), out.data(), dims, width);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n * n);
}

float radiusArg(const benchmark::State& state) {
    return static_cast<float>(state.range(1));
}
float widthArg(const benchmark::State& state) {
    return static_cast<float>(state.range(1)) / 10.0f;
}

void BM_sphereFlt(benchmark::State& state) {
    benchFilter(state, radiusArg(state), sphereFlt);
}
void BM_boxFlt(benchmark::State& state) {
    benchFilter(state, radiusArg(state), boxFlt);
}

// The transform's calls for a filter width w: filter3D(sigma 2w, maxSize
// trunc(2w)) and filter3DNN(sigma w, maxSize trunc(w)).
void BM_filter3D(benchmark::State& state) {
    benchFilter(state, widthArg(state), [](const float* in, float* out, const int* dims, float w) {
        filter3D(in, out, dims, w + w, static_cast<int>(w + w));
    });
}
void BM_filter3DNN(benchmark::State& state) {
    benchFilter(state, widthArg(state), [](const float* in, float* out, const int* dims, float w) {
        filter3DNN(in, out, dims, w, static_cast<int>(w));
    });
}

BENCHMARK(BM_sphereFlt)
    ->Args({64, 2})
    ->Args({64, 4})
    ->Args({64, 8})
    ->Args({128, 4})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_boxFlt)
    ->Args({64, 2})
    ->Args({64, 8})
    ->Args({128, 2})
    ->Args({128, 8})
    ->Args({128, 16})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_filter3D)
    ->Args({64, 25})
    ->Args({64, 80})
    ->Args({128, 25})
    ->Args({128, 80})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_filter3DNN)
    ->Args({64, 25})
    ->Args({64, 80})
    ->Args({128, 25})
    ->Args({128, 80})
    ->Args({128, 330})
    ->Unit(benchmark::kMillisecond);

}  // namespace
