#include "mapt/ResourceChecks.hpp"

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include <omp.h>

#include "core/Error.hpp"
#include "filters/FilterWorkspace.hpp"
#include "io/Analyze.hpp"
#include "mapt/Filtering.hpp"
#include "mapt/MaptRun.hpp"

namespace shapescale {

namespace {

std::size_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return SIZE_MAX;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}

// Address space this process already holds (code, libraries, the mesh),
// which counts against RLIMIT_AS too; 0 when it cannot be read.
double addressSpaceInUse() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0.0;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    return read ? static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGE_SIZE)) : 0.0;
}

// Bytes a run holds at its peak, in the order they are allocated.
struct MemoryEstimate {
    double labels = 0;   ///< one byte per voxel
    double volumes = 0;  ///< votes, apt, jmapt, scale (+ 12 tensor volumes), writer's
    double temporaries =
        0;  ///< the filters' workspace (two float volumes unless the ball sum alone), voting lists
    double mesh = 0;  ///< the mesh's arrays, shared by every copy
    int floatVolumes = 0;
    double total() const { return labels + volumes + temporaries + mesh; }
};

// Every copy of the mesh shares its arrays: vertices, normals, the smoothing's
// displacements (one triple each per vertex), faces and the neighbour lists
// count once. The nearest-vertex voxeliser's k-d tree holds about 200 bytes
// per vertex (point copies, three rank lists, heaps), counted with the mesh.
MemoryEstimate estimateMemory(const TriMesh& mesh, const int* dims, bool tensorsOn,
                              KernelChoice kernel, Voxeliser voxeliser, bool writesFiles) {
    const double n = static_cast<double>(voxelCount(dims));
    MemoryEstimate m;
    // The writer holds the APT volume (and the xx tensor) of the radius it writes.
    const int writing = writesFiles ? (tensorsOn ? 2 : 1) : 0;
    m.floatVolumes = 4 + (tensorsOn ? 2 * TENSOR_COMPONENTS : 0) + writing;
    m.labels = n;
    m.volumes = 4.0 * n * m.floatVolumes;
    m.temporaries =
        FilterWorkspace::reservedBytes(dims, filterNeedsTemporaries(kernel, tensorsOn)) +
        VotingBuffers().peakBytes(omp_get_max_threads(), dims[2]);
    const double vertices = static_cast<double>(mesh.vertices.size());
    m.mesh = vertices * 3 * sizeof(Vec3f) +
             static_cast<double>(mesh.faces.size()) * sizeof(Triangle) +
             static_cast<double>(mesh.vertexNeighbours.bytes()) +
             (voxeliser == Voxeliser::nearestVertex ? 200.0 * vertices : 0.0);
    return m;
}

// "1.50 GiB", "357 KiB", "1010 MiB": the largest unit below the size.
std::string gibibytes(double bytes) {
    const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (unit < 4 && bytes >= 1024.0) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    const int decimals = unit == 0 || bytes >= 100.0 ? 0 : bytes >= 10.0 ? 1 : 2;
    std::snprintf(text, sizeof text, "%.*f %s", decimals, bytes, units[unit]);
    return text;
}

// Free bytes of the file system that holds `dir`, or of its nearest existing
// ancestor when `dir` is not there yet; infinity when it cannot be asked.
double freeSpaceFor(std::string dir) {
    struct statvfs fs {};
    while (statvfs(dir.c_str(), &fs) != 0) {
        if (errno != ENOENT) return HUGE_VAL;
        const std::size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos)
            dir = ".";
        else if (slash == 0)
            dir = "/";
        else
            dir = dir.substr(0, slash);
        if (dir == "." || dir == "/") {
            if (statvfs(dir.c_str(), &fs) != 0) return HUGE_VAL;
            break;
        }
    }
    return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

}  // namespace

void checkGridFits(const TriMesh& mesh, const int* dims, bool tensorsOn, KernelChoice kernel,
                   Voxeliser voxeliser, bool writesFiles, const SettingNames& names) {
    if (writesFiles) checkAnalyzeDims(dims);
    const MemoryEstimate m = estimateMemory(mesh, dims, tensorsOn, kernel, voxeliser, writesFiles);
    const double needed = m.total();
    std::string limit;
    const double physical = static_cast<double>(physicalMemory());
    if (needed > physical) limit = "more than this machine has (" + gibibytes(physical) + ")";
    rlimit as{};
    if (limit.empty() && getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        const double inUse = addressSpaceInUse();
        if (needed > static_cast<double>(as.rlim_cur) - inUse)
            limit = "more than the address-space limit leaves (RLIMIT_AS " +
                    gibibytes(static_cast<double>(as.rlim_cur)) + ", " + gibibytes(inUse) +
                    " of it in use)";
    }
    if (limit.empty()) return;
    throw OutOfMemory("the grid " + gridText(dims) + " needs " + gibibytes(needed) +
                      " of memory (labels " + gibibytes(m.labels) + ", " +
                      std::to_string(m.floatVolumes) + " float volumes " + gibibytes(m.volumes) +
                      ", filter and voting temporaries " + gibibytes(m.temporaries) + ", mesh " +
                      gibibytes(m.mesh) + "), " + limit +
                      "; choose a coarser grid resolution with " + names.resolution);
}

void checkOutputFits(const std::string& outDir, const int* dims, int radiusCount, bool tensorsOn,
                     const SettingNames& names) {
    // An Analyze pair: the 348-byte header and 4 bytes per voxel.
    const double pair = 348.0 + 4.0 * static_cast<double>(voxelCount(dims));
    const double perRadius = (tensorsOn ? 2.0 : 1.0) * pair + 12.0 * 21.0;  // hist line
    const double finals = (tensorsOn ? 8.0 : 2.0) * pair + 200.0;           // info.txt
    const double needed = std::max(radiusCount, 0) * perRadius + finals;
    const double free = freeSpaceFor(outDir);
    if (needed <= free) return;
    throw Error("the run would write " + gibibytes(needed) + " into " + outDir + " (" +
                std::to_string(radiusCount) + " radii of " + gibibytes(perRadius) +
                " each and the final volumes), more than its file system has free (" +
                gibibytes(free) + "); use fewer radii (" + names.radiusCount +
                ") or a coarser grid (" + names.resolution + ")");
}

}  // namespace shapescale
