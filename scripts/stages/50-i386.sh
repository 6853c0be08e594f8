#!/usr/bin/env bash
# The 32-bit Intel build with SSE arithmetic (the Mac's layout and arithmetic,
# built on Linux): plug-in and native tests, then the golden shading bits of
# this build against those of the 64-bit release build.
set -euo pipefail
jobs="$1"
cmake --preset i386
cmake --build --preset i386 -j "$jobs"
ctest --preset i386 -j "$jobs"

# The release build is configured by the release stage; build just the
# generator there if that stage has not run.
if [[ ! -f build/release/build.ninja ]]; then
  cmake --preset release
fi
cmake --build build/release --target bendlens_golden -j "$jobs"
build/release/tests/bendlens_golden > build/i386/golden-x86_64.txt
build/i386/tests/bendlens_golden > build/i386/golden-i386.txt
build/i386/tests/bendlens_golden --compare build/i386/golden-x86_64.txt build/i386/golden-i386.txt
