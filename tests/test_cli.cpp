// End-to-end tests: the real binary on meshes generated here.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shapes/Shapes.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using shapes::PolyMesh;
using test::lines;
using test::readText;
using test::RunResult;
using Args = std::vector<std::string>;

const std::string BINARY = SHAPESCALE_BINARY;
// Fields of the unit cube's summary line after the volume: base scale, start, h, step, sigma.
const std::string CUBE_LENGTHS = "0.024814 0.049628 0.024814 0.024814 0.024814";

class Cli : public testing::Test {
  protected:
    std::string mesh(const PolyMesh& poly, const std::string& name = "mesh.off") {
        shapes::writeOff(poly, dir.file(name));
        return dir.file(name);
    }
    RunResult run(const Args& args) { return test::runBinary(args, dir.path()); }
    std::vector<float> volume(const std::string& name) {
        return test::readFloats(dir.file(name + ".img"));
    }
    bool exists(const std::string& name) { return test::fileExists(dir.file(name)); }

    test::TempDir dir;
};

// "Time elapsed: <seconds> sec."
bool isTimingLine(const std::string& line) {
    const std::string head = "Time elapsed: ", tail = " sec.";
    if (line.size() <= head.size() + tail.size() || line.rfind(head, 0) != 0 ||
        line.substr(line.size() - tail.size()) != tail)
        return false;
    char* end = nullptr;
    std::strtod(line.c_str() + head.size(), &end);
    return std::string(end) == tail;
}

// Twelve counts, each followed by one blank.
bool isHistogramLine(const std::string& line) {
    int counts = 0;
    for (std::size_t i = 0; i < line.size(); ++counts) {
        const std::size_t digits = line.find_first_not_of("0123456789", i);
        if (digits == i || digits == std::string::npos || line[digits] != ' ') return false;
        i = digits + 1;
    }
    return counts == 12;
}

bool allFiniteAndNonNegative(const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x) && x >= 0; });
}

TEST_F(Cli, UsageTexts) {
    const struct {
        Args args;
        std::string diagnostic;  // getopt's own line, if any
        const char* kernelFlag;  // which of the two texts
    } cases[] = {
        {{"-x", "-f", "m.off"}, "invalid option -- 'x'", "-m"},
        {{"-f"}, "option requires an argument -- 'f'", "-m"},
        {{"-e", "3", "-f", "m.off"}, "", "-m"},
        {{}, "", "-k"},
        {{"-f", ""}, "", "-k"},
        {{"-n", "3", "-a"}, "", "-k"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (c.diagnostic.empty() ? "" : BINARY + ": " + c.diagnostic + "\n") +
                             "Usage: " + BINARY +
                             " -f filename [-r grid resolution -g sigma -s startin radius -n num "
                             "of radii -p step between radii -t tensors " +
                             c.kernelFlag + " kernel choice -o outdir]\n");
    }
}

// Completed runs: the summary line, the set-up lines before the timing line, one histogram
// line per radius and the last radius's volume.
TEST_F(Cli, SummaryAndSetUpLines) {
    const std::string cube = mesh(shapes::unitCube());
    const std::string flipped = mesh(shapes::flipped(shapes::unitCube()), "flipped.off");
    const struct {
        std::string mesh;
        Args args;
        std::string summary;           // after the path
        std::vector<std::string> err;  // before the timing line; empty: not checked
        int radii;
    } cases[] = {
        {cube, {"-n", "0", "-a", "ignored-operand"}, "1 " + CUBE_LENGTHS + " 0", {}, 8},
        // Repeated options overwrite; a number that does not convert reads as 0.
        {cube,
         {"-r", "abc", "-g", "0.5", "-g", "0.03", "-s", "0", "-n", "1"},
         "1 0.024814 0.049628 0.024814 0.024814 0.03 0",
         {},
         1},
        // The area-based scale and the nearest-vertex labels; the preliminary nx
        // (1.0345494 / 0.0172747 + 3) and origin x follow the text without separators.
        {cube,
         {"-c", "-t", "-n", "1"},
         "1 0.0172747 0.0345494 0.0172747 0.0172747 0.0172747 1",
         {"in=0", "both=0", "mesh non chiusa62-0.0345494",
          "offset -0.0345494 -0.0345494 -0.0345494"},
         1},
        // Given explicitly, the lengths do not depend on the orientation.
        {flipped,
         {"-r", "0.1", "-s", "0.2", "-p", "0.1", "-g", "0.1", "-n", "1", "-b"},
         "-1 -0.024814 0.2 0.1 0.1 0.1 0",
         {"in=1", "both=1", "offset -0.2 -0.2 -0.2"},  // bboxMin - 2h in single precision
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        Args args = {"-f", c.mesh, "-o", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run(args);
        ASSERT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(lines(r.out).at(0), c.mesh + " " + c.summary);
        std::vector<std::string> err = lines(r.err);
        ASSERT_FALSE(err.empty());
        EXPECT_TRUE(isTimingLine(err.back())) << err.back();
        err.pop_back();
        if (!c.err.empty()) {
            EXPECT_EQ(err, c.err);
        }
        EXPECT_EQ(lines(readText(dir.file("out/hist.txt"))).size(), std::size_t(c.radii));
        EXPECT_TRUE(exists("out/apt_" + std::to_string(c.radii - 1) + ".img"));
        // Only the closed-mesh path writes the occupancy file.
        EXPECT_EQ(exists("volume.vol"), c.err.empty() || c.err[0] == "in=1");
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
    const RunResult r = run({"-f", mesh(shapes::unitCube()), "-r", "0.1", "-s", "0.2", "-p", "0.1",
                             "-g", "0.1", "-n", "3", "-t", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    std::vector<std::string> expected = {"hist.txt", "info.txt"};
    for (const char* base : {"apt_0", "apt_1", "apt_2", "vxx_0", "vxx_1", "vxx_2", "jmapt", "scale",
                             "vxx", "vxy", "vxz", "vyy", "vyz", "vzz"})
        for (const char* ext : {".hdr", ".img"}) expected.push_back(base + std::string(ext));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::listDir(dir.file("out")), expected);

    const std::vector<std::string> hist = lines(readText(dir.file("out/hist.txt")));
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(hist.size(), 3u);
    ASSERT_EQ(out.size(), 4u);  // the summary, then one line per radius
    EXPECT_EQ(out[0].substr(out[0].find(' ')), " 1 0.024814 0.2 0.1 0.1 0.1 1");
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(isHistogramLine(hist[k])) << hist[k];
        EXPECT_EQ(out[k + 1], hist[k]);
    }
    EXPECT_EQ(readText(dir.file("out/info.txt")),
              "0.200000 0.100000\n-0.200000 -0.200000 -0.200000 \n0.100000 0.100000 0.100000 \n");

    // Every volume has the grid's size: 1 / 0.1 + 5 voxels per axis.
    const std::size_t voxels = 15 * 15 * 15;
    for (const char* name : {"apt_0", "apt_2", "jmapt", "vxx_1", "vyz"})
        EXPECT_EQ(volume(std::string("out/") + name).size(), voxels) << name;
    // Scale holds radii in voxel units: 0 or one of 2, 3, 4.
    for (float s : volume("out/scale"))
        ASSERT_TRUE(s == 0.0f || std::fabs(s - 2) < 1e-5 || std::fabs(s - 3) < 1e-5 ||
                    std::fabs(s - 4) < 1e-5)
            << s;
    // The diagonal of a sum of outer products of unit normals is never negative.
    for (const char* name : {"vxx", "vyy", "vzz"})
        EXPECT_TRUE(allFiniteAndNonNegative(volume(std::string("out/") + name))) << name;

    // The occupancy file in the working directory: the cube spans grid
    // coordinates 2..12, so at least 11^3 voxels are inside or on it.
    const std::vector<unsigned char> vol = test::readBytes(dir.file("volume.vol"));
    ASSERT_EQ(vol.size(), 24u + voxels);
    int header[3];
    std::memcpy(header, vol.data(), sizeof header);
    EXPECT_EQ(header[0] * header[1] * header[2], 15 * 15 * 15);
    const auto filled = std::count(vol.begin() + 24, vol.end(), 255);
    EXPECT_GE(filled, 11 * 11 * 11);
    EXPECT_LE(filled, 13 * 13 * 13);
    EXPECT_EQ(filled + std::count(vol.begin() + 24, vol.end(), 0), 15 * 15 * 15);
}

// Paths longer than 100 characters are kept whole.
TEST_F(Cli, NoRadiusWritesEmptyHistogramAndZeroVolumesUnderLongPaths) {
    const std::string sub = std::string(110, 'm'), outDir = std::string(130, 'o');
    ASSERT_EQ(mkdir(dir.file(sub).c_str(), 0775), 0);
    const std::string path = mesh(shapes::unitCube(), sub + "/" + std::string(40, 'c') + ".off");
    const RunResult r = run({"-f", path, "-r", "0.1", "-n", "-1", "-o", dir.file(outDir)});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, path + " 1 0.024814 0.049628 0.1 0.024814 0.024814 0\n");
    EXPECT_EQ(readText(dir.file(outDir + "/hist.txt")), "");
    for (const char* name : {"/jmapt", "/scale"}) {
        const std::vector<float> v = volume(outDir + name);
        ASSERT_EQ(v.size(), 15u * 15u * 15u);
        EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](float x) { return x == 0.0f; })) << name;
    }
    EXPECT_EQ(lines(readText(dir.file(outDir + "/info.txt"))).size(), 3u);
    EXPECT_FALSE(exists(outDir + "/apt_0.hdr"));
}

TEST_F(Cli, SphereCentreSeesTheWholeSphereAtItsOwnRadius) {
    // Radius 1 world unit = 10 voxels; radii 8 and 10 voxels; the ball filter
    // (kernel 0) at width 2.5 around the centre gathers the votes landing there.
    const RunResult r = run({"-f", mesh(shapes::icosphere(5)), "-r", "0.1", "-s", "0.8", "-p",
                             "0.2", "-g", "0.2", "-n", "2", "-k", "0", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::vector<float> apt = volume("out/apt_1"), scale = volume("out/scale");
    const int n = static_cast<int>(std::lround(std::cbrt(static_cast<double>(apt.size()))));
    ASSERT_EQ(apt.size(), static_cast<std::size_t>(n * n * n));
    // The voxel holding the world origin, from the origin in info.txt.
    const int c =
        static_cast<int>(-std::stod(lines(readText(dir.file("out/info.txt"))).at(1)) / 0.1);
    auto at = [n](int x, int y, int z) { return static_cast<std::size_t>(x + n * (y + n * z)); };
    // The votes land within a voxel of the centre; the ball filter reaches
    // two voxels down and one up, so the best voxel is one of the centre's neighbours.
    std::size_t best = at(c, c, c);
    for (int z = c - 1; z <= c + 1; ++z)
        for (int y = c - 1; y <= c + 1; ++y)
            for (int x = c - 1; x <= c + 1; ++x)
                if (apt[at(x, y, z)] > apt[best]) best = at(x, y, z);
    EXPECT_NEAR(apt[best], 1.0, 0.03);  // the inscribed polyhedron's area is a little smaller
    EXPECT_NEAR(scale[best], 10.0, 1e-4);
    EXPECT_LT(apt[best + 5], 0.1f);  // five voxels away the sphere at this radius is not seen
}

TEST_F(Cli, OpenSurfaceEveryKernelAndBothSidesComplete) {
    const std::string torus = mesh(shapes::torus(1.0, 0.35, 48, 24));
    const Args cases[] = {
        {"-f", mesh(shapes::hemisphere(4), "open.off"), "-c", "-n", "3"},
        {"-f", torus, "-k", "0", "-n", "3", "-b", "-t"},
        {"-f", torus, "-k", "1", "-n", "3", "-b", "-t"},
        {"-f", torus, "-k", "2", "-n", "3", "-b", "-t"},
    };
    for (const Args& args : cases) {
        SCOPED_TRACE(args[1] + " " + args[3]);
        Args withOut = args;
        withOut.insert(withOut.end(), {"-o", "out"});
        const RunResult r = run(withOut);
        ASSERT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(lines(readText(dir.file("out/hist.txt"))).size(), 3u);
        const std::vector<float> jmapt = volume("out/jmapt");
        ASSERT_FALSE(jmapt.empty());
        EXPECT_TRUE(allFiniteAndNonNegative(jmapt));
        EXPECT_GT(*std::max_element(jmapt.begin(), jmapt.end()), 0.0f);
    }
}

// Each failure: status 2, one line on standard error (after the transform's two set-up
// lines, if it started), and neither the output directory nor the occupancy file.
TEST_F(Cli, FailuresEndWithOneLineAndStatus2BeforeAnyOutput) {
    auto expectRefused = [&](const Args& args, const Args& parts, const std::string& out) {
        SCOPED_TRACE(parts[0]);
        Args withOut = {"-o", "out"};
        withOut.insert(withOut.end(), args.begin(), args.end());
        const RunResult r = run(withOut);
        EXPECT_EQ(r.status, 2);
        const std::vector<std::string> err = lines(r.err);
        ASSERT_EQ(err.size() - (r.err.rfind("in=", 0) == 0 ? 2 : 0), 1u) << r.err;
        for (const std::string& part : parts)
            EXPECT_NE(err.back().find(part), std::string::npos) << r.err;
        EXPECT_EQ(r.out, out);
        EXPECT_FALSE(exists("out"));
        EXPECT_FALSE(exists("volume.vol"));  // stopped before any voxel work
    };
    test::writeText(dir.file("bad.off"), "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n");
    test::writeText(dir.file("empty.off"), "OFF\n0 0 0\n");
    test::writeText(dir.file("taken"), "x");
    const std::string cube = mesh(shapes::unitCube()),
                      flipped = mesh(shapes::flipped(shapes::unitCube()), "flipped.off"),
                      flat = mesh({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}}, "flat.off");
    const std::string cubeLine = cube + " 1 " + CUBE_LENGTHS + " 0\n";
    expectRefused({"-f", "nowhere.off"}, {"nowhere.off: No such file or directory"},
                  "file not found\n");
    expectRefused({"-f", "bad.off"}, {"bad.off:6: face 0: vertex number 7"}, "");
    expectRefused({"-f", "empty.off"}, {"empty.off: the mesh has no vertex"}, "");
    expectRefused({"-f", flat}, {"bounding box is flat"}, flat + " 0 0 0 0 0 0 0\n");
    expectRefused({"-f", cube, "-o", "no/such/parent"},
                  {"no/such/parent: No such file or directory"}, cubeLine);
    expectRefused({"-f", cube, "-o", "taken"}, {"cannot create taken/hist.txt: Not a directory"},
                  cubeLine);
    // Lengths given or derived from a negative volume; the summary line still shows them.
    const struct {
        std::string mesh;
        Args args, parts;
        std::string summary;  // after the path, before the tensors flag
    } lengths[] = {
        {flipped,
         {},
         {"clockwise", "-0.024814"},
         "-1 -0.024814 -0.049628 -0.024814 -0.024814 -0.024814"},
        {cube, {"-g", "-1"}, {"sigma"}, "1 0.024814 0.049628 0.024814 0.024814 -1"},
        {cube, {"-r", "-0.1"}, {"grid resolution"}, "1 0.024814 0.049628 -0.1 0.024814 0.024814"},
        {cube, {"-s", "-0.5"}, {"radius"}, "1 0.024814 -0.5 0.024814 0.024814 0.024814"},
        // Every extent fits into memory, but not into the volume format.
        {cube, {"-r", "1e-5"}, {"32767"}, "1 0.024814 0.049628 1e-05 0.024814 0.024814"},
        {cube, {"-r", "nan"}, {"grid resolution"}, "1 0.024814 0.049628 nan 0.024814 0.024814"},
        {cube, {"-p", "inf"}, {"radius step"}, "1 0.024814 0.049628 0.024814 inf 0.024814"},
        {cube,
         {"-s", "0.1", "-p", "-0.05", "-n", "3"},
         {"radius"},
         "1 0.024814 0.1 0.024814 -0.05 0.024814"},
    };
    for (const auto& c : lengths) {
        Args args = {"-f", c.mesh};
        args.insert(args.end(), c.args.begin(), c.args.end());
        expectRefused(args, c.parts, c.mesh + " " + c.summary + " 0\n");
    }
}

TEST_F(Cli, GridLargerThanTheMemoryIsRefusedBeforeAllocating) {
    // 1209^3 voxels fit the format but need about 120 GiB with tensors.
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    if (static_cast<double>(pages) * static_cast<double>(pageSize) > 100e9)
        GTEST_SKIP() << "this machine could hold the grid";
    const RunResult r = run({"-f", mesh(shapes::unitCube()), "-r", "0.00083", "-t", "-o", "out"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("1209 x 1209 x 1209 needs"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("out"));
}

}  // namespace
}  // namespace shapescale
