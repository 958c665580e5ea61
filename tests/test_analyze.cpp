#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/Error.hpp"
#include "io/Analyze.hpp"
#include "io/OutputFile.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using test::readBytes;
using test::TempDir;

std::int32_t int32At(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                     (static_cast<std::uint32_t>(b[at + 3]) << 24));
}
int int16At(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::int16_t>(b[at] | (b[at + 1] << 8));
}
float floatAt(const std::vector<unsigned char>& b, std::size_t at) {
    const std::int32_t bits = int32At(b, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no error";
    return "";
}

TEST(Analyze, HeaderBytesForASmallVolume) {
    TempDir dir;
    const int dims[3] = {2, 3, 4};
    const double voxel[3] = {0.5, 0.5, 0.5};
    std::vector<float> data(24);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i) - 3.5f;
    saveAnalyze(dir.file("vol"), data.data(), voxel, dims);

    const std::vector<unsigned char> h = readBytes(dir.file("vol.hdr"));
    ASSERT_EQ(h.size(), 348u);
    EXPECT_EQ(h[0], 0x5C);
    EXPECT_EQ(h[1], 0x01);
    EXPECT_EQ(int32At(h, 0), 348);
    EXPECT_EQ(int32At(h, 32), 16384);  // extents
    EXPECT_EQ(int16At(h, 36), 16384);  // session_error
    EXPECT_EQ(h[38], 'r');
    EXPECT_EQ(h[39], 'r');
    const int dim[8] = {4, 2, 3, 4, 1, 1, 1, 1};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(int16At(h, 40 + 2 * k), dim[k]) << "dim " << k;
    EXPECT_EQ(int16At(h, 68), 1);   // unused1
    EXPECT_EQ(int16At(h, 70), 16);  // float data
    EXPECT_EQ(int16At(h, 72), 32);
    EXPECT_EQ(int16At(h, 74), 0);
    const float pixdim[8] = {0, 0.5f, 0.5f, 0.5f, 0, 0, 0, 0};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(floatAt(h, 76 + 4 * k), pixdim[k]) << "pixdim " << k;
    // Everything not named above is zero: the unit strings, the calibration,
    // glmax/glmin and the whole history block.
    for (std::size_t at : {4u, 13u, 14u, 31u, 56u, 67u, 108u, 140u, 144u, 148u, 200u, 347u})
        EXPECT_EQ(h[at], 0) << "byte " << at;
    for (std::size_t at = 108; at < 348; ++at) ASSERT_EQ(h[at], 0) << "byte " << at;

    const std::vector<unsigned char> img = readBytes(dir.file("vol.img"));
    ASSERT_EQ(img.size(), 96u);
    for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(floatAt(img, 4 * i), data[i]);
}

TEST(Analyze, VoxelSizeIsStoredAsTheNearestFloat) {
    TempDir dir;
    const int dims[3] = {1, 1, 1};
    const double voxel[3] = {0.1, 2.0, 1e-3};
    const float value = 1.0f;
    saveAnalyze(dir.file("v"), &value, voxel, dims);
    const std::vector<unsigned char> h = readBytes(dir.file("v.hdr"));
    EXPECT_EQ(floatAt(h, 80), 0.1f);
    EXPECT_EQ(floatAt(h, 84), 2.0f);
    EXPECT_EQ(floatAt(h, 88), 1e-3f);
}

TEST(Analyze, WritingTwiceReplacesBothFiles) {
    TempDir dir;
    const double voxel[3] = {1, 1, 1};
    std::vector<float> big(60, 1.0f);
    const int bigDims[3] = {3, 4, 5};
    saveAnalyze(dir.file("v"), big.data(), voxel, bigDims);
    const int smallDims[3] = {1, 2, 1};
    const float small[2] = {7.0f, 8.0f};
    saveAnalyze(dir.file("v"), small, voxel, smallDims);
    EXPECT_EQ(readBytes(dir.file("v.hdr")).size(), 348u);
    const std::vector<unsigned char> img = readBytes(dir.file("v.img"));
    ASSERT_EQ(img.size(), 8u);
    EXPECT_EQ(floatAt(img, 4), 8.0f);
}

TEST(Analyze, LongNamesAreKeptWhole) {
    TempDir dir;
    const std::string sub = dir.file(std::string(120, 'd'));
    ASSERT_EQ(mkdir(sub.c_str(), 0775), 0);
    const std::string name = sub + "/" + std::string(150, 'n');
    const int dims[3] = {1, 1, 1};
    const double voxel[3] = {1, 1, 1};
    const float value = 3.0f;
    saveAnalyze(name, &value, voxel, dims);
    EXPECT_EQ(readBytes(name + ".hdr").size(), 348u);
    EXPECT_EQ(readBytes(name + ".img").size(), 4u);
}

TEST(AnalyzeErrors, MissingDirectoryNamesTheFileAndTheReason) {
    TempDir dir;
    const int dims[3] = {1, 1, 1};
    const double voxel[3] = {1, 1, 1};
    const float value = 0.0f;
    const std::string name = dir.file("missing/jmapt");
    const std::string message = errorOf([&] { saveAnalyze(name, &value, voxel, dims); });
    EXPECT_NE(message.find(name + ".hdr"), std::string::npos) << message;
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
}

TEST(AnalyzeErrors, DimensionsTheFormatCannotHold) {
    const double voxel[3] = {1, 1, 1};
    const float value = 0.0f;
    const int tooWide[3] = {32768, 1, 1};
    EXPECT_NE(errorOf([&] { saveAnalyze("unused", &value, voxel, tooWide); }).find("32767"),
              std::string::npos);
    const int tooMany[3] = {32767, 32767, 3};  // each fits, the count does not
    EXPECT_NE(errorOf([&] { saveAnalyze("unused", &value, voxel, tooMany); }).find("voxels"),
              std::string::npos);
    const int empty[3] = {0, 4, 4};
    EXPECT_NE(errorOf([&] { checkAnalyzeDims(empty); }).find("1..32767"), std::string::npos);
    EXPECT_FALSE(test::fileExists("unused.hdr"));
}

TEST(OutputFileErrors, FullDiskIsReported) {
    if (!test::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string message = errorOf([] {
        OutputFile file("/dev/full", OutputFile::Incomplete::keep);
        const std::vector<char> bytes(1 << 16, 'x');
        file.write(bytes.data(), bytes.size());
        file.close();
    });
    EXPECT_NE(message.find("cannot write /dev/full: No space left on device"), std::string::npos)
        << message;
}

TEST(OutputFile, AnIncompleteFileIsRemovedUnlessKept) {
    TempDir dir;
    try {
        OutputFile file(dir.file("partial.txt"));
        file.print("half");
        throw Error("stop");
    } catch (const Error&) {
    }
    EXPECT_FALSE(test::fileExists(dir.file("partial.txt")));
    try {
        OutputFile file(dir.file("kept.txt"), OutputFile::Incomplete::keep);
        file.print("line\n");
        file.flush();
        throw Error("stop");
    } catch (const Error&) {
    }
    EXPECT_EQ(test::readText(dir.file("kept.txt")), "line\n");
    {
        OutputFile file(dir.file("done.txt"));
        file.print("%d %s\n", 3, "ok");
        file.close();
    }
    EXPECT_EQ(test::readText(dir.file("done.txt")), "3 ok\n");
}

}  // namespace
}  // namespace shapescale
