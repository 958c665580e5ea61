#pragma once
// Runs the real binary under limits: a file-size or address-space limit set
// in the child before exec, a signal sent once a condition holds, and a time
// bound after which the child is killed (a hang fails the test, never the suite).

#include <functional>
#include <string>
#include <vector>

#include "support/TestFiles.hpp"

namespace shapescale::test {

struct BoundedRun {
    std::vector<std::string> args;
    std::string cwd;
    long long fileSizeLimit = -1;      ///< RLIMIT_FSIZE in bytes; -1: unchanged
    long long addressSpaceLimit = -1;  ///< RLIMIT_AS in bytes; -1: unchanged
    double secondsAllowed = 60;        ///< then SIGKILL
    int signal = 0;                    ///< sent once `sendWhen` returns true; 0: none
    std::function<bool()> sendWhen;    ///< polled every 20 ms until it returns true
};

struct BoundedResult : RunResult {
    bool killedAtTimeLimit = false;
    bool signalSent = false;
    int termSignal = 0;  ///< the signal that ended the child, 0 when it exited
};

BoundedResult runBounded(const BoundedRun& run);

/// Names of every entry below `dir` (recursively) holding ".tmp-": the
/// temporary names of files being written.
std::vector<std::string> temporaryFiles(const std::string& dir);

/// Empty when every Analyze pair below `dir` is whole: a header of 348 bytes
/// with its data file of 4 * nx * ny * nz bytes, and no data file alone.
std::string brokenPairs(const std::string& dir);

}  // namespace shapescale::test
