#!/bin/sh
# Installs what the build lacks, then configures and builds both launchers
# (and the unit tests) in BUILD_DIR, by default ./build.
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}

die() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
    exit 1
}

sh "$top/scripts/deps.sh" "${1:-build}" || die "cannot install the build dependencies"
cmake -S "$top" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null || die "cmake configure failed"
cmake --build "$BUILD_DIR" -j "$(nproc)" >/dev/null || die "build failed"
