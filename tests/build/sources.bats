#!/usr/bin/env bats
# The deb-src entries debian-sources.sh derives from a machine's own deb
# entries, and the order it tries source versions in; no apt is asked.

load ../helpers/common

MIRROR=http://mirror.invalid/debian
SECURITY=http://mirror.invalid/debian-security

# sources FUNCTION ARGS...: a function of debian-sources.sh.
sources() {
    SOURCES_FUNCTIONS_ONLY=1 sh -c '. "$0"; "$@"' "$SOURCE_DIR/scripts/debian-sources.sh" "$@"
}

@test "deb822 stanzas of the mirrors get deb-src twins with their Signed-By; others none" {
    cat >"$BATS_TEST_TMPDIR/debian.sources" <<EOF
Types: deb
URIs: $MIRROR/
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $SECURITY
Suites: bookworm-security
Components: main
Enabled: no

Types: deb
URIs: http://elsewhere.invalid/apt
Suites: stable
Components: main
EOF
    run -0 sources deb822_entries "$MIRROR $SECURITY" "$BATS_TEST_TMPDIR/debian.sources"
    [ "$output" = "Types: deb-src
URIs: $MIRROR/
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" ]
}

@test "one-line deb entries of the mirrors become deb-src lines, options kept" {
    printf '%s\n' "deb [signed-by=/k.gpg arch=amd64] $MIRROR bookworm main" "deb-src $MIRROR bookworm main" \
        "# deb $MIRROR bookworm contrib" "deb $SECURITY/ bookworm-security main" \
        "deb http://elsewhere.invalid/apt stable main" >"$BATS_TEST_TMPDIR/sources.list"
    run -0 sources one_line_entries "$MIRROR $SECURITY" "$BATS_TEST_TMPDIR/sources.list"
    [ "$output" = "deb-src [signed-by=/k.gpg arch=amd64] $MIRROR bookworm main
deb-src $SECURITY/ bookworm-security main" ]
}

@test "source versions are tried newest first, by dpkg's rules" {
    run -0 sources sort_versions <<<$'5.4.1-1+deb12u1\n5.4.1-1+deb12u2\n5.4.1-1\n1:1.0-1\n5.4.1~rc1-1'
    [ "$output" = $'1:1.0-1\n5.4.1-1+deb12u2\n5.4.1-1+deb12u1\n5.4.1-1\n5.4.1~rc1-1' ]
}
