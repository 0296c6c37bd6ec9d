#!/usr/bin/env bash
# Builds the Windows programs on Linux: KelvaneMini.exe, Orva_Upgrade.exe and
# kvtool.exe, and every test program, cross-compiled with MinGW-w64 against
# the Qt 6 kit for MinGW, with warnings as errors. The programs, with the Qt
# libraries, the compiler's runtime and the plugins they load, end up in
# DIR/bin, ready to copy to a Windows machine or to run under Wine, and in
# an installer beside it.
#
# Usage: scripts/build-windows.sh DIR [--no-tests]
#   The kit is qt-6.4.2-mingw-v3.tar.xz (Qt with Qt SQL and its SQLite and
#   PostgreSQL drivers, and SQLite, zlib, libzip, libsodium, QtKeychain,
#   OpenSSL and libpq in the same prefix) from KELVANE_QT_MINGW (a tarball or
#   an unpacked kit folder), else from ../shared/toolchains beside the clone.
#   An older kit without the PostgreSQL client (v2) still builds: the
#   programs then say the company register's server is not in the build.
#   DIR/qt: the unpacked kit; DIR/googletest-install: GoogleTest for MinGW;
#   DIR/build: the CMake build; DIR/bin: the deployed programs;
#   DIR/Kelvane-<version>-setup.exe: the installer (NSIS).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 DIR [--no-tests]" >&2; exit 1; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
tests=ON
[ "${2:-}" = --no-tests ] && tests=OFF
cxx=x86_64-w64-mingw32-g++-posix
SECONDS=0

need=()
command -v "$cxx" >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v /usr/lib/qt6/libexec/moc >/dev/null || need+=(qt6-base-dev qt6-base-dev-tools)
command -v makensis >/dev/null || need+=(nsis)
[ -f /usr/share/qt6/translations/qtbase_pl.qm ] || need+=(qt6-translations-l10n)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  # A fresh machine has no package lists yet; sudo drops the environment.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

# The Qt kit, unpacked once.
kit=${KELVANE_QT_MINGW:-$root/../shared/toolchains/qt-6.4.2-mingw-v3.tar.xz}
[ -e "$kit" ] || kit=/work/shared/toolchains/qt-6.4.2-mingw-v3.tar.xz
if [ -d "$kit" ]; then
  qt=$(cd "$kit" && pwd)
else
  [ -f "$kit" ] || { echo "no Qt kit for MinGW: set KELVANE_QT_MINGW to qt-6.4.2-mingw-v3.tar.xz" >&2; exit 1; }
  qt=$out/qt/qt-6.4.2-mingw
  # Unpacked again when the kit changes (another file, or a newer one).
  stamp="$(basename "$kit") $(stat -c '%s %Y' "$kit")"
  if [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] || [ "$(cat "$out/qt/kit" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$out/qt"
    mkdir -p "$out/qt"
    tar -C "$out/qt" -xJf "$kit"
    echo "$stamp" >"$out/qt/kit"
  fi
fi
# The offscreen platform, which the window tests use, reads fonts only from
# the kit's lib/fonts: the system's DejaVu and Liberation fonts (Liberation
# Mono stands in for Courier New) go there.
if [ -w "$qt/lib" ] && [ ! -d "$qt/lib/fonts" ]; then
  mkdir -p "$qt/lib/fonts"
  cp /usr/share/fonts/truetype/dejavu/*.ttf /usr/share/fonts/truetype/liberation2/*.ttf "$qt/lib/fonts/" 2>/dev/null || true
fi
# Qt's own Polish texts (Debian's, the same Qt version) where the kit's Qt
# looks for them, for the window tests; the install step puts them beside
# the programs.
if [ -w "$qt" ] && [ ! -f "$qt/translations/qtbase_pl.qm" ] && [ -f /usr/share/qt6/translations/qtbase_pl.qm ]; then
  mkdir -p "$qt/translations"
  cp /usr/share/qt6/translations/qtbase_pl.qm "$qt/translations/"
fi
toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
[ -f "$toolchain" ] || { echo "$qt holds no Qt kit (no lib/cmake/Qt6/qt.toolchain.cmake)" >&2; exit 1; }

# GoogleTest for MinGW, once, from Debian's source package.
gtest=$out/googletest-install
if [ $tests = ON ] && [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$out/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/mingw-w64-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  nice cmake --build "$out/googletest" >/dev/null
  cmake --install "$out/googletest" >/dev/null
fi

# rfc2217+tls:// needs OpenSSL 3's headers and import libraries, which kit v3
# holds (for libpq); the DLLs alone would not do. Named here by path so that
# the import libraries are linked, not the static ones beside them. Without
# them the programs say that this build lacks TLS.
tls=(-DKELVANE_WINDOWS_TLS=OFF)
if [ -f "$qt/include/openssl/ssl.h" ] && [ -f "$qt/include/openssl/opensslv.h" ] &&
   [ -f "$qt/lib/libssl.dll.a" ] && [ -f "$qt/lib/libcrypto.dll.a" ]; then
  tls=(-DKELVANE_WINDOWS_TLS=ON -DOPENSSL_INCLUDE_DIR="$qt/include" -DOPENSSL_SSL_LIBRARY="$qt/lib/libssl.dll.a"
       -DOPENSSL_CRYPTO_LIBRARY="$qt/lib/libcrypto.dll.a")
else
  echo "the kit has no OpenSSL headers and import libraries: this build goes without rfc2217+tls://" >&2
fi

# The tests are listed when ctest runs them, not at build time (they run
# under Wine).
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DKELVANE_TESTS=$tests -DCMAKE_CXX_FLAGS=-Werror -DGTest_DIR="$gtest/lib/cmake/GTest" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST "${tls[@]}" >/dev/null
nice cmake --build "$out/build"
rm -rf "$out/bin"
cmake --install "$out/build" --prefix "$out" >/dev/null

# What a Windows user gets: the three programs, the windows without a
# console behind them, and every library they load beside them.
for exe in KelvaneMini Orva_Upgrade kvtool; do
  [ -f "$out/bin/$exe.exe" ] || { echo "$exe.exe was not built" >&2; exit 1; }
done
subsystem() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p'; }
for exe in KelvaneMini Orva_Upgrade; do
  case $(subsystem "$out/bin/$exe.exe") in *"Windows GUI"*) ;; *)
    echo "$exe.exe is not a Windows GUI program: $(subsystem "$out/bin/$exe.exe")" >&2; exit 1;;
  esac
done
case $(subsystem "$out/bin/kvtool.exe") in *"Windows CUI"*) ;; *)
  echo "kvtool.exe is not a console program" >&2; exit 1;;
esac
# Every DLL a program or plugin imports lies in bin/ or is a system DLL: one
# the kit holds (Qt, the compiler's runtime, the libraries and what they load
# in turn, libpq's OpenSSL) must be deployed, and with Wine installed any
# other must be one of the system's (Wine's own). Windows compares names
# without letter case.
missing=0
names() { find "$@" -maxdepth 1 -iname '*.dll' -printf '%f\n' 2>/dev/null | tr '[:upper:]' '[:lower:]'; }
deployed=$(names "$out/bin")
kit_dlls=$(names "$qt/bin")
system_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
system_dlls=$(find "$system_dir" -maxdepth 1 -type f -printf '%f\n' 2>/dev/null | tr '[:upper:]' '[:lower:]')
while read -r file; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    grep -qxF "${dll,,}" <<<"$deployed" && continue
    if grep -qxF "${dll,,}" <<<"$kit_dlls"; then
      echo "${file#"$out/bin/"} needs $dll, not deployed" >&2; missing=1
    elif [ -n "$system_dlls" ] && [[ ${dll,,} != api-ms-win-* ]] && ! grep -qxF "${dll,,}" <<<"$system_dlls"; then
      echo "${file#"$out/bin/"} needs $dll, neither deployed nor a system DLL" >&2; missing=1
    fi
  done
done < <(find "$out/bin" -iname '*.exe' -o -iname '*.dll')
# The register opens its database through Qt's SQLite driver, loaded by name;
# the company register its server through the PostgreSQL driver, when the kit
# has it.
[ -f "$out/bin/sqldrivers/qsqlite.dll" ] || { echo "sqldrivers/qsqlite.dll not deployed" >&2; missing=1; }
if [ -f "$qt/plugins/sqldrivers/qsqlpsql.dll" ]; then
  for f in sqldrivers/qsqlpsql.dll libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll; do
    [ -f "$out/bin/$f" ] || { echo "$f not deployed (the company register's server)" >&2; missing=1; }
  done
else
  echo "the kit has no PostgreSQL driver: this build goes without the company register's server" >&2
fi
# rfc2217+tls:// through the kit's OpenSSL DLLs, linked by their import
# libraries (kvtool.exe names libssl-3-x64.dll itself, not only through
# libpq), each installed once.
if [ "${tls[0]}" = -DKELVANE_WINDOWS_TLS=ON ]; then
  x86_64-w64-mingw32-objdump -p "$out/bin/kvtool.exe" | grep -i 'DLL Name: libssl-3-x64.dll' >/dev/null ||
    { echo "kvtool.exe does not load libssl-3-x64.dll: rfc2217+tls:// is not linked to the kit's OpenSSL" >&2; missing=1; }
  for f in libssl-3-x64.dll libcrypto-3-x64.dll; do
    [ "$(grep -c "/bin/$f\$" "$out/build/install_manifest.txt")" -eq 1 ] ||
      { echo "$f is not installed exactly once: $(grep -c "/bin/$f\$" "$out/build/install_manifest.txt")" >&2; missing=1; }
  done
fi
[ $missing -eq 0 ] || exit 1
# The installer, from the same install step.
(cd "$out/build" && cpack -G NSIS >/dev/null)
mv -f "$out/build"/Kelvane-*-setup.exe "$out/"
echo "Windows installer: $(ls "$out"/Kelvane-*-setup.exe) ($(( $(stat -c %s "$out"/Kelvane-*-setup.exe) / 1024 )) KiB)"
echo "Windows build: $out/bin (KelvaneMini.exe, Orva_Upgrade.exe, kvtool.exe; no warnings, ${SECONDS} s)"
