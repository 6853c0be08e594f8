#!/usr/bin/env bash
# The main job: installs only what the plug-in and the preview host need (no
# test frameworks, Wine, MinGW or multilib), builds those two, and renders the
# default scene. Options after the script's name go to the preview host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --main
# The release preset with the tests and benchmarks left out: scripts/check.sh
# configures the same folder with them again.
cmake --preset release -DBENDLENS_BUILD_TESTS=OFF -DBENDLENS_BUILD_BENCH=OFF >/dev/null
cmake --build --preset release -j "$(nproc)" --target bendlens bendlens-preview
mkdir -p out
if [[ " $* " == *" --output "* ]]; then
  build/release/preview/bendlens-preview "$@"
else
  build/release/preview/bendlens-preview --output out/default.png "$@"
fi
