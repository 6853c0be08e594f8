#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build with its sanitizers,
# the Windows build under Wine, the 32-bit build and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

scripts/setup.sh --models

for stage in scripts/stages/[0-9]*.sh; do
  echo "=== ${stage##*/}"
  start=$SECONDS
  bash "$stage" "$jobs"
  echo "=== ${stage##*/} done in $((SECONDS - start)) s"
done
echo "check: every stage passed"
