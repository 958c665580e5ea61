// The long options through the real binary, on meshes generated here: each
// option's own effect, and that a run which does not ask for one is unchanged.

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "mesh/MeshReader.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using nlohmann::json;
using shapes::PolyMesh;
using test::lines;
using test::readBytes;
using test::readFloats;
using test::readText;
using test::RunResult;
using test::shell;
using test::TempDir;

const std::string BINARY = SHAPESCALE_BINARY;
using test::Files;

using Toolbox = test::BinaryRuns;

// The lines of standard error without the last, the processor time.
std::vector<std::string> withoutTiming(const std::string& err) {
    std::vector<std::string> l = lines(err);
    EXPECT_EQ(l.empty() ? "" : l.back().substr(0, 14), "Time elapsed: ");
    if (!l.empty()) l.pop_back();
    return l;
}

// The start of a shell command that runs a check script of the source tree
// with the first Python that has `module`; ends with PYTHON_MISSING, which
// exits with 77 when none has it.
std::string withPython(const std::string& module) {
    return "for py in python3 /usr/bin/python3; do if $py -c 'import " + module +
           "' 2>/dev/null; then exec $py " SHAPESCALE_SOURCE_DIR;
}
const char* const PYTHON_MISSING = "; fi; done; exit 77";

TEST_F(Toolbox, InformationOptionsAndInvalidValuesRunNothing) {
    const std::string m = mesh(shapes::unitCube());
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errHas;  // "" = standard error stays empty
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, ""},
        {{"-f", m, "--version", "-n", "1"}, 0, ""},
        {{"--nope", "-f", m}, 1, ": unrecognized option '--nope'\nUsage: "},
        {{"-f", m, "--summary"}, 1, ": option '--summary' requires an argument\nUsage: "},
        {{"--seed", "-1", "-f", m}, 2, "--seed '-1': expected a whole number from 0 to 4294967295"},
        {{"--seed", "4294967296", "-f", m}, 2, "--seed '4294967296'"},
        {{"-f", m, "--seed", "12x"}, 2, "--seed '12x'"},
        {{"--threads", "0", "-f", m}, 2, "--threads '0': expected a whole number from 1"},
        {{"--threads", "", "-f", m}, 2, "--threads ''"},
        {{"--summary", "", "-f", m}, 2, "--summary: the file name is empty"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        if (c.errHas.empty()) {
            EXPECT_EQ(r.err, "") << c.args[0];
        } else {
            EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
            EXPECT_EQ(lines(r.err).size(), c.status == 2 ? 1u : 2u) << r.err;
            EXPECT_EQ(r.out, "");
        }
        EXPECT_FALSE(test::fileExists(dir.file("volume.vol"))) << c.args[0];
    }
    const std::string help = run({"--help"}).out;
    for (const char* option :
         {"--seed N",     "--threads N", "--nifti ", "--nifti-gz",  "--summary F", "--preview",
          "--orient",     "--warnings",  "--quiet",  "--exit-zero", "--help",      "--version",
          "-f MESH",      "-o DIR",      "-r H",     "-s R",        "-p STEP",     "-n COUNT",
          "-g SIGMA",     "-k CHOICE",   "-t ",      "-b ",         "-c ",         "-a ",
          "-e VALUE",     "\n  0 ",      "\n  1 ",   "\n  2 ",      "\n  128+N",   "--vtk ",
          "F.ply | F.vtp"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    const std::string version = run({"--version"}).out;
    EXPECT_EQ(version.rfind("shapescale ", 0), 0u);
    EXPECT_EQ(lines(version).size(), 1u);
}

TEST_F(Toolbox, SeedRepeatsTheRunAndOptionsAddOnlyTheirOwnFiles) {
    // Triangles of many voxels each: their samples are drawn at random.
    const PolyMesh torus = shapes::torus(1.0, 0.35, 12, 8);
    const std::string m = mesh(torus);
    const std::vector<std::string> base = {"-f", m,      "-r", "0.06", "-s", "0.15", "-p", "0.1",
                                           "-g", "0.12", "-n", "2",    "-t", "-o",   "out"};
    auto args = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return extra;
    };
    const RunResult reference = run(args({"--seed", "42", "--threads", "1"}), "ref");
    ASSERT_EQ(reference.status, 1) << reference.err;
    const Files expected = files("ref/out");
    ASSERT_EQ(expected.count("apt_1.img"), 1u);
    std::vector<std::string> volumes;
    for (const auto& [name, bytes] : expected)
        if (name.size() > 4 && name.substr(name.size() - 4) == ".hdr")
            volumes.push_back(name.substr(0, name.size() - 4));
    ASSERT_EQ(volumes.size(), 12u);  // apt, vxx per radius; jmapt, scale, six tensors

    struct Variant {
        std::vector<std::string> extra;
        int status;
        std::vector<std::string> suffixes;  // one more file per volume with each
        std::vector<std::string> more;      // further files of the output directory
    };
    const std::vector<Variant> variants = {
        // clang-format off
        {{"--seed", "42", "--threads", "2", "--quiet", "--warnings", "--orient"}, 1, {}, {}},
        {{"--seed", "42", "--exit-zero", "--nifti", "--nifti-gz"}, 0, {".nii", ".nii.gz"}, {}},
        {{"--seed", "42", "--preview", "--summary", "../s.json"}, 1, {}, {"preview_jmapt.png", "preview_scale.png"}},
        {{"--seed", "42", "--vertex-scale", "painted.ply"}, 1, {}, {}},
        {{"--seed", "42", "--vtk", "--vertex-scale", "painted.vtp", "--summary", "s.json"}, 1, {}, {"result.vti"}},
        // clang-format on
    };
    for (std::size_t v = 0; v < variants.size(); ++v) {
        const Variant& variant = variants[v];
        const std::string cwd = "v" + std::to_string(v);
        const RunResult r = run(args(variant.extra), cwd);
        EXPECT_EQ(r.status, variant.status) << r.err;
        EXPECT_EQ(r.out, reference.out) << cwd;
        EXPECT_EQ(withoutTiming(r.err), withoutTiming(reference.err)) << cwd;
        Files got = files(cwd + "/out");
        for (const std::string& volume : volumes)
            for (const std::string& suffix : variant.suffixes)
                EXPECT_EQ(got.erase(volume + suffix), 1u) << volume + suffix;
        for (const std::string& name : variant.more) EXPECT_EQ(got.erase(name), 1u) << name;
        EXPECT_TRUE(got == expected) << cwd << ": the files differ";
    }
    // The painted mesh is the surface as loaded (not the smoothed one), and
    // reads back through the mesh readers.
    const TriMesh painted = readMesh(dir.file("v3/painted.ply")), loaded = shapes::loadMesh(torus);
    EXPECT_TRUE(std::equal(painted.vertices.begin(), painted.vertices.end(),
                           loaded.vertices.begin(), loaded.vertices.end()));
    EXPECT_TRUE(std::equal(painted.faces.begin(), painted.faces.end(), loaded.faces.begin(),
                           loaded.faces.end()));
    EXPECT_NE(readText(dir.file("v3/painted.ply")).find("property float scale"), std::string::npos);
    // Another seed samples other points; without any long option the same
    // files are written, the same lines printed.
    ASSERT_EQ(run(args({"--seed", "43"}), "other").status, 1);
    EXPECT_NE(files("other/out").at("apt_1.img"), expected.at("apt_1.img"));
    const RunResult plain = run(base, "plain");
    ASSERT_EQ(plain.status, 1);
    Files plainFiles = files("plain/out");
    EXPECT_EQ(plainFiles.size(), expected.size());
    for (const char* same : {"info.txt", "volume.vol", "apt_0.hdr"})
        EXPECT_EQ(plainFiles[same], expected.at(same)) << same;
    EXPECT_EQ(lines(plain.out).size(), lines(reference.out).size());
    EXPECT_EQ(withoutTiming(plain.err), withoutTiming(reference.err));
    // The VTK files read back through VTK, against the files of runs v3 and v4.
    const int status =
        shell("cd " + dir.path() + " && " + withPython("vtkmodules.vtkIOXML") +
              "/tests/toolbox/vtk_check.py v3/out v4 > vtk.txt 2>&1" + PYTHON_MISSING);
    if (status == 77) GTEST_SKIP() << "python3 with VTK (python3-vtk9) is not installed";
    EXPECT_EQ(status, 0) << readText(dir.file("vtk.txt"));
}

// The nibabel read-back of these files is a pytest (python/tests).
TEST_F(Toolbox, NiftiFilesPassNiftiTool) {
    if (shell("command -v nifti_tool > /dev/null") != 0) GTEST_SKIP() << "no nifti_tool";
    const RunResult r = run({"-f", mesh(shapes::icosphere(4, 1.0, {0.3, -0.2, 0.5})), "-r", "0.1",
                             "-s", "0.8", "-p", "0.2", "-g", "0.2", "-n", "2", "--seed", "1",
                             "--nifti", "--nifti-gz", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(shell("cd " + dir.path() +
                    " && nifti_tool -check_hdr -check_nim -infiles out/jmapt.nii "
                    "out/scale.nii.gz > tool.txt 2>&1"),
              0);
    const std::string report = readText(dir.file("tool.txt"));
    EXPECT_EQ(lines(report).size(), 4u) << report;
    for (const std::string& line : lines(report))
        EXPECT_NE(line.find(" IS GOOD "), std::string::npos) << report;
}

TEST_F(Toolbox, VtkFilesAreWholeOrAbsentAndABadExtensionRunsNothing) {
    const std::string m = mesh(shapes::unitCube());
    struct Case {
        std::vector<std::string> extra;
        std::string cwd;
        std::string lastLine;  // of standard error
        std::string absent;    // no file or directory here afterwards, under cwd
        bool runs;             // the run starts (its summary line) before the failure
    };
    const std::vector<Case> cases = {
        // clang-format off
        {{"--vertex-scale", "p.obj"}, "extension",
         "shapescale: --vertex-scale 'p.obj': expected a file name ending in .ply or .vtp", "out",
         false},
        {{"--vertex-scale", "none/p.vtp"}, "create", "shapescale: cannot create none/p.vtp: No such file or directory", "none/p.vtp", true},
        // A full disk: result.vti is a link to /dev/full, which is written in place.
        {{"--vtk", "-t"}, "full", "shapescale: cannot write out/result.vti: No space left on device", "out/result.vti", true},
        // clang-format on
    };
    mkdir(dir.file("full").c_str(), 0775);
    mkdir(dir.file("full/out").c_str(), 0775);
    if (symlink("/dev/full", dir.file("full/out/result.vti").c_str()) != 0)
        GTEST_SKIP() << "no /dev/full link";
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-f", m, "-n", "1", "-o", "out"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunResult r = run(args, c.cwd);
        EXPECT_EQ(r.status, 2) << c.cwd;
        const std::vector<std::string> err = lines(r.err);
        ASSERT_FALSE(err.empty()) << c.cwd;
        EXPECT_EQ(err.back(), c.lastLine);
        EXPECT_EQ(r.out.empty(), !c.runs) << r.out;
        struct stat info {};
        const bool left = lstat(dir.file(c.cwd + "/" + c.absent).c_str(), &info) == 0 &&
                          (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode));
        EXPECT_FALSE(left) << c.absent;
        EXPECT_EQ(test::temporaryFiles(dir.file(c.cwd)), std::vector<std::string>{});
    }
}

TEST_F(Toolbox, OrientFlipsAClockwiseMeshAsAHandEditWould) {
    const PolyMesh clockwise = shapes::flipped(shapes::torus(1.0, 0.35, 32, 16));
    PolyMesh byHand = clockwise;
    for (auto& face : byHand.faces) std::reverse(face.begin(), face.end());
    const std::string cw = mesh(clockwise, "cw.off"), hand = mesh(byHand, "ok.off");
    const RunResult oriented =
        run({"-f", cw, "-n", "2", "--seed", "5", "--orient", "-o", "out"}, "a");
    const RunResult reference = run({"-f", hand, "-n", "2", "--seed", "5", "-o", "out"}, "b");
    ASSERT_EQ(oriented.status, 1) << oriented.err;
    ASSERT_EQ(reference.status, 1) << reference.err;
    EXPECT_TRUE(files("a/out") == files("b/out"));
    EXPECT_EQ(oriented.out.substr(cw.size()), reference.out.substr(hand.size()));
    std::vector<std::string> err = withoutTiming(oriented.err);
    ASSERT_FALSE(err.empty());
    EXPECT_NE(err[0].find("--orient: the mesh had a negative volume"), std::string::npos);
    err.erase(err.begin());
    EXPECT_EQ(err, withoutTiming(reference.err));
    // Without the option the clockwise mesh is refused, and the message says how.
    const RunResult refused = run({"-f", cw, "-n", "2", "-o", "out"}, "c");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(lines(refused.err).back().find("--orient"), std::string::npos) << refused.err;
}

// The bin of an APT value: b/12 <= a < (b+1)/12 with both bounds in single
// precision; -1 for none.
int binOf(float a) {
    for (int b = 0; b < 12; ++b)
        if (static_cast<float>(b) / 12.0f <= a && a < static_cast<float>(b + 1) / 12.0f) return b;
    return -1;
}

TEST_F(Toolbox, SummaryAgreesWithTheFilesOfTheRun) {
    const PolyMesh torus = shapes::torus(1.0, 0.35, 32, 16);
    // An operand among the options: the summary keeps the order as typed.
    const std::vector<std::string> args = {BINARY, "-f",     mesh(torus), "-n",
                                           "3",    "--seed", "9",         "operand",
                                           "-o",   "out",    "--summary", "s.json"};
    const RunResult r = run(std::vector<std::string>(args.begin() + 1, args.end()), "run");
    ASSERT_EQ(r.status, 1) << r.err;
    const json s = json::parse(readText(dir.file("run/s.json")));
    EXPECT_EQ(s["tool"]["name"], "shapescale");
    EXPECT_EQ(s["arguments"], args);
    EXPECT_EQ(s["seed"]["value"], 9);
    EXPECT_EQ(s["seed"]["fromClock"], false);

    const json& m = s["mesh"];
    const TriMesh loaded = shapes::loadMesh(torus);
    const json counts = json::parse(R"({"vertices": 512, "triangles": 1024, "edges": 1536,
        "boundaryEdges": 0, "nonManifoldEdges": 0, "closed": true, "consistentlyOriented": true})");
    for (const auto& [key, value] : counts.items()) EXPECT_EQ(m[key], value) << key;
    EXPECT_TRUE(s["warnings"].empty());
    // The inscribed polyhedron is a little smaller than the torus 2 pi^2 R r^2, 4 pi^2 R r.
    EXPECT_NEAR(m["volume"].get<double>(), 2 * M_PI * M_PI * 0.35 * 0.35, 0.04 * 2.42);
    EXPECT_NEAR(m["area"].get<double>(), 4 * M_PI * M_PI * 0.35, 0.03 * 13.8);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(m["bboxMin"][a].get<double>(), loaded.bboxMin[a]);
        EXPECT_EQ(m["bboxMax"][a].get<double>(), loaded.bboxMax[a]);
    }

    // The grid as the header and info.txt give it.
    const std::array<int, 3> dims = test::analyzeDims(dir.file("run/out/jmapt.hdr"));
    const std::vector<std::string> info = lines(readText(dir.file("run/out/info.txt")));
    double start = 0, step = 0, origin[3], h = 0;
    ASSERT_EQ(std::sscanf(info.at(0).c_str(), "%lf %lf", &start, &step), 2);
    ASSERT_EQ(std::sscanf(info.at(1).c_str(), "%lf %lf %lf", &origin[0], &origin[1], &origin[2]),
              3);
    ASSERT_EQ(std::sscanf(info.at(2).c_str(), "%lf", &h), 1);
    std::size_t voxels = 1;
    for (int a = 0; a < 3; ++a) {
        const int dim = dims[static_cast<std::size_t>(a)];
        EXPECT_EQ(s["grid"]["dims"][a], dim);
        EXPECT_NEAR(s["grid"]["origin"][a].get<double>(), origin[a], 1e-6);  // %f: 6 decimals
        voxels *= static_cast<std::size_t>(dim);
    }
    EXPECT_NEAR(s["grid"]["h"].get<double>(), h, 1e-6);

    // Per radius: the histogram of hist.txt, recounted from the volume and
    // the occupancy (255 = not outside), and the count of values from 1 on.
    const std::vector<unsigned char> vol = readBytes(dir.file("run/volume.vol"));
    ASSERT_EQ(vol.size(), 24 + voxels);
    const std::vector<std::string> hist = lines(readText(dir.file("run/out/hist.txt")));
    ASSERT_EQ(s["radii"].size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const json& radius = s["radii"][k];
        EXPECT_NEAR(radius["radiusWorld"].get<double>(), start + static_cast<double>(k) * step,
                    1e-5);
        std::string line;
        for (int count : radius["histogram"]) line += std::to_string(count) + " ";
        EXPECT_EQ(line, hist.at(k));
        const std::vector<float> apt =
            readFloats(dir.file("run/out/apt_" + std::to_string(k) + ".img"));
        ASSERT_EQ(apt.size(), voxels);
        std::vector<std::int64_t> bins(12, 0);
        std::int64_t atLeastOne = 0;
        for (std::size_t i = 0; i < voxels; ++i) {
            if (vol[24 + i] != 255) continue;
            const int b = binOf(apt[i]);
            if (b >= 0) ++bins[static_cast<std::size_t>(b)];
            atLeastOne += apt[i] >= 1.0f ? 1 : 0;
        }
        EXPECT_EQ(radius["histogram"].get<std::vector<std::int64_t>>(), bins);
        EXPECT_EQ(radius["atLeastOne"], atLeastOne);
    }
    std::vector<std::string> listed = {"volume.vol"};
    for (const std::string& name : test::listDir(dir.file("run/out")))
        listed.push_back("out/" + name);
    std::vector<std::string> named = s["files"];
    std::sort(named.begin(), named.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(named, listed);
    EXPECT_GT(s["peakMemoryBytes"].get<double>(), 1e6);

    // Without --seed the clock's seed is named, and repeats the run.
    ASSERT_EQ(
        run({"-f", mesh(torus), "-n", "2", "-o", "out", "--summary", "s.json"}, "clock").status, 1);
    const json clock = json::parse(readText(dir.file("clock/s.json")));
    EXPECT_EQ(clock["seed"]["fromClock"], true);
    const std::string seed = std::to_string(clock["seed"]["value"].get<std::uint32_t>());
    ASSERT_EQ(run({"-f", mesh(torus), "-n", "2", "-o", "out", "--seed", seed}, "again").status, 1);
    EXPECT_TRUE(files("clock/out") == files("again/out"));
}

TEST_F(Toolbox, ProgressAndWarningsOnATerminalOnly) {
    const std::string cube = mesh(shapes::unitCube());
    const std::string open = mesh(shapes::hemisphere(2), "open.off");
    const std::string erase = "\r\033[K";
    struct Case {
        std::vector<std::string> args;
        int progressLines;  // lines drawn, each erased again
        bool warning;
        bool terminal = true;  // standard error on a terminal; off one, warnings need the option
    };
    const std::vector<Case> cases = {
        {{"-f", cube, "-r", "0.1", "-n", "3", "-o", "out"}, 3, false},
        {{"-f", open, "-n", "2", "-o", "out"}, 2, true},
        {{"-f", open, "-n", "2", "-o", "out", "--quiet"}, 0, false},
        {{"-f", open, "-n", "2", "-o", "out", "--quiet", "--warnings"}, 0, true},
        {{"-f", open, "-n", "2", "-o", "out"}, 0, false, false},
        {{"-f", open, "-n", "2", "-o", "out", "--warnings"}, 0, true, false},
    };
    for (const Case& c : cases) {
        const std::string text =
            test::runBounded({.args = c.args, .cwd = dir.path(), .terminal = c.terminal}).err;
        // Pieces between the control sequences alternate: the run's own
        // output, a progress line, the run's own output, ...
        std::string own;
        int drawn = 0;
        std::size_t at = 0;
        for (std::size_t k = 0;; ++k) {
            const std::size_t next = text.find(erase, at);
            const std::string piece = text.substr(at, next - at);
            if (k % 2 == 1) {
                EXPECT_EQ(piece.rfind("radius " + std::to_string(drawn + 1) + " of ", 0), 0u)
                    << piece;
                EXPECT_NE(piece.find(" elapsed, "), std::string::npos) << piece;
                ++drawn;
            } else {
                own += piece;
            }
            if (next == std::string::npos) break;
            at = next + erase.size();
        }
        EXPECT_EQ(drawn, c.progressLines) << text;
        std::vector<std::string> l = lines(own);
        ASSERT_FALSE(l.empty()) << text;
        EXPECT_EQ(l.front().rfind("warning: the mesh is open", 0) == 0, c.warning) << own;
        if (c.warning) l.erase(l.begin());
        ASSERT_EQ(l.size(), 4u) << own;
        EXPECT_EQ(l[0], "in=1");
        EXPECT_EQ(l[3].rfind("Time elapsed: ", 0), 0u);
    }
}

// The two batch recipes run without a scheduler: GNU parallel locally, the
// Slurm script once per array task with SLURM_ARRAY_TASK_ID set here.
class BatchRecipe : public Toolbox {
  protected:
    // A shell command, run in the test's directory, that takes `meshes` through
    // the recipe into `results` with the tool's `options`; its own lines go to
    // log.txt. With one mesh the Slurm task is the command itself, so that a
    // signal to it reaches the tool the script execs.
    std::string recipe(const std::vector<std::string>& meshes, const std::string& results,
                       const std::string& options) const {
        std::string all;
        for (const std::string& m : meshes) all += " " + m;
        const std::string env = "SHAPESCALE=" + BINARY + " " SHAPESCALE_SOURCE_DIR "/scripts/";
        if (!slurm)
            return env + "parallel-example.sh -j 2 " + results + all + " -- " + options +
                   " >> log.txt 2>&1";
        const std::string task =
            env + "slurm-array.sh list.txt " + results + " " + options + " >> log.txt 2>&1";
        const std::string list = "printf '%s\\n'" + all + " > list.txt; ";
        if (meshes.size() == 1) return list + "SLURM_ARRAY_TASK_ID=1 " + task;
        return list + "st=0; for k in $(seq " + std::to_string(meshes.size()) +
               "); do SLURM_ARRAY_TASK_ID=$k " + task + " || st=$?; done; (exit $st)";
    }
    int batch(const std::string& command) {
        test::writeText(dir.file("log.txt"), "");
        // `;`, not `&&`: a trailing `&` in `command` then sends the recipe alone, not a
        // subshell around it, to the background, and its pid is the one to signal.
        return shell("cd " + dir.path() + "; " + command);
    }
    void checkRecipe();
    bool slurm = false;
};

void BatchRecipe::checkRecipe() {
    const std::string log = dir.file("log.txt");
    for (const std::string sub : {"a", "b"}) {
        mkdir(dir.file(sub).c_str(), 0775);
        mesh(shapes::unitCube(), sub + "/x.off");
    }
    mesh(shapes::unitCube(), "x.off");
    test::writeText(dir.file("x.ply"), "");
    for (const auto& same : {std::vector<std::string>{"a/x.off", "b/x.off"}, {"x.off", "x.ply"}}) {
        EXPECT_EQ(batch(recipe(same, "twins", "-n 2")), 2) << readText(log);
        const std::string said = readText(log);
        EXPECT_NE(said.find(same[1]), std::string::npos) << said;
        EXPECT_NE(said.find("would share twins/x;"), std::string::npos) << said;
        EXPECT_FALSE(test::fileExists(dir.file("twins/x"))) << same[1];  // nothing ran
    }

    // A failed mesh and a completed one; then a list with a new mesh in front:
    // only the meshes without a summary run.
    mesh(shapes::unitCube(), "cube.off");
    mesh(shapes::icosphere(2), "ball.off");
    test::writeText(dir.file("bad.off"), "OFF\n1 1 0\n0 0 0\n3 0 1 2\n");
    const int failed = slurm ? 2 : 1;  // parallel: the number of failed jobs
    EXPECT_EQ(batch(recipe({"cube.off", "bad.off"}, "results", "-n 2 -r 0.1")), failed)
        << readText(log);
    const std::string cube = readText(dir.file("results/cube/summary.json"));
    EXPECT_EQ(batch(recipe({"ball.off", "cube.off", "bad.off"}, "results", "-n 2 -r 0.1")), failed)
        << readText(log);
    EXPECT_NE(readText(log).find("cube: done before, skipped"), std::string::npos) << readText(log);
    EXPECT_EQ(readText(dir.file("results/cube/summary.json")), cube);
    for (const std::string name : {"cube", "ball"}) {
        const std::string run = dir.file("results/" + name + "/");
        const json s = json::parse(readText(run + "summary.json"));
        EXPECT_EQ(s["mesh"]["path"], dir.file(name + ".off"));
        EXPECT_EQ(s["settings"]["threads"], 1);
        EXPECT_EQ(lines(readText(run + "hist.txt")).size(), 2u) << name;
    }
    EXPECT_NE(readText(dir.file("results/bad/stderr.txt")).find("vertex number"),
              std::string::npos);
    // Parallel's job log tells completed (0) from failed (2) runs.
    for (const std::string& row : lines(slurm ? "" : readText(dir.file("results/joblog"))))
        EXPECT_TRUE(row.find("-f ") == std::string::npos ||
                    (row.find("\t2\t0\t") != std::string::npos) ==
                        (row.find("bad.off") != std::string::npos))
            << row;

    // SIGTERM to the recipe once a radius is done: the tool stops with its
    // line, status 143, and leaves whole files of the finished radii only.
    mesh(shapes::icosphere(5), "big.off");
    const std::string started = dir.file("results/big/hist.txt");
    const int status = batch(recipe({"big.off"}, "results", "-n 40 -g 0.01") +
                             " & pid=$!; while [ ! -s " + started +
                             " ] && kill -0 $pid 2>/dev/null; do sleep 0.05; done; "
                             "kill -TERM $pid; wait $pid");
    const std::string run = dir.file("results/big/");
    const std::string all = readText(run + "stderr.txt");
    const std::string err = all.substr(std::min(all.find("shapescale: "), all.size()));
    int done = -1, count = 0;
    ASSERT_EQ(std::sscanf(err.c_str(), "shapescale: interrupted by SIGTERM at radius %d of %d",
                          &done, &count),
              2)
        << all << readText(log);
    // Parallel stopped by a signal waits for its jobs to end, then ends with
    // its own status for any error, 255.
    EXPECT_EQ(status, slurm ? 143 : 255) << err;
    EXPECT_EQ(lines(readText(run + "hist.txt")).size(), static_cast<std::size_t>(done));
    const std::vector<std::string> left = test::listDir(run);
    EXPECT_EQ(
        std::count_if(left.begin(), left.end(),
                      [](const std::string& f) { return f.find(".tmp") != std::string::npos; }),
        0);
    EXPECT_FALSE(test::fileExists(run + "summary.json"));
    for (int k = 0; k < done; ++k) {
        const std::array<int, 3> n = test::analyzeDims(run + "apt_" + std::to_string(k) + ".hdr");
        EXPECT_EQ(readFloats(run + "apt_" + std::to_string(k) + ".img").size(),
                  static_cast<std::size_t>(n[0]) * n[1] * n[2]);
    }

    // The report of that results directory: one line per mesh, then the totals.
    const int reported =
        shell(withPython("numpy") + "/scripts/batch-report " + dir.file("results") + " > " +
              dir.file("report.txt") + PYTHON_MISSING);
    if (reported == 77) GTEST_SKIP() << "no python3 with numpy for scripts/batch-report";
    const std::vector<std::string> report = lines(readText(dir.file("report.txt")));
    ASSERT_EQ(report.size(), 7u) << readText(dir.file("report.txt"));
    const std::array<std::string, 4> starts = {
        "bad failed - - - - - shapescale: /", "ball done 320 ",
        "big interrupted - - - - - " + err.substr(0, 30), "cube done 12 "};
    for (std::size_t k = 0; k < starts.size(); ++k) {
        std::string row;  // blanks folded: the columns' widths are not the point
        for (char c : report[k + 1])
            if (c != ' ' || (!row.empty() && row.back() != ' ')) row += c;
        EXPECT_EQ(row.substr(0, starts[k].size()), starts[k]) << report[k + 1];
    }
    EXPECT_EQ(report[6], "2 done, 1 failed, 1 interrupted");
}

TEST_F(BatchRecipe, ParallelRefusesSameNamesResumesByResultAndStopsCleanly) {
    if (shell("command -v parallel > /dev/null") != 0) GTEST_SKIP() << "GNU parallel is missing";
    checkRecipe();
}

TEST_F(BatchRecipe, SlurmTasksRefuseSameNamesResumeByResultAndStopCleanly) {
    slurm = true;
    checkRecipe();
}

}  // namespace
}  // namespace shapescale
