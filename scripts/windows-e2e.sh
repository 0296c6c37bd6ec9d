#!/usr/bin/env bash
# The Windows programs of a Windows build (scripts/build-windows.sh DIR) end
# to end under Wine, through COM8 led to a pty where a Linux simulator
# answers:
#  - kvtool.exe ports, probe, download and an upload of one changed setting,
#    each checked against the controller simulator's image; the download
#    recorded as a visit in the register (kvtool.exe register list), and a
#    support bundle that Python's zipfile opens;
#  - the same download through ser2net (scripts/windows-e2e-gateway.sh): over
#    rfc2217://127.0.0.1:PORT, and over rfc2217+tls:// behind socat's TLS
#    with a throw-away CA (the right CA connects, another CA and none are
#    refused), or, in a build without TLS, its plain refusal;
#  - KelvaneMini.exe under Xvfb, driven by xdotool: F3, COM8 typed into the
#    port dialog, F4; checked by the backup the download leaves in
#    %LOCALAPPDATA% equalling the simulator's image (the tables are filled
#    before the backup is written), and by a visit more in the register;
#    then the same with the gateway's rfc2217:// URL typed as the port, the
#    register naming it, the window kept in DIR/wine-e2e-gateway.png;
#  - Orva_Upgrade.exe under Xvfb: Start clicked against the whole controller
#    simulator, the job driven through backup, flash, the new firmware's
#    return and the second download; checked by the flash equalling the
#    firmware file, the backup in %LOCALAPPDATA% equalling the configuration
#    and a visit more in the register;
#  - the company register (scripts/windows-e2e-register.sh): a throw-away
#    PostgreSQL cluster with TLS (tests/registry/with_postgres.sh, this script
#    run again inside it); kvtool.exe register server-setup and sync with
#    sslmode=verify-full, refused first with another CA's root certificate
#    and under another name; KelvaneMini.exe's sync at start
#    bringing Orva_Upgrade.exe's visit to the server, its status bar in
#    DIR/wine-e2e-register.png; a second laptop (another Wine prefix, the key
#    imported) pulling the visits and refusing the first laptop's file for
#    another controller;
#  - the traces the programs stored hold none of the controller's secrets;
#  - the installer, when DIR holds one (scripts/windows-installer-check.sh).
# Every wait has a limit and ends with a message naming what did not happen;
# a failure with the display up leaves a picture of the screen in
# DIR/wine-e2e-failure.png (or .xwd) and lists the windows then showing.
# Usage: scripts/windows-e2e.sh DIR
#   KELVANE_WINE_GUI=0 leaves the two windows out, KELVANE_WINE_PG=0 the
#   company register.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "${1:?usage: $0 DIR}" && pwd)
bin=$out/bin
gui=${KELVANE_WINE_GUI:-1}
pg=${KELVANE_WINE_PG:-1}
need=()
command -v socat >/dev/null || need+=(socat)
command -v ser2net >/dev/null || need+=(ser2net)
command -v openssl >/dev/null || need+=(openssl)
if [ "$pg" = 1 ]; then
  compgen -G '/usr/lib/postgresql/*/bin/initdb' >/dev/null || need+=(postgresql)
fi
if [ "$gui" = 1 ]; then
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdotool >/dev/null || need+=(xdotool)
  command -v matchbox-window-manager >/dev/null || need+=(matchbox-window-manager)
  command -v xwd >/dev/null || need+=(x11-apps)
  command -v pnmtopng >/dev/null || need+=(netpbm)
fi
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi
# The company register's server: this script again, inside a throw-away
# cluster (stopped and removed when it ends).
if [ "$pg" = 1 ] && [ -z "${KELVANE_PG_DIR:-}" ]; then
  exec bash "$root/tests/registry/with_postgres.sh" bash "$0" "$@"
fi

tmp=$(mktemp -d)
pids=()
cleanup() {
  # Wine first, while its display is still there.
  [ -z "${wine:-}" ] || wine_stop
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
program=        # the pid of the Windows program being driven, and its name
program_name=
appdata=        # the Wine user's AppData, once the prefix is there
# On failure: what the screen showed, the windows then open and the logs.
fail() {
  echo "Windows end to end: $*" >&2
  if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "windows showing:" >&2
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
      echo "  $w $(xdotool getwindowname "$w" 2>/dev/null)" >&2
    done
    if command -v xwd >/dev/null; then
      rm -f "$out"/wine-e2e-failure.*
      xwd -root -silent >"$out/wine-e2e-failure.xwd" 2>/dev/null || true
      if command -v xwdtopnm >/dev/null && command -v pnmtopng >/dev/null &&
        xwdtopnm "$out/wine-e2e-failure.xwd" 2>/dev/null | pnmtopng >"$out/wine-e2e-failure.png" 2>/dev/null; then
        rm -f "$out/wine-e2e-failure.xwd"
      else
        rm -f "$out/wine-e2e-failure.png"
      fi
      echo "the screen: $(ls "$out"/wine-e2e-failure.* 2>/dev/null)" >&2
    fi
  fi
  # The simulators' and programs' output, and the programs' own logs (their
  # warnings and errors, beside their traces in %LOCALAPPDATA%).
  for log in "$tmp"/*.log ${appdata:+"$appdata"/Local/Kelvane/*/traces/*.log}; do
    [ -s "$log" ] && { echo "--- $(basename "$log") (last lines)" >&2; tail -n 15 "$log" >&2; }
  done
  exit 1
}
# poll SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds, at most
# SECONDS long; false if it never did. A driven program that ends on its own
# fails the run at once.
poll() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    if [ -n "$program" ] && ! kill -0 "$program" 2>/dev/null; then
      fail "$program_name ended by itself"
    fi
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
# wait_for SECONDS WHAT COMMAND...: poll, or fail saying WHAT did not happen.
wait_for() {
  local limit=$1 what=$2; shift 2
  poll "$limit" "$@" || fail "$what (waited $limit s)"
}
elapsed() { awk "BEGIN{printf \"%.1f\", $(date +%s.%N) - $1}"; }

# The display comes first, before any Wine program of the prefix starts: Wine
# programs share one desktop process, started by the first of them, and it
# draws on the display that one saw. A kvtool.exe run without a display left
# KelvaneMini.exe's windows on no screen at all, invisible to xdotool. Xvfb
# picks a free display number itself (others may run beside this one).
if [ "$gui" = 1 ]; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  [ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
  export DISPLAY=:$(head -n 1 "$tmp/display")
  unset XAUTHORITY
  wait_for 10 "no connection to Xvfb on $DISPLAY" eval 'xdotool getdisplaygeometry >/dev/null 2>&1'
  # Without a window manager the keys xdotool sends reach the Wine windows
  # only now and then; matchbox is the smallest one that gives them the focus.
  matchbox-window-manager -use_titlebar no >"$tmp/wm.log" 2>&1 &
  pids+=($!)
else
  unset DISPLAY
fi

source "$root/scripts/wine-env.sh" "$out" wine-e2e
# The deployed programs carry their own Qt: nothing from the kit.
unset WINEPATH
# Whatever an earlier run left in this prefix ends now.
wine_stop

# The simulators run on Linux: from the full build when there is one, else
# from a small build of the Qt-free core.
sim=$root/build/sim/kelvane_sim
boot=$root/build/sim/orva_bootloader_sim
if [ ! -x "$sim" ] || [ ! -x "$boot" ]; then
  cmake -S "$root" -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_WITH_QT=OFF -DKELVANE_TESTS=OFF >/dev/null
  nice cmake --build "$out/host" --target kelvane_sim orva_bootloader_sim >/dev/null
  sim=$out/host/sim/kelvane_sim
  boot=$out/host/sim/orva_bootloader_sim
fi

# COM8 is one end of a socat pair; the simulator serves the other, and may be
# started again with other options while COM8 stays.
socat pty,link="$tmp/com8",raw,echo=0 pty,link="$tmp/controller",raw,echo=0 &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/com8" ] && [ -e "$tmp/controller" ] && break; sleep 0.1; done
[ -e "$tmp/com8" ] || fail "socat made no pty pair"
wine_port COM8 "$tmp/com8"
sim_pid=
start_sim() { # start_sim [OPTIONS...]: a fresh simulator, its image dumped to $tmp/dump.bin
  [ -z "$sim_pid" ] || { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; }
  rm -f "$tmp/dump.bin"
  "$sim" --port "$tmp/controller" --dump "$tmp/dump.bin" "$@" >"$tmp/sim.log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 50); do grep -q ready "$tmp/sim.log" && return; sleep 0.1; done
  fail "the simulator did not start: $(cat "$tmp/sim.log")"
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }
kvtool() { (cd "$tmp" && "$wine" "$bin/kvtool.exe" "$@"); }
image_of() { head -c 16384 "$1"; }
# The visits the register holds, all controllers together (the fourth field
# of `register list`).
visits() { kvtool register list | tr -d '\r' | awk -F'\t' '{ n += $4 } END { print n + 0 }'; }
# same_image FILE: FILE (a plain or a sealed backup) holds the image a.kvd
# holds; a sealed one is opened by kvtool.exe with the prefix's data key.
same_image() {
  case $1 in
    *.kvd) cmp -s <(image_of "$1") <(image_of "$tmp/a.kvd") ;;
    *) kvtool diff a.kvd "$(winpath "$1")" >/dev/null ;;
  esac
}

# --- kvtool.exe ---
start_sim
kvtool ports | grep -q COM8 || fail "kvtool.exe ports does not list COM8"
kvtool probe --port COM8 >/dev/null || fail "kvtool.exe probe on COM8 failed"
t0=$(date +%s.%N)
kvtool download --port COM8 -o a.kvd --quiet >/dev/null || fail "kvtool.exe download on COM8 failed"
download_s=$(elapsed "$t0")
stop_sim
cmp <(image_of "$tmp/a.kvd") "$tmp/dump.bin" || fail "the downloaded image differs from the controller's"
echo "kvtool.exe download over COM8: ${download_s} s"
recorded=$(visits)
[ "$recorded" -ge 1 ] || fail "kvtool.exe register list shows no visit after the download: $(kvtool register list 2>&1)"
kvtool support-bundle -o bundle.zip --image a.kvd >/dev/null || fail "kvtool.exe support-bundle failed"
python3 - "$tmp/bundle.zip" <<'PY' || fail "the support bundle does not open with Python's zipfile"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None and z.namelist(), z.namelist()
PY
echo "kvtool.exe download recorded in the register ($recorded visit(s)); support bundle opens: OK"
# The data key lives in the prefix's Credential Manager and is the same key
# for a program started after Wine was ended.
key_before=$(kvtool key status 2>&1 | tr -d '\r') || fail "kvtool.exe has no data key: $key_before"
wine_stop
key_after=$(kvtool key status 2>&1 | tr -d '\r') || fail "kvtool.exe has no data key the second time: $key_after"
[ "$key_before" = "$key_after" ] || fail "the data key changed between two runs: $key_before / $key_after"
[[ $key_after == *"in the keychain"* ]] || fail "the data key is not in the Credential Manager: $key_after"
echo "kvtool.exe data key: $key_after"

start_sim
cp "$tmp/a.kvd" "$tmp/b.kvd"
# One setting changed: bit 0 of the parameter block's byte 10.
offset=$((0x3F40 + 10))
byte=$(od -An -tu1 -j "$offset" -N1 "$tmp/b.kvd" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$tmp/b.kvd" bs=1 seek="$offset" conv=notrunc status=none
kvtool upload --port COM8 b.kvd --base a.kvd --other-controller --yes --lang en >"$tmp/upload.log" || fail "kvtool.exe upload failed"
grep -Eq "Blocks sent: 1([^0-9]|$)" "$tmp/upload.log" || fail "the upload did not send one block"
stop_sim
cmp <(image_of "$tmp/b.kvd") "$tmp/dump.bin" || fail "the controller does not hold the uploaded image"
echo "kvtool.exe probe, download, upload over COM8: OK"

# --- kvtool.exe through ser2net (scripts/windows-e2e-gateway.sh) ---
source "$root/scripts/windows-e2e-gateway.sh"
gateway_kvtool
gateway_tls

if [ "$pg" = 1 ]; then
  source "$root/scripts/windows-e2e-register.sh"
  register_first_laptop
fi

if [ "$gui" = 1 ]; then
# --- The windows, driven ---
# A window is found by its title among the visible ones, the newest first.
# xdotool matches titles ignoring case, and KelvaneMini's splash is titled
# "KelvaneMini", its main window "KelvaneMINI": the title is compared again
# here, letter case included. A key goes to the window that has the focus,
# through the X test extension (Wine ignores synthetic key events), so the
# window is activated first.
window() {
  local w name
  for w in $(xdotool search --onlyvisible --name "$1" 2>/dev/null | tac); do
    name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
    [[ $name =~ $1 ]] && { echo "$w"; return; }
  done
}
showing() { [ -n "$(window "$1")" ]; }
gone() { ! showing "$1"; }
focus() {
  timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1" >/dev/null 2>&1 || true
  sleep 0.3
}
press() { local w=$1; shift; focus "$w"; xdotool key --clearmodifiers "$@"; }
# The other windows of the driven program (questions, messages), not its main
# window nor Wine's own input-method windows.
other_window() {
  local w name
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
    [[ $name =~ $1 || $name == "Default IME" || -z $name ]] || { echo "$w"; return; }
  done
}
appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -n 1)/AppData
launch() { # launch NAME FOLDER: starts bin/NAME in FOLDER, as the program being driven
  program_name=$1
  (cd "$2" && exec "$wine" "$bin/$1" >"$tmp/${1%.exe}.log" 2>&1) &
  program=$!
  pids+=("$program")
  disown "$program"  # ended by wine_stop, without a word from the shell
}
finish() { # the driven program is done with: it and the rest of Wine end
  program=
  wine_stop
}

# --- KelvaneMini.exe: F3, a port typed, F4 ---
# mini_download PORT [PICTURE]: KelvaneMini.exe started afresh, PORT typed
# into its port dialog, F4 until the automatic backup is written; the backup
# must hold the image a.kvd holds (the simulator started from it) and the
# register a visit more. PICTURE: the main window, as the download left it,
# kept in DIR/PICTURE.png.
main='^KelvaneMINI'  # "KelvaneMINI", a file's name after it
backups=$appdata/Local/Kelvane/KelvaneMini/backups
mini_download() {
  local port=$1 picture=${2:-} t0 window_s filled_s try other backup before next_f4 end seen=()
  start_sim
  rm -rf "$backups"
  t0=$(date +%s.%N)
  launch KelvaneMini.exe "$tmp"
  wait_for 90 "KelvaneMini.exe showed no main window" showing "$main"
  window_s=$(elapsed "$t0")
  # F3 again until the port dialog shows (the key may come before the window
  # has the focus).
  for try in $(seq 10); do
    press "$(window "$main")" F3
    poll 3 showing '^Wybierz port$' && break
    [ "$try" -lt 10 ] || fail "no port dialog (\"Wybierz port\") after F3 ten times"
  done
  # The port typed and Return: the dialog closes and the program probes it.
  for try in 1 2 3; do
    press "$(window '^Wybierz port$')" ctrl+a
    xdotool type --delay 30 "$port"
    xdotool key Return
    poll 10 gone '^Wybierz port$' && break
    [ "$try" -lt 3 ] || fail "the port dialog stayed open after $port and Return"
  done
  # F4, and again while nothing came of it; a message in between (the line
  # still busy with the probe) is answered with Return and named on failure.
  end=$((SECONDS + 90))
  next_f4=$SECONDS
  until compgen -G "$backups/*.kv[ds]" >/dev/null; do
    [ $SECONDS -lt $end ] || fail "KelvaneMini.exe wrote no backup after F4 ($port; messages answered: ${seen[*]:-none})"
    kill -0 "$program" 2>/dev/null || fail "KelvaneMini.exe ended by itself"
    other=$(other_window "$main")
    if [ -n "$other" ]; then
      seen+=("\"$(xdotool getwindowname "$other" 2>/dev/null)\"")
      press "$other" Return
      next_f4=$((SECONDS + 2))
    elif [ $SECONDS -ge "$next_f4" ]; then
      press "$(window "$main")" F4
      next_f4=$((SECONDS + 15))
    fi
    sleep 0.3
  done
  filled_s=$(elapsed "$t0")
  backup=$(ls "$backups"/*.kv[ds] | head -n 1)
  stop_sim
  # The backup is written in one piece (a temporary file renamed), so it is
  # whole once it shows; the simulator started from the image a.kvd holds.
  cmp -s <(image_of "$tmp/a.kvd") "$tmp/dump.bin" || fail "the simulator did not start from the image downloaded before"
  if [ -n "$picture" ]; then
    sleep 1  # the tables drawn
    rm -f "$out/$picture.png"
    xwd -id "$(window "$main")" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$out/$picture.png" 2>/dev/null ||
      fail "no picture of KelvaneMini.exe's window"
  fi
  finish
  same_image "$backup" || fail "KelvaneMini.exe's backup $(basename "$backup") differs from the controller's image"
  before=$recorded
  wait_for 10 "KelvaneMini.exe's download is not in the register (visits: $recorded)" eval '[ "$(visits)" -gt "$before" ]'
  recorded=$(visits)
  echo "KelvaneMini.exe F3, $port, F4 under Xvfb: OK (window ${window_s} s, filled and backed up ${filled_s} s from start; $(basename "$backup"); visit recorded${picture:+; $out/$picture.png})"
}
mini_download COM8
# The same through ser2net, its URL typed as the port; the register names it.
gateway_start
mini_download "$gateway_url" wine-e2e-gateway
gateway_stop
gateway_named "$gateway_url" || fail "the register does not name KelvaneMini.exe's gateway port $gateway_url"

# --- Orva_Upgrade.exe: Start, the whole firmware job ---
# Its firmware file in the folder it starts in; COM8 the port it remembers;
# Start clicked. The simulator is the whole controller (unpaced): the job
# identifies it, backs its configuration up, flashes, waits for the new
# firmware and downloads the configuration again; the simulator prints a line
# per step and writes what it was programmed with at the flash's end. A
# question on the way (a window besides the main one) is answered with
# Return, its default; a click that started nothing (no line session traced)
# is repeated.
mkdir -p "$tmp/orva"
head -c 5000 /dev/urandom >"$tmp/body.bin"
{ printf Orva; cat "$tmp/body.bin"; } >"$tmp/orva/4817_05.dat"
image_of "$tmp/a.kvd" >"$tmp/configuration.bin"
"$boot" --port "$tmp/controller" --controller --image "$tmp/configuration.bin" --boot-ms 1000 \
  --dump "$tmp/flash.bin" >"$tmp/boot.log" 2>&1 &
boot_pid=$!
pids+=("$boot_pid")
wait_for 10 "the controller simulator did not start" grep -qs ready "$tmp/boot.log"
"$wine" reg add 'HKCU\Software\Kelvane\Orva_Upgrade\port' /v last /d COM8 /f >/dev/null 2>&1
traces=$appdata/Local/Kelvane/Orva_Upgrade/traces
orva_backups=$appdata/Local/Kelvane/Orva_Upgrade/backups  # the generic data folder: %LOCALAPPDATA%
rm -rf "$traces" "$orva_backups"
traced() { compgen -G "$traces/*.trace" >/dev/null; }
# The job is through once the controller came back and its configuration
# was downloaded a second time.
served() { [ "$(grep -c '^download served$' "$tmp/boot.log")" -ge 2 ] && grep -q '^back firmware=' "$tmp/boot.log"; }
steps() { grep -v '^ready$' "$tmp/boot.log" | cut -d' ' -f1,2 | paste -sd, - | sed 's/,/, /g'; }
main='^Orva Kelvane BootLoader$'
launch Orva_Upgrade.exe "$tmp/orva"
wait_for 60 "Orva_Upgrade.exe showed no window" showing "$main"
start() { # the Start button's middle, in the window's own coordinates
  local w
  w=$(window "$main")
  focus "$w"
  xdotool mousemove --window "$w" 120 45 click 1
}
start
t1=$(date +%s.%N)
seen=()
clicks=1
end=$((SECONDS + 300))
next_click=$((SECONDS + 10))
until served; do
  [ $SECONDS -lt $end ] || fail "Orva_Upgrade.exe's job did not come through in 300 s (simulator's steps: $(steps); questions answered: ${seen[*]:-none}; clicks: $clicks)"
  kill -0 "$program" 2>/dev/null || fail "Orva_Upgrade.exe ended by itself"
  kill -0 "$boot_pid" 2>/dev/null || fail "the controller simulator ended: $(tail -n 1 "$tmp/boot.log")"
  other=$(other_window "$main")
  if [ -n "$other" ]; then
    seen+=("\"$(xdotool getwindowname "$other" 2>/dev/null)\"")
    press "$other" Return
  elif ! traced && [ $SECONDS -ge "$next_click" ] && [ "$clicks" -lt 5 ]; then
    start
    clicks=$((clicks + 1))
    next_click=$((SECONDS + 10))
  fi
  sleep 0.3
done
job_s=$(elapsed "$t1")
orva_backup_written() { compgen -G "$orva_backups/*.kv[ds]" >/dev/null; }
wait_for 30 "Orva_Upgrade.exe wrote no configuration backup under $orva_backups" orva_backup_written
# The flash is dumped at its end byte, before the new firmware answers.
[ -s "$tmp/flash.bin" ] || fail "the controller simulator wrote no flash"
cmp <(head -c 5000 "$tmp/flash.bin") "$tmp/body.bin" || fail "the flash differs from the firmware file"
orva_backup=$(ls "$orva_backups"/*.kv[ds] | head -n 1)
kill "$boot_pid"
wait "$boot_pid" 2>/dev/null || fail "the controller simulator saw no flash end: $(tail -n 1 "$tmp/boot.log")"
# The job records its visits after the last download, while the window
# runs: ending Wine before that would stop the job unrecorded.
before=$recorded
wait_for 30 "Orva_Upgrade.exe's job is not in the register (visits: $recorded)" eval '[ "$(visits)" -gt "$before" ]'
finish
same_image "$orva_backup" || fail "Orva_Upgrade.exe's backup differs from the controller's configuration"
recorded=$(visits)
echo "Orva_Upgrade.exe Start under Xvfb, the whole job: OK (${job_s} s; $(steps); visit recorded)"
if [ "$pg" = 1 ]; then register_window_synced; fi
fi

# The stored traces hold none of the controller's secrets: the frames of
# every download and upload they show, put together, never hold a byte of
# a.kvd where the bundle's masked image differs from it (the codes, key
# serials and the password).
appdata=$(find "$WINEPREFIX/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -n 1)/AppData
traces_checked=$(python3 - "$tmp/a.kvd" "$tmp/bundle.zip" "$appdata/Local/Kelvane" <<'PY'
import pathlib, sys, zipfile
plain = pathlib.Path(sys.argv[1]).read_bytes()[:16384]
masked = zipfile.ZipFile(sys.argv[2]).read("image-masked.kvd")[:16384]
secret = [o for o in range(16384) if plain[o] != masked[o]]
assert secret, "masking changed nothing"
files = [p for p in pathlib.Path(sys.argv[3]).glob("*/traces/*") if p.is_file() and p.suffix != ".log"]
assert files, "no stored traces"
for path in files:
    streams = {"<": bytearray(), ">": bytearray()}
    for line in path.read_text(errors="replace").splitlines():
        words = line.split()
        if len(words) < 4 or words[1] not in streams:
            continue
        data = words[3:]
        if data[:1] == ["of"]:
            data = data[2:]
        for w in data:
            if len(w) != 2:
                break
            try:
                streams[words[1]].append(int(w, 16))
            except ValueError:
                break
    for direction, s in streams.items():
        for at in range(0, max(0, len(s) - 34 - 1)):
            index = s[at] | s[at + 1] << 8
            if index >= 512 or (s[at + 34] | s[at + 35] << 8) != index + 1:
                continue
            block = s[at + 2:at + 34]
            for o in secret:
                if o // 32 == index and block[o % 32] == plain[o]:
                    sys.exit(f"{path.name} ({direction}) shows the plain byte at {o:#06x}")
print(len(files))
PY
) || fail "a stored trace holds a secret in plain: $traces_checked"
echo "Stored traces ($traces_checked) hold no secret of the controller: OK"
if [ "$pg" = 1 ]; then register_second_laptop; fi

echo "Windows end to end: OK (${SECONDS} s)"

if [ -x "$root/scripts/windows-installer-check.sh" ] && ls "$out"/Kelvane-*-setup.exe >/dev/null 2>&1; then
  bash "$root/scripts/windows-installer-check.sh" "$out"
fi
