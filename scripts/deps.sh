#!/bin/sh
# Installs, from Debian's archive, whatever the build and the tests need and
# the machine lacks. Idempotent: a machine that has everything is not touched.
set -eu

BUILD_PACKAGES="cmake make g++ g++-multilib libtomcrypt-dev libtomcrypt-dev:i386"
# Running the i386 launcher here may need emulation: this kernel can refuse it.
RUN_PACKAGES="qemu-user"
TEST_PACKAGES="libgtest-dev bats shellcheck perl procps tmux strace rpm file clang libclang-rt-14-dev"
BENCH_PACKAGES="hyperfine time"

die() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
    exit 1
}

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

ensure_packages() {
    missing=$(missing_packages "$@" | tr '\n' ' ')
    [ -z "$missing" ] && return 0
    [ "$(id -u)" = 0 ] || die "missing packages, run as root to install: $missing"
    ensure_i386
    apt-get update -qq || die "apt-get update failed"
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
