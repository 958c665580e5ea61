"""The Python module against the command-line binary, and its argument checks.

Run with PYTHONPATH=<build>/python (``make python-test``); the binary is
$SHAPESCALE_BINARY or <repo>/build/shapescale.
"""

import json
import os
import pathlib
import subprocess
import threading

import numpy as np
import pytest

import shapescale

REPO = pathlib.Path(__file__).resolve().parents[2]
BINARY = pathlib.Path(
    os.environ.get("SHAPESCALE_BINARY", REPO / "build" / "shapescale")).resolve()
DUMBBELL = REPO / "examples" / "dumbbell.off"


def torus(R=1.0, r=0.5, nu=400, nv=200):
    """Closed torus around z, faces counter-clockwise seen from outside."""
    u, w = np.meshgrid(2 * np.pi * np.arange(nu) / nu, 2 * np.pi * np.arange(nv) / nv,
                       indexing="ij")
    v = np.stack([(R + r * np.cos(w)) * np.cos(u), (R + r * np.cos(w)) * np.sin(u),
                  r * np.sin(w)], axis=-1).reshape(-1, 3)
    i, j = np.meshgrid(np.arange(nu), np.arange(nv), indexing="ij")
    at = lambda i, j: (i % nu) * nv + j % nv  # noqa: E731
    a, b, c, d = at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)
    f = np.concatenate([np.stack([a, b, c], -1).reshape(-1, 3),
                        np.stack([a, c, d], -1).reshape(-1, 3)])
    return v, f


def write_off(path, v, f):
    with open(path, "w") as out:
        out.write(f"OFF\n{len(v)} {len(f)} 0\n")
        np.savetxt(out, v, fmt="%.17g")
        np.savetxt(out, np.column_stack([np.full(len(f), 3), f]), fmt="%d")


def run_binary(args, cwd):
    done = subprocess.run([str(BINARY), *args], cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 1, done.stderr  # a completed run ends with status 1
    return done


def read_volume(directory, name, dims):
    return np.fromfile(directory / f"{name}.img", dtype="<f4").reshape(dims, order="F")


def binary_knows(option):
    """Whether the binary's getopt accepts the long option (with an argument)."""
    done = subprocess.run([str(BINARY), option, "1"], capture_output=True, text=True)
    return "unrecognized option" not in done.stderr and "invalid option" not in done.stderr


needs_binary = pytest.mark.skipif(not BINARY.exists(), reason=f"no binary at {BINARY}")


@needs_binary
def test_same_volumes_as_the_binary_when_every_triangle_has_one_sample(tmp_path):
    # h = 0.15: every triangle (area at most 1.9e-4) gets a single sample, its
    # centroid, so neither run draws a random number.
    v, f = torus()
    write_off(tmp_path / "torus.off", v, f)
    lengths = dict(resolution=0.15, start_radius=0.2, radius_step=0.1, sigma=0.12, radii=3)
    done = run_binary(["-f", "torus.off", "-o", "out", "-r", "0.15", "-s", "0.2", "-p", "0.1",
                       "-g", "0.12", "-n", "3", "-t"], tmp_path)
    result = shapescale.transform(v, f, tensors=True, keep_apt=True, **lengths)
    out = tmp_path / "out"
    dims = result.dims
    assert np.array_equal(read_volume(out, "jmapt", dims), result.jmapt)
    binary_scale = read_volume(out, "scale", dims)
    assert np.array_equal(binary_scale, result.scale_voxels)
    assert np.array_equal((binary_scale * np.float64(result.voxel_size)).astype(np.float32),
                          result.scale)
    for k in range(3):
        assert np.array_equal(read_volume(out, f"apt_{k}", dims), result.apt[k])
    for name in shapescale.TENSOR_NAMES:
        assert np.array_equal(read_volume(out, "v" + name, dims), result.tensor(name))
    hist = np.loadtxt(out / "hist.txt", dtype=np.int64, ndmin=2)
    assert np.array_equal(hist, result.histogram)
    info = (out / "info.txt").read_text().split()
    assert np.allclose([float(x) for x in info[2:5]], result.origin, atol=5e-7)
    assert float(info[5]) == pytest.approx(result.voxel_size, abs=5e-7)
    # The summary line: path, V, base scale, then the explicit lengths.
    fields = done.stdout.splitlines()[0].split()
    assert float(fields[3]) == pytest.approx(result.settings["start_radius"], rel=1e-5)


@needs_binary
@pytest.mark.parametrize("flags", [[], ["-c"]])
def test_defaults_are_the_command_lines(tmp_path, flags):
    done = run_binary(["-f", str(DUMBBELL), "-o", "out", "-n", "1", *flags], tmp_path)
    fields = done.stdout.splitlines()[0].split()
    v, f = shapescale.read_mesh(DUMBBELL)
    result = shapescale.transform(v, f, radii=1, open_mesh=bool(flags), seed=1)
    s = result.settings
    expected = [s[k] for k in ("volume", "base_scale", "start_radius", "resolution",
                               "radius_step", "sigma")]
    assert fields[1:7] == [f"{x:g}" for x in expected]
    if binary_knows("--seed"):
        seeded = run_binary(["--seed", "1", "-f", str(DUMBBELL), "-o", "seeded", "-n", "1",
                             *flags], tmp_path)
        assert seeded.returncode == 1
        assert np.array_equal(read_volume(tmp_path / "seeded", "jmapt", result.dims),
                              result.jmapt)


@needs_binary
def test_centres_and_descriptor_are_the_command_lines(tmp_path):
    # Even sampling too, so that the keyword reaches the voting.
    lengths = ["-s", "0.15", "-p", "0.15", "-g", "0.05", "-n", "6"]
    run_binary(["-f", str(DUMBBELL), "-o", "out", "--seed", "4", "--even-sampling",
                "--centres", "c.csv", "--centre-threshold", "0.3", "--summary", "s.json",
                *lengths], tmp_path)
    result = shapescale.transform_file(DUMBBELL, start_radius=0.15, radius_step=0.15,
                                       sigma=0.05, radii=6, seed=4, even_sampling=True)
    rows = np.loadtxt(tmp_path / "c.csv", delimiter=",", skiprows=1, ndmin=2)
    centres = result.centres(threshold=0.3)
    assert len(rows) >= 2 and centres.radius.shape == (len(rows),)
    assert np.array_equal(centres.position, rows[:, :3])
    assert np.array_equal(centres.radius, rows[:, 3])
    assert np.array_equal(centres.jmapt, rows[:, 4].astype(np.float32))
    assert np.array_equal(centres.voxel, rows[:, 5:8]) and np.array_equal(centres.voxels, rows[:, 8])
    descriptor = json.loads((tmp_path / "s.json").read_text())["descriptor"]
    assert np.array_equal(result.descriptor, descriptor["values"])
    assert np.array_equal(result.descriptor_radii, descriptor["radiiInBaseScales"])
    # Every voxel not outside is in one bin or at or above 1.
    assert np.allclose(result.descriptor.reshape(6, 13).sum(axis=1), 1, rtol=0, atol=1e-12)
    assert len(result.centres().radius) <= len(rows)  # the default threshold, 0.5, is higher
    with pytest.raises(ValueError, match="above 0"):
        result.centres(threshold=0)


def test_volumes_are_views_with_world_geometry(tmp_path, monkeypatch):
    v, f = shapescale.read_mesh(DUMBBELL)
    monkeypatch.chdir(tmp_path)
    result = shapescale.transform(v, f, radii=3, keep_apt=True, seed=3)
    assert list(tmp_path.iterdir()) == []  # no occupancy file, no output directory
    nx, ny, nz = result.dims
    assert result.jmapt.shape == (nx, ny, nz) and result.jmapt.dtype == np.float32
    assert result.jmapt.strides == (4, 4 * nx, 4 * nx * ny)
    assert result.jmapt.base is not None and not result.jmapt.flags.writeable
    # jmapt is the largest APT value over the radii (never below 0), scale the
    # first radius that reached it.
    apt = np.stack(result.apt)
    assert np.array_equal(result.jmapt, np.maximum(apt.max(axis=0), 0))
    first = np.argmax(apt == result.jmapt, axis=0)
    raised = result.jmapt > 0
    assert np.array_equal(result.scale_voxels[raised],
                          result.radii_voxels.astype(np.float32)[first][raised])
    assert np.allclose(result.radii, result.radii_voxels * result.voxel_size)
    # The grid leaves two empty layers below the mesh: the lowest corner of
    # the mesh is the low corner of voxel (2, 2, 2), whose centre the affine gives.
    h = result.voxel_size
    centre = result.affine @ [2, 2, 2, 1]
    assert np.allclose(centre[:3], v.min(axis=0) + h / 2, rtol=0, atol=1e-6)
    # Histogram: voxels not outside, bin b for b/12 <= a < (b + 1)/12 with the
    # bounds in single precision.
    inside = result.labels != 255
    bounds = np.arange(13, dtype=np.float32) / np.float32(12)
    for k, a in enumerate(result.apt):
        a = a[inside]
        counts = [np.count_nonzero((a >= bounds[b]) & (a < bounds[b + 1])) for b in range(12)]
        assert counts == list(result.histogram[k])


def test_threads_and_repeated_runs_give_the_same_result():
    v, f = shapescale.read_mesh(DUMBBELL)
    runs = [shapescale.transform(v, f, radii=2, seed=11, threads=t) for t in (1, 2, 2)]
    for other in runs[1:]:
        assert np.array_equal(runs[0].jmapt, other.jmapt)
        assert np.array_equal(runs[0].scale, other.scale)


def test_progress_runs_with_the_lock_released():
    v, f = shapescale.read_mesh(DUMBBELL)
    calls, spins, phase = [], [0], ["before"]

    def progress(done, total, radius):
        calls.append((done, total, radius))
        phase[0] = "running" if done < total else "after"

    worker = threading.Thread(target=lambda: shapescale.transform(
        v, f, radii=4, seed=2, progress=progress))
    worker.start()
    while worker.is_alive():
        if phase[0] == "running":
            spins[0] += 1
    worker.join()
    assert [c[:2] for c in calls] == [(1, 4), (2, 4), (3, 4), (4, 4)]
    assert calls[0][2] == pytest.approx(2 * calls[1][2] - calls[2][2])
    assert spins[0] > 100  # this thread ran while the transform computed


def test_painted_mesh(tmp_path):
    v, f = shapescale.read_mesh(DUMBBELL)
    result = shapescale.transform(v, f, radii=4, seed=5)
    scale, jmapt = result.write_painted_mesh(tmp_path / "painted.ply", v, f, binary=False)
    text = (tmp_path / "painted.ply").read_text().splitlines()
    end = text.index("end_header")
    assert f"element vertex {len(v)}" in text and f"element face {len(f)}" in text
    rows = np.array([line.split() for line in text[end + 1:end + 1 + len(v)]], dtype=np.float64)
    assert np.array_equal(rows[:, :3].astype(np.float32), v.astype(np.float32))
    assert np.array_equal(rows[:, 3].astype(np.float32), scale)
    assert set(np.unique(scale)) <= set(np.float32(result.radii.astype(np.float32)))
    # Colours: viridis, as matplotlib tabulates it, within the rounding of a
    # nine-stop interpolation.
    matplotlib = pytest.importorskip("matplotlib")
    t = (scale - result.radii[0]) / (result.radii[-1] - result.radii[0])
    expected = np.round(matplotlib.colormaps["viridis"](t)[:, :3] * 255)
    assert np.abs(rows[:, 5:8] - expected).max() <= 8


def test_to_nifti():
    nibabel = pytest.importorskip("nibabel")
    v, f = shapescale.read_mesh(DUMBBELL)
    result = shapescale.transform(v, f, radii=1, seed=1)
    images = result.to_nifti()
    assert set(images) == {"jmapt", "scale", "labels"}
    for name, image in images.items():
        assert isinstance(image, nibabel.Nifti1Image)
        assert np.array_equal(image.affine, result.affine)
        assert np.array_equal(np.asarray(image.dataobj), getattr(result, name))


def small_mesh():
    v, f = torus(nu=12, nv=8)
    return v, f


def raise_in_progress(*_):
    raise KeyError("stop here")


def resolution_beyond_memory(v):
    """A voxel edge whose grid needs twice this machine's memory with tensors
    (73 bytes a voxel), or a skip where the output format cannot hold one."""
    voxels = 2 * os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 73
    if voxels > 2**31 - 1:
        pytest.skip("the largest grid the output format holds fits in this machine's memory")
    return float(np.prod(np.ptp(v, axis=0)) / voxels) ** (1 / 3)


BAD_CALLS = [
    ("vertices shape", lambda v, f: shapescale.transform(v[:, :2], f), ValueError, "(n, 3)"),
    ("vertices 1-d", lambda v, f: shapescale.transform(v.ravel(), f), ValueError, "(n, 3)"),
    ("vertices text", lambda v, f: shapescale.transform(v.astype(str), f), TypeError, "real"),
    ("vertices NaN", lambda v, f: shapescale.transform(np.where(v == v[3, 1], np.nan, v), f),
     ValueError, "finite"),
    ("vertices overflow", lambda v, f: shapescale.transform(v * 1e300, f), ValueError, "finite"),
    ("faces float", lambda v, f: shapescale.transform(v, f.astype(float)), TypeError, "integers"),
    ("faces shape", lambda v, f: shapescale.transform(v, f[:, :2]), ValueError, "(n, 3)"),
    ("face too high", lambda v, f: shapescale.transform(v, np.vstack([f, [0, 1, len(v)]])),
     IndexError, f"names vertex {len(small_mesh()[0])}"),
    ("face negative", lambda v, f: shapescale.transform(v, np.vstack([f, [0, -1, 2]])),
     IndexError, "names vertex -1"),
    ("no faces", lambda v, f: shapescale.transform(v, f[:0]), ValueError, "no face"),
    ("no vertices", lambda v, f: shapescale.transform(v[:0], f[:0]), ValueError, "no vertex"),
    ("negative resolution", lambda v, f: shapescale.transform(v, f, resolution=-0.1),
     ValueError, "resolution"),
    ("zero sigma", lambda v, f: shapescale.transform(v, f, sigma=0.0), ValueError, "sigma"),
    ("NaN start", lambda v, f: shapescale.transform(v, f, start_radius=float("nan")),
     ValueError, "start_radius"),
    ("infinite step", lambda v, f: shapescale.transform(v, f, radius_step=float("inf")),
     ValueError, "radius_step"),
    ("no radii", lambda v, f: shapescale.transform(v, f, radii=0), ValueError, "radii"),
    ("kernel", lambda v, f: shapescale.transform(v, f, kernel=3), ValueError, "kernel"),
    ("seed negative", lambda v, f: shapescale.transform(v, f, seed=-1), ValueError, "seed"),
    ("seed too large", lambda v, f: shapescale.transform(v, f, seed=2**32), ValueError, "seed"),
    ("threads", lambda v, f: shapescale.transform(v, f, threads=0), ValueError, "threads"),
    ("clockwise mesh", lambda v, f: shapescale.transform(v, f[:, ::-1]), ValueError, "clockwise"),
    ("grid beyond memory", lambda v, f: shapescale.transform(
        v, f, resolution=resolution_beyond_memory(v), tensors=True), MemoryError, "of memory"),
    ("progress raises", lambda v, f: shapescale.transform(v, f, progress=raise_in_progress),
     KeyError, "stop here"),
    ("normals shape", lambda v, f: shapescale.transform(v, f, radii=1).vertex_scale(v, v[:-1]),
     ValueError, "one row per vertex"),
    ("missing mesh", lambda v, f: shapescale.read_mesh("/nonexistent/mesh.off"),
     FileNotFoundError, "/nonexistent/mesh.off"),
    ("unwritable ply", lambda v, f: shapescale.write_painted_ply(
        "/nonexistent/x.ply", v, f, np.zeros(len(v)), np.zeros(len(v))), OSError, "x.ply"),
]


@pytest.mark.parametrize("name,call,error,words", BAD_CALLS, ids=[c[0] for c in BAD_CALLS])
def test_bad_arguments_raise_clear_errors(name, call, error, words):
    v, f = small_mesh()
    with pytest.raises(error) as caught:
        call(v, f)
    assert words in str(caught.value)


def test_malformed_file_names_the_file(tmp_path):
    path = tmp_path / "broken.off"
    path.write_text("OFF\n3 1 0\n0 0 0\n1 0 0\n")
    with pytest.raises(ValueError, match="broken.off"):
        shapescale.read_mesh(path)
