#!/usr/bin/env bash
# Checks that includes go down the layers (scripts/check_layers.sh), that the
# C++ files are formatted (scripts/format-check.sh) and that none is over 500
# lines but the listed ones (scripts/line-check.sh), builds
# everything, the benchmarks included, and runs every test: the full build (Qt programs, GUI tests
# offscreen, pty end-to-end tests), 100,000 seeds of the fault campaign, the
# Qt-free core again under
# AddressSanitizer and UndefinedBehaviorSanitizer, each fuzzing harness for
# 20 seconds under both (when clang is installed), the Debian package
# installed, checked and removed again, and the Windows build (the programs,
# every test program and the installer, cross-built with MinGW-w64) checked
# under Wine. Ends with each step's time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Cached objects are shared by every clone on this machine.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# Each step's time, printed together at the end (also when a step fails).
steps=()
step_start=$SECONDS
step_name=""
step() {
  [ -n "$step_name" ] && steps+=("$(printf '%-28s %5d s' "$step_name" $((SECONDS - step_start)))")
  step_name=$1
  step_start=$SECONDS
  [ -n "$step_name" ] && echo "== $step_name =="
  return 0
}
# A runtime folder made here goes again at the end.
made_runtime=""
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  made_runtime=$(mktemp -d)
  export XDG_RUNTIME_DIR=$made_runtime
fi
chmod 700 "$XDG_RUNTIME_DIR"
finish() {
  rc=$?
  failed=$step_name
  step ""
  echo "== Summary =="
  for line in "${steps[@]}"; do echo "$line"; done
  printf '%-28s %5d s\n' "total" "$SECONDS"
  if [ "$rc" -eq 0 ]; then
    echo "all steps passed"
  else
    echo "failed in: $failed (exit $rc)"
    # A full disk fails steps in ways of their own: the space left is part of the report.
    df -h "$root" /tmp 2>/dev/null | sed 's/^/  /' || true
  fi
  [ -n "$made_runtime" ] && rm -rf "$made_runtime"
  exit "$rc"
}
trap finish EXIT

step "Layers"
bash "$root/scripts/check_layers.sh"
step "Format"
bash "$root/scripts/format-check.sh"
step "Lines"
bash "$root/scripts/line-check.sh"
step "Build"
# The benchmarks are built (not run: they time the real line's speed), so an
# interface change breaks this build instead of quietly losing a benchmark.
bash "$root/scripts/build.sh" -DKELVANE_BENCHMARKS=ON
jobs=$(nproc)

step "Tests"
# --timeout only covers a test registered without a TIMEOUT of its own.
ctest --test-dir "$root/build" --output-on-failure -j "$jobs" --timeout 300

step "Fault campaign"
# 100,000 seeded runs through a faulty line, every invariant checked (about
# half a minute on two idle cores); scripts/campaign.sh runs ten million.
"$root/build/campaign/campaign" --seeds 100000 --jobs "$jobs"

step "Core under ASan+UBSan"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_WITH_QT=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build "$root/build-asan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" --timeout 300

step "Fuzzing"
bash "$root/scripts/fuzz.sh" 20

step "Debian package"
bash "$root/scripts/package-check.sh" "$root/build"

step "Windows build under Wine"
bash "$root/scripts/cross-check-windows.sh"
