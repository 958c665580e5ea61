#!/usr/bin/env bash
# Runs shapescale on many meshes with GNU parallel, one process per mesh.
#
#   scripts/parallel-example.sh [-j JOBS] [-S SSHLOGINFILE] RESULTS MESH... [-- OPTION...]
#
# Every mesh gets its own working directory RESULTS/<mesh name without
# extension>, because the closed-mesh voxeliser writes "volume.vol" into the
# working directory: two runs sharing one would overwrite each other's. The
# results, the run's summary.json, stdout.txt and stderr.txt land there too.
# Each process runs with --threads 1: many single-threaded processes use the
# cores better than few threaded ones when there are more meshes than cores.
# --exit-zero makes a completed run exit 0, so that parallel's job log tells
# completed (0) from failed (2) runs.
#
# The job log RESULTS/joblog makes the batch resumable: run the same command
# again and the meshes already done are skipped (--resume); add
# --resume-failed by hand to retry the failed ones too.
#
# -S FILE hands parallel an --sshloginfile (one "cores/user@host" per line,
# ":" for this machine): the jobs then run on those machines, which must see
# the same paths (a shared file system) and have shapescale installed.
#
# The binary is $SHAPESCALE, or shapescale on the PATH.
set -euo pipefail

jobs=""
ssh=()
while getopts "j:S:" flag; do
    case $flag in
        j) jobs=$OPTARG ;;
        S) ssh=(--sshloginfile "$OPTARG") ;;
        *) echo "usage: $0 [-j JOBS] [-S SSHLOGINFILE] RESULTS MESH... [-- OPTION...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || { echo "usage: $0 [-j JOBS] [-S SSHLOGINFILE] RESULTS MESH... [-- OPTION...]" >&2; exit 2; }
command -v parallel > /dev/null || { echo "$0: GNU parallel is not installed" >&2; exit 2; }

results=$(mkdir -p "$1" && cd "$1" && pwd)
shift
meshes=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    meshes+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")  # absolute: jobs cd away
    shift
done
[ "${1:-}" = "--" ] && shift
binary=${SHAPESCALE:-$(command -v shapescale || true)}
[ -n "$binary" ] || { echo "$0: no shapescale binary (set SHAPESCALE)" >&2; exit 2; }

# One shell command per mesh; {} is the mesh, {/.} its name without directory
# and extension. printf %q keeps blanks and quotes of the options intact.
job="mkdir -p $(printf %q "$results")/{/.} && cd $(printf %q "$results")/{/.} && $(printf %q "$binary") -f {} -o . --threads 1 --exit-zero --summary summary.json"
for option in "$@"; do job+=" $(printf %q "$option")"; done
job+=" > stdout.txt 2> stderr.txt"

parallel --will-cite ${jobs:+--jobs "$jobs"} "${ssh[@]}" \
    --joblog "$results/joblog" --resume "$job" ::: "${meshes[@]}"
