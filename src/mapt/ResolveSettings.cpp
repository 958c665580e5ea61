#include "mapt/ResolveSettings.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/Error.hpp"

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

}  // namespace

void resolveSettings(MaptRun& run, const TriMesh& mesh, const TransformSettings& settings) {
    checkLength("starting radius", settings.startRadius);
    checkLength("radius step", settings.radiusStep);
    checkLength("sigma", settings.sigma);
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
    run.kernel = settings.kernel;
    run.tensorsOn = settings.tensorsOn;
    run.bothSides = settings.bothSides;
    run.blendNormals = settings.blendNormals;
    run.evenSampling = settings.evenSampling;
    run.outDir = settings.outDir;
    run.formats = settings.formats;
}

}  // namespace shapescale
