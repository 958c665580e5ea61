// End-to-end tests: the real binary on meshes generated here.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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
using test::readFloats;
using test::readText;
using test::RunResult;
using test::TempDir;

const std::string BINARY = SHAPESCALE_BINARY;

class Cli : public testing::Test {
  protected:
    // Writes the mesh into the test directory and returns its path.
    std::string mesh(const PolyMesh& poly, const std::string& name = "mesh.off") {
        const std::string path = dir.file(name);
        shapes::writeOff(poly, path);
        return path;
    }
    RunResult run(const std::vector<std::string>& args) {
        return test::runBinary(args, dir.path());
    }

    TempDir dir;
};

std::string usage(const char* kernelFlag) {
    return "Usage: " + BINARY +
           " -f filename [-r grid resolution -g sigma -s startin radius -n num of radii -p step "
           "between radii -t tensors " +
           kernelFlag + " kernel choice -o outdir]\n";
}

// "Time elapsed: <seconds> sec."
bool isTimingLine(const std::string& line) {
    const std::string head = "Time elapsed: ", tail = " sec.";
    if (line.size() <= head.size() + tail.size() || line.rfind(head, 0) != 0 ||
        line.substr(line.size() - tail.size()) != tail)
        return false;
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    char* end = nullptr;
    std::strtod(number.c_str(), &end);
    return *end == '\0';
}

// Twelve counts, each followed by one blank.
bool isHistogramLine(const std::string& line) {
    int counts = 0;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t digits = line.find_first_not_of("0123456789", i);
        if (digits == i || digits == std::string::npos || line[digits] != ' ') return false;
        ++counts;
        i = digits + 1;
    }
    return counts == 12;
}

std::vector<std::string> pairs(const std::vector<std::string>& bases) {
    std::vector<std::string> names;
    for (const auto& b : bases) {
        names.push_back(b + ".hdr");
        names.push_back(b + ".img");
    }
    return names;
}

// ---- command line ----

TEST_F(Cli, UsageTexts) {
    struct Case {
        std::vector<std::string> args;
        std::string diagnostic;  // getopt's own line, if any
        const char* kernelFlag;  // which of the two texts
    };
    const std::vector<Case> cases = {
        {{"-x", "-f", "m.off"}, "invalid option -- 'x'", "-m"},
        {{"-f"}, "option requires an argument -- 'f'", "-m"},
        {{"-e", "3", "-f", "m.off"}, "", "-m"},
        {{}, "", "-k"},
        {{"-f", ""}, "", "-k"},
        {{"-n", "3", "-a"}, "", "-k"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::string expected =
            (c.diagnostic.empty() ? "" : BINARY + ": " + c.diagnostic + "\n") + usage(c.kernelFlag);
        EXPECT_EQ(r.err, expected);
    }
}

TEST_F(Cli, UnitCubeSummaryLine) {
    const std::string path = mesh(shapes::unitCube());
    const RunResult r = run({"-f", path, "-n", "1", "-o", "out", "-a", "ignored-operand"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out).at(0), path + " 1 0.024814 0.049628 0.024814 0.024814 0.024814 0");
    // Repeated options overwrite; a number that does not convert reads as 0.
    const RunResult again = run(
        {"-f", path, "-r", "abc", "-g", "0.5", "-g", "0.03", "-s", "0", "-n", "1", "-o", "out"});
    EXPECT_EQ(lines(again.out).at(0), path + " 1 0.024814 0.049628 0.024814 0.024814 0.03 0");
}

TEST_F(Cli, SetUpLinesOnStandardError) {
    const RunResult r =
        run({"-f", mesh(shapes::unitCube()), "-r", "0.1", "-n", "1", "-o", "out", "-b"});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 4u) << r.err;
    EXPECT_EQ(err[0], "in=1");
    EXPECT_EQ(err[1], "both=1");
    EXPECT_EQ(err[2], "offset -0.2 -0.2 -0.2");  // bboxMin - 2h in single precision
    EXPECT_TRUE(isTimingLine(err[3])) << err[3];
}

TEST_F(Cli, OpenMeshFlagUsesTheAreaBasedScaleAndTheNearestVertexLabels) {
    const std::string path = mesh(shapes::unitCube());
    const RunResult r = run({"-f", path, "-c", "-t", "-n", "1", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out).at(0), path + " 1 0.0172747 0.0345494 0.0172747 0.0172747 0.0172747 1");
    const std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(err.size(), 5u) << r.err;
    EXPECT_EQ(err[0], "in=0");
    EXPECT_EQ(err[1], "both=0");
    // Preliminary nx (1.0345494 / 0.0172747 + 3) and origin x, without separators.
    EXPECT_EQ(err[2], "mesh non chiusa62-0.0345494");
    EXPECT_EQ(err[3], "offset -0.0345494 -0.0345494 -0.0345494");
    EXPECT_FALSE(test::fileExists(dir.file("volume.vol")));  // only the closed-mesh path writes it
}

TEST_F(Cli, OpenSurfaceRunsEndToEnd) {
    const RunResult r = run({"-f", mesh(shapes::hemisphere(4)), "-c", "-n", "3", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(readText(dir.file("out/hist.txt"))).size(), 3u);
    const std::vector<float> jmapt = readFloats(dir.file("out/jmapt.img"));
    EXPECT_TRUE(std::all_of(jmapt.begin(), jmapt.end(),
                            [](float v) { return std::isfinite(v) && v >= 0; }));
    EXPECT_GT(*std::max_element(jmapt.begin(), jmapt.end()), 0.0f);
}

TEST_F(Cli, ShippedExampleIsTheGeneratorsOutput) {
    EXPECT_EQ(readText(SHAPESCALE_SOURCE_DIR "/examples/dumbbell.off"),
              shapes::toOff(shapes::dumbbell(96, 96)));
}

// ---- result files ----

TEST_F(Cli, ThreeRadiiWriteTheirVolumesHistogramAndInfo) {
    // An existing directory is reused and its files are replaced.
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0775), 0);
    test::writeText(dir.file("out/hist.txt"), "old line\n");
    const RunResult r = run({"-f", mesh(shapes::unitCube()), "-r", "0.1", "-s", "0.2", "-p", "0.1",
                             "-g", "0.1", "-n", "3", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    std::vector<std::string> expected = pairs({"apt_0", "apt_1", "apt_2", "jmapt", "scale"});
    expected.push_back("hist.txt");
    expected.push_back("info.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::listDir(dir.file("out")), expected);

    const std::vector<std::string> hist = lines(readText(dir.file("out/hist.txt")));
    ASSERT_EQ(hist.size(), 3u);
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 4u);  // the summary, then one line per radius
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(isHistogramLine(hist[k])) << hist[k];
        EXPECT_EQ(out[k + 1], hist[k]);
    }
    EXPECT_EQ(readText(dir.file("out/info.txt")),
              "0.200000 0.100000\n-0.200000 -0.200000 -0.200000 \n0.100000 0.100000 0.100000 \n");

    // Every volume has the grid's size: 1 / 0.1 + 5 voxels per axis.
    const std::size_t voxels = 15 * 15 * 15;
    for (const char* name : {"apt_0", "apt_2", "jmapt", "scale"})
        EXPECT_EQ(readFloats(dir.file(std::string("out/") + name + ".img")).size(), voxels) << name;
    // Scale holds radii in voxel units: 0 or one of 2, 3, 4.
    for (float s : readFloats(dir.file("out/scale.img")))
        ASSERT_TRUE(s == 0.0f || std::fabs(s - 2) < 1e-5 || std::fabs(s - 3) < 1e-5 ||
                    std::fabs(s - 4) < 1e-5)
            << s;

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

TEST_F(Cli, TensorsAddTheirVolumes) {
    const RunResult r =
        run({"-f", mesh(shapes::unitCube()), "-r", "0.1", "-n", "3", "-t", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out).at(0).substr(lines(r.out).at(0).size() - 2), " 1");
    std::vector<std::string> expected =
        pairs({"apt_0", "apt_1", "apt_2", "vxx_0", "vxx_1", "vxx_2", "jmapt", "scale", "vxx", "vxy",
               "vxz", "vyy", "vyz", "vzz"});
    expected.push_back("hist.txt");
    expected.push_back("info.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::listDir(dir.file("out")), expected);
    // The diagonal of a sum of outer products of unit normals is never negative.
    for (const char* name : {"vxx", "vyy", "vzz"})
        for (float v : readFloats(dir.file(std::string("out/") + name + ".img")))
            ASSERT_GE(v, 0.0f) << name;
}

TEST_F(Cli, NoRadiusWritesEmptyHistogramAndZeroVolumes) {
    const RunResult r = run({"-f", mesh(shapes::unitCube()), "-r", "0.1", "-n", "-1", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out).size(), 1u);
    EXPECT_EQ(readText(dir.file("out/hist.txt")), "");
    for (const char* name : {"jmapt", "scale"}) {
        const std::vector<float> v = readFloats(dir.file(std::string("out/") + name + ".img"));
        ASSERT_EQ(v.size(), 15u * 15u * 15u);
        EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](float x) { return x == 0.0f; })) << name;
    }
    EXPECT_EQ(lines(readText(dir.file("out/info.txt"))).size(), 3u);
    EXPECT_FALSE(test::fileExists(dir.file("out/apt_0.hdr")));
}

TEST_F(Cli, RadiusCountZeroMeansEightRadii) {
    const RunResult r = run({"-f", mesh(shapes::unitCube()), "-n", "0", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(readText(dir.file("out/hist.txt"))).size(), 8u);
    EXPECT_TRUE(test::fileExists(dir.file("out/apt_7.img")));
}

TEST_F(Cli, LongPathsAreKeptWhole) {
    const std::string sub = std::string(110, 'm');
    ASSERT_EQ(mkdir(dir.file(sub).c_str(), 0775), 0);
    const std::string meshPath =
        mesh(shapes::unitCube(), sub + "/" + std::string(40, 'c') + ".off");
    const std::string outDir = dir.file(std::string(130, 'o'));
    const RunResult r = run({"-f", meshPath, "-r", "0.1", "-n", "1", "-o", outDir});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.out).at(0).substr(0, meshPath.size()), meshPath);
    EXPECT_TRUE(test::fileExists(outDir + "/jmapt.img"));
    EXPECT_TRUE(test::fileExists(outDir + "/apt_0.hdr"));
}

// ---- what the transform means ----

TEST_F(Cli, SphereCentreSeesTheWholeSphereAtItsOwnRadius) {
    // Radius 1 world unit = 10 voxels; radii 8 and 10 voxels; the ball filter
    // (kernel 0) at width 2.5 around the centre gathers the votes landing there.
    const RunResult r = run({"-f", mesh(shapes::icosphere(5)), "-r", "0.1", "-s", "0.8", "-p",
                             "0.2", "-g", "0.2", "-n", "2", "-k", "0", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::vector<float> apt = readFloats(dir.file("out/apt_1.img"));
    const std::vector<float> scale = readFloats(dir.file("out/scale.img"));
    const int n = static_cast<int>(std::lround(std::cbrt(static_cast<double>(apt.size()))));
    ASSERT_EQ(apt.size(), static_cast<std::size_t>(n * n * n));
    // The voxel holding the world origin, from the origin in info.txt.
    const std::vector<std::string> info = lines(readText(dir.file("out/info.txt")));
    const double originX = std::stod(info.at(1));
    const int c = static_cast<int>(-originX / 0.1);
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
    // Five voxels away the sphere at this radius is not seen.
    EXPECT_LT(apt[best + 5], 0.1f);
}

TEST_F(Cli, EveryKernelChoiceAndBothSidesComplete) {
    const std::string path = mesh(shapes::torus(1.0, 0.35, 48, 24));
    for (const char* k : {"0", "1", "2"}) {
        const std::string out = std::string("out") + k;
        const RunResult r = run({"-f", path, "-k", k, "-n", "2", "-b", "-t", "-o", out});
        ASSERT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(lines(r.err).at(1), "both=1");
        const std::vector<float> jmapt = readFloats(dir.file(out + "/jmapt.img"));
        ASSERT_FALSE(jmapt.empty());
        EXPECT_TRUE(std::all_of(jmapt.begin(), jmapt.end(),
                                [](float v) { return std::isfinite(v) && v >= 0; }));
        EXPECT_GT(*std::max_element(jmapt.begin(), jmapt.end()), 0.0f) << "kernel " << k;
    }
}

// ---- failures ----

TEST_F(Cli, FailuresEndWithOneLineAndStatus2BeforeAnyOutput) {
    test::writeText(dir.file("bad.off"), "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n");
    test::writeText(dir.file("empty.off"), "OFF\n0 0 0\n");
    test::writeText(dir.file("taken"), "x");
    PolyMesh flat;
    flat.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    flat.faces = {{0, 1, 2}};
    const std::string cube = mesh(shapes::unitCube());
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string out;  // standard output, where it is fixed
    };
    const std::vector<Case> cases = {
        {{"-f", "nowhere.off", "-o", "out"},
         "nowhere.off: No such file or directory",
         "file not found\n"},
        {{"-f", "bad.off", "-o", "out"}, "bad.off:6: face 0: vertex number 7", ""},
        {{"-f", "empty.off", "-o", "out"}, "empty.off: the mesh has no vertex", ""},
        {{"-f", mesh(flat, "flat.off"), "-o", "out"}, "bounding box is flat", "?"},
        {{"-f", cube, "-o", "no/such/parent"}, "no/such/parent: No such file or directory", "?"},
        {{"-f", cube, "-o", "taken"}, "cannot create taken/hist.txt: Not a directory", "?"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        ASSERT_EQ(lines(r.err).size() - (r.err.find("in=") == 0 ? 2 : 0), 1u) << r.err;
        EXPECT_NE(lines(r.err).back().find(c.message), std::string::npos) << r.err;
        if (c.out != "?") {
            EXPECT_EQ(r.out, c.out);
        }
        EXPECT_FALSE(test::fileExists(dir.file("out")));
        EXPECT_FALSE(test::fileExists(dir.file("volume.vol")));  // stopped before any voxel work
    }
}

TEST_F(Cli, ClockwiseMeshIsRefusedAfterItsSummaryLine) {
    const std::string path = mesh(shapes::flipped(shapes::unitCube()));
    const RunResult r = run({"-f", path, "-o", "out"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, path + " -1 -0.024814 -0.049628 -0.024814 -0.024814 -0.024814 0\n");
    const std::string last = lines(r.err).back();
    EXPECT_NE(last.find("-0.024814"), std::string::npos) << last;
    EXPECT_NE(last.find("clockwise"), std::string::npos) << last;
    EXPECT_FALSE(test::fileExists(dir.file("out")));
    EXPECT_FALSE(test::fileExists(dir.file("volume.vol")));
    // Given explicitly, the lengths do not depend on the orientation.
    EXPECT_EQ(run({"-f", path, "-r", "0.1", "-s", "0.2", "-p", "0.1", "-g", "0.1", "-n", "1", "-o",
                   "out"})
                  .status,
              1);
}

TEST_F(Cli, InvalidLengthsAreRefusedBeforeAnyOutput) {
    const std::string path = mesh(shapes::unitCube());
    const std::vector<std::vector<std::string>> cases = {
        {"-g", "-1"},  {"-r", "-0.1"}, {"-s", "-0.5"},
        {"-r", "nan"}, {"-p", "inf"},  {"-s", "0.1", "-p", "-0.05", "-n", "3"}};
    for (const auto& extra : cases) {
        std::vector<std::string> args = {"-f", path, "-o", "out"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 2) << extra[0] << " " << extra[1];
        EXPECT_EQ(lines(r.out).size(), 1u);  // the summary line still shows the values
        EXPECT_FALSE(test::fileExists(dir.file("out"))) << extra[0] << " " << extra[1];
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
    EXPECT_FALSE(test::fileExists(dir.file("out")));
}

}  // namespace
}  // namespace shapescale
