#pragma once
// Command-line options of a run.

#include <cstdint>
#include <string>

#include "mapt/Centres.hpp"

namespace shapescale {

/// The run settings, one per option, before any default is derived. An option
/// is a field here and a row of the option table in Options.cpp, which makes
/// the parser and the help.
struct Options {
    std::string meshPath;         ///< -f
    std::string outDir = ".";     ///< -o
    float gridResolution = 0.0f;  ///< -r, world units; 0 = derive
    float startRadius = 0.0f;     ///< -s, world units; 0 = derive
    float radiusStep = 0.0f;      ///< -p, world units; 0 = derive
    float sigma = 0.0f;           ///< -g, world units; 0 = derive
    int radiusCount = 0;          ///< -n; 0 = derive
    int kernelChoice = 0;         ///< -k
    int tensorsOn = 0;            ///< -t sets 1
    int closedMesh = 1;           ///< -c sets 0
    int bothSides = 0;            ///< -b sets 1

    // Long options only. Left at these values, a run is exactly the plain
    // tool: same output lines, same files.
    bool seeded = false;          ///< --seed N: sampling seeded with `seed` instead of the clock
    std::uint32_t seed = 0;       ///< --seed
    int threads = 0;              ///< --threads N; 0 = OpenMP's default (all cores)
    bool nifti = false;           ///< --nifti: every volume also as <name>.nii
    bool niftiGz = false;         ///< --nifti-gz: every volume also as <name>.nii.gz
    std::string summaryPath;      ///< --summary FILE: JSON record of the run; empty = none
    std::string vertexScalePath;  ///< --vertex-scale FILE.ply|.vtp: the painted mesh; empty = none
    bool vtk = false;             ///< --vtk: the final volumes also as result.vti
    bool preview = false;         ///< --preview: PNG mid-slices of jmapt and scale
    bool quiet = false;           ///< --quiet: no progress line, no mesh warnings on a terminal
    bool warnings = false;        ///< --warnings: mesh warnings on standard error in any case
    bool exitZero = false;        ///< --exit-zero: a completed run ends with status 0
    bool orient = false;          ///< --orient: flip a closed clockwise mesh before anything else
    std::string centresPath;  ///< --centres FILE.csv: the centres of the round parts; empty = none
    float centreThreshold = DEFAULT_CENTRE_THRESHOLD;  ///< --centre-threshold T
    bool evenSampling = false;  ///< --even-sampling: samples spread evenly over each triangle
};

enum class ParseOutcome {
    ok,
    badOption,  ///< unknown option, missing argument, or -e: first usage text
    noMesh,     ///< no -f, or an empty one: second usage text
    help,       ///< --help: the full help on standard output, status 0
    version,    ///< --version: the version line on standard output, status 0
};

/// Reads argv with getopt_long, the short option string
/// "o:f:n:r:s:k:g:e:p:abtc" and the long options listed by helpText();
/// getopt prints its own diagnostic for unknown options and missing
/// arguments. Numbers of the short options are read without an end check
/// ("abc" reads as 0); --help and --version end the parsing at once.
/// Paths of any length are kept whole.
/// @throw Error for a --seed, --threads or --centre-threshold value out of range, naming the
///        option and the value
ParseOutcome parseOptions(int argc, char** argv, Options& options);

/// The usage text for badOption or noMesh, with `program` for %s.
std::string usageText(ParseOutcome outcome, const char* program);

/// The full help: every option, the exit statuses.
std::string helpText(const char* program);

/// "shapescale <version>" and a newline.
std::string versionText();

}  // namespace shapescale
