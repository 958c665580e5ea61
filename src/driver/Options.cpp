#include "driver/Options.hpp"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/Error.hpp"

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

// The long options check their values in full, unlike the short ones: a
// whole decimal number within [low, high], nothing else on the argument.
unsigned long long readChecked(const char* option, const char* text, unsigned long long low,
                               unsigned long long high) {
    const std::string value = text;
    bool digits = !value.empty() && value.size() <= 20;
    for (char c : value) digits = digits && c >= '0' && c <= '9';
    errno = 0;
    const unsigned long long n = digits ? std::strtoull(text, nullptr, 10) : 0;
    if (!digits || errno == ERANGE || n < low || n > high)
        throw Error(std::string("--") + option + " '" + value + "': expected a whole number from " +
                    std::to_string(low) + " to " + std::to_string(high));
    return n;
}

constexpr unsigned long long MAX_SEED = 4294967295ULL;  // srand takes an unsigned int
constexpr unsigned long long MAX_THREADS = 1024;

// Values of getopt_long for the long options, beyond every character.
enum LongOption : int {
    HELP = 1000,
    VERSION,
    SEED,
    THREADS,
    NIFTI,
    NIFTI_GZ,
    SUMMARY,
    PREVIEW,
    QUIET,
    WARNINGS,
    EXIT_ZERO,
    ORIENT,
    VERTEX_SCALE,
    VTK,
};

const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, HELP},
    {"version", no_argument, nullptr, VERSION},
    {"seed", required_argument, nullptr, SEED},
    {"threads", required_argument, nullptr, THREADS},
    {"nifti", no_argument, nullptr, NIFTI},
    {"nifti-gz", no_argument, nullptr, NIFTI_GZ},
    {"summary", required_argument, nullptr, SUMMARY},
    {"preview", no_argument, nullptr, PREVIEW},
    {"quiet", no_argument, nullptr, QUIET},
    {"warnings", no_argument, nullptr, WARNINGS},
    {"exit-zero", no_argument, nullptr, EXIT_ZERO},
    {"orient", no_argument, nullptr, ORIENT},
    {"vertex-scale", required_argument, nullptr, VERTEX_SCALE},
    {"vtk", no_argument, nullptr, VTK},
    {nullptr, 0, nullptr, 0},
};

// The long options without a value, each setting one flag.
struct Flag {
    int option;
    bool Options::*field;
};
constexpr Flag FLAGS[] = {
    {NIFTI, &Options::nifti},   {NIFTI_GZ, &Options::niftiGz},  {PREVIEW, &Options::preview},
    {QUIET, &Options::quiet},   {WARNINGS, &Options::warnings}, {EXIT_ZERO, &Options::exitZero},
    {ORIENT, &Options::orient}, {VTK, &Options::vtk},
};

bool readLongOption(int option, Options& options) {
    for (const Flag& flag : FLAGS)
        if (flag.option == option) {
            options.*flag.field = true;
            return true;
        }
    switch (option) {
        case SEED:
            options.seeded = true;
            options.seed = static_cast<std::uint32_t>(readChecked("seed", optarg, 0, MAX_SEED));
            return true;
        case THREADS:
            options.threads = static_cast<int>(readChecked("threads", optarg, 1, MAX_THREADS));
            return true;
        case SUMMARY:
            if (*optarg == '\0') throw Error("--summary: the file name is empty");
            options.summaryPath = optarg;
            return true;
        case VERTEX_SCALE:
            if (*optarg == '\0') throw Error("--vertex-scale: the file name is empty");
            options.vertexScalePath = optarg;
            return true;
        default:
            return false;
    }
}

}  // namespace

ParseOutcome parseOptions(int argc, char** argv, Options& options) {
    optind = 0;  // full reinitialisation, so a process may parse more than once
    opterr = 1;
    int option = 0;
    // The short string alone decides getopt's diagnostics for short options,
    // which scripts match together with the usage texts: long options add to
    // it and change none of them.
    while ((option = getopt_long(argc, argv, "o:f:n:r:s:k:g:e:p:abtc", LONG_OPTIONS, nullptr)) !=
           -1) {
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
            case HELP:
                return ParseOutcome::help;
            case VERSION:
                return ParseOutcome::version;
            default:
                if (!readLongOption(option, options)) return ParseOutcome::badOption;  // '?' and -e
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

std::string versionText() {
    return std::string("shapescale ") + SHAPESCALE_VERSION + "\n";
}

std::string helpText(const char* program) {
    return std::string("Usage: ") + program + " -f MESH [options]\n" +
           R"(Multi-scale shape analysis of a triangle mesh: the APT transform for a series
of growing radii, written as Analyze 7.5 volumes into the output directory.
Lengths are in the mesh's units; a length left out (or 0) is derived from the
size of the mesh.

  -f MESH       mesh file: OFF, or PLY, STL, OBJ by its extension
  -o DIR        output directory, created if missing (default .)
  -r H          grid resolution: the voxel edge length
  -s R          first radius
  -p STEP       step between radii
  -n COUNT      number of radii (default 8)
  -g SIGMA      filter width at the first radius
  -k CHOICE     filter: 0 ball sum (default), 2 ball sum then Gaussian,
                anything else the raw Gaussian
  -t            also accumulate and write the six normal-tensor volumes
  -b            vote on the outer side of the surface too
  -c            the mesh is not closed: label the voxels by their nearest vertex
  -a            accepted and ignored
  -e VALUE      stops as an unknown option does

  --seed N      seed the surface sampling with N (0..4294967295) instead of
                the clock: the same input and seed give identical files
  --threads N   worker threads (1..1024); default: OpenMP's default, all
                cores unless OMP_NUM_THREADS says otherwise
  --nifti       write every volume also as NIfTI-1, <name>.nii, placed in
                the mesh's coordinates
  --nifti-gz    the same, gzip-compressed, <name>.nii.gz
  --summary F   write a JSON record of the run to F: version, arguments,
                mesh statistics and warnings, seed, grid, radii, per radius
                the histogram and the stage times, peak memory, files
  --preview     write preview_jmapt.png and preview_scale.png (mid-slices,
                colour bar, mesh outline) into the output directory
  --vtk         write the final volumes also as result.vti (VTK ImageData,
                which ParaView opens as it is): jmapt, scale (world units),
                labels and, with -t, the six tensor volumes
  --vertex-scale F.ply | F.vtp
                write the mesh painted with its scale to F: per vertex, the
                radius (world units) and jmapt of the strongest maximum met
                walking inward along its normal; .ply adds a colour, .vtp is
                VTK PolyData
  --orient      flip every face of a closed mesh whose signed volume is
                negative before anything else (one line on standard error)
  --warnings    print the mesh's warnings (open, non-manifold, inconsistently
                oriented) on standard error even when it is not a terminal
  --quiet       no progress line and no mesh warnings on a terminal
  --exit-zero   a completed run ends with status 0 instead of 1
  --help        this text
  --version     the version

On a terminal, standard error shows a progress line per radius; nothing is
added to the output when it is not a terminal.

Exit status:
  0    --help, --version; a completed run with --exit-zero
  1    a completed run; a usage error (unknown option, missing argument, -e,
       no mesh file)
  2    the run failed: one line on standard error says what and where
  128+N  stopped by signal N (130 for SIGINT, 143 for SIGTERM); the files of
       the completed radii are kept
)";
}

}  // namespace shapescale
