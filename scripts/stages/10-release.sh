#!/usr/bin/env bash
# The Linux x86-64 build, optimised, with every native test.
set -euo pipefail
cmake --preset release
cmake --build --preset release -j "$1"
ctest --preset release -j "$1"
