#pragma once
// The centres of the round parts of a shape, read off the final volumes: the
// local maxima of jmapt, one per plateau of equal values, strongest first,
// each with the radius that the scale volume gives there.

#include <cstdint>
#include <string>
#include <vector>

#include "core/Grid.hpp"

namespace shapescale {

/// The threshold of findCentres by default: half a sphere's area, the lower
/// bound of histogram bin 6. A ball whose surface the filter gathers whole
/// gives (R / r)^2, 1 and more, at its centre; a narrow filter (-g a tenth of
/// -s) still 0.75 to 1, a bulb that is not quite a ball 0.6 to 0.8. The
/// voxels just inside a surface stay below 0.2, the mid-plane of a slab near
/// 0.125; the axis of a tube of radius rho gets about sigma_r / rho (near 0.5
/// with the derived defaults), so tubes may give centres along their axes.
inline constexpr float DEFAULT_CENTRE_THRESHOLD = 0.5f;

/// One centre: a plateau of voxels of one jmapt value that no neighbour
/// exceeds.
struct Centre {
    double position[3] = {0, 0, 0};  ///< world units: centroid of the plateau's voxel centres
    double radius = 0;               ///< world units: scale at `voxel` times h
    float jmapt = 0;                 ///< the plateau's value
    int voxel[3] = {0, 0, 0};        ///< the plateau's voxel nearest its centroid
    std::int64_t voxels = 0;         ///< voxels of the plateau
};

/// The centres of a run's final volumes, strongest first (ties: lowest voxel
/// index of `voxel` first).
///
/// A voxel not outside whose jmapt is at least `threshold` and that none of
/// its 26 neighbours not outside exceeds starts a plateau: the voxels not
/// outside of the same value connected to it through their 26 neighbours. A
/// plateau every voxel of which is such a voxel is a local maximum and gives
/// one centre. Going strongest first, a centre closer to a kept one than the
/// larger of their two radii is dropped.
///
/// @param[in] grid       dims, origin (world units) and h
/// @param[in] labels     nx*ny*nz, index x + nx*(y + ny*z); LABEL_OUTSIDE or not
/// @param[in] jmapt      same layout
/// @param[in] scaleVox   same layout, voxel units
/// @param[in] threshold  smallest jmapt of a centre; must be above 0
/// @return the same list for any number of threads
std::vector<Centre> findCentres(const Grid& grid, const unsigned char* labels, const float* jmapt,
                                const float* scaleVox, float threshold);

/// The centres as CSV: the header "x,y,z,radius,jmapt,i,j,k,voxels" and one
/// line per centre; every number in the shortest text that reads back to the
/// same double (x, y, z, radius) or float (jmapt).
std::string centresCsv(const std::vector<Centre>& centres);

/// Checks a threshold for findCentres; `what` names it in the message.
/// @throw Error unless it is a finite number above 0
void checkCentreThreshold(double threshold, const std::string& what);

}  // namespace shapescale
