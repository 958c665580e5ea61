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

Batches: transforms started from several threads of one process take turns
(each is given every core), so run a batch in several processes, e.g. Dask
process workers (``examples/dask_batch.py``); a :class:`Result` pickles.
Dask sets ``OMP_NUM_THREADS=1`` in its worker processes, so there a
transform uses one core unless it is given ``threads=``.
"""

from __future__ import annotations

import os
from importlib import metadata
from typing import Callable, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _core

__all__ = [
    "read_mesh",
    "vertex_normals",
    "transform",
    "transform_file",
    "interrupt",
    "write_painted_ply",
    "Result",
    "Centres",
    "CENTRE_THRESHOLD",
    "__version__",
]

try:
    __version__ = metadata.version("shapescale")
except metadata.PackageNotFoundError:  # imported from a build tree, not installed
    __version__ = "unknown"

PathLike = Union[str, "os.PathLike[str]"]
Progress = Callable[[int, int, float], object]

TENSOR_NAMES = ("xx", "xy", "xz", "yy", "yz", "zz")

#: The default threshold of :meth:`Result.centres`, as --centre-threshold's.
CENTRE_THRESHOLD: float = _core.DEFAULT_CENTRE_THRESHOLD


class Centres(NamedTuple):
    """The centres of a run's round parts, strongest first.

    One row per centre, as the lines of the command line's --centres file.

    Attributes
    ----------
    position : numpy.ndarray
        float64 ``(n, 3)``: world position, the centroid of the plateau's
        voxel centres (the columns x, y, z).
    radius : numpy.ndarray
        float64 ``(n,)``: radius in world units, the scale at `voxel`.
    jmapt : numpy.ndarray
        float32 ``(n,)``: the plateau's jmapt value.
    voxel : numpy.ndarray
        int64 ``(n, 3)``: the plateau's voxel nearest its centroid (i, j, k).
    voxels : numpy.ndarray
        int64 ``(n,)``: voxels of the plateau.
    """

    position: np.ndarray
    radius: np.ndarray
    jmapt: np.ndarray
    voxel: np.ndarray
    voxels: np.ndarray


def read_mesh(path: PathLike) -> Tuple[np.ndarray, np.ndarray]:
    """Read a mesh file in any format the command-line tool reads.

    Polygons are split into fans of triangles around their first vertex.

    Parameters
    ----------
    path : str or os.PathLike
        An OFF, PLY, STL or OBJ file.

    Returns
    -------
    vertices : numpy.ndarray
        float64 ``(n, 3)`` coordinates (the single-precision values the tool holds).
    faces : numpy.ndarray
        int64 ``(m, 3)`` vertex numbers.

    Raises
    ------
    FileNotFoundError
        The file cannot be opened.
    ValueError
        Malformed content; the message names the file and the line.
    """
    return _core.read_mesh(os.fspath(path))


def vertex_normals(vertices: np.ndarray, faces: np.ndarray) -> np.ndarray:
    """Unit vertex normals as the tool computes them.

    The area-weighted mean of the normals of the triangles around each
    vertex; outward for a closed mesh ordered counter-clockwise seen from
    outside; ``(0, 0, 0)`` for a vertex of no triangle.

    Parameters
    ----------
    vertices : array_like
        ``(n, 3)`` real coordinates.
    faces : array_like
        ``(m, 3)`` integer vertex numbers.

    Returns
    -------
    numpy.ndarray
        float64 ``(n, 3)``.
    """
    return _core.vertex_normals(vertices, faces)


def transform(vertices: np.ndarray, faces: np.ndarray, *,
              resolution: Optional[float] = None, start_radius: Optional[float] = None,
              radius_step: Optional[float] = None, sigma: Optional[float] = None,
              radii: int = 8, kernel: int = 0, tensors: bool = False,
              both_sides: bool = False, open_mesh: bool = False, seed: Optional[int] = None,
              threads: Optional[int] = None, keep_apt: bool = False,
              even_sampling: bool = False, orient: bool = False,
              progress: Optional[Progress] = None) -> Result:
    """Run the multi-scale APT transform of a triangle mesh.

    The interpreter lock is released while the transform runs; transforms
    started from several threads take turns. Ctrl-C (with the run in the
    main thread) or an exception raised by `progress` stops it after the
    current radius; :func:`interrupt`, from any thread, after the current stage.

    Parameters
    ----------
    vertices : array_like
        ``(n, 3)`` real coordinates, world units (held in single precision,
        as the tool holds them; must be finite).
    faces : array_like
        ``(m, 3)`` integer vertex numbers, 0 to n - 1, ordered
        counter-clockwise seen from outside for a closed mesh.
    resolution, start_radius, radius_step, sigma : float, optional
        Voxel edge, first radius, step between radii and filter width at the
        first radius, world units, rounded to single precision as the command
        line reads them. None takes the command line's default from the base
        scale of the mesh (``result.settings`` shows the values used).
    radii : int, default 8
        Number of radii, at least 1.
    kernel : int, default 0
        0 ball sum, 1 Gaussian, 2 ball sum then Gaussian (the -k option).
    tensors : bool, default False
        Also keep the six normal-tensor volumes at the maxima (-t).
    both_sides : bool, default False
        Vote on the outer side of the surface too (-b).
    open_mesh : bool, default False
        The mesh is not closed: nearest-vertex voxeliser and the area-based
        base scale (-c).
    seed : int, optional
        0 to 2**32 - 1 for a reproducible sampling; None seeds from the clock.
    threads : int, optional
        OpenMP threads for this run, 1 to 1024 (results do not depend on
        it); None: OpenMP's default (``OMP_NUM_THREADS``, else every core).
    keep_apt : bool, default False
        Keep the APT volume of every radius in ``result.apt``.
    even_sampling : bool, default False
        Spread each triangle's samples evenly over its area, in proportion to
        it (--even-sampling): votes that do not depend on the tessellation.
    orient : bool, default False
        Flip every face of a closed mesh of negative volume (ordered
        clockwise) first (--orient); ``result.reoriented`` says whether it
        did. An open mesh of negative volume is left as it is, with a
        RuntimeWarning.
    progress : callable, optional
        Called as ``progress(done, total, radius)`` after each radius, radius
        in world units; an exception raised there stops the run. It must not
        start a transform itself.

    Returns
    -------
    Result

    Raises
    ------
    TypeError, ValueError
        Bad arrays or settings; the message names the keyword.
    IndexError
        A face names a missing vertex.
    MemoryError
        The grid does not fit into the memory.
    KeyboardInterrupt
        :func:`interrupt` stopped the run.
    RuntimeError
        Called from the `progress` callback of a run.
    """
    return Result(_core.transform(
        vertices, faces, resolution=resolution, start_radius=start_radius,
        radius_step=radius_step, sigma=sigma, radii=radii, kernel=kernel, tensors=tensors,
        both_sides=both_sides, open_mesh=open_mesh, seed=seed, threads=threads,
        keep_apt=keep_apt, even_sampling=even_sampling, orient=orient, progress=progress))


def transform_file(path: PathLike, *,
                   resolution: Optional[float] = None, start_radius: Optional[float] = None,
                   radius_step: Optional[float] = None, sigma: Optional[float] = None,
                   radii: int = 8, kernel: int = 0, tensors: bool = False,
                   both_sides: bool = False, open_mesh: bool = False,
                   seed: Optional[int] = None, threads: Optional[int] = None,
                   keep_apt: bool = False, even_sampling: bool = False, orient: bool = False,
                   progress: Optional[Progress] = None) -> Result:
    """Run :func:`transform` on a mesh file, read as the command line reads it.

    Polygons keep their own smoothing neighbours, which the triangles from
    :func:`read_mesh` do not carry. Suits ``client.map(transform_file,
    paths)`` in Dask: the workers read the files.

    Parameters
    ----------
    path : str or os.PathLike
        An OFF, PLY, STL or OBJ file.

    Other Parameters
    ----------------
    resolution, start_radius, radius_step, sigma, radii, kernel, tensors, \
    both_sides, open_mesh, seed, threads, keep_apt, even_sampling, orient, progress
        As for :func:`transform`.

    Returns
    -------
    Result

    Raises
    ------
    FileNotFoundError
        The file cannot be opened.
    ValueError
        Malformed content (the message names the file and the line), or a
        refusal as :func:`transform` gives.
    """
    return Result(_core.transform_file(
        os.fspath(path), resolution=resolution, start_radius=start_radius,
        radius_step=radius_step, sigma=sigma, radii=radii, kernel=kernel, tensors=tensors,
        both_sides=both_sides, open_mesh=open_mesh, seed=seed, threads=threads,
        keep_apt=keep_apt, even_sampling=even_sampling, orient=orient, progress=progress))


def interrupt() -> bool:
    """Stop the transforms in progress, and those waiting for their turn.

    Ctrl-C reaches only the main thread; a handler there (or any thread)
    calls this to stop runs in worker threads. Each stopped run raises
    KeyboardInterrupt in its own thread after its current stage.

    Returns
    -------
    bool
        True if a run was in progress or waiting.
    """
    return _core.interrupt()


def write_painted_ply(path: PathLike, vertices: np.ndarray, faces: np.ndarray,
                      scale: np.ndarray, jmapt: np.ndarray, *,
                      colour_range: Optional[Tuple[float, float]] = None,
                      binary: bool = True) -> None:
    """Write a mesh painted by `scale` as PLY (MeshLab, ParaView, Blender).

    Vertices carry float x, y, z, scale, jmapt and uchar red, green, blue from
    a viridis-like colour map. No partial file is left on failure.

    Parameters
    ----------
    path : str or os.PathLike
        The file to write.
    vertices, faces : array_like
        The mesh, as :func:`transform` takes it.
    scale, jmapt : array_like
        One value per vertex.
    colour_range : (float, float), optional
        The values at the ends of the colour map; default: the range of the
        finite values of `scale`.
    binary : bool, default True
        Binary little-endian; ASCII with False.

    Raises
    ------
    OSError
        The file cannot be written.
    """
    scale = np.asarray(scale, dtype=np.float32)
    if colour_range is None:
        finite = scale[np.isfinite(scale)]
        colour_range = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    low, high = colour_range
    _core.write_painted_ply(os.fspath(path), vertices, faces, scale,
                            np.asarray(jmapt, dtype=np.float32), float(low), float(high),
                            bool(binary))


def _read_only(array: np.ndarray) -> np.ndarray:
    array.flags.writeable = False
    return array


class Result:
    """The volumes and numbers of one transform run.

    Every volume has the shape ``dims`` = (nx, ny, nz) and is indexed
    [x, y, z]; ``jmapt``, ``labels``, ``apt`` and ``tensors`` are read-only
    views of the run's own buffers (copy them to modify them). A result
    pickles (arrays and settings), so it travels from worker processes.

    Attributes
    ----------
    dims : tuple of int
        (nx, ny, nz).
    origin : numpy.ndarray
        float64 world position of the low corner of voxel (0, 0, 0) (the
        tool's float32).
    voxel_size : float
        Voxel edge h, world units.
    jmapt : numpy.ndarray
        float32: the largest APT value over the radii.
    scale_voxels : numpy.ndarray
        float32: the radius at which jmapt was reached, voxel units (as the
        "scale" file).
    scale : numpy.ndarray
        float32: the same in world units (scale_voxels times h).
    labels : numpy.ndarray
        uint8 labels of the voxeliser; 255 outside the shape.
    apt : list of numpy.ndarray
        Per radius the APT volume (with keep_apt), else empty.
    tensors : list of numpy.ndarray
        The six tensor volumes xx, xy, xz, yy, yz, zz at the maxima (with
        tensors), else empty.
    histogram : numpy.ndarray
        int64 ``(radii, 12)``: per radius the twelve histogram counts.
    radii : numpy.ndarray
        float64 radii, world units (``radii_voxels`` in voxel units).
    settings : dict
        The lengths used, as the command line's summary line shows them:
        volume, base_scale, resolution, start_radius, radius_step, sigma, radii.
    reoriented : bool
        ``orient=True`` flipped the faces.
    """

    def __init__(self, run: "_core.Run") -> None:
        self._run = run
        h = run.voxel_size
        self.dims: Tuple[int, int, int] = tuple(run.dims)
        self.origin = np.array(run.origin, dtype=np.float64)
        self.voxel_size = float(h)
        self.jmapt = _read_only(run.jmapt)
        self.scale_voxels = _read_only(run.scale_voxels)
        self.scale = _read_only(
            (self.scale_voxels.astype(np.float64) * h).astype(np.float32))
        self.labels = _read_only(run.labels)
        self.apt = [_read_only(a) for a in run.apt]
        self.tensors = [_read_only(t) for t in run.tensors]
        self.histogram = _read_only(run.histogram)
        self.radii_voxels = np.array(run.radii_voxels, dtype=np.float64)
        self.radii = self.radii_voxels * h
        self.settings = dict(run.settings)
        self.reoriented = bool(run.reoriented)

    def __reduce__(self):
        # The compiled run pickles its buffers; every attribute is derived from it.
        return (Result, (self._run,))

    @property
    def affine(self) -> np.ndarray:
        """4 x 4 voxel index to world position of the voxel centre.

        Spacing h, translation origin + h / 2 (the origin is the low corner
        of voxel 0).
        """
        h = self.voxel_size
        a = np.diag([h, h, h, 1.0])
        a[:3, 3] = self.origin + h / 2
        return a

    def centres(self, threshold: float = CENTRE_THRESHOLD) -> Centres:
        """The centres of the round parts, strongest first.

        The local maxima of jmapt among the voxels not outside, at or above
        `threshold`, one per plateau of equal values; a centre closer to a
        stronger one than the larger of their radii is left out. The rows of
        --centres (and the same numbers for the same seed).

        Parameters
        ----------
        threshold : float, default CENTRE_THRESHOLD
            The least jmapt of a centre, above 0.

        Returns
        -------
        Centres

        Raises
        ------
        ValueError
            The threshold is not above 0.
        """
        return Centres(*(_read_only(a) for a in self._run.centres(float(threshold))))

    @property
    def descriptor(self) -> np.ndarray:
        """The shape descriptor, float64 ``(13 * radii,)``.

        Per radius the twelve histogram counts and the count at or above 1,
        each divided by the voxels not outside (the summary's
        ``descriptor.values``). Compare descriptors of the same radii in base
        scales (:attr:`descriptor_radii`), e.g. by their L1 distance.
        """
        return _read_only(self._run.descriptor[0])

    @property
    def descriptor_radii(self) -> np.ndarray:
        """The radii as multiples of the base scale, float64.

        The same for every mesh run with the derived lengths.
        """
        return _read_only(self._run.descriptor[1])

    def tensor(self, name: str) -> np.ndarray:
        """One tensor volume of a run with ``tensors=True``.

        Parameters
        ----------
        name : {"xx", "xy", "xz", "yy", "yz", "zz"}

        Returns
        -------
        numpy.ndarray
            float32 ``dims``.

        Raises
        ------
        ValueError
            The run kept no tensors, or `name` is none of the six.
        """
        if not self.tensors:
            raise ValueError("the run kept no tensors: run it with tensors=True")
        if name not in TENSOR_NAMES:
            raise ValueError(f"no tensor {name!r}: the names are {', '.join(TENSOR_NAMES)}")
        return self.tensors[TENSOR_NAMES.index(name)]

    def vertex_scale(self, vertices: np.ndarray,
                     normals: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
        """The scale and jmapt the run gives each vertex of the mesh.

        The voxel of highest jmapt met when walking from the vertex against
        its outward normal up to the largest radius plus the filter's reach
        (the first such voxel on ties).

        Parameters
        ----------
        vertices : array_like
            ``(n, 3)``: the mesh as it was given to the transform.
        normals : array_like
            ``(n, 3)``: its :func:`vertex_normals`.

        Returns
        -------
        scale : numpy.ndarray
            float32 ``(n,)``, world units.
        jmapt : numpy.ndarray
            float32 ``(n,)``.
        """
        return self._run.vertex_scale(vertices, normals)

    def write_painted_mesh(self, path: PathLike, vertices: np.ndarray, faces: np.ndarray, *,
                           binary: bool = True) -> Tuple[np.ndarray, np.ndarray]:
        """Write the mesh painted with :meth:`vertex_scale` as PLY.

        The colours span the run's radii (see :func:`write_painted_ply`).

        Parameters
        ----------
        path : str or os.PathLike
            The file to write.
        vertices, faces : array_like
            The mesh as it was given to the transform.
        binary : bool, default True
            Binary little-endian; ASCII with False.

        Returns
        -------
        scale, jmapt : numpy.ndarray
            As :meth:`vertex_scale` gives them.
        """
        scale, jmapt = self.vertex_scale(vertices, vertex_normals(vertices, faces))
        write_painted_ply(path, vertices, faces, scale, jmapt,
                          colour_range=(self.radii[0], self.radii[-1]), binary=binary)
        return scale, jmapt

    def to_nifti(self) -> dict:
        """The volumes as nibabel NIfTI-1 images placed by :attr:`affine`.

        Returns
        -------
        dict of str to nibabel.Nifti1Image
            "jmapt", "scale" (world units), "labels" and, with tensors, "vxx"
            ... "vzz".

        Raises
        ------
        ImportError
            nibabel is not installed.
        """
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

    def __repr__(self) -> str:
        return (f"<shapescale.Result {len(self.radii)} radii on a "
                f"{'x'.join(map(str, self.dims))} grid, h={self.voxel_size:g}>")
