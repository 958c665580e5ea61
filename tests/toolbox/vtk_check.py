"""Reads result.vti and a painted .vtp back through VTK's own readers and checks
them against the run's other files: array names and types, every value bit for
bit, the grid's placement, and the summary's list of files.

usage: vtk_check.py REF RUN
(REF: the output directory of a run with -t; RUN: a directory holding the same
run with --vtk, --summary s.json and --vertex-scale painted.vtp, its outputs in
RUN/out; REF/../painted.ply: the same run's painted PLY)
"""
import json
import sys

import numpy as np
from vtkmodules.util.numpy_support import vtk_to_numpy
from vtkmodules.vtkIOXML import vtkXMLImageDataReader, vtkXMLPolyDataReader

ref, run = sys.argv[1], sys.argv[2]
TENSORS = ["vxx", "vxy", "vxz", "vyy", "vyz", "vzz"]


def read(reader_type, path):
    reader = reader_type()
    reader.SetFileName(path)
    reader.Update()
    assert reader.GetErrorCode() == 0, path
    return reader.GetOutput()


def arrays(data):
    point_data = data.GetPointData()
    names = [point_data.GetArrayName(k) for k in range(point_data.GetNumberOfArrays())]
    return names, {n: vtk_to_numpy(point_data.GetArray(n)) for n in names}


def same_bits(a, b, what):
    assert a.dtype == b.dtype and a.shape == b.shape, (what, a.dtype, b.dtype, a.shape, b.shape)
    assert a.tobytes() == b.tobytes(), what


summary = json.load(open(f"{run}/s.json"))
grid = summary["grid"]
h, origin, dims = grid["h"], np.array(grid["origin"]), grid["dims"]
assert {"out/result.vti", "painted.vtp"} <= set(summary["files"]), summary["files"]

image = read(vtkXMLImageDataReader, f"{run}/out/result.vti")
assert list(image.GetDimensions()) == dims, image.GetDimensions()
# Voxel 0's centre, as the NIfTI files place it; 1e-9 h: a decimal read back.
assert np.allclose(image.GetOrigin(), origin + h / 2, rtol=0, atol=1e-9 * h), image.GetOrigin()
assert np.allclose(image.GetSpacing(), h, rtol=1e-12), image.GetSpacing()
names, values = arrays(image)
assert names == ["jmapt", "scale", "labels"] + TENSORS, names
assert image.GetPointData().GetScalars().GetName() == "jmapt"
for name in ["jmapt"] + TENSORS:
    same_bits(values[name], np.fromfile(f"{ref}/{name}.img", "<f4"), name)
# World units: float32 of the voxel radius times h, in double.
scale_vox = np.fromfile(f"{ref}/scale.img", "<f4").astype(np.float64)
same_bits(values["scale"], (scale_vox * h).astype(np.float32), "scale")
# The voxeliser's own labels, 255 outside; volume.vol holds 0 outside, 255 elsewhere.
occupancy = np.fromfile(f"{ref}/../volume.vol", np.uint8)[24:]
assert values["labels"].dtype == np.uint8
same_bits(values["labels"] == 255, occupancy == 0, "labels")

mesh = read(vtkXMLPolyDataReader, f"{run}/painted.vtp")
ply = open(f"{ref}/../painted.ply", "rb").read()
body = ply.index(b"end_header\n") + len(b"end_header\n")
counts = [int(line.split()[2]) for line in ply[:body].split(b"\n") if line.startswith(b"element")]
vertex = np.dtype([(c, "<f4") for c in ("x", "y", "z", "scale", "jmapt")] + [("rgb", "u1", 3)])
face = np.dtype([("n", "u1"), ("v", "<i4", 3)])
vertices = np.frombuffer(ply, vertex, counts[0], body)
faces = np.frombuffer(ply, face, counts[1], body + counts[0] * vertex.itemsize)
points = np.stack([vertices[c] for c in ("x", "y", "z")], axis=1)
same_bits(vtk_to_numpy(mesh.GetPoints().GetData()), points, "points")
polys = mesh.GetPolys()
assert polys.GetNumberOfCells() == counts[1] == mesh.GetNumberOfCells()
same_bits(vtk_to_numpy(polys.GetConnectivityArray()).astype("<i4"), faces["v"].ravel(), "faces")
names, values = arrays(mesh)
assert names == ["scale", "jmapt"], names
for name in names:
    same_bits(values[name], vertices[name].copy(), name)

# The grid puts the mesh's low corner two voxels above its origin: the first
# point of the image lies 1.5 voxels below it (1e-6: the origin is a float).
low = points.min(axis=0).astype(np.float64)
assert np.allclose(image.GetBounds()[0::2], low - 1.5 * h, rtol=0, atol=1e-6), image.GetBounds()
print("vtk ok")
