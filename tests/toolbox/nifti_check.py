"""Reads the NIfTI files of a run back with nibabel and checks them against the
run's Analyze pairs and info.txt: shape, type, data, codes, the affine, and
where the mesh lands in world coordinates.

usage: nifti_check.py OUTDIR CX CY CZ LOX LOY LOZ HIX HIY HIZ VOLUME...
(C: the centre of the sphere that was run, LO/HI: the mesh's bounding box)
"""
import sys

import nibabel as nib
import numpy as np

out = sys.argv[1]
centre, lo, hi = (np.array([float(v) for v in sys.argv[k:k + 3]]) for k in (2, 5, 8))
volumes = sys.argv[11:]
info = open(out + "/info.txt").read().split("\n")
origin = np.array([float(v) for v in info[1].split()])
h = float(info[2].split()[0])
dims = tuple(int(d) for d in np.fromfile(out + "/jmapt.hdr", "<i2", 3, offset=42))
# Voxel centres: voxel 0 spans [origin, origin + h), its centre is origin + h/2.
expected = np.diag([h, h, h, 1.0])
expected[:3, 3] = origin + h / 2

for name in volumes:
    raw = np.fromfile(f"{out}/{name}.img", "<f4").reshape(dims[::-1]).transpose()
    for ext in (".nii", ".nii.gz"):
        img = nib.load(f"{out}/{name}{ext}")
        where = name + ext
        assert img.shape == dims, (where, img.shape, dims)
        assert img.get_data_dtype() == np.float32, where
        assert np.array_equal(np.asarray(img.dataobj), raw), where
        assert int(img.header["qform_code"]) == 1 and int(img.header["sform_code"]) == 1, where
        # info.txt rounds to 6 decimals.
        assert np.allclose(img.get_sform(), expected, atol=2e-6), (where, img.get_sform())
        assert np.allclose(img.get_qform(), expected, atol=2e-6), (where, img.get_qform())
        assert img.dataobj.offset == 352, where  # the header copy forgets it

img = nib.load(out + "/jmapt.nii.gz")
to_voxel = np.linalg.inv(img.affine)


def voxel_of(p):
    return np.floor(to_voxel[:3, :3] @ p + to_voxel[:3, 3] + 0.5).astype(int)


# The grid puts the mesh's low corner two voxels above the origin: a point 3/4
# of a voxel inside it lies in voxel 2 (a missing half-voxel shift gives 3).
assert (voxel_of(lo + 0.75 * h) == 2).all(), voxel_of(lo + 0.75 * h)
assert (voxel_of(hi - 0.25 * h) == np.floor((hi - 0.25 * h - origin) / h)).all()
# The largest MAPT value sits at the sphere's centre (within two voxels).
best = np.unravel_index(np.argmax(np.asarray(img.dataobj)), img.shape)
world = img.affine[:3, :3] @ np.array(best) + img.affine[:3, 3]
assert np.linalg.norm(world - centre) < 2 * h, (world, centre)
print("nifti ok")
