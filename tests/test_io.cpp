// The output files: Analyze pairs written whole or absent, the painted-mesh PLY
// and the PNG previews.

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <sstream>
#include <tuple>

#include "core/Grid.hpp"
#include "io/Analyze.hpp"
#include "io/OutputFile.hpp"
#include "io/PlyWriter.hpp"
#include "io/PngPreview.hpp"
#include "mapt/VertexScale.hpp"
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

TEST(PlyWriter, BothEncodingsHoldTheSameMesh) {
    const std::vector<Vec3f> positions = {{0, 0, 0}, {1.5f, 0, 0}, {0, 2.25f, -1e-7f}};
    const std::vector<std::array<int, 3>> faces = {{0, 1, 2}};
    const std::vector<float> scale = {0.5f, 1.0f, 2.0f}, jmapt = {0.1f, 0.2f, 0.3f};
    PaintedMesh mesh{&positions, &faces, &scale, &jmapt, 0.5f, 2.0f};
    test::TempDir dir;
    for (PlyEncoding encoding : {PlyEncoding::ascii, PlyEncoding::binaryLittleEndian}) {
        const std::string path = dir.file("mesh.ply");
        writePaintedPly(path, mesh, encoding);
        const std::string text = test::readText(path);
        const std::size_t end = text.find("end_header\n");
        ASSERT_NE(end, std::string::npos);
        const std::string head = text.substr(0, end);
        EXPECT_NE(head.find("element vertex 3\n"), std::string::npos);
        EXPECT_NE(head.find("property float scale\nproperty float jmapt\n"), std::string::npos);
        EXPECT_NE(head.find("element face 1\nproperty list uchar int vertex_indices\n"),
                  std::string::npos);
        std::string body = text.substr(end + 11);
        std::vector<float> values;  // per vertex x y z scale jmapt
        std::vector<int> colours, face;
        if (encoding == PlyEncoding::ascii) {
            std::istringstream in(body);
            for (int v = 0; v < 3; ++v) {
                float f;
                int c;
                for (int k = 0; k < 5; ++k) in >> f, values.push_back(f);
                for (int k = 0; k < 3; ++k) in >> c, colours.push_back(c);
            }
            int n;
            in >> n;
            face.resize(static_cast<std::size_t>(n));
            for (int& w : face) in >> w;
        } else {
            ASSERT_EQ(body.size(), 3 * (5 * 4 + 3) + 1 + 3 * 4u);
            const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
            for (const unsigned char* p = bytes; p < bytes + 69; p += 23) {
                values.insert(values.end(), 5, 0.0f);
                std::memcpy(&values[values.size() - 5], p, 20);
                colours.insert(colours.end(), p + 20, p + 23);
            }
            face.resize(bytes[69]);
            std::memcpy(face.data(), bytes + 70, 4 * face.size());
        }
        for (std::size_t v = 0; v < 3; ++v) {
            for (std::size_t a = 0; a < 3; ++a) EXPECT_EQ(values[5 * v + a], positions[v][a]);
            EXPECT_EQ(values[5 * v + 3], scale[v]);
            EXPECT_EQ(values[5 * v + 4], jmapt[v]);
        }
        // The lowest scale takes the map's first colour, the highest its last.
        EXPECT_EQ(std::vector<int>(colours.begin(), colours.begin() + 3),
                  (std::vector<int>{68, 1, 84}));
        EXPECT_EQ(std::vector<int>(colours.begin() + 6, colours.end()),
                  (std::vector<int>{253, 231, 37}));
        EXPECT_EQ(face, (std::vector<int>{0, 1, 2}));
    }
    const std::vector<std::array<int, 3>> bad = {{0, 1, 3}};
    mesh.faces = &bad;
    EXPECT_THROW(writePaintedPly(dir.file("bad.ply"), mesh, PlyEncoding::ascii), Error);
    EXPECT_FALSE(test::fileExists(dir.file("bad.ply")));
}

// A perceptual map brightens steadily: its luminance rises with t.
TEST(PlyWriter, ColourMapBrightensSteadily) {
    double previous = -1.0;
    for (int k = 0; k <= 100; ++k) {
        const RGB8 c = perceptualColour(k / 100.0);
        const double luminance = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
        EXPECT_GT(luminance, previous) << "t = " << k / 100.0;
        previous = luminance;
    }
    EXPECT_EQ(perceptualColour(NAN), perceptualColour(-3.0));
    EXPECT_EQ(perceptualColour(7.0), perceptualColour(1.0));
}

TEST(PreviewLayout, LargeGridsAreSampledEveryStrideVoxels) {
    Grid grid;
    const int dims[3] = {700, 30, 20};  // 700 > 320: one pixel for every 3rd voxel
    std::copy(dims, dims + 3, grid.dims);
    const std::vector<float> values(grid.voxels(), 0.5f);
    std::vector<unsigned char> labels(grid.voxels(), LABEL_OUTSIDE);
    labels[grid.index(699, 15, 10)] = 0;  // the last voxel of the sampled row
    const RgbImage image = renderPreview(values.data(), labels.data(), grid, "JMAPT");
    EXPECT_EQ(image.width, 10 + (2 * 234 + 10) + 30 + 16 + 4 + 72 + 10);
    EXPECT_EQ(image.height, 10 + 14 + 10 + 10);
    ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(image.width * image.height * 3));
    // That voxel, alone inside, is outline: cell (233, 5) of the XY slice, y up.
    const std::size_t at = (static_cast<std::size_t>(24 + 9 - 5) * image.width + 10 + 233) * 3;
    EXPECT_EQ(image.pixels[at] + image.pixels[at + 1] + image.pixels[at + 2], 3 * 255);
    EXPECT_LT(image.pixels[at - 3] + image.pixels[at - 2] + image.pixels[at - 1], 3 * 255);
}

using Preview = test::BinaryRuns;

TEST_F(Preview, IsAPictureOfTheMidSlicesOfTheRun) {
    const test::RunResult r =
        run({"-f", mesh(shapes::icosphere(3)), "-r", "0.1", "-n", "2", "--preview", "-o", "out"});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::array<int, 3> dims = test::analyzeDims(dir.file("out/jmapt.hdr"));
    ASSERT_EQ(dims[0], 25);  // 2 / 0.1 + 5 voxels per axis
    // The documented layout: 320 / 25 = 12 pixels per voxel, clamped to 8.
    const int scale = 8;
    const int width = 10 + scale * (2 * dims[0] + dims[1]) + 30 + 16 + 4 + 72 + 10;
    const int height = 10 + 14 + scale * std::max(dims[1], dims[2]) + 10;
    for (const char* name : {"preview_jmapt.png", "preview_scale.png"}) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(
            png_image_begin_read_from_file(&image, dir.file("out/" + std::string(name)).c_str()))
            << name << ": " << image.message;
        image.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
            << image.message;
        EXPECT_EQ(static_cast<int>(image.width), width);
        EXPECT_EQ(static_cast<int>(image.height), height);
        auto pixel = [&](int x, int y) {
            const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
            return std::vector<int>{p[0], p[1], p[2]};
        };
        // The colour bar runs from viridis' yellow at the top to its purple.
        const int barX = width - 10 - 72 - 4 - 16 + 8, top = 24;
        EXPECT_EQ(pixel(barX, top), (std::vector<int>{253, 231, 37})) << name;
        EXPECT_EQ(pixel(barX, height - 11), (std::vector<int>{68, 1, 84})) << name;
        // The outline crosses the middle row of the XY slice at the sphere's
        // surface, 10 voxels left and right of the centre.
        int white = 0;
        const int row = top + scale * dims[1] / 2;
        for (int x = 10; x < 10 + scale * dims[0]; ++x)
            white += pixel(x, row) == std::vector<int>{255, 255, 255} ? 1 : 0;
        EXPECT_GE(white, 2 * scale) << name;
        EXPECT_LE(white, 6 * scale) << name;
    }
}

}  // namespace
}  // namespace shapescale
