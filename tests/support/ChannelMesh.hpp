#pragma once
// Closed surfaces built from cubic cells: the boundary of a set of solid
// cells, and a block with a cavity reached only through a bent channel.

#include <array>
#include <vector>

#include "support/MeshBuilders.hpp"

namespace shapescale::test {

using Cell = std::array<int, 3>;

/// Boundary of the union of the solid cells, cell (i, j, k) spanning
/// [i, i + 1] x [j, j + 1] x [k, k + 1] times `cellSize` (world units): two
/// triangles for every cell face that no other solid cell shares,
/// counter-clockwise seen from outside. Closed by construction; vertices are
/// not shared between faces.
PolyMesh cellSurface(const std::vector<Cell>& solid, double cellSize);

/// The cells of the bent-channel block: 6 x 6 x 3 cells, all solid except a
/// cavity of 2 x 2 x 1 cells in the middle layer (k = 1) and a channel that
/// enters at the face x = 0, runs along +x, turns to +y and opens into the
/// cavity. No line parallel to an axis leads from outside the block into the
/// cavity or into the channel past its bend.
struct BentChannelBlock {
    static constexpr Cell EXTENT = {6, 6, 3};
    static constexpr std::array<Cell, 3> STRAIGHT = {{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}}};
    static constexpr std::array<Cell, 2> BENT = {{{2, 2, 1}, {2, 3, 1}}};
    static constexpr std::array<Cell, 4> CAVITY = {{{3, 3, 1}, {4, 3, 1}, {3, 4, 1}, {4, 4, 1}}};

    static bool isEmpty(const Cell& c);
    static PolyMesh mesh(double cellSize);
};

}  // namespace shapescale::test
