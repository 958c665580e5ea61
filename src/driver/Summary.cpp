#include "driver/Summary.hpp"

#include <charconv>
#include <nlohmann/json.hpp>

#include "io/OutputFile.hpp"
#include "mapt/Descriptor.hpp"
#include "mapt/Filtering.hpp"

namespace shapescale {

namespace {

using json = nlohmann::ordered_json;

json triple(const float* v) {
    return json::array(
        {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])});
}

json meshPart(const SummaryInput& in) {
    const TriMesh& mesh = *in.mesh;
    return {
        {"path", in.options->meshPath},
        {"vertices", mesh.vertices.size()},
        {"faces", mesh.nFaces},
        {"triangles", mesh.faces.size()},
        {"volume", static_cast<double>(in.measures.volume)},
        {"area", in.measures.areaSum * 0.5},
        {"bboxMin", triple(mesh.bboxMin)},
        {"bboxMax", triple(mesh.bboxMax)},
        {"edges", in.topology.edges},
        {"boundaryEdges", in.topology.boundaryEdges},
        {"nonManifoldEdges", in.topology.nonManifoldEdges},
        {"closed", in.topology.isClosed()},
        {"consistentlyOriented", in.topology.consistentlyOriented()},
        {"reoriented", in.reoriented},
    };
}

json settingsPart(const SummaryInput& in) {
    const Options& o = *in.options;
    const RunSettings& s = in.settings;
    return {
        {"baseScale", static_cast<double>(s.baseScale)},
        {"gridResolution", static_cast<double>(s.gridResolution)},
        {"startRadius", static_cast<double>(s.startRadius)},
        {"radiusStep", static_cast<double>(s.radiusStep)},
        {"sigma", static_cast<double>(s.sigma)},
        {"radiusCount", s.radiusCount},
        {"kernelChoice", o.kernelChoice},
        {"closedMesh", o.closedMesh != 0},
        {"tensors", o.tensorsOn != 0},
        {"bothSides", o.bothSides != 0},
        {"outDir", o.outDir},
        {"threads", in.threads},
        {"evenSampling", o.evenSampling},
        {"centreThreshold", static_cast<double>(o.centreThreshold)},
    };
}

json gridPart(const RunRecord& r) {
    return {
        {"dims", json::array({r.grid.dims[0], r.grid.dims[1], r.grid.dims[2]})},
        {"origin", triple(r.grid.origin)},
        {"h", r.grid.h()},
    };
}

json radiiPart(const RunRecord& r) {
    const double h = r.grid.h();
    json radii = json::array();
    for (const RunRecord::Radius& k : r.radii) {
        radii.push_back({
            {"index", k.index},
            {"radiusVoxels", k.radiusVox},
            {"radiusWorld", k.radiusVox * h},
            {"sigmaVoxels", filterWidth(k.radiusVox, r.startRadiusVox, r.sigmaVox)},
            {"histogram", k.histogram},
            {"atLeastOne", k.atLeastOne},
            {"seconds",
             {{"smoothing", k.times.smoothing},
              {"voting", k.times.voting},
              {"filtering", k.times.filtering},
              {"maxima", k.times.maxima},
              {"writing", k.times.writing}}},
        });
    }
    return radii;
}

// The float's shortest decimal text read as a double: the summary shows the
// number that the --centres file shows, not the float's binary expansion.
double shortestDecimal(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    double shortest = 0;
    std::from_chars(text, end, shortest);
    return shortest;
}

// The columns of the --centres file, one object per centre.
json centresPart(const RunRecord& r) {
    json centres = json::array();
    for (const Centre& c : r.centres)
        centres.push_back({{"x", c.position[0]},
                           {"y", c.position[1]},
                           {"z", c.position[2]},
                           {"radius", c.radius},
                           {"jmapt", shortestDecimal(c.jmapt)},
                           {"i", c.voxel[0]},
                           {"j", c.voxel[1]},
                           {"k", c.voxel[2]},
                           {"voxels", c.voxels}});
    return centres;
}

json descriptorPart(const SummaryInput& in, const RunRecord& r) {
    std::vector<Histogram> histograms;
    std::vector<std::int64_t> atLeastOne;
    std::vector<double> radiiVox;
    for (const RunRecord::Radius& k : r.radii) {
        histograms.push_back(k.histogram);
        atLeastOne.push_back(k.atLeastOne);
        radiiVox.push_back(k.radiusVox);
    }
    const Descriptor d =
        shapeDescriptor(histograms, atLeastOne, radiiVox, r.grid.h(),
                        static_cast<double>(in.settings.baseScale), r.voxelsNotOutside);
    return {
        {"voxelsNotOutside", d.voxelsNotOutside},
        {"radiiInBaseScales", d.radii},
        {"values", d.values},
    };
}

json timesPart(const SummaryInput& in, const RunRecord& r) {
    double radii = 0;
    for (const RunRecord::Radius& k : r.radii)
        radii += k.times.smoothing + k.times.voting + k.times.filtering + k.times.maxima +
                 k.times.writing;
    return {
        {"loading", in.loadingSeconds},
        {"voxelising", r.voxelisingSeconds},
        {"radii", radii},
        {"finalWriting", r.finalWritingSeconds},
        {"wall", in.wallSeconds},
        {"processor", in.processorSeconds},
    };
}

}  // namespace

void writeSummary(const std::string& path, const SummaryInput& in, const RunRecord& record) {
    json files = record.files;
    for (const std::string& f : in.extraFiles) files.push_back(f);
    const json summary = {
        {"tool", {{"name", "shapescale"}, {"version", SHAPESCALE_VERSION}}},
        {"arguments", in.arguments},
        {"mesh", meshPart(in)},
        {"warnings", in.warnings},
        {"seed", {{"value", in.seed}, {"fromClock", in.seedFromClock}}},
        {"settings", settingsPart(in)},
        {"grid", gridPart(record)},
        {"radii", radiiPart(record)},
        {"centres", centresPart(record)},
        {"descriptor", descriptorPart(in, record)},
        {"seconds", timesPart(in, record)},
        {"peakMemoryBytes", in.peakMemoryBytes},
        {"files", files},
    };
    // Invalid UTF-8 in a path (file names are bytes) is replaced, not fatal.
    const std::string text = summary.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    writeWholeFile(path, text);
}

}  // namespace shapescale
