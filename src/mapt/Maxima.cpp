#include <algorithm>
#include <cmath>

#include "driver/Vec3.hpp"
#include "filters/BoxSphere.hpp"
#include "filters/Gaussian.hpp"
#include "mapt/MaptRun.hpp"
#include "voxel/Grid.hpp"

namespace shapescale {

namespace {

// trunc(width) as a kernel size. A kernel longer than half the largest extent
// leaves every line untouched whatever its exact length, so capping the size
// there changes nothing and keeps huge widths from overflowing an int.
int kernelSize(float width, const int* dims) {
    const int cap = std::max({dims[0], dims[1], dims[2]});
    if (!(width < static_cast<float>(cap))) return width >= 0.0f ? cap : 0;
    return static_cast<int>(width);
}

}  // namespace

void filterVotes(MaptRun& run, double r) {
    // The width grows in proportion to the radius.
    const float width = static_cast<float>((r / run.startRadius) * run.sigma);
    if (run.kernelChoice == 0.0f) {
        sphereFlt(run.votes.data(), run.apt.data(), run.dims, width);
    } else if (run.kernelChoice == 2.0f) {
        sphereFlt(run.votes.data(), run.apt.data(), run.dims, width);
        const float gaussWidth = 2.0f * width;
        filter3D(run.apt.data(), run.apt.data(), run.dims, gaussWidth,
                 kernelSize(gaussWidth, run.dims));
    } else {
        filter3DNN(run.votes.data(), run.apt.data(), run.dims, width, kernelSize(width, run.dims));
    }
    if (run.tensorsOn) {
        for (auto& t : run.tensor) boxFlt(t.data(), t.data(), run.dims, width);
    }
}

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
    const double h = run.voxelSize[0];
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
            if (b >= 0) ++run.histogram[static_cast<std::size_t>(b)];
        }
    }
}

}  // namespace shapescale
