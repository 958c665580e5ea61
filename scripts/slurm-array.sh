#!/usr/bin/env bash
# A Slurm job array over a list of meshes: task k runs shapescale on line k.
#
#   ls /data/meshes/*.off > meshes.txt
#   sbatch --array=1-$(wc -l < meshes.txt)%50 scripts/slurm-array.sh meshes.txt results [OPTION...]
#
# (%50: at most 50 tasks at a time.) Each task works in results/<mesh name
# without extension>, its own working directory, since "volume.vol" is written
# into the working directory. The threads follow the cores Slurm gives the task.
# A task whose summary.json exists is skipped, so resubmitting the same array
# after a failure or a time-out reruns only the meshes not done: the summary
# is written last, complete or not at all. --exit-zero: Slurm reports a
# completed run as COMPLETED instead of FAILED (the tool's own status is 1).
#
#SBATCH --job-name=shapescale
#SBATCH --cpus-per-task=4
#SBATCH --mem=8G
#SBATCH --time=02:00:00
#SBATCH --output=slurm-%A_%a.out
set -euo pipefail

list=$1
results=$2
shift 2
mesh=$(sed -n "${SLURM_ARRAY_TASK_ID:?run this script with sbatch --array}p" "$list")
[ -n "$mesh" ] || { echo "no line ${SLURM_ARRAY_TASK_ID} in $list" >&2; exit 2; }
case $mesh in /*) ;; *) mesh=$(pwd)/$mesh ;; esac
name=$(basename "${mesh%.*}")
mkdir -p "$results/$name"
cd "$results/$name"
[ -f summary.json ] && { echo "$name: done before, skipped"; exit 0; }
exec "${SHAPESCALE:-shapescale}" -f "$mesh" -o . --threads "${SLURM_CPUS_PER_TASK:-1}" \
    --exit-zero --summary summary.json "$@"
