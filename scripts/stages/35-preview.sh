#!/usr/bin/env bash
# The preview host: its tests in the release build, a render of the default
# scene and the accuracy report, then its tests again under the address and
# undefined-behaviour sanitizers (the parsers and the renderer functions see
# hostile input there) and under the thread sanitizer (the render threads
# share the scene, the instance and the plug-in).
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

sanitize="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build/preview-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBENDLENS_BUILD_PREVIEW=ON -DBENDLENS_BUILD_TESTS=ON \
  "-DCMAKE_CXX_FLAGS=$sanitize" "-DCMAKE_EXE_LINKER_FLAGS=$sanitize" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$sanitize"
cmake --build build/preview-tsan -j "$jobs" --target bendlens bendlens-preview \
  bendlens_preview_tests bendlens_wrong_version_plugin bendlens_missing_entry_plugin
# Embree builds its scenes on task threads the sanitizer cannot see into:
# keep them on the calling thread, and suppress what Embree and TBB do inside.
BENDLENS_EMBREE_CONFIG=threads=1 \
  TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/preview/tests/tsan.supp" \
  ctest --test-dir build/preview-tsan -R preview -j "$jobs" --output-on-failure
