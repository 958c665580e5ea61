#pragma once
// What every test file shares: the common includes, per-test temporary
// directories, whole-file reads, the runner of the real shapescale binary
// (optionally under limits: a file-size or address-space limit set in the child
// before exec, a signal sent once a condition holds, and a time bound after which
// the child is killed, so that a hang fails the test, never the suite; standard
// error on a terminal when asked), the fixture of the tests that run it, and
// small helpers for errors, threads and meshes.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/Error.hpp"
#include "support/TestMeshes.hpp"

namespace shapescale::test {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    /// path() + "/" + name
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

/// Whole file as bytes; empty when it cannot be read.
std::vector<unsigned char> readBytes(const std::string& path);
/// Whole file as text.
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
/// Names of the entries of a directory, sorted.
std::vector<std::string> listDir(const std::string& path);
/// nx, ny, nz of an Analyze header: 16-bit little-endian from byte 42; zeros when
/// the file is too short.
std::array<int, 3> analyzeDims(const std::string& hdrPath);
/// Floats of an Analyze data file.
std::vector<float> readFloats(const std::string& path);

struct RunResult {
    int status = -1;  ///< exit status, or -1 when the process did not exit normally
    std::string out;  ///< standard output
    std::string err;  ///< standard error
    bool killedAtTimeLimit = false;
    bool signalSent = false;
    int termSignal = 0;  ///< the signal that ended the child, 0 when it exited
};

struct BoundedRun {
    std::vector<std::string> args;
    std::string cwd;
    long long fileSizeLimit = -1;              ///< RLIMIT_FSIZE in bytes; -1: unchanged
    long long addressSpaceLimit = -1;          ///< RLIMIT_AS in bytes; -1: unchanged
    double secondsAllowed = 300;               ///< then SIGKILL
    int signal = 0;                            ///< sent once `sendWhen` returns true; 0: none
    std::function<bool()> sendWhen = nullptr;  ///< polled every 5 ms until it returns true
    /// Standard error on a pseudo-terminal, whose text (carriage returns of
    /// line ends removed) comes back as `err`.
    bool terminal = false;
};

/// Runs the shapescale binary as `run` says and waits for it; standard input is empty.
RunResult runBounded(const BoundedRun& run);

/// Runs the shapescale binary with `args` in working directory `cwd`.
inline RunResult runBinary(const std::vector<std::string>& args, const std::string& cwd) {
    BoundedRun run;
    run.args = args;
    run.cwd = cwd;
    return runBounded(run);
}

using Files = std::map<std::string, std::vector<unsigned char>>;

/// The fixture of the tests that run the binary: a temporary directory, the
/// meshes written into it, runs in it and the files they leave.
class BinaryRuns : public testing::Test {
  protected:
    /// Writes `poly` as OFF text to dir/name; returns its path.
    std::string mesh(const shapes::PolyMesh& poly, const std::string& name = "mesh.off");
    /// Runs in dir/cwd (created when missing; dir itself when empty), where
    /// "volume.vol" lands.
    RunResult run(const std::vector<std::string>& args, const std::string& cwd = "");
    /// Every file of dir/sub with its bytes, and "volume.vol" of its parent.
    Files files(const std::string& sub);
    bool exists(const std::string& name) const;

    TempDir dir;
};

/// Names of every entry below `dir` (recursively) starting with
/// TEMPORARY_PREFIX (".ss-"): the temporary names of files being written.
std::vector<std::string> temporaryFiles(const std::string& dir);

/// Empty when every Analyze pair below `dir` is whole: a header of 348 bytes
/// with its data file of 4 * nx * ny * nz bytes, and no data file alone.
std::string brokenPairs(const std::string& dir);

/// The exit status of `command` run by /bin/sh; -1 when it did not exit.
int shell(const std::string& command);

/// Splits text into lines (without their newlines).
std::vector<std::string> lines(const std::string& text);

/// The message of the shapescale::Error that `action` throws, or "no error".
template <class Action>
std::string errorOf(Action action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

/// fn() run with `threads` OpenMP threads; the previous count is restored.
template <class Fn>
auto withThreads(int threads, Fn fn) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    auto result = fn();
    omp_set_num_threads(saved);
    return result;
}

/// The mesh loaded through the OFF reader, with its vertex normals.
TriMesh withNormals(const shapes::PolyMesh& poly);

/// The neighbour lists of `mesh`, one vector per vertex.
std::vector<std::vector<int>> neighbourLists(const TriMesh& mesh);

}  // namespace shapescale::test
