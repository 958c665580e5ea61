"""shapescale from Python: the demo dumbbell, its mid-slices and the scale
painted on the mesh.

    make python
    PYTHONPATH=build/python python3 examples/python_example.py [picture.png] [painted.ply]

Writes the picture (default docs/python_example.png) and the painted mesh
as PLY (default out/dumbbell_scale.ply), which MeshLab, ParaView and Blender
open, colours included.
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no window
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from mpl_toolkits.mplot3d.art3d import Poly3DCollection  # noqa: E402

import shapescale  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
picture = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else HERE.parent / "docs" / "python_example.png")
painted = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "out/dumbbell_scale.ply")

# 1. The mesh and the transform with the settings of `make demo`: twelve radii
#    from 0.15 to 1.25 world units, from the neck (radius about 0.19) to the
#    centre of the large bulb (about 0.95), and a narrow filter. The grid
#    resolution is the command line's default.
vertices, faces = shapescale.read_mesh(HERE / "dumbbell.off")
result = shapescale.transform(
    vertices, faces, start_radius=0.15, radius_step=0.1, radii=12, sigma=0.03, seed=1,
    progress=lambda done, total, r: print(f"radius {done}/{total}: {r:.3f}"))
print(result, result.settings)

# 2. The painted mesh: each vertex gets the scale found inward of it.
painted.parent.mkdir(parents=True, exist_ok=True)
scale_on_mesh, _ = result.write_painted_mesh(painted, vertices, faces)
print(f"painted mesh: {painted}")

# 3. Mid-slices in world coordinates (imshow wants [row, column] = [second, first] axis).
fig = plt.figure(figsize=(13, 6.5), layout="constrained")
grid = fig.add_gridspec(2, 4, width_ratios=[1, 1, 1, 1.5])
nx, ny, nz = result.dims
h, origin = result.voxel_size, result.origin
low, high = origin, origin + h * np.array(result.dims)
planes = [("x", lambda v: v[nx // 2, :, :], (1, 2)), ("y", lambda v: v[:, ny // 2, :], (0, 2)),
          ("z", lambda v: v[:, :, nz // 2], (0, 1))]
# Voxels outside the shape stay blank.
outside = result.labels == 255
volumes = [("jmapt", np.where(outside, np.nan, result.jmapt), "magma",
            (0, float(result.jmapt.max()))),
           ("scale (world units)", np.where(outside, np.nan, result.scale), "viridis",
            (float(result.radii[0]), float(result.radii[-1])))]
for row, (title, volume, cmap, (vmin, vmax)) in enumerate(volumes):
    for col, (axis, cut, (a, b)) in enumerate(planes):
        ax = fig.add_subplot(grid[row, col])
        image = ax.imshow(cut(volume).T, origin="lower", cmap=cmap, vmin=vmin, vmax=vmax,
                          extent=(low[a], high[a], low[b], high[b]), interpolation="nearest")
        ax.set_title(f"{title}, mid {axis}", fontsize=9)
        ax.set_xlabel("xyz"[a])
        ax.set_ylabel("xyz"[b])
    fig.colorbar(image, ax=ax, shrink=0.8)

# 4. The painted mesh, each triangle in the mean colour of its vertices, lit
#    from above so that the shape reads.
ax = fig.add_subplot(grid[:, 3], projection="3d")
span = result.radii[-1] - result.radii[0]
t = (scale_on_mesh - result.radii[0]) / span if span > 0 else np.full(len(vertices), 0.5)
colours = plt.get_cmap("viridis")(t[faces].mean(axis=1))
triangles = vertices[faces]
normals = np.cross(triangles[:, 1] - triangles[:, 0], triangles[:, 2] - triangles[:, 0])
normals /= np.linalg.norm(normals, axis=1, keepdims=True) + 1e-30
light = 0.55 + 0.45 * np.clip(normals @ np.array([0.3, -0.5, 0.8]), 0, 1)
colours[:, :3] *= light[:, None]
ax.add_collection3d(Poly3DCollection(triangles, facecolors=colours, edgecolor="none"))
ax.set(xlim=(-1, 1), ylim=(-1, 1), zlim=(-2, 2), box_aspect=(1, 1, 2))
ax.set_axis_off()
ax.set_title("scale painted on the mesh")
mappable = plt.cm.ScalarMappable(cmap="viridis",
                                 norm=plt.Normalize(result.radii[0], result.radii[-1]))
fig.colorbar(mappable, ax=ax, shrink=0.6, label="scale (world units)")

picture.parent.mkdir(parents=True, exist_ok=True)
fig.savefig(picture, dpi=90)
print(f"picture: {picture}")
