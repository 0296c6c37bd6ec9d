#!/usr/bin/env bash
# Cross-compiles the Qt-free core (image, data file, card layout, language
# table, both programs' protocols, the simulators' devices) for Windows with
# MinGW-w64, statically, to check it builds there too. Not part of the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix
fi
cmake -S "$root" -B "$root/build-mingw" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXE_LINKER_FLAGS=-static -DKELVANE_WITH_QT=OFF -DKELVANE_TESTS=OFF >/dev/null
cmake --build "$root/build-mingw"
echo "Windows cross-build of the core: OK"
