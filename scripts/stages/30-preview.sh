#!/usr/bin/env bash
# The preview host: its tests in the release build, a render of the default
# scene and the accuracy report, then its tests again under the address and
# undefined-behaviour sanitizers (the parsers and the renderer functions see
# hostile input there).
set -euo pipefail
jobs=$1
cmake --preset release
cmake --build --preset release -j "$jobs" --target bendlens bendlens-preview bendlens_preview_tests \
  bendlens_wrong_version_plugin bendlens_missing_entry_plugin
ctest --preset release -R preview -j "$jobs"
mkdir -p out
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --output out/default.png
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --accuracy 500 >/dev/null

sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/preview-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBENDLENS_BUILD_PREVIEW=ON -DBENDLENS_BUILD_TESTS=ON \
  "-DCMAKE_CXX_FLAGS=$sanitize" "-DCMAKE_EXE_LINKER_FLAGS=$sanitize" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$sanitize"
cmake --build build/preview-asan -j "$jobs" --target bendlens bendlens-preview \
  bendlens_preview_tests bendlens_wrong_version_plugin bendlens_missing_entry_plugin
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/preview-asan -R preview -j "$jobs" --output-on-failure
