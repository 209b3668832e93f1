#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DREG7140_WERROR=ON
cmake --build "$build" -j2
# The results also as JUnit, in which CI sees whether a test was skipped.
ctest --test-dir "$build" --output-on-failure -j2 --output-junit "$build/test-results.xml"
