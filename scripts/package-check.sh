#!/usr/bin/env bash
# Builds the Debian package from build/ and checks it the way a user meets it:
# installs it with apt-get, validates the desktop entries, checks that their
# programs, icons and the man pages are where the menu and man look, starts the
# installed programs offscreen, asks kvtool (when packaged) for its version,
# then removes the package again. Needs root (or sudo) for apt-get.
# Usage: scripts/package-check.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/kelvane_*.deb | head -n 1)
echo "Package: $deb"

# Other checkouts on this machine may run the same check: one at a time, and
# a check that holds the lock longer than any check takes has hung.
# The lock file belongs to whoever made it first; opened for reading (all flock
# needs), it serves every user.
lock=/tmp/kelvane-package-check.lock
[ -e "$lock" ] || { : >>"$lock" && chmod a+r "$lock"; } 2>/dev/null || true
exec 9<"$lock"
flock -w 900 9 || { echo "package check: another check has held the lock for 15 minutes" >&2; exit 1; }

if dpkg-query -W -f='${Status}' kelvane 2>/dev/null | grep -q "install ok installed"; then
  echo "kelvane is installed already; remove it before this check" >&2
  exit 1
fi
scratch=
cleanup() {
  "${apt[@]}" remove kelvane >/dev/null 2>&1 || true
  [ -z "$scratch" ] || rm -rf "$scratch"
}
trap cleanup EXIT
"${apt[@]}" install --no-install-recommends "$deb" >/dev/null

fail() { echo "package check: $*" >&2; exit 1; }
files=$(dpkg -L kelvane)
apps=/usr/share/applications
for entry in kelvanemini orva-upgrade; do
  desktop-file-validate "$apps/$entry.desktop" || fail "$entry.desktop does not validate"
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$apps/$entry.desktop")
  icon=$(sed -n 's/^Icon=//p' "$apps/$entry.desktop")
  [ "$(command -v "$exec_name")" = "/usr/bin/$exec_name" ] || fail "$entry.desktop starts $exec_name, not in /usr/bin"
  for size in 16 32 48 64 128 256; do
    png=/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    [ -f "$png" ] || fail "no icon $png"
    file "$png" | grep -q "$size x $size" || fail "$png is not $size x $size"
  done
  grep -qE "^/usr/share/man/man1/$exec_name\.1(\.gz)?$" <<<"$files" || fail "no man page for $exec_name"
done

# Each program must still be running after a few seconds: it found its
# libraries and plugins and put up its window. Settings go to a scratch home.
scratch=$(mktemp -d)
chmod 700 "$scratch"
for program in KelvaneMini Orva_Upgrade; do
  rc=0
  (cd "$scratch" && HOME=$scratch XDG_CONFIG_HOME=$scratch/.config XDG_DATA_HOME=$scratch/.local/share \
     XDG_RUNTIME_DIR=$scratch QT_QPA_PLATFORM=offscreen timeout 5 "/usr/bin/$program" \
     >"$scratch/$program.log" 2>&1) || rc=$?
  [ "$rc" -eq 124 ] || { cat "$scratch/$program.log" >&2; fail "installed $program ended with $rc within 5 s"; }
  echo "installed $program starts"
done

if [ -x /usr/bin/kvtool ]; then
  timeout 10 /usr/bin/kvtool --version || fail "kvtool --version failed"
  grep -qE "^/usr/share/man/man1/kvtool\.1(\.gz)?$" <<<"$files" || fail "no man page for kvtool"
fi
rm -rf "$scratch"
scratch=

trap - EXIT
"${apt[@]}" remove kelvane >/dev/null
[ ! -e /usr/bin/KelvaneMini ] || fail "removing the package left /usr/bin/KelvaneMini"
echo "Package check: OK"
