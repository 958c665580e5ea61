#include "mapt/Maxima.hpp"

#include <omp.h>

#include "core/Vec3.hpp"

namespace shapescale {

int histogramBin(float a) {
    if (!(a >= 0.0f && a < 1.0f)) return -1;
    int b = static_cast<int>(a * 12.0f);
    // Bounds b/12 in single precision decide; the product above is only a guess.
    if (b > HISTOGRAM_BINS - 1) b = HISTOGRAM_BINS - 1;
    while (b > 0 && a < static_cast<float>(b) / 12.0f) --b;
    while (b < HISTOGRAM_BINS - 1 && a >= static_cast<float>(b + 1) / 12.0f) ++b;
    return b;
}

MaximaPass::MaximaPass(MaptRun& run, double r)
    : run_(run),
      // Area of the sphere of radius r*h in world units, the unit of the votes.
      normaliser_(r * FOUR_PI * run.grid.h() * r * run.grid.h()),
      radius_(static_cast<float>(r)),
      nx_(static_cast<std::size_t>(run.grid.dims[0])),
      counts_(static_cast<std::size_t>(omp_get_max_threads())) {
    run.histogram.fill(0);
    run.atLeastOne = 0;
}

void MaximaPass::row(std::size_t row) {
    Counts& counts = counts_[static_cast<std::size_t>(omp_get_thread_num())];
    float* const apt = run_.apt.data();
    float* const jmapt = run_.jmapt.data();
    const unsigned char* const labels = run_.labels.data();
    for (std::size_t i = row * nx_, end = i + nx_; i < end; ++i) {
        const float a = static_cast<float>(static_cast<double>(apt[i]) / normaliser_);
        apt[i] = a;
        // Strictly greater: the first radius that reaches a maximum keeps it.
        if (a > jmapt[i]) {
            jmapt[i] = a;
            run_.scale[i] = radius_;
            if (run_.tensorsOn)
                for (int c = 0; c < TENSOR_COMPONENTS; ++c)
                    run_.bestTensor[c][i] = run_.tensor[c][i];
        }
        if (labels[i] != LABEL_OUTSIDE) {
            const int b = histogramBin(a);
            if (b >= 0)
                ++counts.histogram[static_cast<std::size_t>(b)];
            else if (a >= 1.0f)
                ++counts.atLeastOne;
        }
    }
}

void MaximaPass::finish() {
    for (const Counts& c : counts_) {
        for (int b = 0; b < HISTOGRAM_BINS; ++b)
            run_.histogram[static_cast<std::size_t>(b)] += c.histogram[static_cast<std::size_t>(b)];
        run_.atLeastOne += c.atLeastOne;
    }
}

void updateMaxima(MaptRun& run, double r) {
    MaximaPass pass(run, r);
    const auto rows = static_cast<std::int64_t>(run.grid.dims[1]) * run.grid.dims[2];
    // Small grids on one thread: waking the team costs more than the pass.
#pragma omp parallel for schedule(static) if (run.voxels() >= (std::size_t{1} << 16))
    for (std::int64_t y = 0; y < rows; ++y) pass.row(static_cast<std::size_t>(y));
    pass.finish();
}

}  // namespace shapescale
