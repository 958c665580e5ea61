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

void setVoxelCounters(benchmark::State& state, int n) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n * n);
}

void BM_sphereFlt(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const float r = static_cast<float>(state.range(1));
    const int dims[3] = {n, n, n};
    const std::vector<float> in = randomCube(n);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        sphereFlt(in.data(), out.data(), dims, r);
        benchmark::DoNotOptimize(out.data());
    }
    setVoxelCounters(state, n);
}
BENCHMARK(BM_sphereFlt)
    ->Args({64, 2})
    ->Args({64, 4})
    ->Args({64, 8})
    ->Args({128, 4})
    ->Unit(benchmark::kMillisecond);

// Into a separate output: in place, the repeated sums would soon overflow.
void BM_boxFlt(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const float r = static_cast<float>(state.range(1));
    const int dims[3] = {n, n, n};
    const std::vector<float> in = randomCube(n);
    std::vector<float> out(in.size(), 0.0f);
    for (auto _ : state) {
        boxFlt(in.data(), out.data(), dims, r);
        benchmark::DoNotOptimize(out.data());
    }
    setVoxelCounters(state, n);
}
BENCHMARK(BM_boxFlt)
    ->Args({64, 2})
    ->Args({64, 8})
    ->Args({128, 2})
    ->Args({128, 8})
    ->Args({128, 16})
    ->Unit(benchmark::kMillisecond);

// The transform's calls for a filter width w: filter3D(sigma 2w, maxSize trunc(2w))
// and filter3DNN(sigma w, maxSize trunc(w)), into a separate output.
void BM_filter3D(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const float w = static_cast<float>(state.range(1)) / 10.0f;
    const int dims[3] = {n, n, n};
    const std::vector<float> in = randomCube(n);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        filter3D(in.data(), out.data(), dims, w + w, static_cast<int>(w + w));
        benchmark::DoNotOptimize(out.data());
    }
    setVoxelCounters(state, n);
}
BENCHMARK(BM_filter3D)
    ->Args({64, 25})
    ->Args({64, 80})
    ->Args({128, 25})
    ->Args({128, 80})
    ->Unit(benchmark::kMillisecond);

void BM_filter3DNN(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const float w = static_cast<float>(state.range(1)) / 10.0f;
    const int dims[3] = {n, n, n};
    const std::vector<float> in = randomCube(n);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        filter3DNN(in.data(), out.data(), dims, w, static_cast<int>(w));
        benchmark::DoNotOptimize(out.data());
    }
    setVoxelCounters(state, n);
}
BENCHMARK(BM_filter3DNN)
    ->Args({64, 25})
    ->Args({64, 80})
    ->Args({128, 25})
    ->Args({128, 80})
    ->Args({128, 330})
    ->Unit(benchmark::kMillisecond);

}  // namespace
