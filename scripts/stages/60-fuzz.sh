#!/usr/bin/env bash
# A bounded libFuzzer run of every fuzz target (80 seconds for all of them
# together, ten each), from the committed seed corpora, under the address and
# undefined-behaviour sanitizers. Fails on any crash, sanitizer report or
# broken invariant; prints the executions per target and their rates.
set -euo pipefail
jobs="$1"
total_seconds=${BENDLENS_FUZZ_SECONDS:-80}

cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"

build=build/fuzz
mapfile -t targets < "$build/fuzz/fuzz_targets.txt"
if ((${#targets[@]} == 0)); then
  echo "fuzz: no targets" >&2
  exit 1
fi
per_target=$((total_seconds / ${#targets[@]}))
((per_target >= 1)) || per_target=1

summary="$build/fuzz-executions.txt"
: > "$summary"
for target in "${targets[@]}"; do
  # New inputs go to a scratch folder; the committed seeds are only read.
  scratch="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$scratch" "$artifacts" "fuzz/corpus/$target"
  log="$build/$target.log"
  echo "fuzz: $target for $per_target s"
  # The processor time it took besides the wall time: on a shared machine
  # executions per processor second are the steadier measure.
  TIMEFORMAT='%R %U %S'
  if ! { time "$build/fuzz/$target" -max_total_time="$per_target" -timeout=10 \
      -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$artifacts" "$scratch" \
      "fuzz/corpus/$target" > "$log" 2>&1; } 2> "$build/$target.time"; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target failed; the input is in $artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rates=$(awk -v runs="$runs" \
    '{ printf "in %.1f s: %.0f a second, %.0f a processor second", $1, runs / $1, runs / ($2 + $3) }' \
    "$build/$target.time")
  echo "$target $runs executions $rates" | tee -a "$summary"
done
