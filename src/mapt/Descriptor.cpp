#include "mapt/Descriptor.hpp"

#include <algorithm>

#include "core/Grid.hpp"

namespace shapescale {

Descriptor shapeDescriptor(const std::vector<Histogram>& histograms,
                           const std::vector<std::int64_t>& atLeastOne,
                           const std::vector<double>& radiiVox, double h, double baseScale,
                           std::int64_t voxelsNotOutside) {
    Descriptor d;
    d.voxelsNotOutside = voxelsNotOutside;
    const double total = static_cast<double>(voxelsNotOutside);
    auto fraction = [&](std::int64_t count) {
        return voxelsNotOutside > 0 ? static_cast<double>(count) / total : 0.0;
    };
    for (std::size_t k = 0; k < histograms.size(); ++k) {
        // The radius in world units as the summary gives it, then in base scales.
        d.radii.push_back(radiiVox[k] * h / baseScale);
        for (std::int64_t count : histograms[k]) d.values.push_back(fraction(count));
        d.values.push_back(fraction(atLeastOne[k]));
    }
    return d;
}

std::int64_t countNotOutside(const unsigned char* labels, std::size_t n) {
    return static_cast<std::int64_t>(n) -
           static_cast<std::int64_t>(std::count(labels, labels + n, LABEL_OUTSIDE));
}

}  // namespace shapescale
