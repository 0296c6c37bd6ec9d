#!/usr/bin/env bash
# Checks that includes go down the layers (scripts/check_layers.sh), builds
# everything, the benchmarks included, and runs every test: the full build (Qt programs, GUI tests
# offscreen, pty end-to-end tests), 100,000 seeds of the fault campaign, the
# Qt-free core again under
# AddressSanitizer and UndefinedBehaviorSanitizer, each fuzzing harness for
# 20 seconds under both (when clang is installed), the Debian package
# installed, checked and removed again, and the Windows build (the programs,
# every test program and the installer, cross-built with MinGW-w64) checked
# under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Cached objects are shared by every clone on this machine.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
echo "== Layers =="
bash "$root/scripts/check_layers.sh"
# The benchmarks are built (not run: they time the real line's speed), so an
# interface change breaks this build instead of quietly losing a benchmark.
bash "$root/scripts/build.sh" -DKELVANE_BENCHMARKS=ON
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
jobs=$(nproc)

echo "== Tests =="
# --timeout only covers a test registered without a TIMEOUT of its own.
ctest --test-dir "$root/build" --output-on-failure -j "$jobs" --timeout 300

echo "== Fault campaign =="
# 100,000 seeded runs through a faulty line, every invariant checked (about
# half a minute on two idle cores); scripts/campaign.sh runs ten million.
"$root/build/campaign/campaign" --seeds 100000 --jobs "$jobs"

echo "== Core under ASan+UBSan =="
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_WITH_QT=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build "$root/build-asan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" --timeout 300

echo "== Fuzzing =="
bash "$root/scripts/fuzz.sh" 20

echo "== Debian package =="
bash "$root/scripts/package-check.sh" "$root/build"

echo "== Windows build under Wine =="
bash "$root/scripts/cross-check-windows.sh"
