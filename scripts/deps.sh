#!/bin/sh
# shellcheck source-path=SCRIPTDIR
# Installs, from Debian's archive, whatever the build and the tests need and
# the machine lacks. Idempotent: a machine that has everything is not touched.
set -eu

PROG=deps.sh
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

BUILD_PACKAGES="cmake make g++ g++-multilib libtomcrypt-dev libtomcrypt-dev:i386"
# Running the i386 launcher here may need emulation: this kernel can refuse it.
RUN_PACKAGES="qemu-user"
TEST_PACKAGES="libgtest-dev bats shellcheck perl procps tmux rpm file clang libclang-rt-14-dev strace e2fsprogs busybox
    lintian groff-base man-db ansible-core ansible-lint yamllint openssh-server openssh-client"
BENCH_PACKAGES="hyperfine time jq"

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing_packages() {
    for package in "$@"; do
        is_installed "$package" || printf '%s\n' "$package"
    done
}

ensure_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    dpkg --add-architecture i386 || die "cannot add the i386 architecture"
}

# update_package_lists: a mirror in the middle of a sync fails one index
# now and then; try again, then go on with the lists that did arrive: the
# install below fails by itself if they lack a package.
update_package_lists() {
    for attempt in 1 2 3; do
        apt-get update -qq && return 0
        [ "$attempt" = 3 ] || sleep 10
    done
    echo "deps.sh: apt-get update failed 3 times; trying the install with the lists at hand" >&2
}

ensure_packages() {
    missing=$(missing_packages "$@" | tr '\n' ' ')
    [ -z "$missing" ] && return 0
    [ "$(id -u)" = 0 ] || die "missing packages, run as root to install: $missing"
    ensure_i386
    update_package_lists
    # shellcheck disable=SC2086 # one word per package name
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing \
        >/dev/null || die "cannot install: $missing"
}

packages_for() {
    case "$1" in
    build) echo "$BUILD_PACKAGES" ;;
    main) echo "$BUILD_PACKAGES $RUN_PACKAGES" ;;
    test) echo "$BUILD_PACKAGES $RUN_PACKAGES $TEST_PACKAGES" ;;
    bench) echo "$BUILD_PACKAGES $RUN_PACKAGES $BENCH_PACKAGES" ;;
    *) die "usage: deps.sh [build|main|test|bench]" ;;
    esac
}

packages=$(packages_for "${1:-build}")
# shellcheck disable=SC2086 # package names hold no blanks or patterns
ensure_packages $packages
