#pragma once
// Command-line options of a run.

#include <string>

namespace shapescale {

/// The run settings, one per option, before any default is derived.
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
};

enum class ParseOutcome {
    ok,
    badOption,  ///< unknown option, missing argument, or -e: first usage text
    noMesh,     ///< no -f, or an empty one: second usage text
};

/// Reads argv with getopt and the option string "o:f:n:r:s:k:g:e:p:abtc";
/// getopt prints its own diagnostic for unknown options and missing
/// arguments. Numbers are read without an end check ("abc" reads as 0).
/// Paths of any length are kept whole.
ParseOutcome parseOptions(int argc, char** argv, Options& options);

/// The usage text for an outcome other than ok, with `program` for %s.
std::string usageText(ParseOutcome outcome, const char* program);

}  // namespace shapescale
