#!/usr/bin/env bats
# Reading the launcher's own ELF headers. The program started is a sound
# launcher; argv[0] names the damaged copy that it reads as its own file.

load helpers

setup() {
    setup_image_test
    if [ "$LAUNCHER_ARCH" = i386 ]; then
        SHOFF=32 SHOFF_LEN=4 SHNUM=48
    else
        SHOFF=40 SHOFF_LEN=8 SHNUM=60
    fi
}
teardown() { teardown_image_test; }

# damaged NAME OFFSET BYTES...: a copy of the bare launcher with the given
# bytes (printf escapes) written at OFFSET.
damaged() {
    cp bare "$1"
    printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

@test "an own file shorter than the identification" {
    head -c 10 bare >short
    chmod 755 short
    check_run "" $'ELF ident read error: unexpected end of file\n' 255 -- launch_unchecked ./short ./bare --version
}

@test "an own file that ends inside the file header" {
    head -c 40 bare >short
    chmod 755 short
    check_run "" $'ELF header read error: unexpected end of file\n' 255 -- launch_unchecked ./short ./bare --version
}

@test "an own file that is not ELF" {
    printf '#!/bin/sh\necho this is no launcher\n' >script
    chmod 755 script
    check_run "" $'ELF ident error\n' 255 -- launch_unchecked ./script ./bare --version
}

@test "class 0, an unknown class 3 and version 2 are refused; data encoding 2 is not" {
    damaged c0 4 '\0'
    check_run "" $'ELF ident error\n' 255 -- launch_unchecked ./c0 ./bare --version
    damaged c3 4 '\3'
    check_run "" $'Unknown ELF class\n' 255 -- launch_unchecked ./c3 ./bare --version
    damaged v2 6 '\2'
    check_run "" $'ELF ident error\n' 255 -- launch_unchecked ./v2 ./bare --version
    damaged d2 5 '\2'
    check_run "Vorlan Installer $VORLAN_VERSION"$'\n' "" 0 -- launch_unchecked ./d2 ./bare --version
    check_run "" $'This installer does not contain an embedded archive\n' 255 -- launch_unchecked ./d2 ./bare
}

@test "no section header table" {
    damaged noshdr "$SHOFF" "$(printf '\\0%.0s' $(seq "$SHOFF_LEN"))"
    check_run "" $'Cannot find ELF section header\n' 255 -- launch_unchecked ./noshdr ./bare --version
}

@test "a section header table cut short" {
    head -c $((E - 20)) bare >cut
    chmod 755 cut
    check_run "" $'ELF section header read error: unexpected end of file\n' 255 -- launch_unchecked ./cut ./bare --version
}

@test "an image end beyond the file makes it an image without a header" {
    # No sections and a table offset past the end of the file.
    damaged far "$SHNUM" '\0\0'
    le64 $((E + 100)) | head -c "$SHOFF_LEN" | dd of=far bs=1 seek="$SHOFF" conv=notrunc status=none
    check_run "" $'Archive size read error\n' 255 -- launch_unchecked ./far ./bare --info
}

@test "an ELF64 section end at or above 2^63 makes it an image without a header" {
    [ "$LAUNCHER_ARCH" = x86_64 ] || skip "ELF32 offsets end below 2^32"
    # The first record (SHT_NULL) counts as a section with file bytes; its
    # sh_offset lies 24 bytes in.
    local table
    table=$(od -An -t u8 -j "$SHOFF" -N 8 bare)
    cp bare far
    le64 $((1 << 63)) | dd of=far bs=1 seek=$((table + 24)) conv=notrunc status=none
    check_run "" $'Archive size read error\n' 255 -- launch_unchecked ./far ./bare --info
}

@test "one byte appended to a bare launcher makes it an image" {
    cp bare plus
    printf x >>plus
    check_run "" $'Archive size read error\n' 255 -- launch ./plus
}
