#!/usr/bin/env bash
# Mutation check: proves that the tests hold the library's arithmetic and
# its rules. Each mutant below is one small change to the library's code (a
# sum taken in another order, a double step taken in float, a rule dropped).
# They are applied one at a time to a scratch copy of the tree, only what the
# change touches is rebuilt, and the native unit tests run; every mutant must
# make them fail. A mutant whose text is no longer found in the code fails
# the check too, so the list is kept true as the code changes.
#
#   bash scripts/mutants.sh            every mutant
#   bash scripts/mutants.sh WORD       only mutants whose name contains WORD
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
only=${1:-}

# One mutant per block: a name, the file, and one or more old/new pairs, in
# which \n stands for a line break. Each old text must occur exactly once in
# its file.
mutants() {
  cat <<'EOF'
name: L summed z, x, y instead of y, x, z
file: curvature/analytic.cpp
old: const float l = dot_yxz(n, puu);
new: const float l = n.z * puu.z + n.x * puu.x + n.y * puu.y;

name: M squared in float instead of exactly in double
file: curvature/analytic.cpp
old: const float c = float(double(nn * l) - exact_square(m));
new: const float c = float(double(nn * l) - double(m * m));

name: root of d and q formed in float
file: curvature/analytic.cpp
old: const double root = std::sqrt(double(d));
new: const float root = std::sqrt(d);
old: const double q_wide = b < 0.0f ? -0.5 * (double(b) - root) : -0.5 * (double(b) + root);
new: const float q_wide = b < 0.0f ? -0.5f * (b - root) : -0.5f * (b + root);

name: triangle area rounded to float before the scaling by 100
file: curvature/mesh.cpp
old: const float scaled_area = float(area * 100.0);
new: const float scaled_area = float(double(float(area)) * 100.0);

name: vertex value formed in float
file: curvature/mesh.cpp
old: return float(std::acos(double(cosine)) * 10.0 / double(scaled_area));
new: return std::acos(cosine) * 10.0f / scaled_area;

name: probe angle sum accumulated in float
file: curvature/probe.cpp
old: total.sum = float(double(total.sum) + std::acos(double(cosine)));
new: total.sum += float(std::acos(double(cosine)));

name: probe radius applied inside the double product
file: curvature/probe.cpp
old: return Vector{float(std::cos(phi) * rho) * jitter + base.x,
new: return Vector{float(std::cos(phi) * rho * jitter) + base.x,
old: float(std::sin(phi) * rho) * jitter + base.y, float(w) * jitter + base.z};
new: float(std::sin(phi) * rho * jitter) + base.y, float(w * jitter) + base.z};

name: probe average as S times m over the divisor
file: curvature/probe.cpp
old: const float value = -(total.sum / divisor * scale);
new: const float value = -(total.sum * scale / divisor);

name: probe hit with a null child counted as a hit
file: curvature/probe.cpp
old: continue; // a hit the renderer did not describe cannot be measured
new: total.hits += 1; continue;

name: method read before measure
file: shader/shade.cpp
old: const int32_t measure = read_parameter(state, &params->measure, platform);\n    const int32_t method = read_parameter(state, &params->method, platform);
new: const int32_t method = read_parameter(state, &params->method, platform);\n    const int32_t measure = read_parameter(state, &params->measure, platform);

name: threshold read before mapping
file: mapping/output.cpp
old: settings.mapping = read_parameter(&state, &params.mapping, platform);\n    settings.threshold = read_parameter(&state, &params.threshold, platform);
new: settings.threshold = read_parameter(&state, &params.threshold, platform);\n    settings.mapping = read_parameter(&state, &params.mapping, platform);

name: Windows rule treats a tag of -2 as connected
file: shader/parameter_rule.h
old: return tag != 0 && tag != Tag(-2);
new: return tag != 0;

name: Windows rule reads the tag for any nonzero has_indirection
file: shader/parameter_rule.h
old: if (record->has_indirection != 1) {
new: if (record->has_indirection == 0) {

name: Mac rule reads the tag at offset 0
file: shader/parameter_rule.h
old: if (offset == 0) {
new: if (offset == 0 && false) {

name: threshold above range_max kept
file: mapping/output.cpp
old: if (range.threshold > range.max || range.lo > range.threshold) {
new: if (range.lo > range.threshold) {

name: one-sided curve value above 1 not clamped
file: mapping/output.cpp
old: if (t > 1.0f) {
new: if (t > 2.0f) {

name: zero-width negative side divides 0 by -0
file: mapping/output.cpp
old: float t = (h == 0.0f && range.lo == 0.0f) ? 0.0f : h / range.lo;
new: float t = h / range.lo;

name: mean measure not negated
file: mapping/measure.cpp
old: return -((k1 + k2) * 0.5f);
new: return (k1 + k2) * 0.5f;

name: Gaussian measure reads 0 times infinity as NaN
file: mapping/measure.cpp
old: if (std::isnan(value) && !std::isnan(partial) && !std::isnan(factor)) {
new: if (false) {

name: cosine past one not clamped
file: curvature/vector_steps.h
old: if (cosine > 1.0f) {
new: if (cosine > 2.0f) {

name: rounding-negative discriminant read as flat
file: curvature/analytic.cpp
old: d = 0.0f;
new: return estimate;

name: overflowed discriminant not rescaled
file: curvature/analytic.cpp
old: if (!std::isfinite(d) && std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) {
new: if (false) {

name: coefficients rescaled though the discriminant is finite
file: curvature/analytic.cpp
old: if (!std::isfinite(d) && std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) {
new: if (std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) {

name: degenerate triangle divides by a zero area
file: curvature/mesh.cpp
old: if (!(heron > 0.0f)) {
new: if (heron < 0.0f) {

name: primitive not restored after probing
file: curvature/probe.cpp
old: state.primitive = saved_primitive;
new: (void)saved_primitive;

name: ray origin not restored after probing
file: curvature/probe.cpp
old: state.ray_origin = saved_origin;
new: (void)saved_origin;

name: probe divisors of the two renderer variants swapped
file: curvature/probe.cpp
old: platform == Platform::windows ? float(count) : float(total.hits);
new: platform == Platform::windows ? float(total.hits) : float(count);

name: probe sample count not saturated
file: curvature/probe.cpp
old: return UINT32_MAX;
new: return 0;

name: unknown mapping writes the colour
file: mapping/output.cpp
old: return false;
new: return true;
EOF
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
src=$scratch/src
build=$scratch/build
mkdir -p "$src"
# The tree as it stands, uncommitted changes included, without build output.
(cd "$root" && git ls-files --cached --others --exclude-standard |
  while IFS= read -r path; do [[ -e $path ]] && printf '%s\n' "$path"; done |
  tar -T - -cf -) | tar -xf - -C "$src"

# An unoptimised build compiles quickest; the arithmetic is the same at every
# optimisation level, since contraction is off and fast-math never on.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DBENDLENS_BUILD_TESTS=ON \
  -DBENDLENS_BUILD_PREVIEW=OFF -DBENDLENS_BUILD_BENCH=OFF >"$scratch/configure.log" ||
  { cat "$scratch/configure.log"; exit 1; }
tests=bendlens_unit_tests

build_and_test() {
  ninja -C "$build" "$tests" >"$scratch/build.log" 2>&1 || return 2
  "$build/tests/$tests" --gtest_brief=1 --gtest_fail_fast >"$scratch/test.log" 2>&1 || return 1
  return 0
}

if ! build_and_test; then
  cat "$scratch/build.log" "$scratch/test.log"
  echo "mutants: the unmutated tree does not build or pass" >&2
  exit 1
fi

# Applies the old/new pairs of one mutant to its file; fails when an old text
# is missing or not unique.
apply() {
  local file=$1
  shift
  local text
  text=$(<"$src/$file")
  while (($# >= 2)); do
    local old=$1 new=$2
    shift 2
    if [[ $text != *"$old"* ]]; then
      echo "not found: $old"
      return 1
    fi
    local rest=${text#*"$old"}
    if [[ $rest == *"$old"* ]]; then
      echo "not unique: $old"
      return 1
    fi
    text=${text/"$old"/"$new"}
  done
  printf '%s\n' "$text" >"$src/$file"
}

total=0
caught=0
failed=0
run_mutant() {
  local name=$1 file=$2
  shift 2
  [[ -z $only || $name == *"$only"* ]] || return 0
  total=$((total + 1))
  cp -p "$src/$file" "$scratch/original"
  local why
  if ! why=$(apply "$file" "$@"); then
    echo "NO LONGER APPLIES  $name ($file: $why)"
    failed=$((failed + 1))
  else
    local status=0
    build_and_test || status=$?
    case $status in
    1) echo "caught     $name" && caught=$((caught + 1)) ;;
    0) echo "SURVIVED   $name ($file)" && failed=$((failed + 1)) ;;
    *) echo "NO BUILD   $name ($file)" && sed -n '1,20p' "$scratch/build.log" &&
      failed=$((failed + 1)) ;;
    esac
  fi
  # Restored with a fresh time stamp, so the next build compiles it again.
  cp "$scratch/original" "$src/$file"
}

name='' file='' pairs=()
flush() {
  if [[ -n $name ]]; then
    run_mutant "$name" "$file" "${pairs[@]}"
  fi
  name='' file='' pairs=()
}
while IFS= read -r line; do
  case $line in
  'name: '*) name=${line#name: } ;;
  'file: '*) file=${line#file: } ;;
  'old: '* | 'new: '*)
    text=${line#*: }
    pairs+=("${text//\\n/$'\n'}")
    ;;
  '') flush ;;
  esac
done < <(mutants)
flush

echo "$caught of $total mutants caught"
if ((failed > 0 || total == 0)); then
  exit 1
fi
