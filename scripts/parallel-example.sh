#!/usr/bin/env bash
# Runs shapescale on many meshes with GNU parallel, one process per mesh.
#
#   scripts/parallel-example.sh [-j JOBS] [-S SSHLOGINFILE] RESULTS MESH... [-- OPTION...]
#
# Every mesh gets its own working directory RESULTS/<mesh file name without
# its extension>, because the closed-mesh voxeliser writes "volume.vol" into
# the working directory: two runs sharing one would overwrite each other's.
# The results, summary.json, stdout.txt and stderr.txt land there too. Two
# meshes of the same name (a/x.off and b/x.off, x.off and x.ply) would share
# a directory: such a list is refused before anything runs. Each process runs
# with --threads 1: many single-threaded processes use the cores better than
# few threaded ones when there are more meshes than cores. --exit-zero makes a
# completed run exit 0, so that the job log RESULTS/joblog tells completed (0)
# from failed (2) runs.
#
# Resuming: a mesh whose summary.json exists is skipped (the tool writes it
# last, whole or not at all), so running the command again, with the same
# list or another, runs only the meshes without results: new, failed or
# stopped ones.
#
# Stopping (Ctrl-C, or SIGTERM to this script): parallel sends each running
# tool SIGTERM and waits up to 30 s; the tool stops at its next safe point
# with its "interrupted" line and whole files. The job execs the tool, so the
# signal reaches it and not a shell in between.
#
# -S FILE hands parallel an --sshloginfile (one "cores/user@host" per line,
# ":" for this machine): the jobs then run on those machines, which must see
# the same paths (a shared file system) and have shapescale installed.
#
# The binary is $SHAPESCALE, or shapescale on the PATH.
set -euo pipefail

usage="usage: $0 [-j JOBS] [-S SSHLOGINFILE] RESULTS MESH... [-- OPTION...]"
jobs=""
ssh=()
while getopts "j:S:" flag; do
    case $flag in
        j) jobs=$OPTARG ;;
        S) ssh=(--sshloginfile "$OPTARG") ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
command -v parallel > /dev/null || { echo "$0: GNU parallel is not installed" >&2; exit 2; }

given=$1
shift
meshes=()
names=()
declare -A first  # result directory name -> the mesh that claimed it
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    base=${1##*/}
    name=${base%.*}
    name=${name:-$base}  # ".off" keeps its name
    if [ -n "${first[$name]+set}" ]; then
        echo "$0: ${first[$name]} and $1 would share $given/$name; rename one or give them separate RESULTS directories" >&2
        exit 2
    fi
    first[$name]=$1
    meshes+=("$(cd "$(dirname "$1")" && pwd)/$base")  # absolute: jobs cd away
    names+=("$name")
    shift
done
[ "${1:-}" = "--" ] && shift
[ ${#meshes[@]} -gt 0 ] || { echo "$usage" >&2; exit 2; }
binary=${SHAPESCALE:-$(command -v shapescale || true)}
[ -n "$binary" ] || { echo "$0: no shapescale binary (set SHAPESCALE)" >&2; exit 2; }
results=$(mkdir -p "$given" && cd "$given" && pwd)

# One shell command per mesh: {1} is the mesh, {2} its directory name, both
# quoted by parallel; printf %q keeps blanks and quotes of the rest intact.
dir="$(printf %q "$results")/{2}"
job="mkdir -p $dir && cd $dir && if [ -f summary.json ]; then echo {2}: done before, skipped; else"
job+=" exec $(printf %q "$binary") -f {1} -o . --threads 1 --exit-zero --summary summary.json"
for option in "$@"; do job+=" $(printf %q "$option")"; done
job+=" > stdout.txt 2> stderr.txt; fi"

# parallel's own kill sequence sends a second SIGTERM after 200 ms, which
# ends a tool still finishing its files; 30 s leaves it time to stop cleanly.
exec parallel --will-cite ${jobs:+--jobs "$jobs"} "${ssh[@]}" --termseq TERM,30000,KILL,25 \
    --joblog "$results/joblog" "$job" ::: "${meshes[@]}" :::+ "${names[@]}"
