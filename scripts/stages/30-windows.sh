#!/usr/bin/env bash
# The Windows x86-64 build, cross-compiled with MinGW-w64; its tests run
# under Wine; then the zip package.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs="${1:-2}"
cmake --preset windows
# Wine's first start sets up its prefix, which takes a while: do it once here
# rather than inside the first test's time limit.
WINEDEBUG=-all WINEPREFIX="$PWD/build/windows/wineprefix" \
  "$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)" wineboot -i
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs"
cpack --preset windows
