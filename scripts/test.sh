#!/bin/sh
# Builds everything and runs every test: unit tests, end-to-end tests of both
# launchers, the builder and its package, the embedded script and the
# product package. Arguments go to ctest ("-L quick" for the quick tier).
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}
export BUILD_DIR

sh "$top/scripts/build.sh" test
cd "$BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
