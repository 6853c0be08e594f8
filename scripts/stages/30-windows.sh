#!/usr/bin/env bash
# The Windows x86-64 build, cross-compiled with MinGW-w64; its tests run
# under Wine; then the zip package.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs="${1:-2}"
cmake --preset windows
# Wine's first start sets up its prefix, which takes a while: do it once here
# rather than inside the first test's time limit. On a loaded machine that
# first start now and then fails to load kernel32.dll and leaves a broken
# prefix; it is then stopped, removed and set up once more.
prefix="$PWD/build/windows/wineprefix"
wine=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
if ! WINEDEBUG=-all WINEPREFIX="$prefix" "$wine" wineboot -i; then
  echo "Wine's first start failed; setting up its prefix once more"
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  WINEDEBUG=-all WINEPREFIX="$prefix" "$wine" wineboot -i
fi
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs"
cpack --preset windows
