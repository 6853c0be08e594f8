#!/usr/bin/env bash
# Renders the README's images into docs/images/ (320 x 240 PNGs) with the
# release build of the preview host. The models need scripts/fetch-models.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
preview=(build/release/preview/bendlens-preview --plugin build/release/bendlens.so
         --width 320 --height 240 --spp 8)
mkdir -p docs/images
"${preview[@]}" --output docs/images/surfaces-method0-mean.png
"${preview[@]}" --measure 1 --range_max 2 --range_min 2 \
  --output docs/images/surfaces-method0-gaussian.png
"${preview[@]}" --method 1 --mapping 1 --range_max 8 --output docs/images/surfaces-method1.png
"${preview[@]}" --method 2 --mapping 1 --range_max 1.2 --samples 32 \
  --output docs/images/surfaces-method2.png
"${preview[@]}" --connect range_max=v:0.5:4 --output docs/images/surfaces-connected.png
# Meshes with estimated derivatives: method 0, mean, two-sided; the negative
# side's range is half the positive one's so that creases show as clearly as
# ridges. The bunny also with 1 and 4 rings (the default is 2).
mesh_method0=(--method 0 --measure 0 --mapping 0 --range_max 8 --range_min 4)
for model in teapot dragon; do
  if [[ -f models/$model.obj ]]; then
    "${preview[@]}" --mesh models/$model.obj --fit 2 "${mesh_method0[@]}" \
      --output docs/images/$model-method0.png
  else
    echo "models/$model.obj missing: run scripts/fetch-models.sh for its image" >&2
  fi
done
if [[ -f models/bunny.obj ]]; then
  bunny=("${preview[@]}" --mesh models/bunny.obj --fit 2)
  "${bunny[@]}" "${mesh_method0[@]}" --output docs/images/bunny-method0.png
  "${bunny[@]}" "${mesh_method0[@]}" --rings 1 --output docs/images/bunny-method0-rings1.png
  "${bunny[@]}" "${mesh_method0[@]}" --rings 4 --output docs/images/bunny-method0-rings4.png
  "${bunny[@]}" --method 1 --measure 2 --mapping 1 --range_max 20 --output docs/images/bunny-method1.png
  "${bunny[@]}" --method 2 --mapping 1 --range_max 1.2 --samples 32 \
    --output docs/images/bunny-method2.png
else
  echo "models/bunny.obj missing: run scripts/fetch-models.sh for the bunny images" >&2
fi
