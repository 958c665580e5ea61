#include "support/ChannelMesh.hpp"

#include <algorithm>
#include <set>

namespace shapescale::test {

PolyMesh cellSurface(const std::vector<Cell>& solid, double cellSize) {
    const std::set<Cell> cells(solid.begin(), solid.end());
    PolyMesh mesh;
    for (const Cell& c : cells) {
        for (int axis = 0; axis < 3; ++axis) {
            for (int side : {0, 1}) {
                Cell neighbour = c;
                neighbour[axis] += side == 1 ? 1 : -1;
                if (cells.count(neighbour) != 0) continue;
                // Corners (0,0), (1,0), (1,1), (0,1) in the two following axes
                // turn counter-clockwise around +axis; the low side is reversed.
                const int b = (axis + 1) % 3, d = (axis + 2) % 3;
                const int quad[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
                const int first = static_cast<int>(mesh.vertices.size());
                for (const auto& corner : quad) {
                    std::array<double, 3> p{};
                    p[axis] = (c[axis] + side) * cellSize;
                    p[b] = (c[b] + corner[0]) * cellSize;
                    p[d] = (c[d] + corner[1]) * cellSize;
                    mesh.vertices.push_back(p);
                }
                std::vector<int> order = {first, first + 1, first + 2, first + 3};
                if (side == 0) std::reverse(order.begin() + 1, order.end());
                mesh.faces.push_back({order[0], order[1], order[2]});
                mesh.faces.push_back({order[0], order[2], order[3]});
            }
        }
    }
    return mesh;
}

bool BentChannelBlock::isEmpty(const Cell& c) {
    auto in = [&c](const auto& list) {
        return std::find(list.begin(), list.end(), c) != list.end();
    };
    return in(STRAIGHT) || in(BENT) || in(CAVITY);
}

PolyMesh BentChannelBlock::mesh(double cellSize) {
    std::vector<Cell> solid;
    for (int i = 0; i < EXTENT[0]; ++i)
        for (int j = 0; j < EXTENT[1]; ++j)
            for (int k = 0; k < EXTENT[2]; ++k)
                if (!isEmpty({i, j, k})) solid.push_back({i, j, k});
    return cellSurface(solid, cellSize);
}

}  // namespace shapescale::test
