#!/usr/bin/env bash
# The preview host as a user meets it: a render of the default scene, the
# accuracy report and a bake from the release build (its tests run with every native
# suite, also under the sanitizers).
set -euo pipefail
mkdir -p out
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --output out/default.png
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --accuracy 500 >/dev/null
# A bake of a model with texture coordinates, made by the script the README
# names, and the map rendered back on it.
scripts/make-uv-model.sh out/rippled.obj 64
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --mesh out/rippled.obj \
  --bake texture --size 256 --output out/rippled_curvature.png
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --mesh out/rippled.obj \
  --texture out/rippled_curvature.png --output out/rippled.png
