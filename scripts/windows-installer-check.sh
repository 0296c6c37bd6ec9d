#!/usr/bin/env bash
# The Windows installer (DIR/Kelvane-<version>-setup.exe of
# scripts/build-windows.sh DIR) under Wine: installed silently, the installed
# programs started, uninstalled silently, and then nothing of it left but
# the user's own data (settings in the registry; the register, backups,
# traces and the key in %LOCALAPPDATA% and the Credential Manager).
# Usage: scripts/windows-installer-check.sh DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "${1:?usage: $0 DIR}" && pwd)
setup=$(ls "$out"/Kelvane-*-setup.exe | head -1)
source "$root/scripts/wine-env.sh" "$out" wine-e2e
unset WINEPATH
trap wine_stop EXIT
fail() { echo "Windows installer: $*" >&2; exit 1; }
c=$WINEPREFIX/drive_c
dir="$c/Program Files/Kelvane"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane'
links() { find "$c/ProgramData" "$c/users" -path '*Start Menu*' -iname '*.lnk' \( -iname 'KelvaneMini*' -o -iname 'Orva_Upgrade*' \) 2>/dev/null; }

SECONDS=0
"$wine" "$setup" /S
wine_stop_wait() { "${wine%64}server64" -w; }
wine_stop_wait
for exe in KelvaneMini Orva_Upgrade kvtool; do
  [ -f "$dir/bin/$exe.exe" ] || fail "$exe.exe not installed"
done
# The company register's client, when the build has it, and OpenSSL, for
# it and for rfc2217+tls://.
if [ -f "$out/bin/sqldrivers/qsqlpsql.dll" ]; then
  for f in sqldrivers/qsqlpsql.dll libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll; do
    [ -f "$dir/bin/$f" ] || fail "$f not installed"
  done
fi
for f in libssl-3-x64.dll libcrypto-3-x64.dll; do
  [ ! -f "$out/bin/$f" ] || [ -f "$dir/bin/$f" ] || fail "$f not installed"
done
[ "$(links | wc -l)" -eq 2 ] || fail "Start-menu entries: $(links)"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "no uninstall entry"

# The installed programs start: kvtool answers, the windows run until ended
# (offscreen, no screen needed).
version=$("$wine" "$dir/bin/kvtool.exe" --version | tr -d '\r')
[ "$version" = "kvtool $(sed -n 's/^project(Kelvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" ] ||
  fail "installed kvtool.exe --version: $version"
for exe in KelvaneMini Orva_Upgrade; do
  set +e
  (cd "$c" && timeout 10 "$wine" "$dir/bin/$exe.exe" -platform offscreen >/dev/null 2>&1)
  rc=$?
  set -e
  [ $rc -eq 124 ] || fail "installed $exe.exe ended after start (exit $rc)"
  wine_stop
done
# The user's data, which the uninstaller leaves: what the end-to-end checks
# left there, else a stand-in made here (and removed again afterwards, so a
# later run finds a register, not the stand-in).
appdata=$(find "$c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -1)/AppData/Local/Kelvane
mkdir -p "$appdata/KelvaneMini/backups"
made=()
for f in "$appdata/KelvaneMini/backups/user.kvs" "$appdata/register.sqlite"; do
  [ -e "$f" ] || { echo keep >"$f"; made+=("$f"); }
done
kept=$(sha256sum "$appdata/KelvaneMini/backups/user.kvs" "$appdata/register.sqlite")

"$wine" "$dir/Uninstall.exe" /S
wine_stop_wait
# The uninstaller runs from a copy of itself; it is done when the folder is.
for _ in $(seq 100); do [ -e "$dir" ] || break; sleep 0.1; done
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head)"
[ -z "$(links)" ] || fail "Start-menu entries left: $(links)"
! "$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is left"
[ "$(sha256sum "$appdata/KelvaneMini/backups/user.kvs" "$appdata/register.sqlite" 2>/dev/null)" = "$kept" ] ||
  fail "the user's backups or register were removed or changed"
rm -f "${made[@]}"
echo "Windows installer: $(basename "$setup") ($(( $(stat -c %s "$setup") / 1024 )) KiB) installed, started, uninstalled under Wine: OK (${SECONDS} s)"
