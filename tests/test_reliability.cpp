// Reliability through the real binary: writes that fail part way, signals,
// limits checked up front; and the replay of the fuzzers' corpora.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MeshDefects.hpp"
#include "MeshReaderTable.hpp"
#include "core/Error.hpp"
#include "shapes/Shapes.hpp"
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
    struct Case {
        const char* name;
        const char* reason;
    };
    for (const Case& c : {Case{"file-size limit", "File too large"},
                          Case{"full file system", "No space left on device"}}) {
        SCOPED_TRACE(c.name);
        const bool full = c.reason[0] == 'N';
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
        const std::string tail = std::string(": ") + c.reason;
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
        {{"-r", "0.0025"}, "shapescale: the grid 405 x 405 x 405 needs 1.81 GiB of memory"},
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

}  // namespace
}  // namespace shapescale
