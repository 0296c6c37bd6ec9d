#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang, Qt-free, under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each one for a
# fixed time (seconds, default 20) on a copy of its starting corpus. Any finding
# fails the script; the input that caused it is left in the run folder.
#   scripts/fuzz.sh [seconds] [harness...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing: fuzzing skipped"
  exit 0
fi
build="$root/build-fuzz"
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DKELVANE_WITH_QT=OFF -DKELVANE_TESTS=OFF -DKELVANE_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(data_file cell_parsers build_image firmware_file download bootloader trace_mask)
cmake --build "$build" --target "${harnesses[@]/%/_fuzzer}"
runs="$build/runs"
mkdir -p "$runs"
for name in "${harnesses[@]}"; do
  work="$runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$root/fuzz/corpus/$name"/* "$work/corpus/"
  echo "== $name: ${seconds} s =="
  (cd "$work" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 corpus 2>"$work/log" ) || { tail -40 "$work/log"; exit 1; }
  grep -E "^(stat::number_of_executed_units|stat::new_units_added)|cov:" "$work/log" | tail -3
done
