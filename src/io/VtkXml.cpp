#include "io/VtkXml.hpp"

#include <charconv>
#include <cstdint>
#include <functional>
#include <utility>

#include "core/Error.hpp"
#include "io/LittleEndian.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

namespace {

static_assert(sizeof(Vec3f) == 3 * sizeof(float) && sizeof(std::array<int, 3>) == 3 * sizeof(int),
              "points and triangles are written straight from their lists");

// Converted values are written in blocks of this many, 16 MiB of floats: the
// memory a conversion needs stays small whatever the volume.
constexpr std::size_t CONVERTED_BLOCK = std::size_t{1} << 22;

/// The appended section: every block is its byte count (UInt64) and its bytes;
/// a DataArray's offset counts from the byte after the "_" that opens the
/// section. Blocks are produced only when the file is written, from the
/// caller's buffers.
class AppendedData {
  public:
    using Producer = std::function<void(OutputFile&)>;

    /// The element of an array of `bytes` bytes that `produce` writes.
    std::string dataArray(const std::string& attributes, std::uint64_t bytes, Producer produce) {
        std::string xml = "        <DataArray " + attributes + " format=\"appended\" offset=\"" +
                          std::to_string(offset_) + "\"/>\n";
        offset_ += sizeof(std::uint64_t) + bytes;
        blocks_.push_back({bytes, std::move(produce)});
        return xml;
    }

    void writeTo(OutputFile& file) const {
        file.print("  <AppendedData encoding=\"raw\">\n   _");
        for (const auto& [bytes, produce] : blocks_) {
            unsigned char count[8];
            putUInt64(count, bytes);
            file.write(count, sizeof count);
            produce(file);
        }
        file.print("\n  </AppendedData>\n</VTKFile>\n");
    }

  private:
    std::uint64_t offset_ = 0;
    std::vector<std::pair<std::uint64_t, Producer>> blocks_;
};

// The shortest text that reads back as the same double.
std::string number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

void writeFloats(OutputFile& file, std::span<const float> values, double factor) {
    if (factor == 1.0) {
        writeLittleEndian(file, values.data(), values.size());
        return;
    }
    std::vector<unsigned char> block;
    for (std::size_t start = 0; start < values.size(); start += CONVERTED_BLOCK) {
        const std::size_t n = std::min(CONVERTED_BLOCK, values.size() - start);
        block.resize(4 * n);
        for (std::size_t i = 0; i < n; ++i)
            putFloat(&block[4 * i],
                     static_cast<float>(static_cast<double>(values[start + i]) * factor));
        writeInBlocks(file, block.data(), block.size());
    }
}

// End offsets 3, 6, 9, ... of `triangles` cells, as Int64.
void writeTriangleOffsets(OutputFile& file, std::size_t triangles) {
    std::vector<unsigned char> block;
    for (std::size_t start = 0; start < triangles; start += CONVERTED_BLOCK) {
        const std::size_t n = std::min(CONVERTED_BLOCK, triangles - start);
        block.resize(8 * n);
        for (std::size_t i = 0; i < n; ++i) putUInt64(&block[8 * i], 3 * (start + i + 1));
        writeInBlocks(file, block.data(), block.size());
    }
}

std::string pointData(AppendedData& appended, const std::string& path,
                      const std::vector<VtkPointArray>& arrays, std::size_t points) {
    if (arrays.empty()) return "";
    std::string xml = "      <PointData Scalars=\"" + arrays.front().name + "\">\n";
    for (const VtkPointArray& a : arrays) {
        if (a.size() != points)
            throw Error(path + ": array '" + a.name + "' has " + std::to_string(a.size()) +
                        " values for " + std::to_string(points) + " points");
        const std::string name = " Name=\"" + a.name + "\"";
        if (a.isBytes)
            xml += appended.dataArray("type=\"UInt8\"" + name, a.bytes.size(), [&a](OutputFile& f) {
                writeInBlocks(f, a.bytes.data(), a.bytes.size());
            });
        else
            xml += appended.dataArray("type=\"Float32\"" + name, 4 * a.floats.size(),
                                      [&a](OutputFile& f) { writeFloats(f, a.floats, a.factor); });
    }
    return xml + "      </PointData>\n";
}

void writeVtkFile(const std::string& path, const std::string& type, const std::string& body,
                  const AppendedData& appended) {
    const std::string head = "<?xml version=\"1.0\"?>\n<VTKFile type=\"" + type +
                             "\" version=\"1.0\" byte_order=\"LittleEndian\" "
                             "header_type=\"UInt64\">\n";
    OutputFile file(path);
    file.write(head.data(), head.size());
    file.write(body.data(), body.size());
    appended.writeTo(file);
    file.close();
}

}  // namespace

void writeVtkImageData(const std::string& path, const Grid& grid,
                       const std::vector<VtkPointArray>& arrays) {
    std::string extent, origin, spacing;
    for (int a = 0; a < 3; ++a) {
        const char* gap = a == 0 ? "" : " ";
        extent += gap + std::string("0 ") + std::to_string(grid.dims[a] - 1);
        // The same centre as the NIfTI files give voxel 0, here not rounded to float.
        origin += gap + number(static_cast<double>(grid.origin[a]) + 0.5 * grid.voxelSize[a]);
        spacing += gap + number(grid.voxelSize[a]);
    }
    AppendedData appended;
    std::string body = "  <ImageData WholeExtent=\"" + extent + "\" Origin=\"" + origin +
                       "\" Spacing=\"" + spacing + "\">\n    <Piece Extent=\"" + extent + "\">\n";
    body += pointData(appended, path, arrays, grid.voxels());
    body += "    </Piece>\n  </ImageData>\n";
    writeVtkFile(path, "ImageData", body, appended);
}

void writeVtkPolyData(const std::string& path, std::span<const Vec3f> points,
                      std::span<const std::array<int, 3>> triangles,
                      const std::vector<VtkPointArray>& arrays) {
    for (std::size_t t = 0; t < triangles.size(); ++t)
        for (int v : triangles[t])
            if (v < 0 || static_cast<std::size_t>(v) >= points.size())
                throw Error(path + ": triangle " + std::to_string(t) + " names vertex " +
                            std::to_string(v) + " of " + std::to_string(points.size()));
    AppendedData appended;
    std::string body = "  <PolyData>\n    <Piece NumberOfPoints=\"" +
                       std::to_string(points.size()) +
                       "\" NumberOfVerts=\"0\" NumberOfLines=\"0\" NumberOfStrips=\"0\" "
                       "NumberOfPolys=\"" +
                       std::to_string(triangles.size()) + "\">\n";
    body += pointData(appended, path, arrays, points.size());
    body += "      <Points>\n";
    body += appended.dataArray(
        "type=\"Float32\" Name=\"Points\" NumberOfComponents=\"3\"", 12 * points.size(),
        [points](OutputFile& f) {
            writeLittleEndian(f, reinterpret_cast<const float*>(points.data()), 3 * points.size());
        });
    body += "      </Points>\n      <Polys>\n";
    body += appended.dataArray(
        "type=\"Int32\" Name=\"connectivity\"", 12 * triangles.size(), [triangles](OutputFile& f) {
            writeLittleEndian(f, reinterpret_cast<const int*>(triangles.data()),
                              3 * triangles.size());
        });
    body += appended.dataArray(
        "type=\"Int64\" Name=\"offsets\"", 8 * triangles.size(),
        [triangles](OutputFile& f) { writeTriangleOffsets(f, triangles.size()); });
    body += "      </Polys>\n    </Piece>\n  </PolyData>\n";
    writeVtkFile(path, "PolyData", body, appended);
}

}  // namespace shapescale
