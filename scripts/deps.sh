#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing, for what is asked:
#   deps.sh run   what building and starting the programs needs (compiler,
#                 CMake, Ninja, Qt with its SQLite and PostgreSQL drivers, libpq's
#                 header, the compiler cache, libsodium, QtKeychain)
#   deps.sh       all of that and what the tests, benchmarks, fuzzing, the
#                 package check and the Windows cross-check need (D-Bus and
#                 GNOME keyring: the keychain tests' Secret Service; the
#                 PostgreSQL server the company register's tests start, and
#                 openssl for their throw-away certificates)
set -euo pipefail
pkgs=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev libzip-dev pkg-config
      qt6-translations-l10n ccache libsodium-dev qtkeychain-qt6-dev)
if [ "${1:-all}" != run ]; then
  pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev
         xvfb xauth socat poppler-utils
         fonts-dejavu-core fonts-liberation2 clang clang-format libclang-rt-dev
         dpkg-dev file desktop-file-utils
         g++-mingw-w64-x86-64-posix googletest wine64 nsis xdotool
         dbus gnome-keyring postgresql openssl)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
# sudo drops the environment: the front end goes on apt-get's own command line.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
