#!/usr/bin/env bash
# The building register at 1,000 controllers and 20,000 visits: lookup by
# identity, recording a visit, a building's visits, the list of buildings, and
# the file's size. The first run generates the register (a few minutes) in
# $TMPDIR/kelvane_register_bench/; later runs reuse it (remove it to start over).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$root/build-bench" --target register_bench
"$root/build-bench/benchmarks/register_bench" "$@"
ls -l "${TMPDIR:-/tmp}/kelvane_register_bench/"
