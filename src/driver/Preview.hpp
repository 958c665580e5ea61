#pragma once
// --preview: PNG pictures of the final volumes, written when the run has them.

#include <string>
#include <vector>

#include "mapt/RunObserver.hpp"

namespace shapescale {

/// Writes "preview_jmapt.png" (the MAPT value) and "preview_scale.png" (the
/// radius of the maximum in world units: the scale volume times h) into the
/// output directory, see renderPreview for the picture.
class PreviewWriter : public RunObserver {
  public:
    explicit PreviewWriter(std::string outDir) : outDir_(std::move(outDir)) {}
    /// @throw Error when a picture cannot be written
    void finalVolumes(const FinalVolumes& volumes) override;
    /// The pictures written so far.
    const std::vector<std::string>& files() const { return files_; }

  private:
    std::string outDir_;
    std::vector<std::string> files_;
};

}  // namespace shapescale
