"""The centres of the demo dumbbell drawn on the slice of jmapt through its axis.

    make python
    PYTHONPATH=build/python python3 examples/centres_picture.py [picture.png]

Runs the settings of `make demo` with seed 1, finds the centres at the default
threshold and draws each as a cross with a circle of its radius on the slice
y = const through the first centre (default docs/centres.png).
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no window
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import shapescale  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
picture = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else HERE.parent / "docs" / "centres.png")

result = shapescale.transform_file(HERE / "dumbbell.off", start_radius=0.15, radius_step=0.1,
                                   radii=12, sigma=0.03, seed=1)
centres = result.centres()
print(centres)

j = centres.voxel[0, 1]  # the slice through the strongest centre
h, origin = result.voxel_size, result.origin
nx, _, nz = result.dims
extent = (origin[0], origin[0] + nx * h, origin[2], origin[2] + nz * h)
inside = result.labels[:, j, :] != 255
fig, ax = plt.subplots(figsize=(3.4, 5.2), layout="constrained")
image = ax.imshow(np.where(inside, result.jmapt[:, j, :], np.nan).T, origin="lower",
                  cmap="magma", extent=extent, interpolation="nearest")
# The outline of the shape: where the labels change, at the voxel centres.
xs = origin[0] + (np.arange(nx) + 0.5) * h
zs = origin[2] + (np.arange(nz) + 0.5) * h
ax.contour(xs, zs, inside.T.astype(float), levels=[0.5], colors="0.5", linewidths=0.8)
for (x, _, z), radius, value in zip(centres.position, centres.radius, centres.jmapt):
    ax.add_patch(plt.Circle((x, z), radius, fill=False, color="cyan", linewidth=1.2))
    ax.plot(x, z, "+", color="cyan", markersize=9)
    ax.annotate(f"r {radius:.2f}, jmapt {value:.2f}", (x, z), color="cyan", fontsize=7,
                xytext=(0, 8), textcoords="offset points", ha="center")
ax.set(xlabel="x", ylabel="z", title="centres on jmapt, slice through the axis")
ax.title.set_fontsize(8)
fig.colorbar(image, ax=ax, shrink=0.6, label="jmapt")
picture.parent.mkdir(parents=True, exist_ok=True)
fig.savefig(picture, dpi=90)
print(f"picture: {picture}")
