#pragma once
// The lengths of a run derived from the size of the mesh: the command line's
// defaults, shared by every front end so that they all run the same settings.

#include "mapt/Settings.hpp"
#include "mesh/TriMesh.hpp"

namespace shapescale {

/// The lengths a user asked for, as the command line holds them: world units
/// rounded to single precision; 0 asks for the derived default.
struct RequestedLengths {
    float gridResolution = 0.0f;
    float startRadius = 0.0f;
    float radiusStep = 0.0f;
    float sigma = 0.0f;
    int radiusCount = 0;
};

/// The settings after defaults, as the command line's summary line shows them.
struct RunSettings {
    float volume = 0.0f;     ///< signed volume V
    float baseScale = 0.0f;  ///< length unit of the defaults, world units
    float gridResolution = 0.0f;
    float startRadius = 0.0f;
    float radiusStep = 0.0f;
    float sigma = 0.0f;
    int radiusCount = 0;
};

/// The length unit of the defaults, world units: closed meshes use the radius
/// of the sphere of equal volume over 25, others the radius of the sphere of
/// equal area over 40. Negative for a closed mesh ordered clockwise.
float baseScaleOf(const MeshMeasures& measures, bool closedMesh);

/// Replaces every requested setting equal to 0 (a NaN is not) by its default:
/// grid resolution, step and sigma the base scale, starting radius twice the
/// base scale, 8 radii.
/// @param[in] requested   world units; 0 = derive
/// @param[in] measures    of the mesh as loaded (measureMesh)
/// @param[in] closedMesh  true for the closed-mesh voxeliser
RunSettings deriveRunSettings(const RequestedLengths& requested, const MeshMeasures& measures,
                              bool closedMesh);

/// `settings` with the lengths and the radius count of `derived`.
TransformSettings withLengths(TransformSettings settings, const RunSettings& derived);

}  // namespace shapescale
