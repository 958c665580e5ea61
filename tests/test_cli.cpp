// End-to-end tests: the real binary on meshes generated here.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <tuple>

#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using test::lines;
using test::readText;
using test::RunResult;
using Args = std::vector<std::string>;

const std::string BINARY = SHAPESCALE_BINARY;
// The unit cube's summary fields after the path: V, base scale, start, h, step, sigma.
const std::string CUBE = "1 0.024814 0.049628 0.024814 0.024814 0.024814";

// The blank-separated words of a command line (no path here holds a blank).
Args words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

// "Time elapsed: <seconds> sec."
bool isTimingLine(const std::string& line) {
    if (line.rfind("Time elapsed: ", 0) != 0) return false;
    const char* number = line.c_str() + 14;
    char* end = nullptr;
    std::strtod(number, &end);
    return end != number && std::string(end) == " sec.";
}

// Twelve counts, each followed by one blank.
bool isHistogramLine(const std::string& line) {
    return !line.empty() && line.find_first_not_of("0123456789 ") == std::string::npos &&
           line[0] != ' ' && line.back() == ' ' && line.find("  ") == std::string::npos &&
           std::count(line.begin(), line.end(), ' ') == 12;
}

bool allFiniteAndNonNegative(const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x) && x >= 0; });
}

class Cli : public test::BinaryRuns {
  protected:
    using BinaryRuns::run;
    RunResult run(const std::string& line) { return run(words(line)); }
    std::vector<float> volume(const std::string& name) {
        return test::readFloats(dir.file(name + ".img"));
    }

    const std::string cube = mesh(shapes::unitCube());
};

TEST_F(Cli, UsageTexts) {
    const std::tuple<Args, std::string, const char*> cases[] = {
        // arguments, getopt's own line (if any), the kernel flag of the text
        {{"-x", "-f", "m.off"}, "invalid option -- 'x'", "-m"},
        {{"-f"}, "option requires an argument -- 'f'", "-m"},
        {{"-e", "3", "-f", "m.off"}, "", "-m"},
        {{}, "", "-k"},
        {{"-f", ""}, "", "-k"},
        {{"-n", "3", "-a"}, "", "-k"},
    };
    for (const auto& [args, diagnostic, kernelFlag] : cases) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (diagnostic.empty() ? "" : BINARY + ": " + diagnostic + "\n") +
                             "Usage: " + BINARY +
                             " -f filename [-r grid resolution -g sigma -s startin radius -n num "
                             "of radii -p step between radii -t tensors " +
                             kernelFlag + " kernel choice -o outdir]\n");
    }
}

// Completed runs: the summary line, the set-up lines before the timing line, one histogram
// line per radius, a jmapt volume with some positive value, and the occupancy file only from
// the closed-mesh path.
TEST_F(Cli, CompletedRuns) {
    const std::string flipped = mesh(shapes::flipped(shapes::unitCube()), "flipped.off"),
                      open = mesh(shapes::hemisphere(4), "open.off"),
                      torus = mesh(shapes::torus(1.0, 0.35, 48, 24), "torus.off");
    const struct {
        std::string args, summary;  // the summary after the path; "?": not checked
        std::string err;            // before the timing line; "?": not checked
        std::size_t radii;
    } cases[] = {
        {"-f " + cube + " -n 0 -a ignored-operand", CUBE + " 0", "?", 8},
        // Repeated options overwrite; a number that does not convert reads as 0.
        {"-f " + cube + " -r abc -g 0.5 -g 0.03 -s 0 -n 1",
         "1 0.024814 0.049628 0.024814 0.024814 0.03 0", "?", 1},
        // The area-based scale and the nearest-vertex labels; the preliminary nx
        // (1.0345494 / 0.0172747 + 3) and origin x follow the text without separators.
        {"-f " + cube + " -c -t -n 1", "1 0.0172747 0.0345494 0.0172747 0.0172747 0.0172747 1",
         "in=0\nboth=0\nmesh non chiusa62-0.0345494\noffset -0.0345494 -0.0345494 -0.0345494\n", 1},
        // Given explicitly, the lengths do not depend on the orientation; the offset is
        // bboxMin - 2h in single precision.
        {"-f " + flipped + " -r 0.1 -s 0.2 -p 0.1 -g 0.1 -n 2 -b", "-1 -0.024814 0.2 0.1 0.1 0.1 0",
         "in=1\nboth=1\noffset -0.2 -0.2 -0.2\n", 2},
        {"-f " + open + " -c -n 3", "?", "?", 3},           // an open surface
        {"-f " + torus + " -k 0 -b -t -n 3", "?", "?", 3},  // every kernel choice
        {"-f " + torus + " -k 1 -b -t -n 3", "?", "?", 3},
        {"-f " + torus + " -k 2 -b -t -n 3", "?", "?", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run(c.args + " -o out");
        ASSERT_EQ(r.status, 1) << r.err;
        if (c.summary != "?") {
            EXPECT_EQ(lines(r.out).at(0), words(c.args)[1] + " " + c.summary);
        }
        EXPECT_EQ(lines(r.out).size(), c.radii + 1);
        EXPECT_TRUE(isTimingLine(lines(r.err).back())) << r.err;
        if (c.err != "?") {
            EXPECT_EQ(r.err.substr(0, r.err.rfind("Time")), c.err);
        }
        EXPECT_EQ(lines(readText(dir.file("out/hist.txt"))).size(), c.radii);
        const std::vector<float> jmapt = volume("out/jmapt");
        EXPECT_TRUE(allFiniteAndNonNegative(jmapt));
        EXPECT_GT(*std::max_element(jmapt.begin(), jmapt.end()), 0.0f);
        EXPECT_EQ(exists("volume.vol"), c.args.find(" -c") == std::string::npos);
        std::remove(dir.file("volume.vol").c_str());
    }
}

TEST_F(Cli, ShippedExampleIsTheGeneratorsOutput) {
    EXPECT_EQ(readText(SHAPESCALE_SOURCE_DIR "/examples/dumbbell.off"),
              shapes::toOff(shapes::dumbbell(96, 96)));
}

TEST_F(Cli, ThreeRadiiWithTensorsWriteEveryResultFile) {
    // An existing directory is reused and its files are replaced.
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0775), 0);
    test::writeText(dir.file("out/hist.txt"), "old line\n");
    const RunResult r = run("-f " + cube + " -r 0.1 -s 0.2 -p 0.1 -g 0.1 -n 3 -t -o out");
    ASSERT_EQ(r.status, 1) << r.err;
    Args expected = {"hist.txt", "info.txt"};
    for (const std::string& base : words("apt_0 apt_1 apt_2 vxx_0 vxx_1 vxx_2 jmapt scale vxx "
                                         "vxy vxz vyy vyz vzz"))
        for (const char* ext : {".hdr", ".img"}) expected.push_back(base + ext);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::listDir(dir.file("out")), expected);
    // The summary, then the histogram lines, twelve counts each followed by a blank.
    const Args hist = lines(readText(dir.file("out/hist.txt"))), out = lines(r.out);
    ASSERT_EQ(hist.size(), 3u);
    EXPECT_EQ(out, (Args{cube + " 1 0.024814 0.2 0.1 0.1 0.1 1", hist[0], hist[1], hist[2]}));
    for (const std::string& line : hist) EXPECT_TRUE(isHistogramLine(line)) << line;
    EXPECT_EQ(readText(dir.file("out/info.txt")),
              "0.200000 0.100000\n-0.200000 -0.200000 -0.200000 \n0.100000 0.100000 0.100000 \n");
    // Every volume has the grid's size: 1 / 0.1 + 5 voxels per axis; so has the occupancy
    // file in the working directory after its 24-byte header.
    const std::size_t voxels = 15 * 15 * 15;
    for (const char* name : {"apt_0", "apt_2", "jmapt", "scale", "vxx_1", "vyz"})
        EXPECT_EQ(volume(std::string("out/") + name).size(), voxels) << name;
    EXPECT_EQ(test::readBytes(dir.file("volume.vol")).size(), 24 + voxels);
    // The diagonal of a sum of outer products of unit normals is never negative.
    for (const char* name : {"vxx", "vyy", "vzz"})
        EXPECT_TRUE(allFiniteAndNonNegative(volume(std::string("out/") + name))) << name;
}

// Paths longer than 100 characters are kept whole.
TEST_F(Cli, NoRadiusWritesEmptyHistogramAndZeroVolumesUnderLongPaths) {
    const std::string sub = std::string(110, 'm'), out = dir.file(std::string(130, 'o'));
    ASSERT_EQ(mkdir(dir.file(sub).c_str(), 0775), 0);
    const std::string path = mesh(shapes::unitCube(), sub + "/" + std::string(40, 'c') + ".off");
    const RunResult r = run("-f " + path + " -r 0.1 -n -1 -o " + out);
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, path + " 1 0.024814 0.049628 0.1 0.024814 0.024814 0\n");
    EXPECT_EQ(readText(out + "/hist.txt"), "");
    EXPECT_EQ(lines(readText(out + "/info.txt")).size(), 3u);
    EXPECT_FALSE(test::fileExists(out + "/apt_0.hdr"));
    for (const std::string name : {"/jmapt.img", "/scale.img"})
        EXPECT_EQ(test::readFloats(out + name), std::vector<float>(15 * 15 * 15, 0.0f)) << name;
}

TEST_F(Cli, SphereCentreSeesTheWholeSphereAtItsOwnRadius) {
    // Radius 1 world unit = 10 voxels; radii 8 and 10 voxels; the ball filter
    // (kernel 0) at width 2.5 around the centre gathers the votes landing there.
    const RunResult r = run("-f " + mesh(shapes::icosphere(5), "sphere.off") +
                            " -r 0.1 -s 0.8 -p 0.2 -g 0.2 -n 2 -k 0 -o out");
    ASSERT_EQ(r.status, 1) << r.err;
    const std::vector<float> apt = volume("out/apt_1"), scale = volume("out/scale");
    const int n = static_cast<int>(std::lround(std::cbrt(static_cast<double>(apt.size()))));
    ASSERT_EQ(apt.size(), static_cast<std::size_t>(n * n * n));
    // The voxel holding the world origin, from the origin in info.txt.
    const int c =
        static_cast<int>(-std::stod(lines(readText(dir.file("out/info.txt"))).at(1)) / 0.1);
    // The votes land within a voxel of the centre; the ball filter reaches
    // two voxels down and one up, so the best voxel is one of the centre's neighbours.
    std::size_t best = 0;
    for (int k = 0; k < 27; ++k) {
        const std::size_t at =
            std::size_t(c - 1 + k % 3 + n * (c - 1 + k / 3 % 3 + n * (c - 1 + k / 9)));
        if (apt[at] > apt[best]) best = at;
    }
    EXPECT_NEAR(apt[best], 1.0, 0.03);  // the inscribed polyhedron's area is a little smaller
    EXPECT_NEAR(scale[best], 10.0, 1e-4);
    EXPECT_LT(apt[best + 5], 0.1f);  // five voxels away the sphere at this radius is not seen
}

TEST_F(Cli, GridLargerThanTheMemoryIsRefusedBeforeAllocating) {
    // 1209^3 voxels fit the format but need about 120 GiB with tensors.
    if (double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE)) > 100e9)
        GTEST_SKIP() << "this machine could hold the grid";
    const RunResult r = run("-f " + cube + " -r 0.00083 -t -o out");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("1209 x 1209 x 1209 needs"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("out"));
}

}  // namespace
}  // namespace shapescale
