#include "io/PlyWriter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Error.hpp"
#include "io/OutputFile.hpp"

namespace shapescale {

namespace {

// Nine evenly spaced stops of the viridis map (sRGB); the map is their
// piecewise-linear interpolation, close enough to the full table for a
// picture and small enough to read.
constexpr int STOPS = 9;
constexpr unsigned char VIRIDIS[STOPS][3] = {
    {68, 1, 84},    {71, 45, 123}, {59, 82, 139},  {44, 114, 142}, {33, 144, 140},
    {39, 173, 129}, {93, 200, 99}, {170, 220, 50}, {253, 231, 37},
};

// Appends the little-endian bytes of a 4-byte value whatever the host.
template <class T>
void appendLittleEndian(std::string& out, T value) {
    static_assert(sizeof(T) == 4);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(bits >> shift));
}

void checkLists(const PaintedMesh& mesh) {
    if (mesh.positions == nullptr || mesh.faces == nullptr || mesh.scale == nullptr ||
        mesh.jmapt == nullptr)
        throw Error("painted mesh: a list is missing");
    const std::size_t n = mesh.positions->size();
    if (mesh.scale->size() != n || mesh.jmapt->size() != n)
        throw Error("painted mesh: " + std::to_string(n) + " vertices but " +
                    std::to_string(mesh.scale->size()) + " scale and " +
                    std::to_string(mesh.jmapt->size()) + " jmapt values");
    for (std::size_t f = 0; f < mesh.faces->size(); ++f)
        for (int v : (*mesh.faces)[f])
            if (v < 0 || static_cast<std::size_t>(v) >= n)
                throw Error("painted mesh: face " + std::to_string(f) + " names vertex " +
                            std::to_string(v) + " of " + std::to_string(n));
}

std::string header(const PaintedMesh& mesh, PlyEncoding encoding) {
    std::string text = "ply\nformat ";
    text += encoding == PlyEncoding::ascii ? "ascii" : "binary_little_endian";
    text += " 1.0\ncomment shapescale: scale of the largest APT value inward of each vertex\n";
    text += "element vertex " + std::to_string(mesh.positions->size()) + "\n";
    for (const char* name : {"x", "y", "z", "scale", "jmapt"})
        text += std::string("property float ") + name + "\n";
    text += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    text += "element face " + std::to_string(mesh.faces->size()) + "\n";
    text += "property list uchar int vertex_indices\nend_header\n";
    return text;
}

RGB8 colourOf(const PaintedMesh& mesh, float scale) {
    const double span = static_cast<double>(mesh.colourHigh) - mesh.colourLow;
    // A run with one radius has no span: every vertex gets the middle colour.
    const double t = span > 0.0 ? (static_cast<double>(scale) - mesh.colourLow) / span : 0.5;
    return perceptualColour(t);
}

}  // namespace

RGB8 perceptualColour(double t) {
    if (!(t > 0.0)) t = 0.0;  // NaN too
    if (t > 1.0) t = 1.0;
    const double at = t * (STOPS - 1);
    const int low = std::min(static_cast<int>(at), STOPS - 2);
    const double w = at - low;
    RGB8 colour{};
    for (int c = 0; c < 3; ++c)
        colour[static_cast<std::size_t>(c)] = static_cast<unsigned char>(
            std::lround((1.0 - w) * VIRIDIS[low][c] + w * VIRIDIS[low + 1][c]));
    return colour;
}

void writePaintedPly(const std::string& path, const PaintedMesh& mesh, PlyEncoding encoding) {
    checkLists(mesh);
    std::string body = header(mesh, encoding);
    const std::size_t n = mesh.positions->size();
    for (std::size_t v = 0; v < n; ++v) {
        const Vec3f& p = (*mesh.positions)[v];
        const float scale = (*mesh.scale)[v];
        const float jmapt = (*mesh.jmapt)[v];
        const RGB8 rgb = colourOf(mesh, scale);
        if (encoding == PlyEncoding::ascii) {
            // %.9g: every float reads back to the same bits.
            char line[200];
            std::snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g %.9g %d %d %d\n",
                          static_cast<double>(p[0]), static_cast<double>(p[1]),
                          static_cast<double>(p[2]), static_cast<double>(scale),
                          static_cast<double>(jmapt), rgb[0], rgb[1], rgb[2]);
            body += line;
        } else {
            for (float value : {p[0], p[1], p[2], scale, jmapt}) appendLittleEndian(body, value);
            for (unsigned char c : rgb) body.push_back(static_cast<char>(c));
        }
    }
    for (const auto& face : *mesh.faces) {
        if (encoding == PlyEncoding::ascii) {
            body += "3 " + std::to_string(face[0]) + " " + std::to_string(face[1]) + " " +
                    std::to_string(face[2]) + "\n";
        } else {
            body.push_back(3);
            for (int v : face) appendLittleEndian(body, static_cast<std::int32_t>(v));
        }
    }
    OutputFile file(path);
    file.write(body.data(), body.size());
    file.close();
}

}  // namespace shapescale
