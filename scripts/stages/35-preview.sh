#!/usr/bin/env bash
# The preview host as a user meets it: a render of the default scene and the
# accuracy report from the release build (its tests run with every native
# suite, also under the sanitizers).
set -euo pipefail
mkdir -p out
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --output out/default.png
build/release/preview/bendlens-preview --plugin build/release/bendlens.so --accuracy 500 >/dev/null
