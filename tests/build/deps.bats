#!/usr/bin/env bats
# deps.sh's choice of one version for both halves, amd64 and i386, of a
# multiarch development package, from the lines that apt-cache madison
# prints: no apt is asked here.

load ../helpers/common

SECURITY=http://deb.debian.org/debian-security
MAIN=http://deb.debian.org/debian

# pick LINE...: what newest_common_version makes of these madison lines.
pick() {
    printf '%s\n' "$@" | DEPS_FUNCTIONS_ONLY=1 sh -c '. "$0"; newest_common_version amd64 i386' \
        "$SOURCE_DIR/scripts/deps.sh"
}

@test "a security update that reached one architecture only: the newest version both offer" {
    run pick \
        "liblzma-dev | 5.4.1-1+deb12u2 | $SECURITY bookworm-security/main amd64 Packages" \
        "liblzma-dev | 5.4.1-1+deb12u1 | $MAIN bookworm/main amd64 Packages" \
        "liblzma-dev:i386 | 5.4.1-1+deb12u1 | $MAIN bookworm/main i386 Packages"
    [ "$status" -eq 0 ]
    [ "$output" = 5.4.1-1+deb12u1 ]
    run pick \
        "libzstd-dev | 1.5.4+dfsg2-5+deb12u1 | $SECURITY bookworm-security/main amd64 Packages" \
        "libzstd-dev | 1.5.4+dfsg2-5 | $MAIN bookworm/main amd64 Packages" \
        "libzstd-dev:i386 | 1.5.4+dfsg2-5+deb12u1 | $SECURITY bookworm-security/main i386 Packages" \
        "libzstd-dev:i386 | 1.5.4+dfsg2-5 | $MAIN bookworm/main i386 Packages"
    [ "$status" -eq 0 ]
    [ "$output" = 1.5.4+dfsg2-5+deb12u1 ]
}

@test "versions compare in Debian's order, not as text: epochs, numbers, tildes" {
    run pick \
        "p | 2.0-1 | $MAIN x/main amd64 Packages" "p:i386 | 2.0-1 | $MAIN x/main i386 Packages" \
        "p | 1:1.0-1 | $MAIN x/main amd64 Packages" "p:i386 | 1:1.0-1 | $MAIN x/main i386 Packages"
    [ "$output" = 1:1.0-1 ]
    run pick \
        "p | 5.4-1+deb12u9 | $MAIN x/main amd64 Packages" "p:i386 | 5.4-1+deb12u9 | $MAIN x/main i386 Packages" \
        "p | 5.4-1+deb12u10 | $MAIN x/main amd64 Packages" "p:i386 | 5.4-1+deb12u10 | $MAIN x/main i386 Packages"
    [ "$output" = 5.4-1+deb12u10 ]
    run pick \
        "p | 1.5-1 | $MAIN x/main amd64 Packages" "p:i386 | 1.5-1 | $MAIN x/main i386 Packages" \
        "p | 1.5~rc1-1 | $MAIN x/main amd64 Packages" "p:i386 | 1.5~rc1-1 | $MAIN x/main i386 Packages"
    [ "$output" = 1.5-1 ]
}

@test "sources and other architectures count for nothing; no common version fails with no output" {
    run pick \
        "p | 3.0-1 | $MAIN x/main Sources" \
        "p | 2.0-1 | $MAIN x/main arm64 Packages" \
        "p | 2.0-1 | $MAIN x/main amd64 Packages" \
        "p:i386 | 1.0-1 | $MAIN x/main i386 Packages"
    [ "$status" -eq 1 ]
    [ "$output" = "" ]
    run pick
    [ "$status" -eq 1 ]
}
