#!/usr/bin/env bash
# The native tests under the thread sanitizer.
set -euo pipefail
cmake --preset tsan
cmake --build --preset tsan -j "$1"
ctest --preset tsan -j "$1"
