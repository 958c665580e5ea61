#pragma once
// The files a transform run writes into its output directory.

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// The histogram line on standard output and in "hist.txt" (flushed).
void writeHistogramLine(MaptRun& run);
/// "apt_<k>" and, with tensors, "vxx_<k>" for k = run.radiusIndex.
void writeRadiusVolumes(const MaptRun& run);
/// "jmapt", "scale", "info.txt" and, with tensors, the six best-tensor volumes.
void writeFinalResults(const MaptRun& run);

}  // namespace shapescale
