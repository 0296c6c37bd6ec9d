#!/usr/bin/env bash
# Runs a test program against a real Secret Service: a D-Bus session of its
# own with a GNOME keyring unlocked in it, in a home of its own, so the
# user's keychain is never touched. Both end with the program.
set -euo pipefail
for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (bash scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ "${KELVANE_IN_SECRET_SESSION:-}" != 1 ]; then
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  mkdir -m 0700 "$home/run"
  KELVANE_IN_SECRET_SESSION=1 HOME=$home XDG_RUNTIME_DIR=$home/run XDG_DATA_HOME=$home/.local/share \
    XDG_CONFIG_HOME=$home/.config dbus-run-session -- bash "$0" "$@"
  exit $?
fi
unset KELVANE_KEY_FILE KELVANE_NO_KEYCHAIN DISPLAY WAYLAND_DISPLAY
# The keyring's password on its standard input unlocks (and first makes) it.
printf 'kelvane-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
keyring=$!
trap 'kill "$keyring" 2>/dev/null || true' EXIT
# A loaded machine starts the daemon late: up to 30 s, then say so.
up=0
for _ in $(seq 300); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true' && { up=1; break; }
  sleep 0.1
done
[ "$up" = 1 ] || { echo "the Secret Service did not start within 30 s" >&2; exit 1; }
"$@"
