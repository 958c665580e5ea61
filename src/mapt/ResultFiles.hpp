#pragma once
// The files a transform run writes into its output directory.

#include <string>
#include <vector>

#include "mapt/MaptRun.hpp"

namespace shapescale {

/// The histogram line on standard output, flushed.
void printHistogramLine(const Histogram& histogram);
/// The same line on "hist.txt", flushed: the file keeps one line per radius
/// whose volumes are complete.
void writeHistogramLine(OutputFile& histFile, const Histogram& histogram);
/// "apt_<index>" from `apt` and, with `vxx`, "vxx_<index>" from it; the
/// grid, the output directory and the formats from `run`.
/// @param[out] files  the path of every file completed is appended
void writeRadiusVolumes(const MaptRun& run, int index, const std::vector<float>& apt,
                        const std::vector<float>* vxx, std::vector<std::string>& files);
/// "jmapt", "scale", "info.txt" and, with tensors, the six best-tensor volumes.
/// @param[out] files  as above
void writeFinalResults(const MaptRun& run, std::vector<std::string>& files);

/// The message of a run stopped by `signal`: where it stood and which radii
/// have all their files, as in "interrupted by SIGTERM at radius 3 of 8; the
/// files of radii 0..2 are complete".
/// @param stage        -1 before radius 0; k while the files of radius k are not
///                     all written; radiusCount once every radius's files are
/// @param radiusCount  radii of the run, 0 or more
std::string interruptedText(int signal, int stage, int radiusCount);

}  // namespace shapescale
