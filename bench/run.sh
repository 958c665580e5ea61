#!/usr/bin/env bash
# The whole-run table: the transform on a generated lumpy sphere in four
# settings, each stage against its straightforward reference, with processor
# time and peak memory; rows 5 to 7 (3.3 M and 832 k triangles, 512 voxels)
# when picked by number.
# Usage: bench/run.sh [build-dir] [--radii N] [row numbers...]
set -euo pipefail
build=${1:-build-bench}
shift || true
exec "$build/bench/bench_run" "$@"
