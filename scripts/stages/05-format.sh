#!/usr/bin/env bash
# Every C++ source in the repository follows the project's clang-format style.
set -euo pipefail
git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror
