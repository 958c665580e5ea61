"""The Python module against the command-line binary, and its argument checks.

Run with PYTHONPATH=<build>/python (``make python-test``); the binary is
$SHAPESCALE_BINARY or <repo>/build/shapescale.
"""

import csv
import json
import os
import pathlib
import pickle
import subprocess
import sys
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
    run_binary(["--seed", "1", "-f", str(DUMBBELL), "-o", "seeded", "-n", "1", *flags], tmp_path)
    assert np.array_equal(read_volume(tmp_path / "seeded", "jmapt", result.dims), result.jmapt)


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


def test_volumes_are_views_with_world_geometry_on_any_thread_count(tmp_path, monkeypatch):
    v, f = shapescale.read_mesh(DUMBBELL)
    monkeypatch.chdir(tmp_path)
    result, *again = [shapescale.transform(v, f, radii=3, keep_apt=True, seed=3, threads=t)
                      for t in (1, 2, 2)]
    assert list(tmp_path.iterdir()) == []  # no occupancy file, no output directory
    for other in again:
        assert np.array_equal(result.jmapt, other.jmapt) and np.array_equal(result.scale, other.scale)
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


def sphere(centre, n=24):
    """Closed unit UV sphere around `centre`, faces counter-clockwise seen from outside."""
    theta = np.pi * np.arange(1, n) / n
    phi = 2 * np.pi * np.arange(2 * n) / (2 * n)
    t, p = np.meshgrid(theta, phi, indexing="ij")
    rings = np.stack([np.sin(t) * np.cos(p), np.sin(t) * np.sin(p), np.cos(t)], -1)
    v = np.vstack([[0, 0, 1], rings.reshape(-1, 3), [0, 0, -1]]) + centre
    m, last = 2 * n, len(v) - 1
    at = lambda i, j: 1 + i * m + j % m  # noqa: E731
    j = np.arange(m)
    faces = [np.stack([np.zeros(m, int), at(0, j), at(0, j + 1)], -1),
             np.stack([np.full(m, last), at(n - 2, j + 1), at(n - 2, j)], -1)]
    for i in range(n - 2):
        faces += [np.stack([at(i, j), at(i + 1, j), at(i + 1, j + 1)], -1),
                  np.stack([at(i, j), at(i + 1, j + 1), at(i, j + 1)], -1)]
    return v, np.vstack(faces)


@needs_binary
def test_nifti_files_read_back_in_world_coordinates(tmp_path):
    nib = pytest.importorskip("nibabel")
    centre = np.array([0.3, -0.2, 0.5])
    write_off(tmp_path / "sphere.off", *sphere(centre))
    run_binary(["-f", "sphere.off", "-r", "0.1", "-s", "0.8", "-p", "0.2", "-g", "0.2", "-n", "2",
                "--seed", "1", "--nifti", "--nifti-gz", "-o", "out"], tmp_path)
    out = tmp_path / "out"
    info = (out / "info.txt").read_text().split("\n")
    origin = np.array([float(x) for x in info[1].split()])
    h = float(info[2].split()[0])
    dims = tuple(int(d) for d in np.fromfile(out / "jmapt.hdr", "<i2", 3, offset=42))
    # Voxel centres: voxel 0 spans [origin, origin + h), its centre is origin + h/2.
    expected = np.diag([h, h, h, 1.0])
    expected[:3, 3] = origin + h / 2
    for name in ("apt_0", "apt_1", "jmapt", "scale"):
        for where in (f"{name}.nii", f"{name}.nii.gz"):
            image = nib.load(out / where)
            assert image.shape == dims and image.get_data_dtype() == np.float32, where
            assert np.array_equal(np.asarray(image.dataobj), read_volume(out, name, dims)), where
            assert int(image.header["qform_code"]) == 1 == int(image.header["sform_code"]), where
            # info.txt rounds to 6 decimals.
            assert np.allclose(image.get_sform(), expected, atol=2e-6), where
            assert np.allclose(image.get_qform(), expected, atol=2e-6), where
            assert image.dataobj.offset == 352, where  # the header copy forgets it
    image = nib.load(out / "jmapt.nii.gz")
    to_voxel = np.linalg.inv(image.affine)
    voxel_of = lambda p: np.floor(to_voxel[:3, :3] @ p + to_voxel[:3, 3] + 0.5)  # noqa: E731
    # The grid puts the mesh's low corner two voxels above the origin: a point
    # 3/4 of a voxel inside it lies in voxel 2 (a missing half-voxel shift gives 3).
    v, _ = shapescale.read_mesh(tmp_path / "sphere.off")
    lo, hi = v.min(axis=0), v.max(axis=0)
    assert (voxel_of(lo + 0.75 * h) == 2).all()
    assert (voxel_of(hi - 0.25 * h) == np.floor((hi - 0.25 * h - origin) / h)).all()
    # The largest jmapt sits at the sphere's centre (within two voxels).
    best = np.unravel_index(np.argmax(np.asarray(image.dataobj)), image.shape)
    assert np.linalg.norm(image.affine[:3, :3] @ best + image.affine[:3, 3] - centre) < 2 * h


def test_orient_flips_a_clockwise_mesh_and_a_result_pickles_and_converts_to_nifti():
    v, f = shapescale.read_mesh(DUMBBELL)
    plain = shapescale.transform(v, f, radii=2, seed=7)
    flipped = shapescale.transform(v, f[:, ::-1], radii=2, seed=7, orient=True)
    assert flipped.reoriented and not plain.reoriented
    back = pickle.loads(pickle.dumps(flipped))
    for name in ("jmapt", "scale", "labels", "histogram", "radii", "descriptor", "origin"):
        assert np.array_equal(getattr(plain, name), getattr(back, name)), name
    assert (back.settings, back.dims, back.reoriented) == (plain.settings, plain.dims, True)
    assert np.array_equal(back.centres().position, plain.centres().position)
    # An open mesh has no inside to decide by: left as it is, with a warning.
    with pytest.warns(RuntimeWarning, match=r"^orient=True: the mesh has a negative volume "
                      r"\(-\d.*\) but is open \(12 boundary edges\).* left as it is$"):
        opened = shapescale.transform(v, f[:-10, ::-1], orient=True, open_mesh=True, radii=1)
    assert not opened.reoriented
    assert shapescale.interrupt() is False  # no run to stop
    nibabel = pytest.importorskip("nibabel")
    images = plain.to_nifti()
    assert set(images) == {"jmapt", "scale", "labels"}
    for name, image in images.items():
        assert isinstance(image, nibabel.Nifti1Image)
        assert np.array_equal(image.affine, plain.affine)
        assert np.array_equal(np.asarray(image.dataobj), getattr(plain, name))


def test_dask_example_gathers_a_batch_on_two_process_workers(tmp_path):
    pytest.importorskip("distributed", reason="python3-distributed is not installed")
    (tmp_path / "bad.off").write_text("OFF\n3 1 0\n0 0 0\n")
    done = subprocess.run(
        [sys.executable, str(REPO / "examples" / "dask_batch.py"), str(DUMBBELL),
         str(tmp_path / "bad.off"), "--workers", "2", "-n", "2", "--seed", "3",
         "--descriptors", str(tmp_path / "d.csv")],
        capture_output=True, text=True, timeout=120, env={**os.environ, "PYTHONPATH": ":".join(
            sys.path)})
    assert done.returncode == 2, done.stderr
    assert f"{tmp_path / 'bad.off'}: failed: ValueError: {tmp_path / 'bad.off'}: vertex 1" \
        in done.stdout and "1 of 2 meshes done" in done.stdout
    rows = list(csv.reader((tmp_path / "d.csv").read_text().splitlines()))
    assert len(rows) == 2 and rows[1][:2] == ["dumbbell", str(DUMBBELL)]
    serial = shapescale.transform_file(DUMBBELL, radii=2, seed=3)
    assert np.array_equal(np.array(rows[1][2:], dtype=float), serial.descriptor)


def small_mesh():
    return torus(nu=12, nv=8)


def raise_in_progress(*_):
    raise KeyError("stop here")


def resolution_beyond_memory(v):
    """A voxel edge whose grid needs twice this machine's memory with tensors
    (73 bytes a voxel)."""
    voxels = 2 * os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 73
    return float(np.prod(np.ptp(v, axis=0)) / voxels) ** (1 / 3)


def long_bar():
    """A bar 1 x 1 x 40000: with h = 1 its grid is longer than 32767 voxels,
    the most an Analyze file holds along an axis."""
    v = np.array([[x, y, z] for z in (0, 40000) for y in (0, 1) for x in (0, 1)], float)
    f = [[0, 2, 3], [0, 3, 1], [4, 5, 7], [4, 7, 6], [0, 1, 5], [0, 5, 4],
         [2, 6, 7], [2, 7, 3], [0, 4, 6], [0, 6, 2], [1, 3, 7], [1, 7, 5]]
    return v, np.array(f)


class Part(str):
    """A table row's message given in part: the row checks that it is contained."""


tf = shapescale.transform


def transform(**keywords):
    return lambda v, f: shapescale.transform(v, f, **keywords)


CLOCKWISE = ("a negative value derived from the mesh means that its faces seem to be ordered "
             "clockwise seen from outside (negative volume): run again with orient=True, reorient "
             "the mesh or give the lengths explicitly (resolution, start_radius, radius_step, "
             "sigma)")
BAD_CALLS = [
    ("vertices shape", lambda v, f: shapescale.transform(v[:, :2], f), ValueError,
     "vertices must be an (n, 3) array, not of shape (96, 2)"),
    ("vertices 1-d", lambda v, f: shapescale.transform(v.ravel(), f), ValueError,
     "vertices must be an (n, 3) array, not of shape (288,)"),
    ("vertices ragged list", lambda v, f: shapescale.transform([[0, 0, 0], [1, 2]] * 9999, f),
     TypeError, "vertices must be an (n, 3) array, not a list that numpy cannot make one of"),
    ("vertices text", lambda v, f: shapescale.transform(v.astype(str), f), TypeError,
     "vertices must hold real numbers, not <U32"),
    ("vertices NaN", lambda v, f: shapescale.transform(np.where(v == v[3, 1], np.nan, v), f),
     ValueError, "vertices row 0 holds nan, not a finite single-precision number"),
    ("vertices overflow", lambda v, f: shapescale.transform(v * 1e300, f), ValueError,
     "vertices row 0 holds 1.5e+300, not a finite single-precision number"),
    ("faces float", lambda v, f: shapescale.transform(v, f.astype(float)), TypeError,
     "faces must hold integers, not float64"),
    ("faces shape", lambda v, f: shapescale.transform(v, f[:, :2]), ValueError,
     "faces must be an (n, 3) array, not of shape (192, 2)"),
    ("face too high", lambda v, f: shapescale.transform(v, np.vstack([f, [0, 1, len(v)]])),
     IndexError, "face 192 names vertex 96, but there are 96 vertices"),
    ("face negative", lambda v, f: shapescale.transform(v, np.vstack([f, [0, -1, 2]])),
     IndexError, "face 192 names vertex -1, but there are 96 vertices"),
    ("no faces", lambda v, f: shapescale.transform(v, f[:0]), ValueError, "the mesh has no face"),
    ("no vertices", lambda v, f: shapescale.transform(v[:0], f[:0]), ValueError,
     "the mesh has no vertex"),
    ("negative resolution", transform(resolution=-0.1), ValueError,
     "resolution must be a positive finite length, not -0.1"),
    ("zero sigma", transform(sigma=0.0), ValueError, "sigma must be a positive finite length, not 0"),
    ("NaN start", transform(start_radius=float("nan")), ValueError,
     "start_radius must be a positive finite length, not nan"),
    ("infinite step", transform(radius_step=float("inf")), ValueError,
     "radius_step must be a positive finite length, not inf"),
    ("no radii", transform(radii=0), ValueError, "radii must be at least 1, not 0"),
    ("radii None", transform(radii=None), TypeError, "radii must be an integer, not NoneType"),
    ("kernel", transform(kernel=3), ValueError,
     "kernel must be 0 (ball), 1 (Gaussian) or 2 (ball then Gaussian), not 3"),
    ("seed negative", transform(seed=-1), ValueError,
     "seed must be an integer from 0 to 4294967295, not -1"),
    ("seed too large", transform(seed=2**70), ValueError,
     f"seed must be an integer from 0 to 4294967295, not {2**70}"),
    ("seed bool", transform(seed=True), TypeError, "seed must be an integer, not bool"),
    ("seed float", transform(seed=1.0), TypeError, "seed must be an integer, not float"),
    ("no threads", transform(threads=0), ValueError, "threads must be from 1 to 1024, not 0"),
    ("threads beyond the command line's", transform(threads=1025), ValueError,
     "threads must be from 1 to 1024, not 1025"),
    ("clockwise mesh", lambda v, f: shapescale.transform(v, f[:, ::-1]), ValueError,
     Part("is not positive; " + CLOCKWISE)),
    ("clockwise lengths", lambda v, f: shapescale.transform(v, f[:, ::-1], resolution=0.05, sigma=0.1),
     ValueError, Part("radii must be positive; " + CLOCKWISE)),
    ("grid beyond memory", lambda v, f: shapescale.transform(
        v, f, resolution=resolution_beyond_memory(v), tensors=True), MemoryError,
     Part("; choose a coarser grid resolution with resolution")),
    ("progress raises", transform(progress=raise_in_progress), KeyError, "'stop here'"),
    ("transform inside progress", transform(progress=lambda *_: shapescale.transform(*small_mesh())),
     RuntimeError, "a transform cannot start inside the progress callback of another: runs take "
     "turns, so it would wait for ever"),
    ("interrupt", transform(radii=5, progress=lambda *_: shapescale.interrupt()),
     KeyboardInterrupt, "the transform was stopped by shapescale.interrupt() after 1 of 5 radii"),
    ("normals shape", lambda v, f: shapescale.transform(v, f, radii=1).vertex_scale(v, v[:-1]),
     ValueError, "normals must have one row per vertex (96), not 95"),
    ("missing mesh", lambda v, f: shapescale.read_mesh("/nonexistent/mesh.off"),
     FileNotFoundError, "cannot open mesh /nonexistent/mesh.off: No such file or directory"),
    ("unwritable ply", lambda v, f: shapescale.write_painted_ply(
        "/nonexistent/x.ply", v, f, np.zeros(len(v)), np.zeros(len(v))), OSError,
     "cannot create /nonexistent/x.ply: No such file or directory"),
]


@pytest.mark.parametrize("name,call,error,message", BAD_CALLS, ids=[c[0] for c in BAD_CALLS])
def test_bad_arguments_raise_clear_errors(name, call, error, message):
    v, f = small_mesh()
    with pytest.raises(error) as caught:
        call(v, f)
    got = str(caught.value)
    assert message in got if isinstance(message, Part) else got == message


def test_an_in_memory_grid_is_not_held_to_the_file_format():
    # The nearest-vertex voxeliser: the closed-mesh one takes seconds on this bar.
    result = shapescale.transform(*long_bar(), resolution=1.0, start_radius=1.0, radius_step=1.0,
                                  sigma=1.0, radii=1, seed=1, open_mesh=True)
    assert result.dims[2] > 32767 and result.jmapt.max() > 0


def test_malformed_file_names_the_file(tmp_path):
    path = tmp_path / "broken.off"
    path.write_text("OFF\n3 1 0\n0 0 0\n1 0 0\n")
    with pytest.raises(ValueError, match="broken.off"):
        shapescale.read_mesh(path)
