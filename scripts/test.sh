#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# Builds everything and runs every test: unit tests, end-to-end tests of both
# launchers, the builder and its package, the embedded script and the
# product package. Arguments go to ctest ("-L quick" for the quick tier).

PROG=test.sh
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
# shellcheck source=lib.sh
. "$top/scripts/lib.sh"
BUILD_DIR=${BUILD_DIR:-$top/build}
export BUILD_DIR

sh "$top/scripts/build.sh" test || die "the build for the tests failed"
cd "$BUILD_DIR" || die "cannot enter $BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
