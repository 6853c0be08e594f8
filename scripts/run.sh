#!/usr/bin/env bash
# Builds the plug-in and the preview host, and renders the default scene.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
if [[ -x build/release/preview/bendlens-preview ]]; then
  mkdir -p out
  build/release/preview/bendlens-preview --plugin build/release/bendlens.so \
    --output out/default.png "$@"
  if [[ " $* " != *" --output "* ]]; then
    echo "rendered out/default.png (options: build/release/preview/bendlens-preview --help)"
  fi
else
  echo "built the plug-in: build/release/bendlens.so (declaration: declaration/bendlens.mi)"
fi
