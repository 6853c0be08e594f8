#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks of the shading call:
# every method, measure, mapping and contrast setting through the exported
# entry point; the library against its floor (the same arithmetic written
# straight through); two threads against one. Prints the machine and the
# ratios; every figure goes to build/release/bench/results.json.
#
# Usage: scripts/bench.sh [benchmark options]
#   scripts/bench.sh --benchmark_filter=m0/      only method 0
#   scripts/bench.sh --benchmark_repetitions=9   more repetitions
#   BENCH_VERBOSE=1 scripts/bench.sh             every run, not just the ratios
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-2}" --target bendlens_bench

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
quiet=(--ratios_only)
if [[ -n "${BENCH_VERBOSE:-}" ]]; then quiet=(); fi
build/release/bench/bendlens_bench "${quiet[@]}" \
  --benchmark_repetitions=5 --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
  --benchmark_out=build/release/bench/results.json --benchmark_out_format=json "$@"
