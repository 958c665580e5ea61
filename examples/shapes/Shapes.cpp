#include "shapes/Shapes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "mesh/OffReader.hpp"

namespace shapescale::shapes {

namespace {

// Splits every triangle (a, b, c) into (a, ab, ca), (b, bc, ab), (c, ca, bc)
// and (ab, bc, ca), in triangle order. Each edge's new vertex is appended to
// `v` once, when the edge is first met, at place(p, q) of its end points.
template <class Place>
std::vector<std::array<int, 3>> splitTriangles(std::vector<std::array<double, 3>>& v,
                                               const std::vector<std::array<int, 3>>& f,
                                               Place place) {
    std::unordered_map<std::uint64_t, int> midpoints;
    midpoints.reserve(f.size() * 3 / 2);
    auto midpoint = [&](int a, int b) {
        const auto [lo, hi] = std::minmax(a, b);
        const std::uint64_t key = (std::uint64_t(std::uint32_t(lo)) << 32) | std::uint32_t(hi);
        const auto [it, isNew] = midpoints.try_emplace(key, static_cast<int>(v.size()));
        if (isNew) v.push_back(place(v[std::size_t(a)], v[std::size_t(b)]));
        return it->second;
    };
    std::vector<std::array<int, 3>> next;
    next.reserve(4 * f.size());
    for (const auto& tri : f) {
        const int a = midpoint(tri[0], tri[1]);
        const int b = midpoint(tri[1], tri[2]);
        const int c = midpoint(tri[2], tri[0]);
        next.push_back({tri[0], a, c});
        next.push_back({tri[1], b, a});
        next.push_back({tri[2], c, b});
        next.push_back({a, b, c});
    }
    return next;
}

}  // namespace

PolyMesh icosphere(int levels, double radius, std::array<double, 3> centre) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<std::array<double, 3>> v = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0},
                                            {0, -1, t}, {0, 1, t}, {0, -1, -t}, {0, 1, -t},
                                            {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    std::vector<std::array<int, 3>> f = {
        {0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
        {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
        {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
    auto normalise = [](std::array<double, 3> p) {
        const double l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        return std::array<double, 3>{p[0] / l, p[1] / l, p[2] / l};
    };
    for (auto& p : v) p = normalise(p);
    for (int level = 0; level < levels; ++level)
        f = splitTriangles(v, f, [&](const auto& p, const auto& q) {
            return normalise({p[0] + q[0], p[1] + q[1], p[2] + q[2]});
        });
    PolyMesh mesh;
    for (const auto& p : v)
        mesh.vertices.push_back(
            {centre[0] + radius * p[0], centre[1] + radius * p[1], centre[2] + radius * p[2]});
    for (const auto& tri : f) mesh.faces.push_back({tri[0], tri[1], tri[2]});
    return mesh;
}

PolyMesh torus(double R, double r, int nu, int nv) {
    const double twoPi = 2.0 * M_PI;
    PolyMesh mesh;
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nv; ++j) {
            const double u = twoPi * i / nu, w = twoPi * j / nv;
            mesh.vertices.push_back({(R + r * std::cos(w)) * std::cos(u),
                                     (R + r * std::cos(w)) * std::sin(u), r * std::sin(w)});
        }
    }
    auto at = [&](int i, int j) { return ((i + nu) % nu) * nv + (j + nv) % nv; };
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nv; ++j) {
            mesh.faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            mesh.faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    return mesh;
}

PolyMesh dumbbell(int rings, int segments) {
    // Profile radius along the polar angle t in [0, pi]: a sphere-like profile
    // whose two ends differ in size, pinched to a thin neck in the middle.
    auto profile = [](double t) {
        const double bulbs = 1.0 + 0.35 * std::cos(t);
        const double neck = 1.0 - 0.8 * std::exp(-std::pow((t - 1.7) / 0.35, 2.0));
        return std::sin(t) * bulbs * neck;
    };
    PolyMesh mesh;
    mesh.vertices.push_back({0, 0, -2.0});
    for (int i = 1; i < rings; ++i) {
        const double t = M_PI * i / rings;
        const double rho = profile(t), z = -2.0 * std::cos(t);
        for (int j = 0; j < segments; ++j) {
            const double phi = 2.0 * M_PI * j / segments;
            mesh.vertices.push_back({rho * std::cos(phi), rho * std::sin(phi), z});
        }
    }
    mesh.vertices.push_back({0, 0, 2.0});
    const int top = static_cast<int>(mesh.vertices.size()) - 1;
    auto ring = [segments](int i, int j) {
        return 1 + (i - 1) * segments + (j + segments) % segments;
    };
    for (int j = 0; j < segments; ++j) mesh.faces.push_back({0, ring(1, j + 1), ring(1, j)});
    for (int i = 1; i + 1 < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            mesh.faces.push_back({ring(i, j), ring(i, j + 1), ring(i + 1, j + 1)});
            mesh.faces.push_back({ring(i, j), ring(i + 1, j + 1), ring(i + 1, j)});
        }
    }
    for (int j = 0; j < segments; ++j)
        mesh.faces.push_back({top, ring(rings - 1, j), ring(rings - 1, j + 1)});
    return mesh;
}

PolyMesh lumpySphere(int rings, int segments) {
    // Radius along the polar angle t and the azimuth phi: bumps that do not
    // line up with the rings, so that the vertices are not grid-aligned.
    auto radius = [](double t, double phi) {
        return 1.0 + 0.12 * std::sin(5.0 * t) * std::cos(3.0 * phi + 0.4) +
               0.08 * std::sin(7.0 * t) * std::cos(2.0 * phi - 0.9);
    };
    // The dumbbell's poles, rings and faces, its vertices moved onto this surface.
    PolyMesh mesh = dumbbell(rings, segments);
    std::size_t k = 0;
    mesh.vertices[k++] = {0, 0, -radius(0.0, 0.0)};
    for (int i = 1; i < rings; ++i) {
        const double t = M_PI * i / rings;
        for (int j = 0; j < segments; ++j) {
            const double phi = 2.0 * M_PI * j / segments;
            const double r = radius(t, phi);
            mesh.vertices[k++] = {r * std::sin(t) * std::cos(phi), r * std::sin(t) * std::sin(phi),
                                  -r * std::cos(t)};
        }
    }
    mesh.vertices[k] = {0, 0, radius(M_PI, 0.0)};
    return mesh;
}

PolyMesh subdivided(PolyMesh mesh, int times) {
    std::vector<std::array<int, 3>> f;
    f.reserve(mesh.faces.size());
    for (const auto& face : mesh.faces) {
        if (face.size() != 3) throw std::invalid_argument("subdivided: a face is not a triangle");
        f.push_back({face[0], face[1], face[2]});
    }
    for (int level = 0; level < times; ++level)
        f = splitTriangles(mesh.vertices, f, [](const auto& p, const auto& q) {
            return std::array<double, 3>{(p[0] + q[0]) / 2, (p[1] + q[1]) / 2, (p[2] + q[2]) / 2};
        });
    mesh.faces.clear();
    mesh.faces.reserve(f.size());
    for (const auto& tri : f) mesh.faces.push_back({tri[0], tri[1], tri[2]});
    return mesh;
}

std::string toOff(const PolyMesh& mesh) {
    std::string text = "OFF\n" + std::to_string(mesh.vertices.size()) + " " +
                       std::to_string(mesh.faces.size()) + " 0\n";
    char line[128];
    for (const auto& p : mesh.vertices) {
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", p[0], p[1], p[2]);
        text += line;
    }
    for (const auto& face : mesh.faces) {
        text += std::to_string(face.size());
        for (int k : face) {
            text += ' ';
            text += std::to_string(k);
        }
        text += "\n";
    }
    return text;
}

void writeOff(const PolyMesh& mesh, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << toOff(mesh);
    if (!out) throw std::runtime_error("cannot write " + path);
}

TriMesh loadOffText(const std::string& text) {
    std::string copy = text;
    std::FILE* in = fmemopen(copy.data(), copy.size(), "r");
    if (in == nullptr) throw std::runtime_error("fmemopen failed");
    try {
        TriMesh mesh = loadOffMesh(in, "memory.off");
        std::fclose(in);
        return mesh;
    } catch (...) {
        std::fclose(in);
        throw;
    }
}

TriMesh loadMesh(const PolyMesh& mesh) {
    return loadOffText(toOff(mesh));
}

}  // namespace shapescale::shapes

namespace shapescale::shapes {

namespace {

bool isLittleEndianHost() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

/// Appends value as PLY type `type`: text for ascii, else bytes in the file's order.
void appendPlyValue(std::string& out, const std::string& type, double value,
                    PlyStyle::Encoding encoding) {
    unsigned char bytes[8];
    std::size_t n = 0;
    char text[64];
    auto put = [&](auto v) {
        n = sizeof v;
        std::memcpy(bytes, &v, n);
        if constexpr (std::is_floating_point_v<decltype(v)>)
            std::snprintf(text, sizeof text, "%.17g", static_cast<double>(v));
        else
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
    };
    if (type == "char" || type == "int8")
        put(static_cast<std::int8_t>(value));
    else if (type == "uchar" || type == "uint8")
        put(static_cast<std::uint8_t>(value));
    else if (type == "short" || type == "int16")
        put(static_cast<std::int16_t>(value));
    else if (type == "ushort" || type == "uint16")
        put(static_cast<std::uint16_t>(value));
    else if (type == "int" || type == "int32")
        put(static_cast<std::int32_t>(value));
    else if (type == "uint" || type == "uint32")
        put(static_cast<std::uint32_t>(value));
    else if (type == "float" || type == "float32")
        put(static_cast<float>(value));
    else if (type == "double" || type == "float64")
        put(value);
    else
        throw std::invalid_argument("unknown PLY type " + type);
    if (encoding == PlyStyle::Encoding::ascii) {
        out += text;
        out += ' ';
        return;
    }
    const bool reverse =
        (encoding == PlyStyle::Encoding::binaryLittleEndian) != isLittleEndianHost();
    if (reverse) std::reverse(bytes, bytes + n);
    out.append(reinterpret_cast<const char*>(bytes), n);
}

/// Fan triangles of every polygon, in the order the readers make them.
std::vector<std::array<int, 3>> fans(const PolyMesh& mesh) {
    std::vector<std::array<int, 3>> triangles;
    for (const auto& f : mesh.faces)
        for (std::size_t k = 1; k + 1 < f.size(); ++k) triangles.push_back({f[0], f[k], f[k + 1]});
    return triangles;
}

}  // namespace

std::string toPly(const PolyMesh& mesh, const PlyStyle& style) {
    const auto enc = style.encoding;
    const bool text = enc == PlyStyle::Encoding::ascii;
    std::string out = "ply\nformat ";
    out += text                                            ? "ascii"
           : enc == PlyStyle::Encoding::binaryLittleEndian ? "binary_little_endian"
                                                           : "binary_big_endian";
    out += " 1.0\n";
    if (style.extras) out += "comment written by the shapes library\nobj_info test mesh\n";
    out += "element vertex " + std::to_string(mesh.vertices.size()) + "\n";
    const std::string& ct = style.coordinateType;
    if (style.extras) out += "property uchar red\n";
    out += "property " + ct + " x\nproperty " + ct + " y\n";
    if (style.extras) out += "property float nx\nproperty list uchar float uv\n";
    out += "property " + ct + " z\n";
    if (style.extras) out += "property ushort green\n";
    if (style.extras) out += "element edge 2\nproperty int vertex1\nproperty int vertex2\n";
    out += "element face " + std::to_string(mesh.faces.size()) + "\n";
    if (style.extras) out += "property list uchar float texcoord\n";
    out += "property list " + style.countType + " " + style.indexType + " vertex_indices\n";
    if (style.extras) out += "property int flags\nelement material 0\nproperty float shine\n";
    out += "end_header\n";
    auto put = [&](const std::string& type, double value) {
        appendPlyValue(out, type, value, enc);
    };
    auto endLine = [&] {
        if (text) out.back() = '\n';
    };
    for (const auto& p : mesh.vertices) {
        if (style.extras) put("uchar", 200);
        put(ct, p[0]);
        put(ct, p[1]);
        if (style.extras) {
            put("float", -0.5);
            put("uchar", 2);
            put("float", 0.25);
            put("float", 1e30);
        }
        put(ct, p[2]);
        if (style.extras) put("ushort", 65535);
        endLine();
    }
    if (style.extras) {
        for (int e = 0; e < 2; ++e) {
            put("int", e);
            put("int", e + 1);
            endLine();
        }
    }
    for (const auto& f : mesh.faces) {
        if (style.extras) {
            put("uchar", 2);
            put("float", 0.5);
            put("float", 0.75);
        }
        put(style.countType, static_cast<double>(f.size()));
        for (int k : f) put(style.indexType, k);
        if (style.extras) put("int", -7);
        endLine();
    }
    return out;
}

std::string toStl(const PolyMesh& mesh, bool binary) {
    const std::vector<std::array<int, 3>> triangles = fans(mesh);
    std::string out;
    if (binary) {
        out = "solid written by the shapes library, but binary";
        out.resize(80, ' ');
        appendPlyValue(out, "uint", static_cast<double>(triangles.size()),
                       PlyStyle::Encoding::binaryLittleEndian);
    } else {
        out = "solid shapes\n";
    }
    char line[160];
    for (const auto& t : triangles) {
        std::array<std::array<float, 3>, 3> p;
        for (int c = 0; c < 3; ++c)
            for (int a = 0; a < 3; ++a)
                p[c][a] = static_cast<float>(mesh.vertices[static_cast<std::size_t>(t[c])][a]);
        const std::array<float, 3> e1 = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const std::array<float, 3> e2 = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const std::array<float, 3> normal = {e1[1] * e2[2] - e1[2] * e2[1],
                                             e1[2] * e2[0] - e1[0] * e2[2],
                                             e1[0] * e2[1] - e1[1] * e2[0]};
        if (binary) {
            for (float v : normal)
                appendPlyValue(out, "float", v, PlyStyle::Encoding::binaryLittleEndian);
            for (const auto& corner : p)
                for (float v : corner)
                    appendPlyValue(out, "float", v, PlyStyle::Encoding::binaryLittleEndian);
            out.append(2, '\0');
            continue;
        }
        std::snprintf(line, sizeof line, "  facet normal %.9g %.9g %.9g\n    outer loop\n",
                      normal[0], normal[1], normal[2]);
        out += line;
        for (const auto& corner : p) {
            std::snprintf(line, sizeof line, "      vertex %.9g %.9g %.9g\n", corner[0], corner[1],
                          corner[2]);
            out += line;
        }
        out += "    endloop\n  endfacet\n";
    }
    if (!binary) out += "endsolid shapes\n";
    return out;
}

std::string toObj(const PolyMesh& mesh, bool relative) {
    std::string out = "# written by the shapes library\nmtllib none.mtl\no mesh\n";
    char line[128];
    for (const auto& p : mesh.vertices) {
        std::snprintf(line, sizeof line, "v %.17g %.17g %.17g 1\n", p[0], p[1], p[2]);
        out += line;
    }
    out += "vt 0 0\nvt 1 0\nvn 0 0 1\ng all\nusemtl none\ns off\n";
    const long long count = static_cast<long long>(mesh.vertices.size());
    for (std::size_t j = 0; j < mesh.faces.size(); ++j) {
        const char* const forms[] = {"", "/1", "//1", "/2/1"};
        out += "f";
        for (std::size_t c = 0; c < mesh.faces[j].size(); ++c) {
            const int k = mesh.faces[j][c];
            const long long number = relative ? k - count : k + 1;
            out += " " + std::to_string(number) + forms[j % 4];
            // Every fifth face goes on on a continuation line after its first corner.
            if (c == 0 && j % 5 == 4) out += " \\\n ";
        }
        out += "\n";
    }
    return out;
}

}  // namespace shapescale::shapes
