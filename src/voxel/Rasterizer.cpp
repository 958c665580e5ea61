#include "voxel/Rasterizer.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"
#include "core/Vec3.hpp"
#include "io/Occupancy.hpp"
#include "voxel/GridSetup.hpp"

namespace shapescale {

namespace {

// Every loop of the rasteriser looks at the signal flag at least once per
// slice of the grid, per triangle or per million voxels of the flood: a stop
// comes within a fraction of a second on any grid. Loops inside a parallel
// region skip their remaining iterations and the flag is checked after it.
const char* const WHILE_VOXELISING = "while voxelising";

// Working label of a voxel a triangle passes through. It becomes
// RASTER_SURFACE only after the occupancy file is written; nothing else may
// hold it, because the sweeps stop at this value and at no other.
constexpr unsigned char MARKED = 100;

using LabelView = VolumeView<unsigned char>;

using Voxel = std::array<int, 3>;

// The six face neighbours (dx, dy, dz), through which the outside floods.
constexpr Voxel nsix[6] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};

// The voxel that holds grid coordinate g on an axis of n voxels: trunc(g),
// toward zero, so coordinates down to -0.5 still land in voxel 0. Returns -1
// where that voxel lies outside 0..n-1 (or g is not a number): the walk can
// reach past the last voxel above the mesh, and such marks are dropped.
inline int voxelOnAxis(float g, int n) {
    if (!(g > -1.0f && g < static_cast<float>(n))) return -1;
    const int c = static_cast<int>(g);
    return c < n ? c : -1;
}

inline void mark(const LabelView& grid, int x, int y, int z) {
    if ((x | y | z) < 0) return;
    grid.data[grid.grid->index(x, y, z)] = MARKED;
}

// Marks the seven voxels of one walk step whose coordinates all lie in the
// grid: each axis from the sample at t or at u, except all three from u (the
// next step's first). They are the first voxel plus any sum of at most two
// of the three axis steps.
inline void markStepInGrid(const LabelView& grid, const int* at, const int* next) {
    unsigned char* first = grid.data + grid.grid->index(at[0], at[1], at[2]);
    const std::ptrdiff_t dx = next[0] - at[0];
    const std::ptrdiff_t dy = (next[1] - at[1]) * static_cast<std::ptrdiff_t>(grid.grid->nx());
    const std::ptrdiff_t dz =
        (next[2] - at[2]) * static_cast<std::ptrdiff_t>(grid.grid->sliceVoxels());
    first[0] = first[dx] = first[dy] = first[dz] = MARKED;
    first[dx + dy] = first[dx + dz] = first[dy + dz] = MARKED;
}

// The same where a coordinate may be -1 (outside the grid): such voxels are
// left out.
inline void markStep(const LabelView& grid, const int* at, const int* next) {
    if ((at[0] | at[1] | at[2] | next[0] | next[1] | next[2]) >= 0) {
        markStepInGrid(grid, at, next);
        return;
    }
    mark(grid, at[0], at[1], at[2]);
    mark(grid, next[0], at[1], at[2]);
    mark(grid, at[0], next[1], at[2]);
    mark(grid, at[0], at[1], next[2]);
    mark(grid, next[0], next[1], at[2]);
    mark(grid, next[0], at[1], next[2]);
    mark(grid, at[0], next[1], next[2]);
}

// The walk proper: steps t = 0, 1, ... with u = t + 1, the last being the
// first whose u is at least `reach`. With IN_GRID every sample is known to lie
// in the grid and goes unchecked.
template <bool IN_GRID>
void walkSamples(const LabelView& grid, const float* p0, const float* dir, float reach) {
    auto voxel = [&](int a, float tau) {
        const float g = p0[a] + dir[a] * tau;
        return IN_GRID ? static_cast<int>(g) : voxelOnAxis(g, grid.grid->dims[a]);
    };
    int at[3];    // voxel coordinates of the sample at t
    int next[3];  // and at u
    for (int a = 0; a < 3; ++a) at[a] = voxel(a, 0.0f);
    for (std::int64_t t = 0;; ++t) {
        const float u = static_cast<float>(t + 1);
        for (int a = 0; a < 3; ++a) next[a] = voxel(a, u);
        if constexpr (IN_GRID)
            markStepInGrid(grid, at, next);
        else
            markStep(grid, at, next);
        if (!(reach > u)) break;
        std::copy(next, next + 3, at);
    }
}

// Marks the voxels along the fan line from p0 to q (grid coordinates), one
// grid unit per step. Each step marks seven of the eight corners of the
// sample box between the positions at t and t + 1, which makes the marked
// voxels a chain in which each shares a face with the next, so the flood
// cannot slip between two of them. All in single precision, product before
// sum (p0 + dir * tau), and the walk runs on while 1 + length > u, up to two
// units past q: the specified walk, kept exactly, since the labels and the
// occupancy file depend on every voxel it marks.
void walkFanLine(const LabelView& grid, const float* p0, const float* q) {
    const float length = dist(p0, q);
    if (length == 0.0f) {
        // p0 is itself a fan point: no direction to walk, only its voxel.
        mark(grid, voxelOnAxis(p0[0], grid.grid->dims[0]), voxelOnAxis(p0[1], grid.grid->dims[1]),
             voxelOnAxis(p0[2], grid.grid->dims[2]));
        return;
    }
    float dir[3];
    diff(q, p0, dir);
    for (int a = 0; a < 3; ++a) dir[a] = dir[a] / length;
    const float reach = 1.0f + length;

    // Rounding is monotonic, so on each axis every sample lies between the
    // first and the last; when both are in the grid, all are. Below 2^24 every
    // u is exact and the last one is ceil(reach).
    if (reach < 16777216.0f) {
        const float lastU = std::ceil(reach);
        bool inGrid = true;
        for (int a = 0; a < 3; ++a)
            inGrid = inGrid && voxelOnAxis(p0[a] + dir[a] * 0.0f, grid.grid->dims[a]) >= 0 &&
                     voxelOnAxis(p0[a] + dir[a] * lastU, grid.grid->dims[a]) >= 0;
        if (inGrid) {
            walkSamples<true>(grid, p0, dir, reach);
            return;
        }
    }
    walkSamples<false>(grid, p0, dir, reach);
}

// Covers one triangle with a fan of lines from its first corner to points one
// grid unit apart along the edge from its second corner to its third.
void markTriangle(const LabelView& grid, const float* const corner[3], const float* origin,
                  float h) {
    float p[3][3];  // grid coordinates, unrounded
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a) p[k][a] = (corner[k][a] - origin[a]) / h;
    const float d01 = dist(p[0], p[1]);
    const float d12 = dist(p[1], p[2]);
    // Only these two coincidences are skipped; a triangle whose first and
    // third corners coincide still draws its first edge.
    if (d01 == 0.0f || d12 == 0.0f) return;
    float e[3];
    diff(p[2], p[1], e);
    for (int a = 0; a < 3; ++a) e[a] = e[a] / d12;

    // The fan runs j = 0, 1, ... while j < 2 d12 + 1 with s = j / 2 rounded
    // down; each s comes twice and the repeat marks nothing new, so every s is
    // walked once here: s = 0 .. d12 rounded to nearest, a half rounded down.
    const float jEnd = 2.0f * d12 + 1.0f;
    for (std::int64_t s = 0; static_cast<float>(2 * s) < jEnd; ++s) {
        const float sf = static_cast<float>(s);
        float q[3];
        for (int a = 0; a < 3; ++a) q[a] = e[a] * sf + p[1][a];
        walkFanLine(grid, p[0], q);
    }
}

void markSurface(const LabelView& grid, const TriMesh& mesh, const float* origin, float h) {
    const std::size_t vertexCount = mesh.vertices.size();
    const std::size_t faceCount = mesh.faces.size();
    for (std::size_t f = 0; f < faceCount; ++f) {
        if (interruptRequested()) checkInterrupt(WHILE_VOXELISING);
        const Triangle& tri = mesh.faces[f];
        const float* corner[3];
        for (int k = 0; k < 3; ++k) {
            if (tri[k] < 0 || static_cast<std::size_t>(tri[k]) >= vertexCount)
                throw Error("triangle " + std::to_string(f) + " names vertex " +
                            std::to_string(tri[k]) + ", but the mesh has " +
                            std::to_string(vertexCount) + " vertices");
            corner[k] = mesh.vertices[static_cast<std::size_t>(tri[k])].data();
        }
        markTriangle(grid, corner, origin, h);
    }
}

// One sweep over lines that run across rows: `count` rows of nx voxels, row k
// at base + k * rowStride, visited in increasing k when `forward`, else in
// decreasing k. Column x of the rows is one line; every voxel of it before
// its first marked voxel becomes outside. `blocked` (nx bytes, scratch)
// records the lines that have met the surface.
void sweepColumns(unsigned char* base, std::size_t rowStride, int count, int nx, bool forward,
                  unsigned char* blocked) {
    std::fill(blocked, blocked + nx, 0);
    for (int i = 0; i < count; ++i) {
        unsigned char* row =
            base + rowStride * static_cast<std::size_t>(forward ? i : count - 1 - i);
        unsigned char open = 0;
        for (int x = 0; x < nx; ++x) {
            const unsigned char stop = blocked[x] | static_cast<unsigned char>(row[x] == MARKED);
            blocked[x] = stop;
            row[x] = stop ? row[x] : LABEL_OUTSIDE;
            open |= static_cast<unsigned char>(!stop);
        }
        if (!open) return;
    }
}

// One sweep along x over `count` consecutive rows of nx voxels, which are
// the lines themselves: from x = 0 (forward) or from x = nx - 1.
void sweepRows(unsigned char* first, int count, std::size_t nx, bool forward) {
    for (int r = 0; r < count; ++r) {
        unsigned char* row = first + nx * static_cast<std::size_t>(r);
        if (forward) {
            const void* hit = std::memchr(row, MARKED, nx);
            const std::size_t n =
                hit != nullptr ? static_cast<const unsigned char*>(hit) - row : nx;
            std::memset(row, LABEL_OUTSIDE, n);
        } else {
            const void* hit = memrchr(row, MARKED, nx);
            const std::size_t from =
                hit != nullptr ? static_cast<const unsigned char*>(hit) - row + 1 : 0;
            std::memset(row + from, LABEL_OUTSIDE, nx - from);
        }
    }
}

// The six sweeps from the faces of the grid. Each one tests only for the
// surface mark and passes through the outside voxels of the others, so a
// voxel ends outside exactly when some sweep reaches it, in whatever order
// they run; this is the same as sweeping +y, +x, +z, -y, -x, -z in turn. The
// x and y sweeps stay within one slice of constant z and run slice by slice
// while it is in cache, then the z sweeps slab by slab of constant y. Lines
// are independent, hence the same labels for any number of threads.
void sweepFromAllFaces(const LabelView& grid) {
    const int nx = grid.grid->dims[0], ny = grid.grid->dims[1], nz = grid.grid->dims[2];
#pragma omp parallel
    {
        std::vector<unsigned char> blocked(static_cast<std::size_t>(nx));
#pragma omp for schedule(static)
        for (int z = 0; z < nz; ++z) {
            if (interruptRequested()) continue;
            unsigned char* slice = grid.data + grid.grid->index(0, 0, z);
            sweepColumns(slice, grid.grid->nx(), ny, nx, true, blocked.data());
            sweepRows(slice, ny, grid.grid->nx(), true);
            sweepColumns(slice, grid.grid->nx(), ny, nx, false, blocked.data());
            sweepRows(slice, ny, grid.grid->nx(), false);
        }
#pragma omp for schedule(static)
        for (int y = 0; y < ny; ++y) {
            if (interruptRequested()) continue;
            unsigned char* slab = grid.data + grid.grid->index(0, y, 0);
            sweepColumns(slab, grid.grid->sliceVoxels(), nz, nx, true, blocked.data());
            sweepColumns(slab, grid.grid->sliceVoxels(), nz, nx, false, blocked.data());
        }
    }
    checkInterrupt(WHILE_VOXELISING);
}

// Outside voxels of the grid's interior that touch an unclassified voxel
// through a face: where the flood starts, in memory order. The flood's result
// is the set of voxels reachable from the seeds, so their order does not
// change the labels.
std::vector<Voxel> findSeeds(const LabelView& grid) {
    std::ptrdiff_t faceOffset[6];  // the face neighbours of nsix as index offsets
    for (int k = 0; k < 6; ++k)
        faceOffset[k] = nsix[k][0] + static_cast<std::ptrdiff_t>(grid.grid->nx()) * nsix[k][1] +
                        static_cast<std::ptrdiff_t>(grid.grid->sliceVoxels()) * nsix[k][2];
    // One row at a time: flags first, in a loop without branches that the
    // compiler vectorises, then the rare flagged voxels.
    const std::size_t nx = static_cast<std::size_t>(grid.grid->dims[0]);
    std::vector<unsigned char> isSeed(nx, 0);
    std::vector<Voxel> seeds;
    for (int z = 1; z < grid.grid->dims[2] - 1; ++z) {
        checkInterrupt(WHILE_VOXELISING);
        for (int y = 1; y < grid.grid->dims[1] - 1; ++y) {
            const unsigned char* row = grid.data + grid.grid->index(0, y, z);
            const unsigned char* neighbourRow[6];
            for (int k = 0; k < 6; ++k) neighbourRow[k] = row + faceOffset[k];
            unsigned char any = 0;
            for (std::size_t x = 1; x + 1 < nx; ++x) {
                unsigned char touches = 0;
                for (const unsigned char* n : neighbourRow)
                    touches |= static_cast<unsigned char>(n[x] == RASTER_INSIDE);
                isSeed[x] = touches & static_cast<unsigned char>(row[x] == LABEL_OUTSIDE);
                any |= isSeed[x];
            }
            if (!any) continue;
            for (std::size_t x = 1; x + 1 < nx; ++x)
                if (isSeed[x]) seeds.push_back({static_cast<int>(x), y, z});
        }
    }
    return seeds;
}

// Breadth-first over face neighbours, one wave at a time: every unclassified
// voxel reached from the seeds becomes outside. The queues grow as needed;
// the order in which neighbours are visited changes the queues, not the set
// of voxels reached.
void floodOutside(const LabelView& grid, std::vector<Voxel> wave) {
    std::vector<Voxel> next;
    while (!wave.empty()) {
        next.clear();
        for (std::size_t i = 0; i < wave.size(); ++i) {
            if (i % (std::size_t{1} << 20) == 0) checkInterrupt(WHILE_VOXELISING);
            const Voxel& v = wave[i];
            for (int k = 0; k < 6; ++k) {
                const auto& step = nsix[static_cast<std::size_t>(k)];
                const Voxel w = {v[0] + step[0], v[1] + step[1], v[2] + step[2]};
                bool inGrid = true;
                for (int a = 0; a < 3; ++a)
                    inGrid = inGrid && static_cast<unsigned>(w[a]) <
                                           static_cast<unsigned>(grid.grid->dims[a]);
                if (!inGrid) continue;
                unsigned char& label = grid.data[grid.grid->index(w[0], w[1], w[2])];
                if (label != RASTER_INSIDE) continue;
                label = LABEL_OUTSIDE;
                next.push_back(w);
            }
        }
        wave.swap(next);
    }
}

}  // namespace

std::vector<unsigned char> rasterizeClosedMesh(TriMesh mesh, float h, int* dims, float* origin,
                                               const std::string& occupancyPath,
                                               bool* occupancyWritten) {
    if (!(h > 0.0f)) throw Error("the voxel size must be positive, not " + std::to_string(h));
    setUpGrid(mesh.bboxMin, mesh.bboxMax, h, dims, origin);
    // Every voxel starts unclassified (RASTER_INSIDE) and keeps that label
    // unless it is marked or reached from outside.
    std::vector<unsigned char> labels = allocateLabelVolume(dims, RASTER_INSIDE);
    Grid layout;
    std::copy(dims, dims + 3, layout.dims);
    const LabelView grid{labels.data(), &layout};

    markSurface(grid, mesh, origin, h);
    sweepFromAllFaces(grid);
    floodOutside(grid, findSeeds(grid));
    const bool written =
        !occupancyPath.empty() && writeOccupancy(occupancyPath, labels.data(), dims, h);
    if (occupancyWritten != nullptr) *occupancyWritten = written;
    for (unsigned char& label : labels) label = label == MARKED ? RASTER_SURFACE : label;
    return labels;
}

}  // namespace shapescale
