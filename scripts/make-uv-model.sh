#!/usr/bin/env bash
# Writes a rippled torus with texture coordinates as an OBJ file: a test
# model for the bakes, since the fetched models have none. The tube's radius
# carries ripples around both circles, so its curvature changes sign in a
# pattern that shows up in a baked map; (u, v) are the two angles over 2 pi,
# a seam where each closes (its vertices split there, as a file splits them).
#
# Usage: scripts/make-uv-model.sh OUT.obj [SEGMENTS]
#   SEGMENTS around the ring (default 224: 224 x 112 x 2 = 50176 triangles)
set -euo pipefail
out=${1:?usage: make-uv-model.sh OUT.obj [SEGMENTS]}
segments=${2:-224}
awk -v nu="$segments" 'BEGIN {
  nv = int(nu / 2); pi = atan2(0, -1)
  print "# rippled torus: ring 0.75, tube 0.45 with ripples of 0.04, " nu " x " nv " segments"
  for (j = 0; j <= nv; j++) {
    for (i = 0; i <= nu; i++) {
      # The closing row and column repeat the first ones exactly.
      u = 2 * pi * (i % nu) / nu; v = 2 * pi * (j % nv) / nv
      r = 0.45 + 0.04 * sin(5 * u) * sin(3 * v)
      w = 0.75 + r * cos(v)
      printf "v %.7g %.7g %.7g\n", w * cos(u), r * sin(v), w * sin(u)
      printf "vt %.7g %.7g\n", i / nu, j / nv
    }
  }
  for (j = 0; j < nv; j++) {
    for (i = 0; i < nu; i++) {
      a = j * (nu + 1) + i + 1; b = a + 1; c = a + nu + 1; d = c + 1
      # Wound so that the flat normals face outward.
      printf "f %d/%d %d/%d %d/%d\n", a, a, d, d, b, b
      printf "f %d/%d %d/%d %d/%d\n", a, a, c, c, d, d
    }
  }
}' > "$out"
