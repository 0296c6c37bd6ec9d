#!/usr/bin/env bash
# Builds the benchmarks (Release) into build-bench/ and runs the core ones.
# The serial-line and window benchmarks have their own scripts in benchmarks/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$root/build-bench"
"$root/build-bench/benchmarks/bench_image"
"$root/build-bench/benchmarks/grid_csv_bench"
"$root/build-bench/benchmarks/trace_bench"
