#include "mapt/ResolveSettings.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/Error.hpp"
#include "core/Vec3.hpp"

namespace shapescale {

namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A negative length derived from the mesh comes from a negative volume; the
// remedies are named as the caller (`names`) spells its settings.
std::string clockwiseHint(const SettingNames& names) {
    return std::string(
               "; a negative value derived from the mesh means that its faces seem to be ordered "
               "clockwise seen from outside (negative volume): run again with ") +
           names.orient + ", reorient the mesh or give the lengths explicitly (" +
           names.resolution + ", " + names.startRadius + ", " + names.radiusStep + ", " +
           names.sigma + ")";
}

double deriveGridResolution(const TriMesh& mesh, double h, const SettingNames& names) {
    if (!std::isfinite(h)) throw Error("the grid resolution is not a finite number: " + number(h));
    if (h != 0.0) {
        if (h < 0.0)
            throw Error("the grid resolution " + number(h) + " is not positive" +
                        clockwiseHint(names));
        return h;
    }
    // Differences and product in single precision, root and division in double.
    const float extent = (mesh.bboxMax[0] - mesh.bboxMin[0]) * (mesh.bboxMax[1] - mesh.bboxMin[1]) *
                         (mesh.bboxMax[2] - mesh.bboxMin[2]);
    const double derived = std::cbrt(extent) / 150.0;
    if (!(derived > 0.0) || !std::isfinite(derived))
        throw Error(
            "no grid resolution can be derived from the mesh: its bounding box is flat "
            "(volume " +
            number(extent) + "); give one with " + names.resolution);
    return derived;
}

void checkLength(const char* what, double value) {
    if (!std::isfinite(value))
        throw Error(std::string("the ") + what + " is not a finite number: " + number(value));
}

// Every radius of the run must be positive: the offsets would change side and
// the sphere-area normaliser would be zero or negative.
void checkRadii(const MaptRun& run, int radiusCount, double h, const SettingNames& names) {
    double r = run.startRadius;
    for (int k = 0; k < radiusCount; ++k) {
        if (!(r > 0.0) || !std::isfinite(r))
            throw Error("radius " + std::to_string(k) + " of the run would be " + number(r * h) +
                        " (starting radius " + number(run.startRadius * h) + ", step " +
                        number(run.radiusStep * h) + "): radii must be positive" +
                        clockwiseHint(names));
        r += run.radiusStep;
    }
}

// The mesh's largest bounding-box extent, world units.
double largestExtent(const TriMesh& mesh) {
    double extent = 0.0;
    for (int a = 0; a < 3; ++a)
        extent = std::max(extent, static_cast<double>(mesh.bboxMax[a] - mesh.bboxMin[a]));
    return extent;
}

// Normals take squared lengths of cross products of edges, the fourth power
// of the mesh's size, in single precision: beyond 2^31 they overflow, below
// 2^-32 they lose bits to underflow. Inside 2^-30 .. 2^30 every quantity of the
// run (areas, sample counts, voxel-unit coordinates, votes) is a finite float
// and a mesh scaled by a power of two gives the bits of the unscaled one.
constexpr double MIN_EXTENT = 0x1p-30;
constexpr double MAX_EXTENT = 0x1p30;

// A sphere's area 4 pi r^2 is the unit of a radius's APT values: it must be a
// normal float in world units, and, against a voxel's votes, hold more than
// single precision's resolution (2^-23 of a square voxel), or a value becomes
// infinite or meaningless.
void checkSphereArea(const std::string& what, double voxels, double h, const std::string& change,
                     const SettingNames& names) {
    const float area = static_cast<float>(FOUR_PI * (voxels * h) * (voxels * h));
    const bool underflows = !(area >= FLT_MIN) || FOUR_PI * voxels * voxels < FLT_EPSILON;
    if (!underflows) return;
    throw Error(what + " is " + number(voxels * h) + " (" + number(voxels) +
                " voxels): the area 4 pi r^2 of its sphere underflows single precision against "
                "the voxel; give " +
                change + " or a finer grid resolution (" + names.resolution + ")");
}

void checkSphereAreas(const MaptRun& run, int radiusCount, double h, const SettingNames& names) {
    double r = run.startRadius;
    for (int k = 0; k < radiusCount; ++k, r += run.radiusStep)
        checkSphereArea("radius " + std::to_string(k) + " of the run", r, h,
                        std::string("a larger starting radius (") + names.startRadius +
                            ") or step (" + names.radiusStep + ")",
                        names);
    checkSphereArea("sigma", run.sigma, h, std::string("a larger sigma (") + names.sigma + ")",
                    names);
}

}  // namespace

void checkMeshScale(const TriMesh& mesh) {
    const double extent = largestExtent(mesh);
    if (extent == 0.0 || (extent >= MIN_EXTENT && extent <= MAX_EXTENT)) return;
    throw Error("the mesh's size (largest extent " + number(extent) + ") lies outside " +
                number(MIN_EXTENT) + " .. " + number(MAX_EXTENT) +
                ", where single precision computes its normals, areas and votes: give its "
                "coordinates in a unit that brings it into that range");
}

void resolveSettings(MaptRun& run, const TriMesh& mesh, const TransformSettings& settings) {
    checkLength("starting radius", settings.startRadius);
    checkLength("radius step", settings.radiusStep);
    checkLength("sigma", settings.sigma);
    checkMeshScale(mesh);
    const double h = deriveGridResolution(mesh, settings.gridResolution, settings.names);
    for (double& size : run.grid.voxelSize) size = h;
    run.startRadius = settings.startRadius / h;
    run.radiusStep = settings.radiusStep / h;
    // A negative sigma is left undivided; it is refused just below.
    run.sigma = settings.sigma > 0.0 ? settings.sigma / h : settings.sigma;
    if (run.startRadius == 0.0) run.startRadius = 1.0;
    if (run.radiusStep == 0.0) run.radiusStep = 3.0;
    if (run.sigma == 0.0) run.sigma = 3.0;
    if (run.sigma < 0.0)
        throw Error("sigma " + number(settings.sigma) + " is negative" +
                    clockwiseHint(settings.names));
    checkRadii(run, settings.radiusCount, h, settings.names);
    checkSphereAreas(run, settings.radiusCount, h, settings.names);
    run.kernel = settings.kernel;
    run.tensorsOn = settings.tensorsOn;
    run.bothSides = settings.bothSides;
    run.blendNormals = settings.blendNormals;
    run.evenSampling = settings.evenSampling;
    run.outDir = settings.outDir;
    run.formats = settings.formats;
}

}  // namespace shapescale
