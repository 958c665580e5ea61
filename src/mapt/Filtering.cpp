#include "mapt/Filtering.hpp"

#include <algorithm>

#include "filters/BallSum.hpp"
#include "filters/BoxSum.hpp"
#include "filters/FilterWorkspace.hpp"
#include "filters/Gaussian.hpp"

namespace shapescale {

double filterWidth(double r, double startRadius, double sigma) {
    return (r / startRadius) * sigma;
}

// A kernel longer than half the largest extent leaves every line untouched
// whatever its exact length, so capping the size there changes nothing and
// keeps huge widths from overflowing an int.
int kernelSize(float width, const int* dims) {
    const int cap = std::max({dims[0], dims[1], dims[2]});
    if (!(width < static_cast<float>(cap))) return width >= 0.0f ? cap : 0;
    return static_cast<int>(width);
}

bool filterNeedsTemporaries(KernelChoice kernel, bool tensorsOn) {
    return kernel != KernelChoice::ballSum || tensorsOn;
}

void filterVotes(MaptRun& run, double r, const RowSink& aptRowDone) {
    const int* dims = run.grid.dims;
    FilterWorkspace& ws = run.filterWorkspace;
    // Sized once per run by MaptRun::allocateVolumes; a workspace reserved
    // again for the same grid allocates nothing.
    ws.reserve(dims, filterNeedsTemporaries(run.kernel, run.tensorsOn));
    const float width = static_cast<float>(filterWidth(r, run.startRadius, run.sigma));
    switch (run.kernel) {
        case KernelChoice::ballSum:
            sphereFlt(run.votes.data(), run.apt.data(), dims, width, ws, aptRowDone);
            break;
        case KernelChoice::ballSumThenGaussian: {
            sphereFlt(run.votes.data(), run.apt.data(), dims, width, ws);
            const float gaussWidth = 2.0f * width;
            filter3D(run.apt.data(), run.apt.data(), dims, gaussWidth, kernelSize(gaussWidth, dims),
                     ws, aptRowDone);
            break;
        }
        case KernelChoice::rawGaussian:
            filter3DNN(run.votes.data(), run.apt.data(), dims, width, kernelSize(width, dims), ws,
                       aptRowDone);
            break;
    }
    if (run.tensorsOn) {
        for (auto& t : run.tensor) boxFlt(t.data(), t.data(), dims, width, ws);
    }
}

}  // namespace shapescale
