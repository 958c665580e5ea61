// Reliability through the real binary: writes that fail part way, signals,
// limits checked up front; and the replay of the fuzzers' corpora.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "MeshDefects.hpp"
#include "MeshReaderTable.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

namespace fs = std::filesystem;
using test::BoundedRun;
using test::lines;
using test::readBytes;
using test::RunResult;
using test::TempDir;

std::string lastLine(const std::string& text) {
    const std::vector<std::string> all = lines(text);
    return all.empty() ? "" : all.back();
}

std::size_t lineCount(const std::string& path) {
    return lines(test::readText(path)).size();
}

// Every file of every reader's corpus (the fuzzers' seeds and findings) loads
// into a mesh without defects or is refused with an Error; nothing else.
TEST(CorpusReplay, EveryFileLoadsWithoutDefectOrIsRefused) {
    for (const MeshReaderEntry& reader : MESH_READERS) {
        const fs::path dir = fs::path(SHAPESCALE_SOURCE_DIR) / "fuzz" / "corpus" / reader.name;
        int files = 0, loaded = 0;
        for (const auto& entry : fs::directory_iterator(dir)) {
            ++files;
            std::FILE* in = std::fopen(entry.path().c_str(), "rb");
            ASSERT_NE(in, nullptr) << entry.path();
            try {
                TriMesh mesh = reader.read(in, entry.path().string());
                EXPECT_EQ(meshDefect(mesh), "") << entry.path();
                ++loaded;
            } catch (const Error&) {
            }
            std::fclose(in);
        }
        EXPECT_GE(files, 5) << dir;   // the seeds at least (7 for STL)
        EXPECT_GT(loaded, 0) << dir;  // the valid seeds load
        EXPECT_LT(loaded, files) << dir;
    }
}

class Reliability : public testing::Test {
  protected:
    void SetUp() override { shapes::writeOff(shapes::unitCube(), dir.file("cube.off")); }
    RunResult run(std::vector<std::string> extra, BoundedRun limits = {}) {
        limits.args = {"-f", "cube.off", "-o", "out"};
        limits.args.insert(limits.args.end(), extra.begin(), extra.end());
        if (limits.cwd.empty()) limits.cwd = dir.path();
        return test::runBounded(limits);
    }
    TempDir dir;
};

// A first run leaves complete files; a second run on a finer grid fails part
// way through a write. The earlier files must stay byte for byte, every pair
// whole, no temporary file left, one line naming the file, status 2.
TEST_F(Reliability, FailedWritesKeepEarlierFilesWholeAndLeaveNoTemporary) {
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full file system" : "file-size limit");
        TempDir work;
        const std::string mnt = work.file("small");
        fs::create_directory(mnt);
        if (full && mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=80m") != 0) {
            std::printf("[ SKIPPED  ] full file system: cannot mount a tmpfs (not root?)\n");
            continue;
        }
        fs::copy_file(dir.file("cube.off"), mnt + "/cube.off");
        BoundedRun first;
        first.cwd = mnt;
        ASSERT_EQ(run({"-r", "0.1", "-n", "2"}, first).status, 1);
        const std::vector<unsigned char> jmapt = readBytes(mnt + "/out/jmapt.img");
        const std::vector<unsigned char> apt0 = readBytes(mnt + "/out/apt_0.img");
        fs::remove(mnt + "/out/hist.txt");  // its lines now tell the second run's progress

        BoundedRun second = first;
        // Constant radii of 5 voxels: a long run of cheap radii.
        std::vector<std::string> args = {"-r", "0.02", "-s", "0.1", "-p", "1e-6", "-n", "100"};
        if (full) {
            // Past the up-front check (hist.txt exists), fill the file system.
            second.sendWhen = [&] {
                if (lineCount(mnt + "/out/hist.txt") < 2) return false;
                std::ofstream filler(mnt + "/filler", std::ios::binary);
                const std::string block(1 << 16, 'x');
                while (filler.write(block.data(), block.size())) {
                }
                return true;
            };
        } else {
            second.fileSizeLimit = 300000;  // above the 15.6 KB of volume.vol, below a volume
        }
        const RunResult r = run(args, second);
        const std::string line = lastLine(r.err);
        EXPECT_EQ(r.status, 2) << r.err;
        // A full file system may stop any file; the size limit stops the first volume.
        const std::string tail = full ? ": No space left on device" : ": File too large";
        if (full) {
            EXPECT_EQ(line.rfind("shapescale: cannot write out/", 0), 0u) << line;
            EXPECT_EQ(line.find(tail), line.size() - tail.size()) << line;
        } else {
            EXPECT_EQ(line, "shapescale: cannot write out/apt_0.img" + tail);
        }
        EXPECT_EQ(readBytes(mnt + "/out/jmapt.img"), jmapt);
        if (!full) {
            EXPECT_EQ(readBytes(mnt + "/out/apt_0.img"), apt0);
        }
        EXPECT_EQ(test::brokenPairs(mnt), "");
        EXPECT_EQ(test::temporaryFiles(mnt), std::vector<std::string>{});
        if (full) umount(mnt.c_str());
    }
}

// SIGINT and SIGTERM stop a long run between stages: one line saying where,
// status 128 + signal, the completed radii's files and histogram lines kept,
// nothing of the final results, no temporary file.
TEST_F(Reliability, EachSignalStopsTheRunAndKeepsTheCompletedRadii) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        fs::remove_all(dir.file("out"));
        BoundedRun limits;
        limits.signal = signal;
        limits.sendWhen = [&] { return lineCount(dir.file("out/hist.txt")) >= 2; };
        const RunResult r = run({"-r", "0.04", "-s", "0.1", "-p", "1e-6", "-n", "10000"}, limits);
        ASSERT_TRUE(r.signalSent);
        EXPECT_FALSE(r.killedAtTimeLimit);
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        const std::string line = lastLine(r.err);
        const std::string head = std::string("shapescale: interrupted by ") +
                                 (signal == SIGINT ? "SIGINT" : "SIGTERM") + " at radius ";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        const int k = std::stoi(line.substr(head.size()));
        const std::string done =
            k == 1 ? "radius 0" : "radii 0.." + std::to_string(k - 1);  // a single radius
        EXPECT_EQ(line.substr(head.size()),
                  std::to_string(k) + " of 10000; the files of " + done + " are complete");
        // The line of radius k may be flushed when its volumes were being written.
        const std::size_t histLines = lineCount(dir.file("out/hist.txt"));
        EXPECT_TRUE(histLines == std::size_t(k) || histLines == std::size_t(k) + 1) << histLines;
        EXPECT_TRUE(test::fileExists(dir.file("out/apt_" + std::to_string(k - 1) + ".img")));
        EXPECT_FALSE(test::fileExists(dir.file("out/apt_" + std::to_string(k + 1) + ".hdr")));
        EXPECT_FALSE(test::fileExists(dir.file("out/jmapt.hdr")));
        EXPECT_FALSE(test::fileExists(dir.file("out/info.txt")));
        EXPECT_EQ(test::brokenPairs(dir.path()), "");
        EXPECT_EQ(test::temporaryFiles(dir.path()), std::vector<std::string>{});
    }
}

// Limits are checked before anything is allocated or written: the address
// space of a large grid, and a reader that allocates from a header's count.
TEST_F(Reliability, AddressSpaceLimitIsCheckedUpFront) {
#if defined(__SANITIZE_ADDRESS__)  // it reserves terabytes of address space
    GTEST_SKIP() << "AddressSanitizer needs an unlimited address space";
#endif
    test::writeText(dir.file("huge.off"), "OFF\n1073741824 1073741824 0\n0 0 0\n1 0 0\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"-r", "0.0025"}, "shapescale: the grid 405 x 405 x 405 needs 1.39 GiB of memory"},
        {{"-r", "0.0025"}, "than the address-space limit leaves (RLIMIT_AS 1.00 GiB"},
        {{"-f", "huge.off"}, "shapescale: huge.off: vertex 2 of 1073741824 is missing"},
    };
    for (const Case& c : cases) {
        BoundedRun limits;
        limits.addressSpaceLimit = 1LL << 30;
        const RunResult r = run(c.args, limits);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(lastLine(r.err).find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(test::fileExists(dir.file("out")));
    }
}

// The printed need holds for every filter, with tensors and two threads: under
// a limit of what is in use plus 0.99 times the need the run is refused up
// front, under 1.01 times it completes.
TEST_F(Reliability, MemoryEstimateHoldsWithinOnePercent) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs an unlimited address space";
#endif
    auto mebibytes = [](const std::string& err, const std::string& before,
                        const std::string& after) {
        const std::size_t end = err.find(after);
        const std::size_t start = err.rfind(before, end) + before.size();
        return std::stod(err.substr(start, end - start));
    };
    for (const char* kernel : {"0", "1", "2"}) {
        SCOPED_TRACE(kernel);
        const std::vector<std::string> args = {"-r",        "0.008", "-t", "-n",  "2",
                                               "--threads", "2",     "-k", kernel};
        BoundedRun probe;
        probe.addressSpaceLimit = 100LL << 20;
        const std::string err = run(args, probe).err;
        ASSERT_NE(err.find(" MiB of it in use"), std::string::npos) << err;
        const double need = mebibytes(err, " needs ", " MiB of memory");
        const double inUse = mebibytes(err, ", ", " MiB of it in use");
        for (const double share : {0.99, 1.01}) {
            BoundedRun limits;
            limits.addressSpaceLimit = static_cast<long long>((inUse + share * need) * 1048576.0);
            fs::remove_all(dir.file("out"));
            const RunResult r = run(args, limits);
            EXPECT_EQ(r.status, share < 1.0 ? 2 : 1) << share << ": " << r.err;
        }
    }
}

// Hostile inputs through the real binary: broken and odd meshes, absurd
// option values, awkward output paths. Each case has its specified or chosen
// outcome; none may crash, hang (every run is bounded), leave a temporary
// file, or leave a result file after a failure.

const std::string V = "0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n1 0 1\n1 1 1\n0 1 1\n";
const std::string F = "4 0 3 2 1\n4 4 5 6 7\n4 0 1 5 4\n4 1 2 6 5\n4 2 3 7 6\n4 3 0 4 7\n";
const std::string CUBE = "OFF\n8 6 0\n" + V + F;  // counter-clockwise seen from outside

std::string withFace(const std::string& face) {
    return "OFF\n8 7 0\n" + V + F + face + "\n";
}

// A prism of height 1 over a regular n-gon: two n-gon caps (split into fans by
// the reader), n quads.
std::string prism(int n) {
    shapes::PolyMesh m;
    std::vector<int> bottom, top;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        m.vertices.push_back({std::cos(a), std::sin(a), 0});
        m.vertices.push_back({std::cos(a), std::sin(a), 1});
        bottom.insert(bottom.begin(), 2 * i);  // clockwise seen from above: faces down
        top.push_back(2 * i + 1);
        const int j = 2 * ((i + 1) % n);
        m.faces.push_back({2 * i, j, j + 1, 2 * i + 1});
    }
    m.faces.push_back(bottom);
    m.faces.push_back(top);
    return shapes::toOff(m);
}

// The unit cube's corners times `scale`, plus `offset` on every axis; a float holds every
// corner of the cubes used exactly.
std::string scaledCube(double scale, double offset = 0.0) {
    return shapes::toOff(
        shapes::box({offset, offset, offset}, {scale + offset, scale + offset, scale + offset}));
}

// `count` triangles of one corner each.
std::string degenerate(int count) {
    std::string faces;
    for (int i = 0; i < count; ++i)
        faces += "3 " + std::to_string(i % 8) + " " + std::to_string(i % 8) + " " +
                 std::to_string(i % 8) + "\n";
    return faces;
}

// A tmpfs of `megabytes` on `path` (root only; elsewhere the case cannot be set up).
void mountSmall(const std::string& path, int megabytes) {
    fs::create_directory(path);
    mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + std::to_string(megabytes) + "m").c_str());
}

// Mounts a read-only file system on `path` as root (permissions do not bind
// root), or makes the directory read-only otherwise.
void makeReadOnly(const std::string& path) {
    fs::create_directory(path);
    if (geteuid() != 0 || mount("tmpfs", path.c_str(), "tmpfs", MS_RDONLY, "size=100m") != 0)
        chmod(path.c_str(), 0555);
}

struct Hostile {
    const char* name;
    std::string mesh;               // written to m.off
    std::vector<std::string> args;  // after -f m.off
    int status;
    std::string expected;   // in the standard error's last line (status 2) or in the output
    std::string out = "?";  // the whole standard output of a failure; "?": not checked
    std::string outDir = "out";
    std::function<void(const std::string&)> prepare = nullptr;
};

TEST(Hostile, EveryCaseEndsWithItsMessageAndStatusAndNoHalfFile) {
    const std::string name250(250, 'n');
    const std::string longDir = std::string(150, 'd') + "/" + std::string(140, 'f');
    const std::string elf = {'\x7f', 'E', 'L', 'F', '\x02', '\x01', '\0', '\xff'};
    const std::string nanV = "nan" + V.substr(1);
    const std::string UNIT = shapes::toOff(shapes::unitCube());
    // The unit cube's summary fields after the path: V, base scale, start, h, step, sigma.
    const std::string UNIT_FIELDS = "1 0.024814 0.049628 0.024814 0.024814 0.024814";
    const auto summary = [](const std::string& fields) { return "m.off " + fields + " 0\n"; };
    const std::vector<Hostile> cases = {
        // clang-format off
        // Refused before any voxel work: the summary line, if printed, and
        // nothing more on standard output.
        {"missing mesh", CUBE, {"-f", "nowhere.off"}, 2, "cannot open mesh nowhere.off: No such file or directory", "file not found\n"},
        {"face past the vertices", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n", {}, 2, "m.off:6: face 0: vertex number 7", ""},
        {"no vertex", "OFF\n0 0 0\n", {}, 2, "m.off: the mesh has no vertex", ""},
        {"flat triangle", shapes::toOff({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}}), {}, 2,
         "bounding box is flat", summary("0 0 0 0 0 0")},
        {"missing parent", UNIT, {"-o", "no/such/parent"}, 2, "no/such/parent: No such file or directory", summary(UNIT_FIELDS)},
        {"output path is a file", UNIT, {}, 2, "output directory taken: Not a directory",
         summary(UNIT_FIELDS), "taken", [](const std::string& d) { test::writeText(d + "/taken", "x"); }},
        // Derived from a negative volume, every length is negative.
        {"clockwise mesh", shapes::toOff(shapes::flipped(shapes::unitCube())), {}, 2,
         "the grid resolution -0.024814 is not positive; a negative value derived from the "
         "mesh means that its faces seem to be ordered clockwise",
         summary("-1 -0.024814 -0.049628 -0.024814 -0.024814 -0.024814")},
        {"-g -1", UNIT, {"-g", "-1"}, 2, "sigma -1 is negative", summary("1 0.024814 0.049628 0.024814 0.024814 -1")},
        {"-r -0.1", UNIT, {"-r", "-0.1"}, 2, "the grid resolution -0.1 is not positive",
         summary("1 0.024814 0.049628 -0.1 0.024814 0.024814")},
        {"-s -0.5", UNIT, {"-s", "-0.5"}, 2, "radius 0 of the run would be -0.5", summary("1 0.024814 -0.5 0.024814 0.024814 0.024814")},
        {"-r nan", UNIT, {"-r", "nan"}, 2, "the grid resolution is not a finite number: nan",
         summary("1 0.024814 0.049628 nan 0.024814 0.024814")},
        {"-p inf", UNIT, {"-p", "inf"}, 2, "the radius step is not a finite number: inf",
         summary("1 0.024814 0.049628 0.024814 inf 0.024814")},
        {"negative step", UNIT, {"-s", "0.1", "-p", "-0.05", "-n", "3"}, 2, "radius", summary("1 0.024814 0.1 0.024814 -0.05 0.024814")},
        // Every extent fits into memory, but not into the volume format.
        {"-r 1e-5", UNIT, {"-r", "1e-5"}, 2, "32767", summary("1 0.024814 0.049628 1e-05 0.024814 0.024814")},
        {"empty file", "", {}, 2, "m.off: no OFF header found"},
        {"binary bytes", elf, {}, 2, "no OFF header found"},
        {"header only", "OFF\n", {}, 2, "no vertex and face counts after the OFF header"},
        {"counts only", "OFF\n8 6 0\n", {}, 2, "vertex 0 of 8 is missing"},
        {"cut in a vertex", "OFF\n8 6 0\n0 0 0\n1 0", {}, 2, "vertex 1 of 8 is missing"},
        {"cut in the faces", "OFF\n8 6 0\n" + V + "4 0 3 2 1\n", {}, 2, "face 1 of 6 is missing"},
        {"cut in a face", "OFF\n8 6 0\n" + V + "4 0 3 2", {}, 2, "4 vertices announced, 3 found"},
        {"more vertices announced", "OFF\n100 6 0\n" + V + F, {}, 2, "of 100 is missing"},
        {"more faces announced", "OFF\n8 60 0\n" + V + F, {}, 2, "face 6 of 60 is missing"},
        {"2^30 vertices", "OFF\n1073741824 2 0\n0 0 0\n", {}, 2, "vertex 1 of 1073741824 is"},
        {"negative counts", "OFF\n-8 6 0\n" + V + F, {}, 2, "negative count (-8 vertices, 6"},
        {"count beyond int", "OFF\n" + std::string(400, '9') + " 6 0\n", {}, 2, "too large"},
        {"index too large", withFace("3 0 1 8"), {}, 2, "vertex number 8 is outside 0..7"},
        {"negative index", withFace("3 0 -1 2"), {}, 2, "vertex number -1 is outside 0..7"},
        {"face of 0 vertices", withFace("0"), {"-n", "2"}, 1, "errore 6 0 \n"},
        {"face of 1 vertex", withFace("1 0"), {"-n", "2"}, 1, "errore 6 1 \n"},
        {"face of 2 vertices", withFace("2 0 1"), {"-n", "2"}, 1, "errore 6 2 \n"},
        // The summary line's volume: the n-gon's area (n / 2) sin(2 pi / n) times height 1.
        {"faces of 8 vertices", prism(8), {"-n", "2"}, 1, "m.off 2.82843 "},
        {"faces of 100 vertices", prism(100), {"-n", "2"}, 1, "m.off 3.13953 "},
        {"NaN", "OFF\n8 6 0\n" + nanV + F, {}, 2, "vertex 0: coordinate 'nan' is not a finite"},
        {"infinite coordinate", "OFF\n8 6 0\n-inf" + V.substr(1) + F, {}, 2, "coordinate '-inf'"},
        {"coordinate beyond float", "OFF\n8 6 0\n1e39" + V.substr(1) + F, {}, 2, "'1e39'"},
        {"one vertex", "OFF\n1 1 0\n0 0 0\n3 0 0 0\n", {}, 2, "its bounding box is flat"},
        {"no face", "OFF\n8 0 0\n" + V, {}, 2, "m.off: the file has no face: it holds 8 vertices"},
        {"-r infinite", CUBE, {"-r", "inf"}, 2, "the grid resolution is not a finite number: inf"},
        {"-r 1e-9", CUBE, {"-r", "1e-9"}, 2, "cannot be written as Analyze 7.5"},
        {"-p NaN", CUBE, {"-p", "nan"}, 2, "the radius step is not a finite number: nan"},
        {"-n negative", CUBE, {"-n", "-5"}, 1, "in=1\nboth=0\noffset "},
        // About 4 TiB of results on a 1 cm grid: more than a test machine's disk holds.
        {"-n 1000000", CUBE, {"-n", "1000000", "-r", "0.01"}, 2, "more than its file system has"},
        {"%s and %n in the output directory", CUBE, {"-n", "2"}, 1, "offset ", "?", "out%s%n"},
        {"output directory of 250 characters", CUBE, {"-n", "2"}, 1, "offset ", "?", name250},
        {"mesh path of 300 characters", CUBE, {"-n", "2", "-f", longDir + "/m.off"}, 1,
         longDir + "/m.off 1 ", "?", "out", [&](const std::string& d) {
             fs::create_directories(d + "/" + longDir);
             fs::copy_file(d + "/m.off", d + "/" + longDir + "/m.off");
         }},
        {"read-only output directory", CUBE, {}, 2, "cannot write into output directory ro: ", "?",
         "ro", [](const std::string& d) { makeReadOnly(d + "/ro"); }},
        // Single precision's range: sizes, radii and the voxel.
        {"cube of 1e19", scaledCube(1e19f), {"-r", "5e17", "-s", "1e18", "-p", "5e17", "-g", "5e17", "-n", "1"}, 2,
         "the mesh's size (largest extent 1e+19) lies outside 9.31323e-10 .. 1.07374e+09, where single precision"},
        {"cube of 1e30", scaledCube(1e30f), {"-r", "5e28", "-n", "1"}, 2, "(largest extent 1e+30)"},
        {"cube of 1e-30", scaledCube(1e-30f), {}, 2, "(largest extent 1e-30) lies outside"},
        {"radii of 1e-30", CUBE, {"-s", "1e-30", "-p", "1e-30", "-n", "2"}, 2,
         "radius 0 of the run is 1e-30 (4.02998e-29 voxels): the area 4 pi r^2 of its sphere "
         "underflows single precision against the voxel; give a larger starting radius (-s)"},
        {"sigma of 1e-6", CUBE, {"-r", "0.05", "-g", "1e-6"}, 2, "sigma is 1e-06 (2e-05 voxels): the area 4 pi r^2"},
        {"-r 1e-12", CUBE, {"-r", "1e-12"}, 2, "the voxel grid cannot be laid out: 1e+12 voxels along axis 0 at grid resolution 1e-12"},
        {"far from the origin", scaledCube(1, 1000), {"-r", "0.05", "-s", "0.1", "-p", "0.05", "-g", "0.05", "-n", "1", "--warnings"}, 1,
         "single precision keeps 9 bits of a position inside a voxel; move the mesh to the origin"},
        // Degenerate meshes.
        {"two-sided sheet", "OFF\n4 4 0\n0 0 0\n1 0 0\n1 1 1\n0 1 0\n3 0 1 2\n3 0 2 3\n3 0 2 1\n3 0 3 2\n", {}, 2,
         "the mesh encloses no volume (0 in a bounding box of 1), so no length "
         "can be derived from it: give -r -s -p -g, or use -c for an open surface"},
        {"mostly degenerate", "OFF\n8 19 0\n" + V + F + degenerate(13), {"-n", "1", "--warnings"}, 1,
         "13 of 25 triangles are degenerate (area 0)"},
        {"clockwise with -r only", shapes::toOff(shapes::flipped(shapes::unitCube())), {"-r", "0.05"}, 2,
         "is negative; a negative value derived from the mesh"},
        // Outputs: names, writability, disk space, a shared directory.
        {"summary of 250 characters", CUBE, {"-n", "1", "--summary", name250}, 1, "offset "},
        {"summary in a missing directory", CUBE, {"-n", "1", "--summary", "no/s.json"}, 2,
         "cannot create no/s.json: No such file or directory"},
        {"NIfTI and VTK files beyond the disk", CUBE, {"-r", "0.02", "-n", "2", "--nifti", "--nifti-gz", "--vtk"}, 2,
         "more than its file system has free", "?", "small/out",
         [](const std::string& d) { mountSmall(d + "/small", 4); }},
        {"a second run into the same directory", CUBE, {"-n", "1"}, 2,
         "output directory out is in use by another run (process ", "?", "out",
         [](const std::string& d) {
             fs::create_directory(d + "/out");
             // flock(1) holds the lock as a run would, for longer than the case takes.
             ASSERT_EQ(std::system(("flock " + d + "/out sleep 3 & sleep 0.3").c_str()), 0);
         }},
        // clang-format on
    };
    ASSERT_GE(cases.size(), 58u);
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::writeText(dir.file("m.off"), c.mesh);
        if (c.prepare) c.prepare(dir.path());
        std::vector<std::string> args = {"-f", "m.off", "-o", c.outDir};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const test::RunResult r = test::runBinary(args, dir.path());
        for (const char* mounted : {"ro", "small"}) umount2(dir.file(mounted).c_str(), MNT_DETACH);
        ASSERT_FALSE(r.killedAtTimeLimit);
        EXPECT_EQ(r.termSignal, 0);
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string out = dir.file(c.outDir);
        if (c.status == 2) {
            const std::vector<std::string> errLines = test::lines(r.err);
            ASSERT_FALSE(errLines.empty());
            EXPECT_EQ(errLines.back().rfind("shapescale: ", 0), 0u) << r.err;
            EXPECT_NE(errLines.back().find(c.expected), std::string::npos) << r.err;
            EXPECT_FALSE(fs::is_directory(out) && !fs::is_empty(out)) << "a result was left";
            if (!c.prepare) {
                EXPECT_FALSE(fs::exists(out)) << "the output directory was made";
            }
            // One line: every refusal comes before the run's first line.
            EXPECT_EQ(errLines.size(), 1u) << r.err;
            EXPECT_FALSE(test::fileExists(dir.file("volume.vol")));  // stopped before voxel work
            if (c.out != "?") {
                EXPECT_EQ(r.out, c.out);
            }
        } else {
            EXPECT_NE((r.out + r.err).find(c.expected), std::string::npos) << r.out << r.err;
            EXPECT_TRUE(test::fileExists(out + "/jmapt.img"));
            EXPECT_TRUE(test::fileExists(out + "/info.txt"));
        }
        EXPECT_EQ(test::brokenPairs(dir.path()), "");
        EXPECT_EQ(test::temporaryFiles(dir.path()), std::vector<std::string>{});
    }
}

// The cube scaled by powers of two from 2^-133 to 2^133 (about 1e-40 to
// 1e40), every other one moved off the origin by three sizes, with every
// length scaled alike: each run is either refused with one line or gives the
// unscaled run's jmapt bit for bit. Scaling by a power of two is exact in
// binary floating point, so inside the accepted range no tolerance is needed;
// the range must hold at least 2^-29 .. 2^29.
TEST(Hostile, ScaledCubeIsRefusedOrGivesTheUnitResult) {
    auto runScaled = [](int exponent, test::TempDir& dir) {
        const float s = std::ldexp(1.0f, exponent);
        const float offset = exponent % 2 != 0 ? 3 * s : 0.0f;
        test::writeText(dir.file("m.off"), scaledCube(s, offset));
        auto length = [&](float unit) {
            char text[32];
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(unit * s));
            return std::string(text);
        };
        return test::runBinary({"-f", "m.off", "-o", "out", "-r", length(0.1f), "-s", length(0.2f),
                                "-p", length(0.1f), "-g", length(0.1f), "-n", "2", "--seed", "3"},
                               dir.path());
    };
    std::vector<unsigned char> unit[2];
    for (int odd = 0; odd < 2; ++odd) {
        test::TempDir dir;
        ASSERT_EQ(runScaled(odd, dir).status, 1);
        unit[odd] = test::readBytes(dir.file("out/jmapt.img"));
        ASSERT_FALSE(unit[odd].empty());
    }
    for (int exponent = -133; exponent <= 133; exponent += 7) {
        SCOPED_TRACE(exponent);
        test::TempDir dir;
        const test::RunResult r = runScaled(exponent, dir);
        if (r.status == 2) {
            EXPECT_GT(std::abs(exponent), 29);
            EXPECT_EQ(test::lines(r.err).size(), 1u) << r.err;
            EXPECT_EQ(r.err.rfind("shapescale: ", 0), 0u) << r.err;
        } else {
            ASSERT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(test::readBytes(dir.file("out/jmapt.img")), unit[std::abs(exponent) % 2]);
        }
    }
}

}  // namespace
}  // namespace shapescale
