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

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"
#include "io/PlyWriter.hpp"
#include "mapt/Centres.hpp"
#include "mapt/Defaults.hpp"
#include "mapt/Descriptor.hpp"
#include "mapt/Transform.hpp"
#include "mapt/VertexScale.hpp"
#include "mesh/MeshReader.hpp"
#include "mesh/Orientation.hpp"

namespace py = pybind11;
using namespace shapescale;

namespace {

// ---- errors ---------------------------------------------------------------

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// "-0.1", "1.5e+300", "nan": a number as Python users read it in a message.
std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
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

std::string typeName(const py::handle& value) {
    return py::str(py::type::handle_of(value).attr("__name__"));
}

// `input` as numpy makes an array of it; what numpy refuses (a ragged nested
// list) is named by its type only, never printed: a mesh is millions of numbers.
py::array arrayFrom(const py::handle& input, const char* name) {
    auto a = py::reinterpret_steal<py::array>(
        py::detail::npy_api::get().PyArray_FromAny_(input.ptr(), nullptr, 0, 0, 0, nullptr));
    if (!a) {
        PyErr_Clear();
        raise(PyExc_TypeError, std::string(name) + " must be an (n, 3) array, not a " +
                                   typeName(input) + " that numpy cannot make one of");
    }
    return a;
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
std::vector<Vec3f> verticesFrom(const py::object& object, const char* name = "vertices") {
    const py::array input = arrayFrom(object, name);
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
                                            " holds " + shortNumber(r(i, a)) +
                                            ", not a finite single-precision number");
            out[static_cast<std::size_t>(i)][static_cast<std::size_t>(a)] = x;
        }
    return out;
}

std::vector<std::array<int, 3>> facesFrom(const py::object& object, std::size_t vertexCount) {
    const py::array input = arrayFrom(object, "faces");
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
    }
    for (const auto& f : faces) mesh.faces.push_back(f);
    mesh.vertexNeighbours = NeighbourLists::ofTriangles(vertices.size(), faces);
    return mesh;
}

TriMesh meshFromArrays(const py::object& vertices, const py::object& faces) {
    const std::vector<Vec3f> v = verticesFrom(vertices);
    if (v.empty()) raise(PyExc_ValueError, "the mesh has no vertex");
    const std::vector<std::array<int, 3>> f = facesFrom(faces, v.size());
    if (f.empty()) raise(PyExc_ValueError, "the mesh has no face");
    return meshFrom(v, f);
}

// ---- output arrays --------------------------------------------------------

template <class T>
py::array column(const std::vector<T>& values) {
    py::array_t<T> out(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

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
    bool reoriented = false;              ///< orient=True flipped the faces
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
        radiiDone = done.index + 1;
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
    int radiiDone = 0;

  private:
    PyRun& run_;
    bool keepApt_;
    py::object progress_;
    double h_ = 0.0;
};

// Runs from several Python threads take turns: each run is given every core
// it asks for, and the memory check of one cannot count what another holds.
// (Sampling needs no lock: every run draws from its own generator.)
std::timed_mutex& runLock() {
    static std::timed_mutex lock;
    return lock;
}

// True on the thread whose run holds the lock: a transform started from its
// progress callback would wait for that run, which waits for the callback.
thread_local bool insideRun = false;

struct InsideRun {
    InsideRun() { insideRun = true; }
    ~InsideRun() { insideRun = false; }
    InsideRun(const InsideRun&) = delete;
    InsideRun& operator=(const InsideRun&) = delete;
};

// Runs holding or waiting for the lock; interrupt() stops them, and the last
// one to leave withdraws the request so that later runs start afresh.
std::atomic<int> activeRuns{0};

struct ActiveRun {
    ActiveRun() { ++activeRuns; }
    ~ActiveRun() {
        if (--activeRuns == 0) requestInterrupt(0);
    }
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;
};

// The run lock, waited for with the interpreter lock released; Ctrl-C and
// interrupt() are looked at every 50 ms of the wait.
std::unique_lock<std::timed_mutex> takeRunLock() {
    std::unique_lock<std::timed_mutex> lock(runLock(), std::defer_lock);
    for (;;) {
        {
            py::gil_scoped_release released;
            if (lock.try_lock_for(std::chrono::milliseconds(50))) return lock;
        }
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (interruptRequested())
            raise(PyExc_KeyboardInterrupt,
                  "interrupted by shapescale.interrupt() while waiting for another run");
    }
}

// How the refusals of the transform name the keywords of this module.
const SettingNames PYTHON_NAMES{.resolution = "resolution",
                                .startRadius = "start_radius",
                                .radiusStep = "radius_step",
                                .sigma = "sigma",
                                .radiusCount = "radii",
                                .orient = "orient=True"};

// The settings keywords of transform and transform_file, in their order.
struct RunRequest {
    std::optional<double> resolution, startRadius, radiusStep, sigma;
    int radii = 8;
    int kernel = 0;
    bool tensors = false, bothSides = false, openMesh = false;
    std::optional<std::int64_t> seed, threads;
    bool keepApt = false;
    bool evenSampling = false;
    bool orient = false;
};

// A length as the command line reads it: rounded to single precision; None
// asks for the derived default (0).
float requestedLength(const std::optional<double>& value, const char* name) {
    if (!value) return 0.0f;
    const float f = static_cast<float>(*value);
    if (!std::isfinite(f) || !(f > 0.0f))
        raise(PyExc_ValueError,
              std::string(name) + " must be a positive finite length, not " + shortNumber(*value));
    return f;
}

// An integer keyword from `low` to `high` (`rule` says so in words); None
// gives nothing. A bool is refused: seed=True would run as seed 1.
std::optional<std::int64_t> wholeIn(const py::handle& value, const char* name, std::int64_t low,
                                    std::int64_t high, const std::string& rule) {
    if (value.is_none()) return std::nullopt;
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not " + typeName(value));
    const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    int overflow = 0;
    const long long w = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow != 0 || w < low || w > high)
        raise(PyExc_ValueError, std::string(name) + " must be " + rule + ", not " +
                                    std::string(py::str(py::handle(number))));
    return w;
}

int wholeRequired(const py::handle& value, const char* name, std::int64_t low, std::int64_t high,
                  const std::string& rule) {
    if (value.is_none())
        raise(PyExc_TypeError, std::string(name) + " must be an integer, not NoneType");
    return static_cast<int>(*wholeIn(value, name, low, high, rule));
}

TransformSettings settingsFor(const RunRequest& q, const TriMesh& mesh, RunSettings& derived) {
    const RequestedLengths requested{
        .gridResolution = requestedLength(q.resolution, "resolution"),
        .startRadius = requestedLength(q.startRadius, "start_radius"),
        .radiusStep = requestedLength(q.radiusStep, "radius_step"),
        .sigma = requestedLength(q.sigma, "sigma"),
        .radiusCount = q.radii,
    };
    derived = deriveRunSettings(requested, measureMesh(mesh), !q.openMesh);
    return withLengths({.kernel = kernelChoiceFrom(static_cast<float>(q.kernel)),
                        .voxeliser = q.openMesh ? Voxeliser::nearestVertex : Voxeliser::closedMesh,
                        .tensorsOn = q.tensors,
                        .bothSides = q.bothSides,
                        .evenSampling = q.evenSampling,
                        .seeded = q.seed.has_value(),
                        .seed = q.seed ? static_cast<std::uint32_t>(*q.seed) : 0,
                        .inMemory = true,
                        .names = PYTHON_NAMES},
                       derived);
}

// orient=True: a closed mesh of negative volume is flipped; one whose
// outside is unknown is left as it is, with a RuntimeWarning.
bool orientForRun(TriMesh& mesh) {
    if (!(measureMesh(mesh).volume < 0.0f)) return false;
    if (orientOutward(mesh)) return true;
    if (PyErr_WarnEx(PyExc_RuntimeWarning, unorientedText(mesh, "orient=True").c_str(), 2) != 0)
        throw py::error_already_set();
    return false;
}

std::unique_ptr<PyRun> runOn(TriMesh mesh, const RunRequest& request, const py::object& progress) {
    if (insideRun)
        raise(PyExc_RuntimeError,
              "a transform cannot start inside the progress callback of another: runs take "
              "turns, so it would wait for ever");
    auto run = std::make_unique<PyRun>();
    run->reoriented = request.orient && orientForRun(mesh);
    const TransformSettings settings = settingsFor(request, mesh, run->settings);
    computeVertexNormals(mesh);
    PythonObserver observer(*run, request.keepApt, progress);
    bool stopped = false;
    std::optional<std::string> failure;
    // The transform's own refusals are about the settings or the mesh, or
    // about a grid too large for the memory.
    PyObject* failureType = PyExc_ValueError;
    const ActiveRun active;
    const std::unique_lock<std::timed_mutex> lock = takeRunLock();
    const InsideRun inside;
    {
        py::gil_scoped_release released;
        const int threadsBefore = omp_get_max_threads();
        if (request.threads) omp_set_num_threads(static_cast<int>(*request.threads));
        try {
            run->result = runTransformKeeping(std::move(mesh), settings, &observer);
        } catch (const PythonObserver::Stopped&) {
            stopped = true;
        } catch (const OutOfMemory& e) {
            failure = e.what();
            failureType = PyExc_MemoryError;
        } catch (const Interrupted&) {
            failure = "the transform was stopped by shapescale.interrupt() after " +
                      std::to_string(observer.radiiDone) + " of " + std::to_string(request.radii) +
                      " radii";
            failureType = PyExc_KeyboardInterrupt;
        } catch (const Error& e) {
            failure = e.what();
        }
        omp_set_num_threads(threadsBefore);
    }
    if (stopped) throw std::move(*observer.pending);
    if (failure) raise(failureType, *failure);
    return run;
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

// A binding that reads the mesh from its leading arguments MeshArgs (with
// `load`) and takes the run's settings after them, in the order of RunRequest.
template <class... MeshArgs, class Load>
auto runFrom(Load load) {
    return [load](MeshArgs... mesh, std::optional<double> resolution,
                  std::optional<double> startRadius, std::optional<double> radiusStep,
                  std::optional<double> sigma, const py::object& radii, const py::object& kernel,
                  bool tensors, bool bothSides, bool openMesh, const py::object& seed,
                  const py::object& threads, bool keepApt, bool evenSampling, bool orient,
                  const py::object& progress) {
        const RunRequest request{
            .resolution = resolution,
            .startRadius = startRadius,
            .radiusStep = radiusStep,
            .sigma = sigma,
            .radii = wholeRequired(radii, "radii", 1, INT_MAX, "at least 1"),
            .kernel = wholeRequired(kernel, "kernel", 0, 2,
                                    "0 (ball), 1 (Gaussian) or 2 (ball then Gaussian)"),
            .tensors = tensors,
            .bothSides = bothSides,
            .openMesh = openMesh,
            .seed = wholeIn(seed, "seed", 0, UINT32_MAX, "an integer from 0 to 4294967295"),
            .threads = wholeIn(threads, "threads", 1, MAX_THREADS,
                               "from 1 to " + std::to_string(MAX_THREADS)),
            .keepApt = keepApt,
            .evenSampling = evenSampling,
            .orient = orient};
        return runOn(load(mesh...), request, progress);
    };
}

// Defines a transform function: its mesh arguments, then the settings keywords
// of RunRequest and `progress`.
template <class Function, class... MeshArgs>
void defineTransform(py::module_& m, const char* name, Function function, MeshArgs... meshArgs) {
    m.def(name, std::move(function), "See shapescale.transform for the settings.", meshArgs...,
          py::kw_only(), py::arg("resolution") = py::none(), py::arg("start_radius") = py::none(),
          py::arg("radius_step") = py::none(), py::arg("sigma") = py::none(), py::arg("radii") = 8,
          py::arg("kernel") = 0, py::arg("tensors") = false, py::arg("both_sides") = false,
          py::arg("open_mesh") = false, py::arg("seed") = py::none(),
          py::arg("threads") = py::none(), py::arg("keep_apt") = false,
          py::arg("even_sampling") = false, py::arg("orient") = false,
          py::arg("progress") = py::none());
}

// A property showing one final volume of the run, a view kept alive by the run.
template <auto VOLUME>
py::array finalVolume(const py::object& self) {
    const PyRun& r = self.cast<const PyRun&>();
    return volumeView(r.result.*VOLUME, r.result.grid, self);
}

// The centres as columns: positions (n, 3), radii, jmapt, voxels (n, 3) and
// plateau sizes, the rows of the command line's --centres file.
py::tuple centresOf(const PyRun& r, double threshold) {
    const float t = static_cast<float>(threshold);  // as the command line reads it
    try {
        checkCentreThreshold(t, "threshold");
    } catch (const Error& e) {
        raise(PyExc_ValueError, e.what());
    }
    const TransformResult& x = r.result;
    const std::vector<Centre> centres =
        findCentres(x.grid, x.labels.data(), x.jmapt.data(), x.scale.data(), t);
    std::vector<double> position, radius;
    std::vector<float> jmapt;
    std::vector<std::int64_t> voxel, voxels;
    for (const Centre& c : centres) {
        position.insert(position.end(), c.position, c.position + 3);
        radius.push_back(c.radius);
        jmapt.push_back(c.jmapt);
        voxel.insert(voxel.end(), c.voxel, c.voxel + 3);
        voxels.push_back(c.voxels);
    }
    const auto n = static_cast<py::ssize_t>(centres.size());
    return py::make_tuple(matrix(position, n, 3), column(radius), column(jmapt),
                          matrix(voxel, n, 3), column(voxels));
}

// (values, radii in base scales, voxels not outside), as the summary's descriptor.
py::tuple descriptorOf(const PyRun& r) {
    const TransformResult& x = r.result;
    const Descriptor d = shapeDescriptor(x.histograms, x.atLeastOne, x.radii, x.grid.h(),
                                         static_cast<double>(r.settings.baseScale),
                                         countNotOutside(x.labels.data(), x.labels.size()));
    return py::make_tuple(column(d.values), column(d.radii), d.voxelsNotOutside);
}

// Views of the non-empty volumes among `volumes`, kept alive by the run `self`.
template <class Volumes>
py::list volumeList(const Volumes& volumes, const py::object& self) {
    const Grid& grid = self.cast<const PyRun&>().result.grid;
    py::list out;
    for (const auto& v : volumes)
        if (!v.empty()) out.append(volumeView(v, grid, self));
    return out;
}

py::array histogramTable(const PyRun& r) {
    std::vector<std::int64_t> flat;
    for (const Histogram& h : r.result.histograms) flat.insert(flat.end(), h.begin(), h.end());
    return matrix(flat, static_cast<py::ssize_t>(r.result.histograms.size()), HISTOGRAM_BINS);
}

py::dict settingsDict(const PyRun& r) {
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
}

py::tuple vertexScaleOf(const PyRun& r, const py::object& vertices, const py::object& normals) {
    const std::vector<Vec3f> v = verticesFrom(vertices);
    const std::vector<Vec3f> n = verticesFrom(normals, "normals");
    if (n.size() != v.size())
        raise(PyExc_ValueError, "normals must have one row per vertex (" +
                                    std::to_string(v.size()) + "), not " +
                                    std::to_string(n.size()));
    const VertexScales s =
        vertexScale(v, n, r.result.grid, r.result.jmapt, r.result.scale, maxReachVoxels(r.result));
    py::array_t<float> scale(static_cast<py::ssize_t>(v.size()));
    py::array_t<float> jmapt(static_cast<py::ssize_t>(v.size()));
    std::copy(s.scale.begin(), s.scale.end(), scale.mutable_data());
    std::copy(s.jmapt.begin(), s.jmapt.end(), jmapt.mutable_data());
    return py::make_tuple(scale, jmapt);
}

// ---- pickling: a run travels between processes (Dask, multiprocessing) ----

template <class T>
py::bytes bytesOf(const std::vector<T>& values) {
    return {reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T)};
}

template <class T>
std::vector<T> vectorOf(const py::handle& bytes) {
    const std::string raw = bytes.cast<std::string>();
    if (raw.size() % sizeof(T) != 0) raise(PyExc_ValueError, "a pickled run is damaged");
    std::vector<T> out(raw.size() / sizeof(T));
    std::memcpy(out.data(), raw.data(), raw.size());
    return out;
}

template <class Volumes>
py::list bytesList(const Volumes& volumes) {
    py::list out;
    for (const auto& v : volumes) out.append(bytesOf(v));
    return out;
}

// Every member of the run, volumes as raw bytes of this machine's layout.
py::tuple runState(const PyRun& r) {
    const TransformResult& x = r.result;
    const RunSettings& s = r.settings;
    const Grid& g = x.grid;
    return py::make_tuple(
        py::make_tuple(g.dims[0], g.dims[1], g.dims[2], g.origin[0], g.origin[1], g.origin[2],
                       g.voxelSize[0], g.voxelSize[1], g.voxelSize[2]),
        py::make_tuple(x.startRadius, x.radiusStep, x.sigma, static_cast<int>(x.kernel)),
        bytesOf(x.radii), bytesOf(x.histograms), bytesOf(x.atLeastOne), bytesOf(x.labels),
        bytesOf(x.jmapt), bytesOf(x.scale), bytesList(x.bestTensor), bytesList(r.apt),
        py::make_tuple(s.volume, s.baseScale, s.gridResolution, s.startRadius, s.radiusStep,
                       s.sigma, s.radiusCount),
        r.reoriented);
}

PyRun runFromState(const py::tuple& state) {
    if (state.size() != 12) raise(PyExc_ValueError, "a pickled run is damaged");
    PyRun r;
    TransformResult& x = r.result;
    const auto g = state[0].cast<py::tuple>();
    for (int a = 0; a < 3; ++a) {
        x.grid.dims[a] = g[a].cast<int>();
        x.grid.origin[a] = g[3 + a].cast<float>();
        x.grid.voxelSize[a] = g[6 + a].cast<double>();
    }
    const auto lengths = state[1].cast<py::tuple>();
    x.startRadius = lengths[0].cast<double>();
    x.radiusStep = lengths[1].cast<double>();
    x.sigma = lengths[2].cast<double>();
    x.kernel = static_cast<KernelChoice>(lengths[3].cast<int>());
    x.radii = vectorOf<double>(state[2]);
    x.histograms = vectorOf<Histogram>(state[3]);
    x.atLeastOne = vectorOf<std::int64_t>(state[4]);
    x.labels = vectorOf<unsigned char>(state[5]);
    x.jmapt = vectorOf<float>(state[6]);
    x.scale = vectorOf<float>(state[7]);
    const auto tensors = state[8].cast<py::list>();
    for (std::size_t t = 0; t < x.bestTensor.size() && t < tensors.size(); ++t)
        x.bestTensor[t] = vectorOf<float>(tensors[t]);
    for (const py::handle a : state[9].cast<py::list>()) r.apt.push_back(vectorOf<float>(a));
    const auto s = state[10].cast<py::tuple>();
    r.settings = {s[0].cast<float>(), s[1].cast<float>(), s[2].cast<float>(), s[3].cast<float>(),
                  s[4].cast<float>(), s[5].cast<float>(), s[6].cast<int>()};
    r.reoriented = state[11].cast<bool>();
    const std::size_t voxels = x.grid.voxels();
    if (x.jmapt.size() != voxels || x.scale.size() != voxels || x.labels.size() != voxels)
        raise(PyExc_ValueError, "a pickled run is damaged");
    return r;
}

void bindRun(py::module_& m) {
    py::class_<PyRun>(m, "Run", "A finished run; see shapescale.Result.")
        .def_property_readonly("jmapt", &finalVolume<&TransformResult::jmapt>)
        .def_property_readonly("scale_voxels", &finalVolume<&TransformResult::scale>)
        .def_property_readonly("labels", &finalVolume<&TransformResult::labels>)
        .def_property_readonly(
            "apt",
            [](const py::object& self) { return volumeList(self.cast<const PyRun&>().apt, self); })
        .def_property_readonly("tensors",
                               [](const py::object& self) {
                                   return volumeList(self.cast<const PyRun&>().result.bestTensor,
                                                     self);
                               })
        .def_property_readonly("histogram", &histogramTable)
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
        .def_property_readonly("settings", &settingsDict)
        .def("centres", &centresOf, py::arg("threshold"))
        .def_property_readonly("descriptor", &descriptorOf)
        .def("vertex_scale", &vertexScaleOf, py::arg("vertices"), py::arg("normals"))
        .def_property_readonly("reoriented", [](const PyRun& r) { return r.reoriented; })
        .def(py::pickle(&runState, &runFromState));
}

py::tuple readMeshArrays(const std::string& path) {
    const TriMesh mesh = readMeshFile(path);
    std::vector<std::int64_t> faces;
    for (const Triangle& f : mesh.faces) faces.insert(faces.end(), f.begin(), f.end());
    return py::make_tuple(verticesArray({mesh.vertices.begin(), mesh.vertices.end()}),
                          matrix(faces, static_cast<py::ssize_t>(mesh.faces.size()), 3));
}

void writePaintedPlyFile(const std::string& path, const py::object& vertices,
                         const py::object& faces, const py::array& scale, const py::array& jmapt,
                         double low, double high, bool binary) {
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
}

void bindMeshFunctions(py::module_& m) {
    m.def("read_mesh", &readMeshArrays, py::arg("path"));
    m.def(
        "vertex_normals",
        [](const py::object& vertices, const py::object& faces) {
            return verticesArray(normalsOf(meshFromArrays(vertices, faces)));
        },
        py::arg("vertices"), py::arg("faces"));
    m.def("write_painted_ply", &writePaintedPlyFile, py::arg("path"), py::arg("vertices"),
          py::arg("faces"), py::arg("scale"), py::arg("jmapt"), py::arg("low"), py::arg("high"),
          py::arg("binary") = true);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Compiled core of the shapescale package; use the shapescale package instead.";
    m.attr("DEFAULT_CENTRE_THRESHOLD") = static_cast<double>(DEFAULT_CENTRE_THRESHOLD);
    // Run first, so that the signatures of the functions that return one name it.
    bindRun(m);
    bindMeshFunctions(m);
    m.def(
        "interrupt",
        [] {
            if (activeRuns.load() == 0) return false;
            requestInterrupt(SIGINT);
            return true;
        },
        "Stops the runs in progress; True if there was one.");
    defineTransform(m, "transform", runFrom<const py::object&, const py::object&>(&meshFromArrays),
                    py::arg("vertices"), py::arg("faces"));
    defineTransform(m, "transform_file", runFrom<const std::string&>(&readMeshFile),
                    py::arg("path"));
}
