#!/usr/bin/env python3
"""Runs a batch of meshes on Dask process workers and gathers the results.

    PYTHONPATH=build/python python3 examples/dask_batch.py MESH... \
        [--scheduler ADDRESS] [--workers 2] [--threads N] [--seed 1] [-n 8] \
        [--descriptors descriptors.csv]

Without --scheduler a LocalCluster of --workers process workers runs on this
machine; with a scheduler address (``tcp://host:8786``) the same code runs on
that cluster's workers, which must import shapescale and read the mesh paths.

Process workers are the way: transforms in one process take turns (each is
given every core), so thread workers would run them one after another. Dask
sets OMP_NUM_THREADS=1 in its worker processes, so every transform is given
``threads=`` explicitly: by default this machine's cores shared among the
local workers (on a scheduler, the worker's own cores).

Prints one line per mesh (status, grid, voxel edge, jmapt maximum, seconds,
or the error line); with --descriptors writes the table of
scripts/gather-descriptors (name, mesh, r<k>b<b>, r<k>ge1), which
examples/retrieval.py reads. Exit status 2 when a mesh failed.
"""

import argparse
import csv
import os
import pathlib
import sys
import time

DESCRIPTOR_COLUMNS = 13  # the twelve histogram bins, then the count at or above 1


def cores():
    return len(os.sched_getaffinity(0))


def run_one(path, threads, **settings):
    """On a worker: the transform of one mesh file, reduced to what the
    client gathers (a whole Result pickles too, volumes and all)."""
    import shapescale

    start = time.perf_counter()
    result = shapescale.transform_file(path, threads=threads or cores(), **settings)
    return {
        "dims": result.dims,
        "voxel_size": result.voxel_size,
        "jmapt_max": float(result.jmapt.max()),
        "seconds": time.perf_counter() - start,
        "descriptor": result.descriptor,
    }


def descriptor_header(radius_count):
    names = ["name", "mesh"]
    for k in range(radius_count):
        names += [f"r{k}b{b}" for b in range(DESCRIPTOR_COLUMNS - 1)] + [f"r{k}ge1"]
    return names


def write_descriptors(path, done):
    """The gather-descriptors table of the meshes that completed, in input order."""
    rows = [(mesh, figures) for mesh, figures in done.items() if figures is not None]
    if not rows:
        return
    with open(path, "w", newline="", encoding="utf-8") as stream:
        table = csv.writer(stream)
        table.writerow(descriptor_header(len(rows[0][1]["descriptor"]) // DESCRIPTOR_COLUMNS))
        for mesh, figures in rows:
            table.writerow([pathlib.Path(mesh).stem, mesh]
                           + [repr(float(v)) for v in figures["descriptor"]])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("meshes", nargs="+")
    parser.add_argument("--scheduler", help="address of a running scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="local process workers (default 2)")
    parser.add_argument("--threads", type=int, help="threads per transform (default: the cores "
                        "shared among the local workers; a scheduler's workers use their own)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("-n", "--radii", type=int, default=8)
    parser.add_argument("--descriptors", help="write the descriptor table here (CSV)")
    args = parser.parse_args()

    from dask.distributed import Client, LocalCluster, as_completed

    if args.scheduler:
        client, cluster, threads = Client(args.scheduler), None, args.threads
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
        threads = args.threads or max(1, cores() // args.workers)
    meshes = [os.path.abspath(m) for m in args.meshes]
    try:
        futures = client.map(run_one, meshes, threads=threads, seed=args.seed, radii=args.radii,
                             pure=False)
        mesh_of = {f.key: m for f, m in zip(futures, meshes)}
        done = dict.fromkeys(meshes)
        failed = 0
        for future in as_completed(futures):
            mesh = mesh_of[future.key]
            try:
                done[mesh] = future.result()
            except (OSError, ValueError, MemoryError) as error:
                failed += 1
                print(f"{mesh}: failed: {type(error).__name__}: {error}")
                continue
            f = done[mesh]
            print(f"{mesh}: done: grid {'x'.join(map(str, f['dims']))}, h {f['voxel_size']:g}, "
                  f"jmapt max {f['jmapt_max']:.4g}, {f['seconds']:.2f} s")
        if args.descriptors:
            write_descriptors(args.descriptors, done)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"{len(meshes) - failed} of {len(meshes)} meshes done")
    return 2 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
