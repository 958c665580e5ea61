#include "mapt/VertexScale.hpp"

#include <cmath>
#include <limits>

#include "core/Error.hpp"
#include "io/VtkXml.hpp"
#include "mapt/Filtering.hpp"

namespace shapescale {

namespace {

struct Choice {
    float scaleVox = 0.0f;
    float jmapt = 0.0f;
};

bool insideGrid(const Grid& grid, const long long* v) {
    for (int a = 0; a < 3; ++a)
        if (v[a] < 0 || v[a] >= grid.dims[a]) return false;
    return true;
}

// Voxel traversal of the segment (Amanatides and Woo): every voxel the segment
// touches, in order, each once. Positions in voxel units, voxel i covering
// [i, i + 1) on each axis as the grid places a point in voxel trunc((p - origin) / h).
Choice walkInward(const Vec3f& position, const Vec3f& normal, const Grid& grid,
                  const std::vector<float>& jmapt, const std::vector<float>& scaleVox,
                  double maxReachVox) {
    const double h = grid.h();
    double pos[3];
    double dir[3];
    long long v[3];
    for (int a = 0; a < 3; ++a) {
        pos[a] = (static_cast<double>(position[a]) - grid.origin[a]) / h;
        dir[a] = -static_cast<double>(normal[a]);
        v[a] = static_cast<long long>(std::floor(pos[a]));
    }
    Choice best;
    if (!insideGrid(grid, v)) return best;
    auto at = [&](const long long* w) {
        return grid.index(static_cast<std::size_t>(w[0]), static_cast<std::size_t>(w[1]),
                          static_cast<std::size_t>(w[2]));
    };
    std::size_t i = at(v);
    best = {scaleVox[i], jmapt[i]};

    const double length = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    if (!(length > 0.0) || !std::isfinite(length)) return best;
    constexpr double NEVER = std::numeric_limits<double>::infinity();
    int step[3];
    double tMax[3];
    double tDelta[3];
    for (int a = 0; a < 3; ++a) {
        dir[a] /= length;
        step[a] = dir[a] > 0.0 ? 1 : (dir[a] < 0.0 ? -1 : 0);
        tDelta[a] = step[a] != 0 ? 1.0 / std::fabs(dir[a]) : NEVER;
        const double toBoundary = step[a] > 0 ? static_cast<double>(v[a]) + 1.0 - pos[a]
                                              : pos[a] - static_cast<double>(v[a]);
        tMax[a] = step[a] != 0 ? toBoundary * tDelta[a] : NEVER;
    }
    for (;;) {
        int axis = 0;
        if (tMax[1] < tMax[axis]) axis = 1;
        if (tMax[2] < tMax[axis]) axis = 2;
        if (tMax[axis] > maxReachVox) break;
        v[axis] += step[axis];
        if (!insideGrid(grid, v)) break;
        tMax[axis] += tDelta[axis];
        i = at(v);
        if (jmapt[i] > best.jmapt) best = {scaleVox[i], jmapt[i]};
    }
    return best;
}

}  // namespace

double maxReachVoxels(const TransformResult& result) {
    if (result.radii.empty()) return 0.0;
    const double last = result.radii.back();
    const double width = filterWidth(last, result.startRadius, result.sigma);
    const double reach = result.kernel == KernelChoice::ballSumThenGaussian ? 3.0 * width : width;
    return last + std::fabs(reach);
}

VertexScales vertexScale(const std::vector<Vec3f>& positions, const std::vector<Vec3f>& normals,
                         const Grid& grid, const std::vector<float>& jmapt,
                         const std::vector<float>& scaleVox, double maxReachVox) {
    if (normals.size() != positions.size())
        throw Error("vertex scale: " + std::to_string(positions.size()) + " vertices but " +
                    std::to_string(normals.size()) + " normals");
    if (jmapt.size() != grid.voxels() || scaleVox.size() != grid.voxels())
        throw Error("vertex scale: the volumes do not match the grid of " +
                    std::to_string(grid.voxels()) + " voxels");
    VertexScales out;
    out.scale.resize(positions.size());
    out.jmapt.resize(positions.size());
    const double h = grid.h();
    for (std::size_t v = 0; v < positions.size(); ++v) {
        const Choice c = walkInward(positions[v], normals[v], grid, jmapt, scaleVox, maxReachVox);
        // World units as the run's result files give them: voxel radius times h.
        out.scale[v] = static_cast<float>(static_cast<double>(c.scaleVox) * h);
        out.jmapt[v] = c.jmapt;
    }
    return out;
}

SurfaceSnapshot snapshotSurface(const TriMesh& mesh) {
    SurfaceSnapshot s;
    s.positions.assign(mesh.vertices.begin(), mesh.vertices.end());
    s.normals.assign(mesh.vertexNormals.begin(), mesh.vertexNormals.end());
    s.faces.assign(mesh.faces.begin(), mesh.faces.end());
    return s;
}

std::optional<PaintedFormat> paintedFormatOf(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (extension == "ply") return PaintedFormat::ply;
    if (extension == "vtp") return PaintedFormat::vtp;
    return std::nullopt;
}

void writeVertexScale(const std::string& path, const SurfaceSnapshot& surface,
                      const TransformResult& result, PaintedFormat format) {
    const VertexScales scales = vertexScale(surface.positions, surface.normals, result.grid,
                                            result.jmapt, result.scale, maxReachVoxels(result));
    if (format == PaintedFormat::vtp) {
        // No colours: a viewer maps the values through a colour map of its own.
        writeVtkPolyData(path, surface.positions, surface.faces,
                         {{"scale", scales.scale}, {"jmapt", scales.jmapt}});
        return;
    }
    PaintedMesh painted;
    painted.positions = &surface.positions;
    painted.faces = &surface.faces;
    painted.scale = &scales.scale;
    painted.jmapt = &scales.jmapt;
    if (!result.radii.empty()) {
        const double h = result.grid.h();
        painted.colourLow = static_cast<float>(result.radii.front() * h);
        painted.colourHigh = static_cast<float>(result.radii.back() * h);
    }
    writePaintedPly(path, painted, PlyEncoding::binaryLittleEndian);
}

}  // namespace shapescale
