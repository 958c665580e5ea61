#!/usr/bin/env python3
"""Lists each mesh's nearest neighbours by the L1 distance of their descriptors.

    scripts/parallel-example.sh results meshes/*.off
    scripts/gather-descriptors results
    python3 examples/retrieval.py results/descriptors.csv [-k 3]

Reads the table of scripts/gather-descriptors and prints, for every mesh, the
k other meshes whose descriptors are nearest (sum of the absolute differences
of the values), nearest first, with their distances:

    lumpy: turned 0.0121, sphere 0.183, dumbbell 0.402

Standard library only.
"""

import argparse
import csv


def read_table(path):
    """(names, rows of values) of a gather-descriptors CSV."""
    with open(path, newline="", encoding="utf-8") as stream:
        lines = csv.reader(stream)
        header = next(lines)
        if header[:2] != ["name", "mesh"]:
            raise SystemExit(f"{path}: not a table of scripts/gather-descriptors")
        names, rows = [], []
        for line in lines:
            names.append(line[0])
            rows.append([float(v) for v in line[2:]])
    return names, rows


def l1(a, b):
    return sum(abs(x - y) for x, y in zip(a, b))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table", help="descriptors.csv of scripts/gather-descriptors")
    parser.add_argument("-k", type=int, default=3, help="neighbours per mesh (default 3)")
    arguments = parser.parse_args()
    names, rows = read_table(arguments.table)
    for i, name in enumerate(names):
        distances = sorted((l1(rows[i], rows[j]), names[j]) for j in range(len(names)) if j != i)
        near = ", ".join(f"{other} {d:.3g}" for d, other in distances[:arguments.k])
        print(f"{name}: {near}")


if __name__ == "__main__":
    main()
