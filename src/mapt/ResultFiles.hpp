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

/// The message of a run stopped by `signal`: where it stood and which radii
/// have all their files, as in "interrupted by SIGTERM at radius 3 of 8; the
/// files of radii 0..2 are complete".
/// @param stage        -1 before radius 0; k from the start of radius k until its
///                     files are written; radiusCount after the last radius
/// @param radiusCount  radii of the run, 0 or more
std::string interruptedText(int signal, int stage, int radiusCount);

}  // namespace shapescale
