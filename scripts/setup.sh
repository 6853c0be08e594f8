#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages and npm.
# Packages already present are skipped, so a prepared machine runs this in a
# second.
#
# Usage: scripts/setup.sh [--main] [--models]
#   --main     only what the plug-in and the preview host need (the main job):
#              no test frameworks, sanitizer runtimes, MinGW, Wine or multilib
#   --models   also fetch the test models (scripts/fetch-models.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

main_only=0
models=0
for argument in "$@"; do
  case "$argument" in
    --main) main_only=1 ;;
    --models) models=1 ;;
    *) echo "setup: unknown option $argument" >&2; exit 1 ;;
  esac
done

# The plug-in and the preview host.
packages=(
  cmake ninja-build g++ binutils pkg-config
  libembree-dev libtbb-dev libopenexr-dev libpng-dev zlib1g-dev
  libcli11-dev libassimp-dev libeigen3-dev
)
# Tests, benchmarks, sanitizers, fuzzing, the 32-bit and Windows builds.
if ((main_only == 0)); then
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang clang-format libclang-rt-14-dev llvm
    g++-multilib
    g++-mingw-w64-x86-64-posix wine64 zip
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((models)) && ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

if ((models)); then
  scripts/fetch-models.sh
fi
