#!/usr/bin/env bash
# The native tests under the address and undefined-behaviour sanitizers.
set -euo pipefail
cmake --preset asan
cmake --build --preset asan -j "$1"
ctest --preset asan -j "$1"
