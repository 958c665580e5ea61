#include "io/Analyze.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <tuple>

#include "io/OutputFile.hpp"
#include "support/TestFiles.hpp"

namespace shapescale {
namespace {

using test::readBytes;
using test::readFloats;

TEST(Analyze, HeaderAndDataBytesAndRewrite) {
    const test::TempDir dir;
    const std::string sub = dir.file(std::string(120, 'd')),
                      name = sub + "/" + std::string(150, 'n');
    ASSERT_EQ(mkdir(sub.c_str(), 0775), 0);  // names longer than 100 characters are kept whole
    const int dims[3] = {2, 3, 4};
    const double voxel[3] = {0.5, 0.5, 0.5};
    std::vector<float> data(24);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i) - 3.5f;
    saveAnalyze(name, data.data(), voxel, dims);

    // {offset, bytes, little-endian value}: sizeof_hdr, extents, session_error, regular,
    // hkey_un0, dim[0..7], unused1, datatype (float), bitpix, pixdim[1..3]; all else zero
    const std::uint32_t half = std::bit_cast<std::uint32_t>(0.5f);
    const std::uint32_t fields[][3] = {{0, 4, 348},   {32, 4, 16384}, {36, 2, 16384}, {38, 1, 'r'},
                                       {39, 1, 'r'},  {40, 2, 4},     {42, 2, 2},     {44, 2, 3},
                                       {46, 2, 4},    {48, 2, 1},     {50, 2, 1},     {52, 2, 1},
                                       {54, 2, 1},    {68, 2, 1},     {70, 2, 16},    {72, 2, 32},
                                       {80, 4, half}, {84, 4, half},  {88, 4, half}};
    std::vector<unsigned char> want(348, 0);
    for (const auto& [at, size, value] : fields)
        for (std::uint32_t k = 0; k < size; ++k) want[at + k] = (value >> (8 * k)) & 0xFF;
    EXPECT_EQ(readBytes(name + ".hdr"), want);
    EXPECT_EQ(readBytes(name + ".img").size(), 96u);
    EXPECT_EQ(readFloats(name + ".img"), data);

    // A second pair under the same name replaces the first; voxel sizes become the nearest floats.
    const int small[3] = {1, 2, 1};
    const double odd[3] = {0.1, 2.0, 1e-3};
    saveAnalyze(name, data.data(), odd, small);
    EXPECT_EQ(readFloats(name + ".img"), std::vector<float>({-3.5f, -2.5f}));
    const std::vector<float> h = readFloats(name + ".hdr");  // pixdim[1] at byte 80
    ASSERT_EQ(h.size(), 87u);
    EXPECT_EQ(std::vector<float>(h.begin() + 20, h.begin() + 23),
              std::vector<float>({0.1f, 2.0f, 1e-3f}));
}

TEST(AnalyzeErrors, MessagesNameTheFileOrTheLimit) {
    const test::TempDir dir;
    const double voxel[3] = {1, 1, 1};
    const float value = 0.0f;
    const std::string missing = dir.file("missing/jmapt");
    const std::tuple<std::string, std::array<int, 3>, std::vector<std::string>> cases[] = {
        {missing, {1, 1, 1}, {missing + ".hdr", "No such file or directory"}},
        {"unused", {32768, 1, 1}, {"32767"}},
        {"unused", {32767, 32767, 3}, {"voxels"}},  // each fits, the count does not
        {"unused", {0, 4, 4}, {"1..32767"}}};
    for (const auto& [name, dims, parts] : cases) {
        const std::string message =
            test::errorOf([&] { saveAnalyze(name, &value, voxel, dims.data()); });
        for (const std::string& part : parts)
            EXPECT_NE(message.find(part), std::string::npos) << message;
    }
    EXPECT_FALSE(test::fileExists("unused.hdr"));
    if (!test::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string full = dir.file("full");  // a link, so that no bug can remove /dev/full
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    for (const std::size_t size : {std::size_t{100}, std::size_t{1} << 16}) {
        const std::string message = test::errorOf([&] {  // fails in close() or already in write()
            OutputFile file(full, OutputFile::Incomplete::keep);
            const std::string bytes(size, 'x');
            file.write(bytes.data(), bytes.size());
            file.close();
        });
        EXPECT_NE(message.find("cannot write " + full + ": No space left on device"),
                  std::string::npos)
            << message;
    }
}

TEST(OutputFile, AnIncompleteFileIsRemovedUnlessKept) {
    const test::TempDir dir;
    for (const bool keep : {false, true}) {
        test::errorOf([&] {
            OutputFile file(dir.file("partial"),
                            keep ? OutputFile::Incomplete::keep : OutputFile::Incomplete::remove);
            file.print("%d %s\n", 3, "ok");
            file.flush();
            throw Error("stop");
        });
        EXPECT_EQ(test::fileExists(dir.file("partial")), keep);
    }
    EXPECT_EQ(test::readText(dir.file("partial")), "3 ok\n");
    OutputFile(dir.file("done")).close();
    EXPECT_TRUE(test::fileExists(dir.file("done")));
}

}  // namespace
}  // namespace shapescale
