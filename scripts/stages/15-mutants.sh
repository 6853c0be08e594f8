#!/usr/bin/env bash
# Every mutant of the library's arithmetic and rules must fail the unit tests.
set -euo pipefail
bash scripts/mutants.sh
