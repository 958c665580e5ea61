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

// Bytes of one float volume of `voxels` in every format it is written in: an
// Analyze pair (348-byte header), a NIfTI file (352-byte header), a gzipped one
// no larger than deflate's stored blocks (5 bytes per 65535) and the gzip frame.
double volumeBytes(double voxels, const VolumeFormats& formats) {
    const double data = 4.0 * voxels;
    double bytes = 348.0 + data;
    if (formats.nifti) bytes += 352.0 + data;
    if (formats.niftiGz) bytes += 352.0 + data + 5.0 * std::ceil((352.0 + data) / 65535.0) + 64.0;
    return bytes;
}

// The caller's files: "result.vti" holds jmapt, scale (and six tensors) as
// floats and the labels as bytes, each array behind an 8-byte length, under an
// XML header; a PNG preview is at most its raw pixels (about 1300 x 450 RGB)
// plus deflate's overhead.
double extraBytes(double voxels, bool tensorsOn, const ExtraOutputs& extras) {
    double bytes = extras.otherBytes;
    const int floatArrays = tensorsOn ? 8 : 2;
    if (extras.vtkImage) bytes += (4.0 * floatArrays + 1.0) * voxels + 8.0 * 9 + 4096.0;
    if (extras.previews) bytes += 2 * 2.0 * 1024 * 1024;
    return bytes;
}

}  // namespace

// Address space that the writer thread reserves besides the run's buffers:
// its stack (the soft stack limit, 8 MiB when unlimited) and the malloc arena
// it gets (glibc reserves 64 MiB of address space per arena on 64-bit
// systems). Not memory in use, so it counts against RLIMIT_AS only. The
// worker threads already run (the mesh's normals started them): their
// reserve is in what is in use.
double writerThreadReserve(bool writesFiles) {
    if (!writesFiles) return 0.0;
    constexpr double MIB = 1024.0 * 1024.0;
    double stack = 8.0 * MIB;
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        stack = static_cast<double>(limit.rlim_cur);
    return stack + 64.0 * MIB;
}

void checkGridFits(const TriMesh& mesh, const int* dims, bool tensorsOn, KernelChoice kernel,
                   Voxeliser voxeliser, bool writesFiles, const SettingNames& names) {
    if (writesFiles) checkAnalyzeDims(dims);
    const MemoryEstimate m = estimateMemory(mesh, dims, tensorsOn, kernel, voxeliser, writesFiles);
    double needed = m.total();
    std::string limit;
    std::string reserve;
    const double physical = static_cast<double>(physicalMemory());
    if (needed > physical) limit = "more than this machine has (" + gibibytes(physical) + ")";
    rlimit as{};
    if (limit.empty() && getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        const double inUse = addressSpaceInUse();
        const double threads = writerThreadReserve(writesFiles);
        if (needed + threads > static_cast<double>(as.rlim_cur) - inUse) {
            needed += threads;
            if (threads > 0) reserve = ", the writer thread's stack and heap " + gibibytes(threads);
            limit = "more than the address-space limit leaves (RLIMIT_AS " +
                    gibibytes(static_cast<double>(as.rlim_cur)) + ", " + gibibytes(inUse) +
                    " of it in use)";
        }
    }
    if (limit.empty()) return;
    throw OutOfMemory("the grid " + gridText(dims) + " needs " + gibibytes(needed) +
                      " of memory (labels " + gibibytes(m.labels) + ", " +
                      std::to_string(m.floatVolumes) + " float volumes " + gibibytes(m.volumes) +
                      ", filter and voting temporaries " + gibibytes(m.temporaries) + ", mesh " +
                      gibibytes(m.mesh) + reserve + "), " + limit +
                      "; choose a coarser grid resolution with " + names.resolution);
}

void checkOutputFits(const std::string& outDir, const int* dims, int radiusCount, bool tensorsOn,
                     const VolumeFormats& formats, const ExtraOutputs& extras,
                     const SettingNames& names) {
    const double voxels = static_cast<double>(voxelCount(dims));
    const double volume = volumeBytes(voxels, formats);
    const double perRadius = (tensorsOn ? 2.0 : 1.0) * volume + 12.0 * 21.0;  // hist line
    const double finals = (tensorsOn ? 8.0 : 2.0) * volume + 200.0 +          // info.txt
                          extraBytes(voxels, tensorsOn, extras);
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
