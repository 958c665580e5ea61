#include "mapt/Maxima.hpp"

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

void updateMaxima(MaptRun& run, double r) {
    run.histogram.fill(0);
    run.atLeastOne = 0;
    const double h = run.grid.h();
    // Area of the sphere of radius r*h in world units, the unit of the votes.
    const double normaliser = r * FOUR_PI * h * r * h;
    const float radiusF = static_cast<float>(r);
    const std::size_t n = run.voxels();
    for (std::size_t i = 0; i < n; ++i) {
        const float a = static_cast<float>(static_cast<double>(run.apt[i]) / normaliser);
        run.apt[i] = a;
        if (a > run.jmapt[i]) {
            run.jmapt[i] = a;
            run.scale[i] = radiusF;
            if (run.tensorsOn)
                for (int c = 0; c < TENSOR_COMPONENTS; ++c) run.bestTensor[c][i] = run.tensor[c][i];
        }
        if (run.labels[i] != LABEL_OUTSIDE) {
            const int b = histogramBin(a);
            if (b >= 0)
                ++run.histogram[static_cast<std::size_t>(b)];
            else if (a >= 1.0f)
                ++run.atLeastOne;
        }
    }
}

}  // namespace shapescale
