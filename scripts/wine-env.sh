# Sourced by the Windows check scripts: Wine for the programs of a Windows
# build (scripts/build-windows.sh DIR), in a Wine prefix of its own (DIR/wine,
# or DIR/NAME, made on first use), and COM ports that lead to ptys. The test
# programs and the end-to-end checks use separate prefixes: the ports the
# latter add are no business of the former.
# Usage: source scripts/wine-env.sh DIR [NAME]
wine_dir=$(cd "$1" && pwd)
wine=/usr/lib/wine/wine64
export WINEPREFIX=$wine_dir/${2:-wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The Qt kit the build used: its DLLs for the programs that run from the
# build folder (they find its plugins beside the DLLs; the deployed programs
# in DIR/bin carry their own). Wine passes no QT_* variable on to a program:
# the platform goes as an argument (-platform offscreen).
wine_qt=$(sed -n 's|^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$|\1|p' "$wine_dir/build/CMakeCache.txt" 2>/dev/null || true)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
# A prefix is made once and checked: a half-made one (a full disk, a run
# killed while it was made) is made again, and a second failure says why
# instead of leaving the first Wine program to fail with a bare exit code.
wine_ready() { [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/system32/reg.exe" ]; }
for attempt in 1 2; do
  wine_ready && break
  rm -rf "$WINEPREFIX"
  "$wine" wineboot --init >"$wine_dir/wineboot.log" 2>&1 || true
  "${wine%64}server64" -w || true
done
if ! wine_ready; then
  echo "Wine could not make its prefix $WINEPREFIX; wineboot said:" >&2
  tail -n 20 "$wine_dir/wineboot.log" >&2 || true
  df -h "$wine_dir" >&2 || true
  return 1 2>/dev/null || exit 1
fi
# The kit's DLLs only for the programs run from now on, not for wineboot.
export WINEPATH=$(winpath "$wine_qt/bin")

# wine_port COMn PTY: COMn opens the pty and the port lists show it (the
# wineserver restarts to read the registry again).
wine_port() {
  local name=$1 pty
  pty=$(readlink -f "$2")
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/${name,,}"
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "$name" /d "$pty" /f >/dev/null 2>&1 ||
    { echo "Wine could not add $name to its ports (exit $?)" >&2; return 1; }
  wine_stop
}

# Ends every Wine program of this prefix and waits (at most 30 s) until the
# wineserver is gone, so the next program starts a fresh session: with the
# environment (DISPLAY) it is given, not one an earlier program left behind.
wine_stop() {
  "${wine%64}server64" -k >/dev/null 2>&1 || true
  timeout 30 "${wine%64}server64" -w >/dev/null 2>&1 || true
}
