#include "driver/Preview.hpp"

#include <vector>

#include "io/PngPreview.hpp"

namespace shapescale {

void PreviewWriter::finalVolumes(const FinalVolumes& v) {
    const Grid& grid = *v.grid;
    const std::string jmaptPath = outDir_ + "/preview_jmapt.png";
    savePng(jmaptPath, renderPreview(v.jmapt, v.labels, grid, "JMAPT"));
    files_.push_back(jmaptPath);

    // The scale volume holds voxel units; the picture shows world units.
    std::vector<float> world(grid.voxels());
    const double h = grid.h();
    for (std::size_t i = 0; i < world.size(); ++i)
        world[i] = static_cast<float>(static_cast<double>(v.scale[i]) * h);
    const std::string scalePath = outDir_ + "/preview_scale.png";
    savePng(scalePath, renderPreview(world.data(), v.labels, grid, "SCALE"));
    files_.push_back(scalePath);
}

}  // namespace shapescale
