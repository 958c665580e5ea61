#pragma once
// --vtk: the final volumes of a run as one VTK ImageData file, which ParaView
// opens by itself, every array by name.

#include <string>

#include "mapt/RunObserver.hpp"

namespace shapescale {

/// Writes "result.vti" into the output directory (see writeVtkImageData):
/// point arrays jmapt, scale in world units (the scale volume times h, rounded
/// to float), labels and, with tensors, the six tensor volumes by their file
/// names.
class VtkImageWriter : public RunObserver {
  public:
    /// @param report  told of the file once it is complete (the run's record)
    VtkImageWriter(std::string outDir, RunObserver& report)
        : outDir_(std::move(outDir)), report_(report) {}
    /// @throw Error when the file cannot be written
    void finalVolumes(const FinalVolumes& volumes) override;

  private:
    std::string outDir_;
    RunObserver& report_;
};

}  // namespace shapescale
