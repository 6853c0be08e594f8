#!/usr/bin/env bash
# Renders the README's images into docs/images/ (320 x 240 PNGs) with the
# release build of the preview host. The models need scripts/fetch-models.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
preview=(build/release/preview/bendlens-preview --width 320 --height 240 --spp 8)
mkdir -p docs/images
"${preview[@]}" --range_max 2 --range_min 2 --output docs/images/surfaces-method0-mean.png
"${preview[@]}" --measure 1 --range_max 2 --range_min 2 \
  --output docs/images/surfaces-method0-gaussian.png
"${preview[@]}" --method 1 --mapping 1 --range_max 8 --output docs/images/surfaces-method1.png
"${preview[@]}" --method 2 --mapping 1 --range_max 1.2 --samples 32 \
  --output docs/images/surfaces-method2.png
"${preview[@]}" --connect range_max=v:0.5:4 --range_min 1 --output docs/images/surfaces-connected.png
# The gallery: signed curvature as mesh tools show it, a diverging colour map
# with a legend; the built-in surfaces from above, where the torus's inner
# ring is a hollow, and meshes from two sides.
gallery=(--colormap diverging --legend)
"${preview[@]}" "${gallery[@]}" --range_max 2 --range_min 2 --view 0,35 \
  --output docs/images/gallery-surfaces.png
if [[ -f models/bunny.obj ]]; then
  for view in front:30,20 back:210,20; do
    "${preview[@]}" --mesh models/bunny.obj --fit 2 "${gallery[@]}" --range_max 8 --range_min 8 \
      --view "${view#*:}" --output "docs/images/gallery-bunny-${view%%:*}.png"
  done
fi
if [[ -f models/dragon.ply ]]; then
  "${preview[@]}" --mesh models/dragon.ply --fit 2 "${gallery[@]}" --range_max 25 --range_min 25 \
    --view -35,15 --output docs/images/gallery-dragon.png
fi
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
  "${bunny[@]}" --method 1 --measure 2 --mapping 1 --range_max 20 --output docs/images/bunny-method1.png
  "${bunny[@]}" --method 2 --mapping 1 --range_max 1.2 --samples 32 \
    --output docs/images/bunny-method2.png
else
  echo "models/bunny.obj missing: run scripts/fetch-models.sh for the bunny images" >&2
fi
# A bake: the rippled torus (texture coordinates from scripts/make-uv-model.sh)
# baked into a 512 x 512 map, the model rendered with that map through its
# texture coordinates, and the same view shaded directly.
model=$(mktemp --suffix=.obj)
trap 'rm -f "$model"' EXIT
scripts/make-uv-model.sh "$model"
bake_range=(--colormap diverging --range_max 3.7 --range_min 3.7)
build/release/preview/bendlens-preview --mesh "$model" --bake texture --size 512 --spp 4 \
  "${bake_range[@]}" --output docs/images/bake-map.png
"${preview[@]}" --mesh "$model" --view 0,35 --texture docs/images/bake-map.png \
  --output docs/images/bake-textured.png
"${preview[@]}" --mesh "$model" --view 0,35 "${bake_range[@]}" --output docs/images/bake-shaded.png
