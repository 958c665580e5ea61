#pragma once
// Preview pictures of a volume: its three orthogonal mid-slices in a
// perceptual colour map, a labelled colour bar and the outline of the shape.

#include <string>

#include "core/Grid.hpp"
#include "io/Png.hpp"

namespace shapescale {

/// Where the parts of a preview go, in pixels. A grid of at most 320 voxels
/// per axis is drawn with each voxel as a square of `scale` pixels,
/// scale = clamp(320 / max(nx, ny, nz), 1, 8) (integer division); a larger
/// one with one pixel for every `stride`-th voxel, stride = ceil(max / 320).
/// With cells(n) = ceil(n / stride), left to right with 10-pixel margins: the
/// XY slice (cells(nx) by cells(ny), at z = nz/2), the XZ slice (cells(nx) by
/// cells(nz), at y = ny/2), the YZ slice (cells(ny) by cells(nz), at x = nx/2),
/// each with its second axis pointing up, then the colour bar (16 pixels wide)
/// and its labels (72 pixels). A 14-pixel band above holds the names. So
///   width  = 10 + scale*(2*cells(nx) + cells(ny)) + 3*10 + 16 + 4 + 72 + 10
///   height = 10 + 14 + scale*max(cells(ny), cells(nz)) + 10
struct PreviewLayout {
    int scale = 1;   ///< pixels per voxel
    int stride = 1;  ///< voxels per pixel
    int cells[3] = {0, 0, 0};
    int width = 0;
    int height = 0;
};
PreviewLayout previewLayout(const int* dims);

/// Renders the preview of one volume.
/// @param[in] values  nx*ny*nz floats, index x + nx*(y + ny*z); the colour
///                    map spans [min(0, smallest), largest] of the finite values
/// @param[in] labels  nx*ny*nz labels; the voxels not LABEL_OUTSIDE that touch
///                    an outside voxel in the slice are drawn white (the outline),
///                    the outside voxels in pale colours
/// @param[in] grid    dims of both volumes
/// @param[in] title   drawn above the colour bar (digits, '.', '-', '+' and the
///                    letters of JMAPT, SCALE, XYZ, W, O, R, D; others are blank)
RgbImage renderPreview(const float* values, const unsigned char* labels, const Grid& grid,
                       const std::string& title);

/// The viridis-like colour of t in [0, 1] (clamped), as 3 bytes.
void viridis(double t, unsigned char* rgb);

}  // namespace shapescale
