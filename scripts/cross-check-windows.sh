#!/usr/bin/env bash
# The Windows build checked under Wine: builds the three programs and every
# test program for Windows (scripts/build-windows.sh, into build-mingw/), then
# runs each test program under wine64 (the window tests on the offscreen
# platform; the serial-line tests on two COM ports wired together through a
# socat pty pair), then the programs end to end through COM8, the two
# windows driven on a virtual screen (scripts/windows-e2e.sh).
# Usage: scripts/cross-check-windows.sh [--build-only | --tests-only]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-mingw
mode=${1:-all}
start=$(date +%s)

if [ "$mode" != --tests-only ]; then
  bash "$root/scripts/build-windows.sh" "$out"
fi
[ "$mode" = --build-only ] && exit 0

need=()
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v socat >/dev/null || need+=(socat)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi
source "$root/scripts/wine-env.sh" "$out"

# Two COM ports wired to each other, for the serial-line tests.
tmp=$(mktemp -d)
socat pty,link="$tmp/com5",raw,echo=0 pty,link="$tmp/com6",raw,echo=0 &
socat_pid=$!
trap 'kill $socat_pid 2>/dev/null || true; wine_stop; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do [ -e "$tmp/com5" ] && [ -e "$tmp/com6" ] && break; sleep 0.1; done
wine_port COM5 "$tmp/com5"
wine_port COM6 "$tmp/com6"

# Each test program once, at most five minutes, in its own folder.
SECONDS=0
failed=0
mapfile -t exes < <(ninja -C "$out/build" -t targets all | sed -n 's|^\(tests/[^:]*\.exe\): .*|\1|p' | sort)
# No test program found is a broken build, not a pass.
[ ${#exes[@]} -gt 0 ] || { echo "no test programs found in $out/build" >&2; exit 1; }
for exe in "${exes[@]}"; do
  exe=$out/build/$exe
  rm -f "$exe.log"
  # GoogleTest programs report briefly; Qt Test programs take the platform
  # as an argument (Wine does not pass QT_* variables on) and report to a file.
  if grep -qa gtest_brief "$exe"; then
    args=(--gtest_brief=1)
  else
    args=(-platform offscreen -o "$exe.log,txt")
  fi
  if (cd "$(dirname "$exe")" && KELVANE_COM_PAIR=COM5,COM6 \
        timeout 300 "$wine" "$exe" "${args[@]}" >>"$exe.log" 2>&1); then
    echo "$(basename "$exe"): $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran\|Totals: [0-9]* passed, [0-9]* failed, [0-9]* skipped' "$exe.log" || echo ran)"
  else
    cat "$exe.log" >&2
    echo "$(basename "$exe"): FAILED under Wine" >&2
    failed=1
  fi
done
[ $failed -eq 0 ] || exit 1
echo "Windows tests under Wine: OK (${#exes[@]} programs, ${SECONDS} s)"
kill $socat_pid 2>/dev/null || true
wine_stop
# The prefix holds over 600 MB of Wine's own DLLs; made again in seconds, it
# is not kept beside the end-to-end checks' own prefix on a small disk.
rm -rf "$WINEPREFIX"

bash "$root/scripts/windows-e2e.sh" "$out"
echo "Windows build and checks: OK ($(( $(date +%s) - start )) s in all)"
