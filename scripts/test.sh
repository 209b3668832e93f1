#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DREG7140_WERROR=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
