// The Python extension shapescale._core: the library's reader, the transform
// run in memory, and the scale painted on the mesh. The pure-Python package
// (python/shapescale) wraps it into the documented API.
//
// Volumes reach Python as numpy arrays indexed [x, y, z] that view the C++
// buffers (strides 4, 4 nx, 4 nx ny bytes: Fortran order of the flat
// x-fastest layout), kept alive by the run object they belong to.

#include <omp.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.hpp"
#include "io/PlyWriter.hpp"
#include "mapt/Defaults.hpp"
#include "mapt/Transform.hpp"
#include "mapt/VertexScale.hpp"
#include "mesh/MeshReader.hpp"

namespace py = pybind11;
using namespace shapescale;

namespace {

// ---- errors ---------------------------------------------------------------

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// ---- input arrays ---------------------------------------------------------

std::string shapeText(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        text += (d > 0 ? ", " : "") + std::to_string(a.shape(d));
    return text + (a.ndim() == 1 ? ",)" : ")");
}

bool isInteger(const py::array& a) {
    const char kind = a.dtype().kind();
    return kind == 'i' || kind == 'u';
}

// An (n, 3) array of `what`, checked for shape and kind before any conversion.
void checkTriples(const py::array& a, const char* name, bool integers) {
    if (a.ndim() != 2 || a.shape(1) != 3)
        raise(PyExc_ValueError,
              std::string(name) + " must be an (n, 3) array, not of shape " + shapeText(a));
    const bool ok = integers ? isInteger(a) : (isInteger(a) || a.dtype().kind() == 'f');
    if (!ok)
        raise(PyExc_TypeError, std::string(name) + " must hold " +
                                   (integers ? "integers" : "real numbers") + ", not " +
                                   std::string(py::str(a.dtype())));
    if (a.shape(0) > std::numeric_limits<int>::max())
        raise(PyExc_ValueError, std::string(name) + ": too many rows for the mesh record");
}

// Coordinates as the mesh holds them (single precision), every one finite.
std::vector<Vec3f> verticesFrom(const py::array& input, const char* name = "vertices") {
    checkTriples(input, name, false);
    const auto v = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(input);
    if (!v) throw py::error_already_set();
    const auto r = v.unchecked<2>();
    std::vector<Vec3f> out(static_cast<std::size_t>(r.shape(0)));
    for (py::ssize_t i = 0; i < r.shape(0); ++i)
        for (py::ssize_t a = 0; a < 3; ++a) {
            const float x = static_cast<float>(r(i, a));
            if (!std::isfinite(x))
                raise(PyExc_ValueError, std::string(name) + " row " + std::to_string(i) +
                                            " holds " + std::to_string(r(i, a)) +
                                            ", not a finite single-precision number");
            out[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)] = x;
        }
    return out;
}

std::vector<std::array<int, 3>> facesFrom(const py::array& input, std::size_t vertexCount) {
    checkTriples(input, "faces", true);
    const auto f =
        py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(input);
    if (!f) throw py::error_already_set();
    const auto r = f.unchecked<2>();
    std::vector<std::array<int, 3>> out(static_cast<std::size_t>(r.shape(0)));
    for (py::ssize_t i = 0; i < r.shape(0); ++i)
        for (py::ssize_t a = 0; a < 3; ++a) {
            const std::int64_t w = r(i, a);
            if (w < 0 || static_cast<std::uint64_t>(w) >= vertexCount)
                raise(PyExc_IndexError, "face " + std::to_string(i) + " names vertex " +
                                            std::to_string(w) + ", but there are " +
                                            std::to_string(vertexCount) + " vertices");
            out[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)] = static_cast<int>(w);
        }
    return out;
}

// The mesh record as the reader would fill it from a file of these triangles:
// neighbour lists a -> b, b -> c, c -> a per face, the bounding box widened
// by strict comparisons from the first vertex on.
TriMesh meshFrom(const std::vector<Vec3f>& vertices, const std::vector<std::array<int, 3>>& faces) {
    TriMesh mesh;
    mesh.nVertices = static_cast<int>(vertices.size());
    mesh.nFaces = static_cast<int>(faces.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Vec3f& p = vertices[i];
        for (int a = 0; a < 3; ++a) {
            if (i == 0 || p[a] < mesh.bboxMin[a]) mesh.bboxMin[a] = p[a];
            if (i == 0 || p[a] > mesh.bboxMax[a]) mesh.bboxMax[a] = p[a];
        }
        mesh.vertices.push_back(p);
        mesh.vertexNeighbours.emplace_back();
    }
    for (const auto& f : faces) {
        mesh.vertexNeighbours[static_cast<std::size_t>(f[0])].push_back(f[1]);
        mesh.vertexNeighbours[static_cast<std::size_t>(f[1])].push_back(f[2]);
        mesh.vertexNeighbours[static_cast<std::size_t>(f[2])].push_back(f[0]);
        mesh.faces.push_back(f);
    }
    return mesh;
}

TriMesh meshFromArrays(const py::array& vertices, const py::array& faces) {
    const std::vector<Vec3f> v = verticesFrom(vertices);
    if (v.empty()) raise(PyExc_ValueError, "the mesh has no vertex");
    const std::vector<std::array<int, 3>> f = facesFrom(faces, v.size());
    if (f.empty()) raise(PyExc_ValueError, "the mesh has no face");
    return meshFrom(v, f);
}

// ---- output arrays --------------------------------------------------------

template <class T>
py::array matrix(const std::vector<T>& values, py::ssize_t rows, py::ssize_t columns) {
    py::array_t<T> out({rows, columns});
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

py::array verticesArray(const std::vector<Vec3f>& vertices) {
    std::vector<double> flat;
    flat.reserve(3 * vertices.size());
    for (const Vec3f& p : vertices)
        for (float x : p) flat.push_back(static_cast<double>(x));
    return matrix(flat, static_cast<py::ssize_t>(vertices.size()), 3);
}

// ---- the run --------------------------------------------------------------

/// A finished run: what the transform kept, plus the lengths it was given.
struct PyRun {
    TransformResult result;
    RunSettings settings;                 ///< the command line's summary values
    std::vector<std::vector<float>> apt;  ///< per radius, with keep_apt
};

template <class T>
py::array volumeView(const std::vector<T>& volume, const Grid& grid, const py::object& owner) {
    const auto size = static_cast<py::ssize_t>(sizeof(T));
    const auto nx = static_cast<py::ssize_t>(grid.dims[0]);
    const auto ny = static_cast<py::ssize_t>(grid.dims[1]);
    const auto nz = static_cast<py::ssize_t>(grid.dims[2]);
    return py::array(py::dtype::of<T>(), {nx, ny, nz}, {size, size * nx, size * nx * ny},
                     volume.data(), owner);
}

// Tells Python of each radius: keeps the APT volume when asked, calls the
// progress callable, and lets Ctrl-C stop the run between radii.
class PythonObserver : public RunObserver {
  public:
    PythonObserver(PyRun& run, bool keepApt, py::object progress)
        : run_(run), keepApt_(keepApt), progress_(std::move(progress)) {}

    void runStarted(const RunStart& start) override { h_ = start.grid->h(); }

    void radiusDone(const RadiusDone& done) override {
        if (keepApt_) run_.apt.push_back(*done.apt);
        py::gil_scoped_acquire gil;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (!progress_.is_none()) progress_(done.index + 1, done.count, done.radius * h_);
        } catch (py::error_already_set& e) {
            pending = std::make_unique<py::error_already_set>(std::move(e));
            throw Stopped();
        }
    }

    /// Thrown through the transform to stop it; `pending` holds the reason.
    struct Stopped {};
    std::unique_ptr<py::error_already_set> pending;

  private:
    PyRun& run_;
    bool keepApt_;
    py::object progress_;
    double h_ = 0.0;
};

// The transform and the sampling's generator are process-wide (std::rand), so
// runs from several Python threads take turns.
std::mutex& runLock() {
    static std::mutex lock;
    return lock;
}

struct RunRequest {
    std::optional<double> resolution, startRadius, radiusStep, sigma;
    int radii = 8;
    int kernel = 0;
    bool tensors = false, bothSides = false, openMesh = false, keepApt = false;
    std::optional<std::int64_t> seed, threads;
};

// A length as the command line reads it: rounded to single precision; None
// asks for the derived default (0).
float requestedLength(const std::optional<double>& value, const char* name) {
    if (!value) return 0.0f;
    const float f = static_cast<float>(*value);
    if (!std::isfinite(f) || !(f > 0.0f))
        raise(PyExc_ValueError, std::string(name) + " must be a positive finite length, not " +
                                    std::to_string(*value));
    return f;
}

TransformSettings settingsFor(const RunRequest& q, const TriMesh& mesh, RunSettings& derived) {
    RequestedLengths requested;
    requested.gridResolution = requestedLength(q.resolution, "resolution");
    requested.startRadius = requestedLength(q.startRadius, "start_radius");
    requested.radiusStep = requestedLength(q.radiusStep, "radius_step");
    requested.sigma = requestedLength(q.sigma, "sigma");
    if (q.radii < 1)
        raise(PyExc_ValueError, "radii must be at least 1, not " + std::to_string(q.radii));
    requested.radiusCount = q.radii;
    if (q.kernel < 0 || q.kernel > 2)
        raise(PyExc_ValueError,
              "kernel must be 0 (ball), 1 (Gaussian) or 2 (ball then Gaussian), not " +
                  std::to_string(q.kernel));
    if (q.seed && (*q.seed < 0 || *q.seed > 4294967295LL))
        raise(PyExc_ValueError,
              "seed must be an integer from 0 to 4294967295, not " + std::to_string(*q.seed));
    if (q.threads && (*q.threads < 1 || *q.threads > 4096))
        raise(PyExc_ValueError,
              "threads must be from 1 to 4096, not " + std::to_string(*q.threads));

    derived = deriveRunSettings(requested, measureMesh(mesh), !q.openMesh);
    return withLengths({.kernel = kernelChoiceFrom(static_cast<float>(q.kernel)),
                        .voxeliser = q.openMesh ? Voxeliser::nearestVertex : Voxeliser::closedMesh,
                        .tensorsOn = q.tensors,
                        .bothSides = q.bothSides,
                        .seeded = q.seed.has_value(),
                        .seed = q.seed ? static_cast<std::uint32_t>(*q.seed) : 0,
                        .inMemory = true},
                       derived);
}

std::unique_ptr<PyRun> runOn(TriMesh mesh, const RunRequest& request, const py::object& progress) {
    auto run = std::make_unique<PyRun>();
    const TransformSettings settings = settingsFor(request, mesh, run->settings);
    computeVertexNormals(mesh);
    PythonObserver observer(*run, request.keepApt, progress);
    bool stopped = false;
    std::optional<std::string> failure;
    // The transform's own refusals are about the settings or the mesh, or
    // about a grid too large for the memory.
    PyObject* failureType = PyExc_ValueError;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(runLock());
        const int threadsBefore = omp_get_max_threads();
        if (request.threads) omp_set_num_threads(static_cast<int>(*request.threads));
        try {
            run->result = runTransformKeeping(std::move(mesh), settings, &observer);
        } catch (const PythonObserver::Stopped&) {
            stopped = true;
        } catch (const OutOfMemory& e) {
            failure = e.what();
            failureType = PyExc_MemoryError;
        } catch (const Error& e) {
            failure = e.what();
        }
        omp_set_num_threads(threadsBefore);
    }
    if (stopped) throw std::move(*observer.pending);
    if (failure) raise(failureType, *failure);
    return run;
}

RunRequest requestFrom(std::optional<double> resolution, std::optional<double> startRadius,
                       std::optional<double> radiusStep, std::optional<double> sigma, int radii,
                       int kernel, bool tensors, bool bothSides, bool openMesh,
                       std::optional<std::int64_t> seed, std::optional<std::int64_t> threads,
                       bool keepApt) {
    RunRequest q;
    q.resolution = resolution;
    q.startRadius = startRadius;
    q.radiusStep = radiusStep;
    q.sigma = sigma;
    q.radii = radii;
    q.kernel = kernel;
    q.tensors = tensors;
    q.bothSides = bothSides;
    q.openMesh = openMesh;
    q.seed = seed;
    q.threads = threads;
    q.keepApt = keepApt;
    return q;
}

TriMesh readMeshFile(const std::string& path) {
    try {
        return readMesh(path);
    } catch (const MeshFileNotFound& e) {
        raise(PyExc_FileNotFoundError, e.what());
    } catch (const Error& e) {
        // Malformed content: the message names the file and the line.
        raise(PyExc_ValueError, e.what());
    }
}

std::vector<Vec3f> normalsOf(TriMesh mesh) {
    computeVertexNormals(mesh);
    return {mesh.vertexNormals.begin(), mesh.vertexNormals.end()};
}

std::vector<float> floatsFrom(const py::array& input, std::size_t n, const char* name) {
    const auto a = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(input);
    if (!a || a.ndim() != 1 || static_cast<std::size_t>(a.shape(0)) != n)
        raise(PyExc_ValueError, std::string(name) + " must be a 1-d array of " + std::to_string(n) +
                                    " numbers, one per vertex");
    return {a.data(), a.data() + n};
}

const char* const ARGS_DOC = "See shapescale.transform for the settings.";

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Compiled core of the shapescale package; use the shapescale package instead.";

    m.def(
        "read_mesh",
        [](const std::string& path) {
            const TriMesh mesh = readMeshFile(path);
            std::vector<std::int64_t> faces;
            for (const Triangle& f : mesh.faces) faces.insert(faces.end(), f.begin(), f.end());
            return py::make_tuple(verticesArray({mesh.vertices.begin(), mesh.vertices.end()}),
                                  matrix(faces, static_cast<py::ssize_t>(mesh.faces.size()), 3));
        },
        py::arg("path"));

    m.def(
        "vertex_normals",
        [](const py::array& vertices, const py::array& faces) {
            return verticesArray(normalsOf(meshFromArrays(vertices, faces)));
        },
        py::arg("vertices"), py::arg("faces"));

    m.def(
        "transform",
        [](const py::array& vertices, const py::array& faces, std::optional<double> resolution,
           std::optional<double> startRadius, std::optional<double> radiusStep,
           std::optional<double> sigma, int radii, int kernel, bool tensors, bool bothSides,
           bool openMesh, std::optional<std::int64_t> seed, std::optional<std::int64_t> threads,
           bool keepApt, const py::object& progress) {
            TriMesh mesh = meshFromArrays(vertices, faces);
            return runOn(std::move(mesh),
                         requestFrom(resolution, startRadius, radiusStep, sigma, radii, kernel,
                                     tensors, bothSides, openMesh, seed, threads, keepApt),
                         progress);
        },
        ARGS_DOC, py::arg("vertices"), py::arg("faces"), py::kw_only(),
        py::arg("resolution") = py::none(), py::arg("start_radius") = py::none(),
        py::arg("radius_step") = py::none(), py::arg("sigma") = py::none(), py::arg("radii") = 8,
        py::arg("kernel") = 0, py::arg("tensors") = false, py::arg("both_sides") = false,
        py::arg("open_mesh") = false, py::arg("seed") = py::none(), py::arg("threads") = py::none(),
        py::arg("keep_apt") = false, py::arg("progress") = py::none());

    m.def(
        "transform_file",
        [](const std::string& path, std::optional<double> resolution,
           std::optional<double> startRadius, std::optional<double> radiusStep,
           std::optional<double> sigma, int radii, int kernel, bool tensors, bool bothSides,
           bool openMesh, std::optional<std::int64_t> seed, std::optional<std::int64_t> threads,
           bool keepApt, const py::object& progress) {
            return runOn(readMeshFile(path),
                         requestFrom(resolution, startRadius, radiusStep, sigma, radii, kernel,
                                     tensors, bothSides, openMesh, seed, threads, keepApt),
                         progress);
        },
        ARGS_DOC, py::arg("path"), py::kw_only(), py::arg("resolution") = py::none(),
        py::arg("start_radius") = py::none(), py::arg("radius_step") = py::none(),
        py::arg("sigma") = py::none(), py::arg("radii") = 8, py::arg("kernel") = 0,
        py::arg("tensors") = false, py::arg("both_sides") = false, py::arg("open_mesh") = false,
        py::arg("seed") = py::none(), py::arg("threads") = py::none(), py::arg("keep_apt") = false,
        py::arg("progress") = py::none());

    m.def(
        "write_painted_ply",
        [](const std::string& path, const py::array& vertices, const py::array& faces,
           const py::array& scale, const py::array& jmapt, double low, double high, bool binary) {
            const std::vector<Vec3f> v = verticesFrom(vertices);
            const std::vector<std::array<int, 3>> f = facesFrom(faces, v.size());
            const std::vector<float> s = floatsFrom(scale, v.size(), "scale");
            const std::vector<float> j = floatsFrom(jmapt, v.size(), "jmapt");
            PaintedMesh painted{&v, &f, &s, &j, static_cast<float>(low), static_cast<float>(high)};
            try {
                py::gil_scoped_release released;
                writePaintedPly(path, painted,
                                binary ? PlyEncoding::binaryLittleEndian : PlyEncoding::ascii);
            } catch (const Error& e) {
                raise(PyExc_OSError, e.what());
            }
        },
        py::arg("path"), py::arg("vertices"), py::arg("faces"), py::arg("scale"), py::arg("jmapt"),
        py::arg("low"), py::arg("high"), py::arg("binary") = true);

    py::class_<PyRun>(m, "Run", "A finished run; see shapescale.Result.")
        .def_property_readonly("jmapt",
                               [](py::object self) {
                                   const PyRun& r = self.cast<const PyRun&>();
                                   return volumeView(r.result.jmapt, r.result.grid, self);
                               })
        .def_property_readonly("scale_voxels",
                               [](py::object self) {
                                   const PyRun& r = self.cast<const PyRun&>();
                                   return volumeView(r.result.scale, r.result.grid, self);
                               })
        .def_property_readonly("labels",
                               [](py::object self) {
                                   const PyRun& r = self.cast<const PyRun&>();
                                   return volumeView(r.result.labels, r.result.grid, self);
                               })
        .def_property_readonly("apt",
                               [](py::object self) {
                                   const PyRun& r = self.cast<const PyRun&>();
                                   py::list out;
                                   for (const auto& v : r.apt)
                                       out.append(volumeView(v, r.result.grid, self));
                                   return out;
                               })
        .def_property_readonly("tensors",
                               [](py::object self) {
                                   const PyRun& r = self.cast<const PyRun&>();
                                   py::list out;
                                   for (const auto& v : r.result.bestTensor)
                                       if (!v.empty())
                                           out.append(volumeView(v, r.result.grid, self));
                                   return out;
                               })
        .def_property_readonly("histogram",
                               [](const PyRun& r) {
                                   std::vector<std::int64_t> flat;
                                   for (const Histogram& h : r.result.histograms)
                                       flat.insert(flat.end(), h.begin(), h.end());
                                   return matrix(
                                       flat, static_cast<py::ssize_t>(r.result.histograms.size()),
                                       HISTOGRAM_BINS);
                               })
        .def_property_readonly("radii_voxels", [](const PyRun& r) { return r.result.radii; })
        .def_property_readonly("dims",
                               [](const PyRun& r) {
                                   const int* d = r.result.grid.dims;
                                   return py::make_tuple(d[0], d[1], d[2]);
                               })
        .def_property_readonly("origin",
                               [](const PyRun& r) {
                                   const float* o = r.result.grid.origin;
                                   return py::make_tuple(o[0], o[1], o[2]);
                               })
        .def_property_readonly("voxel_size", [](const PyRun& r) { return r.result.grid.h(); })
        .def_property_readonly("start_radius_voxels",
                               [](const PyRun& r) { return r.result.startRadius; })
        .def_property_readonly("radius_step_voxels",
                               [](const PyRun& r) { return r.result.radiusStep; })
        .def_property_readonly("sigma_voxels", [](const PyRun& r) { return r.result.sigma; })
        .def_property_readonly("max_reach_voxels",
                               [](const PyRun& r) { return maxReachVoxels(r.result); })
        .def_property_readonly("settings",
                               [](const PyRun& r) {
                                   const RunSettings& s = r.settings;
                                   py::dict d;
                                   d["volume"] = s.volume;
                                   d["base_scale"] = s.baseScale;
                                   d["resolution"] = s.gridResolution;
                                   d["start_radius"] = s.startRadius;
                                   d["radius_step"] = s.radiusStep;
                                   d["sigma"] = s.sigma;
                                   d["radii"] = s.radiusCount;
                                   return d;
                               })
        .def(
            "vertex_scale",
            [](const PyRun& r, const py::array& vertices, const py::array& normals) {
                const std::vector<Vec3f> v = verticesFrom(vertices);
                const std::vector<Vec3f> n = verticesFrom(normals, "normals");
                if (n.size() != v.size())
                    raise(PyExc_ValueError, "normals must have one row per vertex (" +
                                                std::to_string(v.size()) + "), not " +
                                                std::to_string(n.size()));
                const VertexScales s = vertexScale(v, n, r.result.grid, r.result.jmapt,
                                                   r.result.scale, maxReachVoxels(r.result));
                py::array_t<float> scale(static_cast<py::ssize_t>(v.size()));
                py::array_t<float> jmapt(static_cast<py::ssize_t>(v.size()));
                std::copy(s.scale.begin(), s.scale.end(), scale.mutable_data());
                std::copy(s.jmapt.begin(), s.jmapt.end(), jmapt.mutable_data());
                return py::make_tuple(scale, jmapt);
            },
            py::arg("vertices"), py::arg("normals"));
}
