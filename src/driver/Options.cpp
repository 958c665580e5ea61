#include "driver/Options.hpp"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/Error.hpp"
#include "mapt/Settings.hpp"
#include "mapt/VertexScale.hpp"

namespace shapescale {

namespace {

// ---- value readers ---------------------------------------------------------
// Each takes the option's long name (for messages) and its value (nullptr for
// an option without one). The short options read numbers without an end check
// ("abc" reads as 0), as scripts written for the tool expect; the long ones
// check their values in full.

using Reader = void (*)(Options& options, const char* name, const char* value);

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

// A whole decimal number within [low, high], nothing else on the argument.
unsigned long long readChecked(const char* name, const char* text, unsigned long long low,
                               unsigned long long high) {
    const std::string value = text;
    bool digits = !value.empty() && value.size() <= 20;
    for (char c : value) digits = digits && c >= '0' && c <= '9';
    errno = 0;
    const unsigned long long n = digits ? std::strtoull(text, nullptr, 10) : 0;
    if (!digits || errno == ERANGE || n < low || n > high)
        throw Error(std::string("--") + name + " '" + value + "': expected a whole number from " +
                    std::to_string(low) + " to " + std::to_string(high));
    return n;
}

template <std::string Options::*FIELD>
void text(Options& options, const char*, const char* value) {
    options.*FIELD = value;
}

template <float Options::*FIELD>
void length(Options& options, const char*, const char* value) {
    options.*FIELD = readFloat(value);
}

template <int Options::*FIELD>
void whole(Options& options, const char*, const char* value) {
    options.*FIELD = readInt(value);
}

template <int Options::*FIELD, int VALUE>
void setTo(Options& options, const char*, const char*) {
    options.*FIELD = VALUE;
}

template <bool Options::*FIELD>
void flag(Options& options, const char*, const char*) {
    options.*FIELD = true;
}

template <int Options::*FIELD, int LOW, int HIGH>
void checked(Options& options, const char* name, const char* value) {
    options.*FIELD = static_cast<int>(readChecked(name, value, LOW, HIGH));
}

// A file name that the run writes: an empty one is refused.
template <std::string Options::*FIELD>
void path(Options& options, const char* name, const char* value) {
    if (*value == '\0') throw Error(std::string("--") + name + ": the file name is empty");
    options.*FIELD = value;
}

// Any 32-bit unsigned value: the generator takes the seed whole, and the
// summary records it for a repeat run.
void seed(Options& options, const char* name, const char* value) {
    options.seeded = true;
    options.seed = static_cast<std::uint32_t>(readChecked(name, value, 0, UINT32_MAX));
}

// A number above 0, nothing else on the argument.
template <float Options::*FIELD>
void positive(Options& options, const char* name, const char* value) {
    char* end = nullptr;
    const double number = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(number > 0.0) ||
        !std::isfinite(static_cast<float>(number)))
        throw Error(std::string("--") + name + " '" + value + "': expected a number above 0");
    options.*FIELD = static_cast<float>(number);
}

// The painted mesh's file: its extension chooses the format.
void paintedMesh(Options& options, const char* name, const char* value) {
    path<&Options::vertexScalePath>(options, name, value);
    if (!paintedFormatOf(value))
        throw Error(std::string("--") + name + " '" + value +
                    "': expected a file name ending in .ply or .vtp");
}

void ignored(Options&, const char*, const char*) {}

// ---- the table ---------------------------------------------------------------

/// One command-line option: its letter or long name, how its value is read,
/// and its lines of the help. In the order of the help.
struct OptionRow {
    char letter;           ///< short option, or 0 for a long one
    const char* name;      ///< long option without "--", or nullptr for a short one
    const char* argument;  ///< the value's name in the help; nullptr: the option takes none
    Reader read;           ///< stores the value; nullptr for the rows that end the parsing
    const char* help;      ///< the help text; '\n' starts an indented continuation line
    ParseOutcome ends = ParseOutcome::ok;  ///< the outcome of the rows that end the parsing
};

constexpr OptionRow ROWS[] = {
    {'f', nullptr, "MESH", text<&Options::meshPath>,
     "mesh file: OFF, or PLY, STL, OBJ by its extension"},
    {'o', nullptr, "DIR", text<&Options::outDir>,
     "output directory, created if missing (default .)"},
    {'r', nullptr, "H", length<&Options::gridResolution>, "grid resolution: the voxel edge length"},
    {'s', nullptr, "R", length<&Options::startRadius>, "first radius"},
    {'p', nullptr, "STEP", length<&Options::radiusStep>, "step between radii"},
    {'n', nullptr, "COUNT", whole<&Options::radiusCount>, "number of radii (default 8)"},
    {'g', nullptr, "SIGMA", length<&Options::sigma>, "filter width at the first radius"},
    {'k', nullptr, "CHOICE", whole<&Options::kernelChoice>,
     "filter: 0 ball sum (default), 2 ball sum then Gaussian,\nanything else the raw Gaussian"},
    {'t', nullptr, nullptr, setTo<&Options::tensorsOn, 1>,
     "also accumulate and write the six normal-tensor volumes"},
    {'b', nullptr, nullptr, setTo<&Options::bothSides, 1>,
     "vote on the outer side of the surface too"},
    {'c', nullptr, nullptr, setTo<&Options::closedMesh, 0>,
     "the mesh is not closed: label the voxels by their nearest vertex"},
    {'a', nullptr, nullptr, ignored, "accepted and ignored"},
    {'e', nullptr, "VALUE", nullptr, "stops as an unknown option does", ParseOutcome::badOption},

    {0, "seed", "N", seed,
     "seed the surface sampling with N (0..4294967295) instead of\nthe clock: the same input and "
     "seed give identical files"},
    {0, "threads", "N", checked<&Options::threads, 1, MAX_THREADS>,
     "worker threads (1..1024); default: OpenMP's default, all\ncores unless OMP_NUM_THREADS "
     "says otherwise"},
    {0, "nifti", nullptr, flag<&Options::nifti>,
     "write every volume also as NIfTI-1, <name>.nii, placed in\nthe mesh's coordinates"},
    {0, "nifti-gz", nullptr, flag<&Options::niftiGz>, "the same, gzip-compressed, <name>.nii.gz"},
    {0, "summary", "F", path<&Options::summaryPath>,
     "write a JSON record of the run to F: version, arguments,\nmesh statistics and warnings, "
     "seed, grid, radii, per radius\nthe histogram and the stage times, peak memory, files"},
    {0, "preview", nullptr, flag<&Options::preview>,
     "write preview_jmapt.png and preview_scale.png (mid-slices,\ncolour bar, mesh outline) into "
     "the output directory"},
    {0, "vtk", nullptr, flag<&Options::vtk>,
     "write the final volumes also as result.vti (VTK ImageData,\nwhich ParaView opens as it "
     "is): jmapt, scale (world units),\nlabels and, with -t, the six tensor volumes"},
    {0, "vertex-scale", "F.ply | F.vtp", paintedMesh,
     "write the mesh painted with its scale to F: per vertex, the\nradius (world units) and "
     "jmapt of the strongest maximum met\nwalking inward along its normal; .ply adds a colour, "
     ".vtp is\nVTK PolyData"},
    {0, "centres", "F.csv", path<&Options::centresPath>,
     "write the centres of the round parts to F.csv: the local\nmaxima of jmapt (one per plateau) "
     "at or above the threshold,\nstrongest first, with their radius; see the README"},
    {0, "centre-threshold", "T", positive<&Options::centreThreshold>,
     "smallest jmapt of a centre (default 0.5), for --centres and\nthe summary"},
    {0, "even-sampling", nullptr, flag<&Options::evenSampling>,
     "spread the samples of every triangle evenly over its area,\nin proportion to it: votes that "
     "do not depend on the\ntessellation"},
    {0, "orient", nullptr, flag<&Options::orient>,
     "flip every face of a closed mesh whose signed volume is\nnegative before anything else "
     "(one line on standard error)"},
    {0, "warnings", nullptr, flag<&Options::warnings>,
     "print the mesh's warnings (open, non-manifold, inconsistently\noriented) on standard error "
     "even when it is not a terminal"},
    {0, "quiet", nullptr, flag<&Options::quiet>,
     "no progress line and no mesh warnings on a terminal"},
    {0, "exit-zero", nullptr, flag<&Options::exitZero>,
     "a completed run ends with status 0 instead of 1"},
    {0, "help", nullptr, nullptr, "this text", ParseOutcome::help},
    {0, "version", nullptr, nullptr, "the version", ParseOutcome::version},
};

// getopt's short options, the specified string: it alone decides getopt's
// diagnostics for short options, which scripts match together with the usage
// texts.
constexpr const char* SHORT_OPTIONS = "o:f:n:r:s:k:g:e:p:abtc";

// Every letter of SHORT_OPTIONS has its row, which takes a value exactly when
// a ':' follows the letter, and no other row has a letter.
constexpr bool shortOptionsMatchRows() {
    int letters = 0;
    for (const char* c = SHORT_OPTIONS; *c != '\0'; ++c) {
        if (*c == ':') continue;
        ++letters;
        int matching = 0;
        for (const OptionRow& row : ROWS)
            matching += row.letter == *c && (row.argument != nullptr) == (c[1] == ':');
        if (matching != 1) return false;
    }
    for (const OptionRow& row : ROWS) letters -= row.letter != 0;
    return letters == 0;
}
static_assert(shortOptionsMatchRows(), "SHORT_OPTIONS and the rows with a letter disagree");

// getopt_long's value for the long option of row i.
constexpr int LONG_BASE = 1000;

// getopt_long's table of the rows with a long name. Sorted by name: getopt
// lists the candidates of an ambiguous abbreviation in table order.
const option* longOptions() {
    static const std::vector<option> table = [] {
        std::vector<option> list;
        for (std::size_t i = 0; i < std::size(ROWS); ++i)
            if (ROWS[i].name != nullptr)
                list.push_back({ROWS[i].name, ROWS[i].argument ? required_argument : no_argument,
                                nullptr, LONG_BASE + static_cast<int>(i)});
        std::sort(list.begin(), list.end(),
                  [](const option& a, const option& b) { return std::strcmp(a.name, b.name) < 0; });
        list.push_back({nullptr, 0, nullptr, 0});
        return list;
    }();
    return table.data();
}

// The row of getopt_long's return value; nullptr for '?', after getopt's own
// diagnostic.
const OptionRow* rowOf(int value) {
    if (value >= LONG_BASE) return &ROWS[value - LONG_BASE];
    for (const OptionRow& row : ROWS)
        if (row.letter != 0 && row.letter == value) return &row;
    return nullptr;
}

// "  -k CHOICE     filter: ...": the label, then the text from column 16, on
// the next line when the label reaches it; continuation lines indented alike.
std::string helpLines(const OptionRow& row) {
    constexpr std::size_t COLUMN = 16;
    std::string label =
        row.letter != 0 ? std::string("-") + row.letter : std::string("--") + row.name;
    if (row.argument != nullptr) label += std::string(" ") + row.argument;
    std::string lines = "  " + label;
    lines += lines.size() < COLUMN ? std::string(COLUMN - lines.size(), ' ')
                                   : "\n" + std::string(COLUMN, ' ');
    for (const char* c = row.help; *c != '\0'; ++c) {
        lines += *c;
        if (*c == '\n') lines += std::string(COLUMN, ' ');
    }
    return lines + "\n";
}

// Every row's help, a blank line between the short and the long options.
std::string optionHelp() {
    std::string text;
    for (std::size_t i = 0; i < std::size(ROWS); ++i) {
        if (i > 0 && (ROWS[i].letter != 0) != (ROWS[i - 1].letter != 0)) text += "\n";
        text += helpLines(ROWS[i]);
    }
    return text;
}

}  // namespace

ParseOutcome parseOptions(int argc, char** argv, Options& options) {
    optind = 0;  // full reinitialisation, so a process may parse more than once
    opterr = 1;
    int value = 0;
    while ((value = getopt_long(argc, argv, SHORT_OPTIONS, longOptions(), nullptr)) != -1) {
        const OptionRow* row = rowOf(value);
        if (row == nullptr) return ParseOutcome::badOption;
        if (row->ends != ParseOutcome::ok) return row->ends;
        row->read(options, row->name, optarg);
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

)" + optionHelp() +
           R"(
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
