#!/usr/bin/env bash
# A Slurm job array over a list of meshes: task k runs shapescale on line k.
#
#   ls $PWD/meshes/*.off > meshes.txt
#   sbatch --array=1-$(wc -l < meshes.txt)%50 --cpus-per-task=4 --mem=8G --time=2:00:00 \
#       scripts/slurm-array.sh meshes.txt results [OPTION...]
#
# (%50: at most 50 tasks at a time.) Cores, memory and time belong on the
# sbatch line: a default written here that no node of the partition offers
# keeps the whole array PENDING for ever. The tool's threads follow
# --cpus-per-task (one thread without it).
#
# Each task works in results/<mesh file name without its extension>, its own
# working directory, since "volume.vol" is written into the working
# directory; the tool's stdout.txt and stderr.txt go there with its results.
# Slurm's own file, one per array in the submission directory
# (shapescale-<array job id>.out), gets only this script's lines (skipped
# meshes, a refused list) and Slurm's (a cancellation, the time limit).
# Two lines of the same name (a/x.off and b/x.off, x.off and x.ply) would
# share a directory: every task refuses such a list before running anything.
#
# A task whose summary.json exists is skipped (the tool writes it last, whole
# or not at all), so resubmitting the array, with the same list or a changed
# one, runs only the meshes without results: new, failed or stopped ones.
#
# The script execs the tool, so scancel's SIGTERM (plain scancel, or
# scancel --signal=TERM --full) and the time limit's reach the tool itself,
# which stops at its next safe point with its "interrupted" line and whole
# files. --exit-zero: Slurm reports a completed run as COMPLETED instead of
# FAILED (the tool's own status is 1). The binary is $SHAPESCALE, or
# shapescale on the PATH.
#
#SBATCH --job-name=shapescale
#SBATCH --output=%x-%A.out
#SBATCH --open-mode=append
set -euo pipefail

me=slurm-array.sh  # $0 is Slurm's copy of the script
[ $# -ge 2 ] || { echo "usage: sbatch --array=1-N $me LIST RESULTS [OPTION...]" >&2; exit 2; }
list=$1
results=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:?run this script with sbatch --array}
[ -r "$list" ] || { echo "$me: cannot read the list $list" >&2; exit 2; }
mapfile -t lines < "$list"

# Every task checks the whole list, so that no task of a colliding list runs.
declare -A first  # result directory name -> "line K (path)" that claimed it
mesh=""
for k in "${!lines[@]}"; do
    line=${lines[k]}
    [ -n "$line" ] || continue
    base=${line##*/}
    name=${base%.*}
    name=${name:-$base}  # ".off" keeps its name
    if [ -n "${first[$name]+set}" ]; then
        echo "$me: $list: ${first[$name]} and line $((k + 1)) ($line) would share $results/$name; rename one or split the list" >&2
        exit 2
    fi
    first[$name]="line $((k + 1)) ($line)"
    if [ $((k + 1)) -eq "$task" ]; then
        mesh=$line
        meshName=$name
    fi
done
[ -n "$mesh" ] || { echo "$me: no mesh on line $task of $list" >&2; exit 2; }
case $mesh in /*) ;; *) mesh=$PWD/$mesh ;; esac
binary=${SHAPESCALE:-$(command -v shapescale || true)}
[ -n "$binary" ] || { echo "$me: no shapescale binary (set SHAPESCALE)" >&2; exit 2; }

mkdir -p "$results/$meshName"
cd "$results/$meshName"
[ -f summary.json ] && { echo "$meshName: done before, skipped"; exit 0; }
exec "$binary" -f "$mesh" -o . --threads "${SLURM_CPUS_PER_TASK:-1}" --exit-zero \
    --summary summary.json "$@" > stdout.txt 2> stderr.txt
