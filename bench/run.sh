#!/usr/bin/env bash
# The whole-run table: the transform on a generated lumpy sphere in four
# settings, each stage against its straightforward reference, with peak memory.
# Usage: bench/run.sh [build-dir] [row numbers...]
set -euo pipefail
build=${1:-build-bench}
shift || true
exec "$build/bench/bench_run" "$@"
