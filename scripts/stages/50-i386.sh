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

# The Mac build cannot be made here (no Apple toolchain). Generate it with a
# Darwin target name instead and check that the plug-in's link line carries the
# flat namespace, the export list, the i386 architecture and the install name.
mac=build/i386/mac-layout
rm -rf "$mac"
cmake -S . -B "$mac" -G Ninja -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_COMPILER_WORKS=ON -DCMAKE_OSX_ARCHITECTURES=i386 -DBENDLENS_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release > "$mac.log"
link=$(sed -n '/^build bendlens\.so:/,/^$/p' "$mac/build.ninja")
for expected in 'ARCH_FLAGS = -arch i386' 'INSTALLNAME_DIR = intel/' \
  'LINK_FLAGS = -flat_namespace -undefined dynamic_lookup -exported_symbols_list'; do
  if ! grep -qF -- "$expected" <<<"$link"; then
    echo "mac layout: the plug-in's link rule lacks '$expected'" >&2
    exit 1
  fi
done
echo "mac layout: bendlens.so, i386, flat namespace, install name intel/bendlens.so"
