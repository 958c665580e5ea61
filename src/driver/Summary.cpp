#include "driver/Summary.hpp"

#include <nlohmann/json.hpp>

#include "io/OutputFile.hpp"
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
        {"seconds", timesPart(in, record)},
        {"peakMemoryBytes", in.peakMemoryBytes},
        {"files", files},
    };
    // Invalid UTF-8 in a path (file names are bytes) is replaced, not fatal.
    const std::string text = summary.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    OutputFile out(path);
    out.write(text.data(), text.size());
    out.close();
}

}  // namespace shapescale
