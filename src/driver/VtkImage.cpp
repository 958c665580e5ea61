#include "driver/VtkImage.hpp"

#include <vector>

#include "io/VtkXml.hpp"

namespace shapescale {

void VtkImageWriter::finalVolumes(const FinalVolumes& v) {
    const std::size_t n = v.grid->voxels();
    // jmapt first: the array a viewer shows when the file is opened.
    std::vector<VtkPointArray> arrays = {
        {"jmapt", std::span(v.jmapt, n)},
        {"scale", std::span(v.scale, n), v.grid->h()},
        {"labels", std::span(v.labels, n)},
    };
    for (std::size_t c = 0; c < TENSOR_NAMES.size(); ++c)
        if (v.bestTensor[c] != nullptr)
            arrays.emplace_back(TENSOR_NAMES[c], std::span(v.bestTensor[c], n));
    const std::string path = outDir_ + "/result.vti";
    writeVtkImageData(path, *v.grid, arrays);
    report_.fileWritten(path);
}

}  // namespace shapescale
