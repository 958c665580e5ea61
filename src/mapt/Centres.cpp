#include "mapt/Centres.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "core/Error.hpp"

namespace shapescale {

namespace {

struct Voxel {
    std::size_t x, y, z;
};

Voxel voxelAt(const Grid& grid, std::size_t i) {
    const std::size_t nx = grid.nx(), ny = grid.ny();
    return {i % nx, i / nx % ny, i / (nx * ny)};
}

// Calls visit(j) for every neighbour j of v inside the grid (26 at most).
template <class Visit>
void forNeighbours(const Grid& grid, const Voxel& v, Visit&& visit) {
    const std::size_t x0 = v.x > 0 ? v.x - 1 : 0, x1 = std::min(v.x + 1, grid.nx() - 1);
    const std::size_t y0 = v.y > 0 ? v.y - 1 : 0, y1 = std::min(v.y + 1, grid.ny() - 1);
    const std::size_t z0 = v.z > 0 ? v.z - 1 : 0, z1 = std::min(v.z + 1, grid.nz() - 1);
    for (std::size_t z = z0; z <= z1; ++z)
        for (std::size_t y = y0; y <= y1; ++y)
            for (std::size_t x = x0; x <= x1; ++x)
                if (x != v.x || y != v.y || z != v.z) visit(grid.index(x, y, z));
}

// The voxels not outside, at or above the threshold, that no neighbour not
// outside exceeds, in index order. Most voxels fail the first two tests, so
// one pass over the grid costs little more than reading it; each thread
// collects its own slices, joined in slice order.
std::vector<std::size_t> candidateVoxels(const Grid& grid, const unsigned char* labels,
                                         const float* jmapt, float threshold) {
    const auto nz = static_cast<std::int64_t>(grid.nz());
    const std::size_t slice = grid.sliceVoxels();
    std::vector<std::vector<std::size_t>> perSlice(grid.nz());
#pragma omp parallel for schedule(static)
    for (std::int64_t z = 0; z < nz; ++z) {
        const std::size_t begin = static_cast<std::size_t>(z) * slice;
        for (std::size_t i = begin; i < begin + slice; ++i) {
            const float value = jmapt[i];
            if (!(value >= threshold) || labels[i] == LABEL_OUTSIDE) continue;
            bool exceeded = false;
            forNeighbours(grid, voxelAt(grid, i), [&](std::size_t j) {
                exceeded = exceeded || (labels[j] != LABEL_OUTSIDE && jmapt[j] > value);
            });
            if (!exceeded) perSlice[static_cast<std::size_t>(z)].push_back(i);
        }
    }
    std::vector<std::size_t> all;
    for (const auto& list : perSlice) all.insert(all.end(), list.begin(), list.end());
    return all;
}

struct Plateau {
    std::vector<std::size_t> members;
    bool isMaximum = true;
};

// The voxels not outside of value jmapt[seed] connected to `seed`, each
// marked in `visited`; a maximum when every one of them is a candidate (a
// member that is not one has a greater neighbour).
Plateau floodPlateau(const Grid& grid, const unsigned char* labels, const float* jmapt,
                     const std::vector<std::size_t>& candidates, std::size_t seed,
                     std::unordered_set<std::size_t>& visited) {
    const float value = jmapt[seed];
    Plateau p;
    std::vector<std::size_t> stack = {seed};
    visited.insert(seed);
    while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        p.members.push_back(i);
        if (!std::binary_search(candidates.begin(), candidates.end(), i)) p.isMaximum = false;
        forNeighbours(grid, voxelAt(grid, i), [&](std::size_t j) {
            if (labels[j] != LABEL_OUTSIDE && jmapt[j] == value && visited.insert(j).second)
                stack.push_back(j);
        });
    }
    return p;
}

// The centre of a plateau: the centroid of its voxel centres, and the member
// nearest to it (the lowest index on ties), whose scale gives the radius.
Centre centreOf(const Grid& grid, const float* jmapt, const float* scaleVox, const Plateau& p) {
    // Integer sums: the centroid does not depend on the order of the flood.
    std::int64_t sum[3] = {0, 0, 0};
    for (std::size_t i : p.members) {
        const Voxel v = voxelAt(grid, i);
        sum[0] += static_cast<std::int64_t>(v.x);
        sum[1] += static_cast<std::int64_t>(v.y);
        sum[2] += static_cast<std::int64_t>(v.z);
    }
    const auto count = static_cast<std::int64_t>(p.members.size());
    double centroid[3];
    for (int a = 0; a < 3; ++a)
        centroid[a] = static_cast<double>(sum[a]) / static_cast<double>(count);
    std::size_t nearest = p.members.front();
    double best = HUGE_VAL;
    for (std::size_t i : p.members) {
        const Voxel v = voxelAt(grid, i);
        const double d[3] = {static_cast<double>(v.x) - centroid[0],
                             static_cast<double>(v.y) - centroid[1],
                             static_cast<double>(v.z) - centroid[2]};
        const double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        if (d2 < best || (d2 == best && i < nearest)) {
            best = d2;
            nearest = i;
        }
    }
    const double h = grid.h();
    const Voxel v = voxelAt(grid, nearest);
    Centre c;
    // Voxel (i, j, k) spans origin + [i, i + 1) h: its centre is half a voxel up.
    for (int a = 0; a < 3; ++a)
        c.position[a] = static_cast<double>(grid.origin[a]) + (centroid[a] + 0.5) * h;
    c.radius = static_cast<double>(scaleVox[nearest]) * h;
    c.jmapt = jmapt[nearest];
    c.voxel[0] = static_cast<int>(v.x);
    c.voxel[1] = static_cast<int>(v.y);
    c.voxel[2] = static_cast<int>(v.z);
    c.voxels = count;
    return c;
}

double squaredDistance(const Centre& a, const Centre& b) {
    double d2 = 0;
    for (int k = 0; k < 3; ++k)
        d2 += (a.position[k] - b.position[k]) * (a.position[k] - b.position[k]);
    return d2;
}

// Strongest first, dropping every centre closer to a kept one than the larger
// of their radii. The kept centres sit in cells as wide as the largest
// radius, so each centre is compared with those of the 27 cells around it.
std::vector<Centre> suppressWeaker(const Grid& grid, const std::vector<Centre>& sorted) {
    double cell = 0;
    for (const Centre& c : sorted) cell = std::max(cell, c.radius);
    if (!(cell > 0)) cell = grid.h();
    auto cellOf = [&](const Centre& c, int a) {
        return static_cast<std::int64_t>(
            std::floor((c.position[a] - static_cast<double>(grid.origin[a])) / cell));
    };
    // 21 bits per axis; cells beyond share keys, which only adds comparisons.
    auto key = [](std::int64_t x, std::int64_t y, std::int64_t z) {
        const auto bits = [](std::int64_t v) {
            return static_cast<std::uint64_t>(v + 1) & 0x1fffff;
        };
        return bits(x) << 42 | bits(y) << 21 | bits(z);
    };
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> cells;
    std::vector<Centre> kept;
    for (const Centre& c : sorted) {
        const std::int64_t cx = cellOf(c, 0), cy = cellOf(c, 1), cz = cellOf(c, 2);
        bool suppressed = false;
        for (std::int64_t z = cz - 1; z <= cz + 1 && !suppressed; ++z)
            for (std::int64_t y = cy - 1; y <= cy + 1 && !suppressed; ++y)
                for (std::int64_t x = cx - 1; x <= cx + 1 && !suppressed; ++x) {
                    const auto found = cells.find(key(x, y, z));
                    if (found == cells.end()) continue;
                    for (std::size_t k : found->second) {
                        const double reach = std::max(kept[k].radius, c.radius);
                        if (squaredDistance(kept[k], c) < reach * reach) {
                            suppressed = true;
                            break;
                        }
                    }
                }
        if (suppressed) continue;
        cells[key(cx, cy, cz)].push_back(kept.size());
        kept.push_back(c);
    }
    return kept;
}

template <class T>
void appendNumber(std::string& text, T value) {
    char buffer[64];
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.append(buffer, done.ptr);
}

}  // namespace

void checkCentreThreshold(double threshold, const std::string& what) {
    if (!(threshold > 0.0) || !std::isfinite(threshold))
        throw Error(what + " must be a number above 0, not " + std::to_string(threshold));
}

std::vector<Centre> findCentres(const Grid& grid, const unsigned char* labels, const float* jmapt,
                                const float* scaleVox, float threshold) {
    checkCentreThreshold(threshold, "the centre threshold");
    if (grid.empty()) return {};
    const std::vector<std::size_t> candidates = candidateVoxels(grid, labels, jmapt, threshold);
    std::unordered_set<std::size_t> visited;
    std::vector<Centre> centres;
    for (std::size_t seed : candidates) {
        if (visited.count(seed) != 0) continue;
        const Plateau p = floodPlateau(grid, labels, jmapt, candidates, seed, visited);
        if (!p.isMaximum) continue;
        centres.push_back(centreOf(grid, jmapt, scaleVox, p));
    }
    auto indexOf = [&](const Centre& c) {
        return grid.index(static_cast<std::size_t>(c.voxel[0]),
                          static_cast<std::size_t>(c.voxel[1]),
                          static_cast<std::size_t>(c.voxel[2]));
    };
    std::sort(centres.begin(), centres.end(), [&](const Centre& a, const Centre& b) {
        if (a.jmapt != b.jmapt) return a.jmapt > b.jmapt;
        return indexOf(a) < indexOf(b);
    });
    return suppressWeaker(grid, centres);
}

std::string centresCsv(const std::vector<Centre>& centres) {
    std::string text = "x,y,z,radius,jmapt,i,j,k,voxels\n";
    for (const Centre& c : centres) {
        for (double p : c.position) {
            appendNumber(text, p);
            text += ',';
        }
        appendNumber(text, c.radius);
        text += ',';
        appendNumber(text, c.jmapt);
        for (int v : c.voxel) {
            text += ',';
            appendNumber(text, v);
        }
        text += ',';
        appendNumber(text, c.voxels);
        text += '\n';
    }
    return text;
}

}  // namespace shapescale
