# Types of the compiled core; the documented API is the shapescale package.
from typing import Callable, Dict, List, Optional, Tuple

import numpy as np

DEFAULT_CENTRE_THRESHOLD: float

class Run:
    """A finished run; see shapescale.Result."""

    @property
    def jmapt(self) -> np.ndarray: ...
    @property
    def scale_voxels(self) -> np.ndarray: ...
    @property
    def labels(self) -> np.ndarray: ...
    @property
    def apt(self) -> List[np.ndarray]: ...
    @property
    def tensors(self) -> List[np.ndarray]: ...
    @property
    def histogram(self) -> np.ndarray: ...
    @property
    def radii_voxels(self) -> List[float]: ...
    @property
    def dims(self) -> Tuple[int, int, int]: ...
    @property
    def origin(self) -> Tuple[float, float, float]: ...
    @property
    def voxel_size(self) -> float: ...
    @property
    def settings(self) -> Dict[str, float]: ...
    @property
    def descriptor(self) -> Tuple[np.ndarray, np.ndarray, int]: ...
    @property
    def reoriented(self) -> bool: ...
    def centres(
        self, threshold: float
    ) -> Tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, np.ndarray]: ...
    def vertex_scale(
        self, vertices: np.ndarray, normals: np.ndarray
    ) -> Tuple[np.ndarray, np.ndarray]: ...
    def __getstate__(self) -> tuple: ...
    def __setstate__(self, state: tuple) -> None: ...

def read_mesh(path: str) -> Tuple[np.ndarray, np.ndarray]: ...
def vertex_normals(vertices: np.ndarray, faces: np.ndarray) -> np.ndarray: ...
def write_painted_ply(
    path: str,
    vertices: np.ndarray,
    faces: np.ndarray,
    scale: np.ndarray,
    jmapt: np.ndarray,
    low: float,
    high: float,
    binary: bool = True,
) -> None: ...
def interrupt() -> bool: ...
def transform(
    vertices: np.ndarray,
    faces: np.ndarray,
    *,
    resolution: Optional[float] = None,
    start_radius: Optional[float] = None,
    radius_step: Optional[float] = None,
    sigma: Optional[float] = None,
    radii: int = 8,
    kernel: int = 0,
    tensors: bool = False,
    both_sides: bool = False,
    open_mesh: bool = False,
    seed: Optional[int] = None,
    threads: Optional[int] = None,
    keep_apt: bool = False,
    even_sampling: bool = False,
    orient: bool = False,
    progress: Optional[Callable[[int, int, float], object]] = None,
) -> Run: ...
def transform_file(
    path: str,
    *,
    resolution: Optional[float] = None,
    start_radius: Optional[float] = None,
    radius_step: Optional[float] = None,
    sigma: Optional[float] = None,
    radii: int = 8,
    kernel: int = 0,
    tensors: bool = False,
    both_sides: bool = False,
    open_mesh: bool = False,
    seed: Optional[int] = None,
    threads: Optional[int] = None,
    keep_apt: bool = False,
    even_sampling: bool = False,
    orient: bool = False,
    progress: Optional[Callable[[int, int, float], object]] = None,
) -> Run: ...
