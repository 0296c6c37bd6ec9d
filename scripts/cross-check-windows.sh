#!/usr/bin/env bash
# Cross-compiles the Qt-free core (image, data file, card layout, language
# table, both programs' protocols, the simulators' devices) and its GoogleTest
# tests for Windows with MinGW-w64, statically and with warnings as errors,
# then runs the tests under Wine. GoogleTest is built for MinGW from Debian's
# source package (/usr/src/googletest).
# Usage: scripts/cross-check-windows.sh [--build-only]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-mingw
cxx=x86_64-w64-mingw32-g++-posix
cc=x86_64-w64-mingw32-gcc-posix
wine=/usr/lib/wine/wine64
run_tests=1
[ "${1:-}" = --build-only ] && run_tests=0

need=()
command -v "$cxx" >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ $run_tests -eq 0 ] || [ -x "$wine" ] || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  # A fresh machine has no package lists yet; sudo drops the environment.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi
cross=(-G Ninja -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc"
       -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXE_LINKER_FLAGS=-static)

# GoogleTest for MinGW, once.
gtest=$out/googletest-install
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$out/googletest" "${cross[@]}" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$out/googletest" >/dev/null
  cmake --install "$out/googletest" >/dev/null
fi

# The core and its tests; the tests are listed when ctest runs, not at build time.
cmake -S "$root" -B "$out" "${cross[@]}" -DKELVANE_WITH_QT=OFF -DKELVANE_TESTS=ON \
  -DCMAKE_CXX_FLAGS=-Werror -DGTest_DIR="$gtest/lib/cmake/GTest" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build "$out"
echo "Windows cross-build of the core and its tests: OK (no warnings, ${SECONDS} s)"
SECONDS=0
[ $run_tests -eq 1 ] || exit 0

# Each test program runs once under Wine, in a Wine prefix of its own (made on
# the first run, some seconds), and at most five minutes.
export WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
mapfile -t exes < <(ninja -C "$out" -t targets all | sed -n 's|^\(tests/[^:]*\.exe\): .*|\1|p' | sort)
# No test program found is a broken build, not a pass.
[ ${#exes[@]} -gt 0 ] || { echo "no test programs found in $out" >&2; exit 1; }
for exe in "${exes[@]}"; do
  exe=$out/$exe
  if (cd "$(dirname "$exe")" && timeout 300 "$wine" "$exe" --gtest_brief=1 >"$exe.log" 2>&1); then
    echo "$(basename "$exe"): $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$exe.log" || echo ran)"
  else
    cat "$exe.log" >&2
    echo "$(basename "$exe"): FAILED under Wine" >&2
    failed=1
  fi
done
"${wine%64}server64" -k 2>/dev/null || true
[ $failed -eq 0 ] && echo "Windows tests under Wine: OK (${SECONDS} s)"
exit $failed
