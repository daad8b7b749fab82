#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# build.sh [build|main|test|bench]: installs what that job needs, then
# configures and builds both launchers and the builder's tree in BUILD_DIR,
# by default ./build. Only "test" configures the tests, since only it
# installs GoogleTest and the test tools.

PROG=build.sh
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
# shellcheck source=lib.sh
. "$top/scripts/lib.sh"
BUILD_DIR=${BUILD_DIR:-$top/build}
job=${1:-build}

tests=OFF
[ "$job" = test ] && tests=ON
sh "$top/scripts/deps.sh" "$job" || die "cannot install the dependencies of '$job'"
cmake -S "$top" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVORLAN_TESTS="$tests" >/dev/null ||
    die "cmake configure failed"
cmake --build "$BUILD_DIR" -j "$(nproc)" >/dev/null || die "build failed"
