#include "mapt/MaptRun.hpp"

namespace shapescale {

void MaptRun::allocateVolumes() {
    const std::size_t n = voxels();
    votes.assign(n, 0.0f);
    apt.assign(n, 0.0f);
    jmapt.assign(n, 0.0f);
    scale.assign(n, 0.0f);
    if (tensorsOn) {
        for (auto& t : tensor) t.assign(n, 0.0f);
        for (auto& t : bestTensor) t.assign(n, 0.0f);
    }
    // The ball sum alone needs no volume-sized temporaries.
    filterWorkspace.reserve(grid.dims, kernel != KernelChoice::ballSum || tensorsOn);
}

}  // namespace shapescale
