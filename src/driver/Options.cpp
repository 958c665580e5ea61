#include "driver/Options.hpp"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace shapescale {

namespace {

// strtod rounded to single precision; no end check, so "abc" reads as 0.
float readFloat(const char* text) {
    return static_cast<float>(std::strtod(text, nullptr));
}

// strtol in base 10, no end check; values beyond the int range saturate
// instead of wrapping into an unrelated number.
int readInt(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

ParseOutcome parseOptions(int argc, char** argv, Options& options) {
    optind = 0;  // full reinitialisation, so a process may parse more than once
    opterr = 1;
    int option = 0;
    while ((option = getopt(argc, argv, "o:f:n:r:s:k:g:e:p:abtc")) != -1) {
        switch (option) {
            case 'o':
                options.outDir = optarg;
                break;
            case 'f':
                options.meshPath = optarg;
                break;
            case 'n':
                options.radiusCount = readInt(optarg);
                break;
            case 'r':
                options.gridResolution = readFloat(optarg);
                break;
            case 's':
                options.startRadius = readFloat(optarg);
                break;
            case 'k':
                options.kernelChoice = readInt(optarg);
                break;
            case 'g':
                options.sigma = readFloat(optarg);
                break;
            case 'p':
                options.radiusStep = readFloat(optarg);
                break;
            case 'a':
                break;  // accepted and ignored
            case 't':
                options.tensorsOn = 1;
                break;
            case 'c':
                options.closedMesh = 0;
                break;
            case 'b':
                options.bothSides = 1;
                break;
            default:
                return ParseOutcome::badOption;  // '?' and -e
        }
    }
    return options.meshPath.empty() ? ParseOutcome::noMesh : ParseOutcome::ok;
}

std::string usageText(ParseOutcome outcome, const char* program) {
    // The two texts differ in "-m" against "-k"; both are kept word for word,
    // typos included, because scripts match them.
    const char* kernelFlag = outcome == ParseOutcome::badOption ? "-m" : "-k";
    return std::string("Usage: ") + program +
           " -f filename [-r grid resolution -g sigma -s startin radius -n num of radii -p step "
           "between radii -t tensors " +
           kernelFlag + " kernel choice -o outdir]\n";
}

}  // namespace shapescale
