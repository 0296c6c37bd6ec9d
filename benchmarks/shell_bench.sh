#!/usr/bin/env bash
# KelvaneMini's window timings, offscreen: program start to the filled main
# window (in process, and the whole process from outside: start, show, exit),
# and DisplayData / GetData of a full image.
# Usage: benchmarks/shell_bench.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target shell_bench
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
bench="$build/benchmarks/shell_bench"
"$bench" --startup >/dev/null  # warm the file cache
for run in 1 2 3 4 5; do
  t0=$(date +%s%N)
  "$bench" --startup >/dev/null
  t1=$(date +%s%N)
  echo "whole process, start to filled window and exit, run $run: $(( (t1 - t0) / 1000000 )) ms"
done
"$bench"
