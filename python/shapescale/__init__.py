"""Multi-scale shape analysis of triangle meshes: the APT transform in Python.

    >>> import shapescale
    >>> vertices, faces = shapescale.read_mesh("examples/dumbbell.off")
    >>> result = shapescale.transform(vertices, faces, seed=1)
    >>> result.jmapt.shape == result.dims
    True

Volumes are numpy arrays indexed [x, y, z] (as nibabel's), lengths in the
mesh's world units; ``result.affine`` maps voxel indices to world positions
of the voxel centres. The transform runs in memory: it writes no file and
prints nothing.
"""

from __future__ import annotations

from typing import NamedTuple

import numpy as np

from . import _core

__all__ = [
    "read_mesh",
    "vertex_normals",
    "transform",
    "transform_file",
    "write_painted_ply",
    "Result",
    "Centres",
    "CENTRE_THRESHOLD",
]

TENSOR_NAMES = ("xx", "xy", "xz", "yy", "yz", "zz")

#: The default threshold of :meth:`Result.centres`, as --centre-threshold's.
CENTRE_THRESHOLD = _core.DEFAULT_CENTRE_THRESHOLD


class Centres(NamedTuple):
    """The centres of a run's round parts, strongest first: one row per
    centre, as the lines of the command line's --centres file."""

    #: float64 ``(n, 3)``: world position, the centroid of the plateau's voxel
    #: centres (the columns x, y, z)
    position: np.ndarray
    #: float64 ``(n,)``: radius in world units, the scale at ``voxel``
    radius: np.ndarray
    #: float32 ``(n,)``: the plateau's jmapt value
    jmapt: np.ndarray
    #: int64 ``(n, 3)``: the plateau's voxel nearest its centroid (i, j, k)
    voxel: np.ndarray
    #: int64 ``(n,)``: voxels of the plateau
    voxels: np.ndarray


def read_mesh(path):
    """Reads a mesh file in any format the command-line tool reads.

    Polygons are split into fans of triangles around their first vertex.

    Returns ``(vertices, faces)``: float64 ``(n, 3)`` coordinates (the
    single-precision values the tool holds) and int64 ``(m, 3)`` vertex
    numbers. Raises FileNotFoundError for a file that cannot be opened and
    ValueError for malformed content (the message names the file and line).
    """
    return _core.read_mesh(str(path))


def vertex_normals(vertices, faces):
    """Unit vertex normals as the tool computes them: float64 ``(n, 3)``.

    The area-weighted mean of the normals of the triangles around each
    vertex; outward for a closed mesh ordered counter-clockwise seen from
    outside; ``(0, 0, 0)`` for a vertex of no triangle.
    """
    return _core.vertex_normals(vertices, faces)


def transform(vertices, faces, *, resolution=None, start_radius=None,
              radius_step=None, sigma=None, radii=8, kernel=0, tensors=False,
              both_sides=False, open_mesh=False, seed=None, threads=None,
              keep_apt=False, even_sampling=False, progress=None):
    """Runs the multi-scale APT transform of a triangle mesh.

    vertices:  ``(n, 3)`` real coordinates, world units (held in single
               precision, as the tool holds them; must be finite)
    faces:     ``(m, 3)`` integer vertex numbers, 0 to n - 1, ordered
               counter-clockwise seen from outside for a closed mesh
    resolution, start_radius, radius_step, sigma:
               voxel edge, first radius, step between radii and filter width
               at the first radius, world units, rounded to single precision
               as the command line reads them. None takes the command line's
               default from the base scale of the mesh (``result.settings``
               shows the values used).
    radii:     number of radii (at least 1)
    kernel:    0 ball sum, 1 Gaussian, 2 ball sum then Gaussian (the -k option)
    tensors:   also keep the six normal-tensor volumes at the maxima (-t)
    both_sides: vote on the outer side of the surface too (-b)
    open_mesh: the mesh is not closed: nearest-vertex voxeliser and the
               area-based base scale (-c)
    seed:      0 to 2**32 - 1 for a reproducible sampling; None seeds from the clock
    threads:   OpenMP threads for this run (results do not depend on it)
    keep_apt:  keep the APT volume of every radius in ``result.apt``
    even_sampling: spread each triangle's samples evenly over its area, in
               proportion to it (--even-sampling): votes that do not depend on
               the tessellation
    progress:  called as ``progress(done, total, radius)`` after each radius,
               radius in world units; an exception raised there stops the run

    The interpreter lock is released while the transform runs; transforms
    started from several threads take turns. Returns a :class:`Result`.
    Raises TypeError or ValueError for bad arrays and settings (IndexError for
    a face naming a missing vertex), MemoryError for a grid too large.
    """
    run = _core.transform(
        vertices, faces, resolution=resolution, start_radius=start_radius,
        radius_step=radius_step, sigma=sigma, radii=radii, kernel=kernel,
        tensors=tensors, both_sides=both_sides, open_mesh=open_mesh,
        seed=seed, threads=threads, keep_apt=keep_apt, even_sampling=even_sampling,
        progress=progress)
    return Result(run)


def transform_file(path, **settings):
    """:func:`transform` of a mesh file, read exactly as the command line reads
    it (polygons keep their own smoothing neighbours, which the triangles from
    :func:`read_mesh` do not carry). Same keywords as :func:`transform`."""
    return Result(_core.transform_file(str(path), **settings))


def write_painted_ply(path, vertices, faces, scale, jmapt, *, colour_range=None,
                      binary=True):
    """Writes a mesh painted by `scale` as PLY (MeshLab, ParaView, Blender).

    Vertices carry float x, y, z, scale, jmapt and uchar red, green, blue from
    a viridis-like colour map; colour_range ``(low, high)`` maps to the ends
    of the map (default: the range of `scale`). Binary little-endian, or
    ASCII with ``binary=False``. Raises OSError when the file cannot be
    written (no partial file is left).
    """
    scale = np.asarray(scale, dtype=np.float32)
    if colour_range is None:
        finite = scale[np.isfinite(scale)]
        colour_range = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    low, high = colour_range
    _core.write_painted_ply(str(path), vertices, faces, scale,
                            np.asarray(jmapt, dtype=np.float32), float(low), float(high),
                            bool(binary))


def _read_only(array):
    array.flags.writeable = False
    return array


class Result:
    """The volumes and numbers of one transform run.

    Every volume has the shape ``dims`` = (nx, ny, nz) and is indexed
    [x, y, z]; ``jmapt``, ``labels``, ``apt`` and ``tensors`` are read-only
    views of the run's own buffers (copy them to modify them).
    """

    def __init__(self, run):
        self._run = run
        h = run.voxel_size
        #: The grid: (nx, ny, nz), world position of the low corner of voxel
        #: (0, 0, 0) (float64 of the tool's float32), voxel edge in world units.
        self.dims = tuple(run.dims)
        self.origin = np.array(run.origin, dtype=np.float64)
        self.voxel_size = float(h)
        #: Largest APT value over the radii (float32).
        self.jmapt = _read_only(run.jmapt)
        #: Radius at which jmapt was reached, voxel units (as in the "scale" file).
        self.scale_voxels = _read_only(run.scale_voxels)
        #: The same in world units: float32 of scale_voxels times h.
        self.scale = _read_only(
            (self.scale_voxels.astype(np.float64) * h).astype(np.float32))
        #: uint8 labels of the voxeliser; 255 outside the shape.
        self.labels = _read_only(run.labels)
        #: Per radius the APT volume (with keep_apt), else empty.
        self.apt = [_read_only(a) for a in run.apt]
        #: The six tensor volumes xx, xy, xz, yy, yz, zz at the maxima (with tensors).
        self.tensors = [_read_only(t) for t in run.tensors]
        #: Per radius the twelve histogram counts (int64, radii x 12).
        self.histogram = _read_only(run.histogram)
        #: The radii, world units (float64).
        self.radii_voxels = np.array(run.radii_voxels, dtype=np.float64)
        self.radii = self.radii_voxels * h
        #: The lengths used, as the command line's summary line shows them:
        #: volume, base_scale, resolution, start_radius, radius_step, sigma, radii.
        self.settings = dict(run.settings)

    @property
    def affine(self):
        """4 x 4 voxel index to world: spacing h, translation origin + h / 2
        (voxel centres; the origin is the low corner of voxel 0)."""
        h = self.voxel_size
        a = np.diag([h, h, h, 1.0])
        a[:3, 3] = self.origin + h / 2
        return a

    def centres(self, threshold=CENTRE_THRESHOLD):
        """The centres of the round parts: the local maxima of jmapt among the
        voxels not outside, at or above `threshold`, one per plateau of equal
        values, strongest first; a centre closer to a stronger one than the
        larger of their radii is left out. The rows of --centres (and the same
        numbers for the same seed). Returns :class:`Centres`; ValueError unless
        the threshold is above 0."""
        return Centres(*(_read_only(a) for a in self._run.centres(float(threshold))))

    @property
    def descriptor(self):
        """The shape descriptor, float64 ``(13 * radii,)``: per radius the
        twelve histogram counts and the count at or above 1, each divided by the
        voxels not outside (the summary's ``descriptor.values``). Compare
        descriptors of the same radii in base scales
        (:attr:`descriptor_radii`), e.g. by their L1 distance."""
        return _read_only(self._run.descriptor[0])

    @property
    def descriptor_radii(self):
        """The radii as multiples of the base scale, float64: the same for
        every mesh run with the derived lengths."""
        return _read_only(self._run.descriptor[1])

    def tensor(self, name):
        """The tensor volume named "xx", "xy", "xz", "yy", "yz" or "zz"."""
        if not self.tensors:
            raise ValueError("the run kept no tensors: run it with tensors=True")
        return self.tensors[TENSOR_NAMES.index(name)]

    def vertex_scale(self, vertices, normals):
        """For each vertex, the scale (world units, float32) and jmapt of the
        voxel of highest jmapt met when walking from the vertex against its
        outward normal up to the largest radius plus the filter's reach (the
        first such voxel on ties). Use the mesh as it was given to the
        transform and :func:`vertex_normals`."""
        return self._run.vertex_scale(vertices, normals)

    def write_painted_mesh(self, path, vertices, faces, *, binary=True):
        """Writes the mesh painted with :meth:`vertex_scale` as PLY, the
        colours spanning the run's radii. Returns (scale, jmapt)."""
        scale, jmapt = self.vertex_scale(vertices, vertex_normals(vertices, faces))
        write_painted_ply(path, vertices, faces, scale, jmapt,
                          colour_range=(self.radii[0], self.radii[-1]), binary=binary)
        return scale, jmapt

    def to_nifti(self):
        """The volumes as nibabel NIfTI-1 images with ``affine``: a dict with
        "jmapt", "scale" (world units), "labels" and, with tensors, "vxx" ...
        "vzz". Needs nibabel."""
        try:
            import nibabel
        except ImportError as error:
            raise ImportError("to_nifti needs nibabel (Debian: python3-nibabel)") from error
        volumes = {"jmapt": self.jmapt, "scale": self.scale, "labels": self.labels}
        volumes.update({"v" + n: t for n, t in zip(TENSOR_NAMES, self.tensors)})
        images = {}
        for name, volume in volumes.items():
            image = nibabel.Nifti1Image(np.asarray(volume), self.affine)
            image.header.set_xyzt_units("unknown")
            images[name] = image
        return images

    def __repr__(self):
        return (f"<shapescale.Result {len(self.radii)} radii on a "
                f"{'x'.join(map(str, self.dims))} grid, h={self.voxel_size:g}>")
