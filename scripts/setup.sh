#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages and npm.
# Packages already present are skipped, so a prepared machine runs this in a
# second. Usage: scripts/setup.sh [--models]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ binutils pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang clang-format libclang-rt-14-dev llvm
  g++-multilib
  g++-mingw-w64-x86-64-posix wine64 zip
  libembree-dev libopenexr-dev libpng-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

if [[ "${1:-}" == "--models" ]]; then
  scripts/fetch-models.sh
fi
