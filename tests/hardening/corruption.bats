#!/usr/bin/env bats
# Corruption sweep over every byte the launcher reads as data: from the section
# header table (e_shoff) to the end of the image: the table, the 24-byte
# payload header and the archive. The bytes before e_shoff are the program
# itself (code, program headers), so changing them changes what runs.
#
# Every run is `./img --noexec --target t` with a 10-second limit, and must end
# cleanly (see check_outcome in helpers.bash): status 0 and an extraction
# identical to a clean one, or status 255 and no target directory after one
# of the launcher's own failures, with its full stdout and stderr. A signal
# or a timeout never does. Where the bytes are the payload header's or the
# archive's, the place alone says which: the archive size only feeds --info,
# a changed digest or archive fails the verification, and a cut names the
# part it falls in.
#
# Scope: a run costs 10-40 ms natively and 80-250 ms under qemu-i386 (more for
# a run that extracts), so by default each launcher gets every byte of the
# payload header, every 2nd byte (x86_64) or every 3rd byte (i386) of the section
# header fields the rule reads (sh_type, sh_offset, sh_size), and a stride over
# the rest: the unread section header bytes, the archive and the truncation
# lengths, with every length within 8 bytes of each boundary (e_shoff, the
# table end = ELF end, E + 8, E + 24, the size). HARDENING_FULL=1 sweeps every
# byte with XOR 0xFF, the read fields and payload header again with XOR 0x01,
# and every truncation length (about 8,000 runs per launcher: minutes).

load helpers

setup() {
    setup_sweep
}

teardown() {
    stop_runner
    teardown_workdir
}

full_sweep() {
    [ "${HARDENING_FULL:-0}" = 1 ]
}

# stride NATIVE QEMU: the stride for this launcher.
stride() {
    if full_sweep; then echo 1; elif [ -n "$EMULATOR" ]; then echo "$2"; else echo "$1"; fi
}

# field_positions read|unread STRIDE: POSITIONS, every STRIDE-th byte of the
# section header fields the launcher reads (sh_type, sh_offset, sh_size),
# or of the others.
field_positions() {
    local i k n=0 base field
    POSITIONS=()
    for ((i = 0; i < L_SHNUM; i++)); do
        base=$(( L_SHOFF + i * L_RECORD ))
        for ((k = 0; k < L_RECORD; k++)); do
            field=unread
            if (( (k >= L_TYPE_AT && k < L_TYPE_AT + 4) || (k >= L_OFFSET_AT && k < L_SIZE_AT + L_WIDTH) )); then
                field=read
            fi
            if [ "$field" = "$1" ] && (( n++ % $2 == 0 )); then
                POSITIONS+=($((base + k)))
            fi
        done
    done
}

@test "the sweep image: a clean run extracts exactly install.sh" {
    [ "$L_SIZE" = $((L_END + HEADER_SIZE + 2048)) ]
    [ $((L_SHOFF + L_SHNUM * L_RECORD)) = "$L_END" ]   # the table is the last thing in the launcher
    reset_counts
    run_once -1 0
    check_outcome clean ok
    [ "$COUNT_MISMATCH" = 0 ]
    [ "$R_STATUS" = "exit 0" ]
    [[ "$REF_LISTING" =~ ^:40755:0:0\ install.sh:100644:0:0:31:1577934245:[0-9a-f]{32}$ ]]
    [ "${REF_LISTING##*:}" = "$(md5sum <tiny/install.sh | cut -c1-32)" ]
}

@test "section header table: every byte flipped ends cleanly" {
    reset_counts
    field_positions read "$(stride 2 3)"
    local -a read_fields=("${POSITIONS[@]}")
    field_positions unread "$(stride 32 32)"
    sweep_flips 255 "${read_fields[@]}" "${POSITIONS[@]}"
    if full_sweep; then
        sweep_flips 1 "${read_fields[@]}"
    fi
    report_counts "section header table"
    cat mismatches >&3
    [ "$COUNT_MISMATCH" = 0 ]
    # The sweep reached both branches: ignored bytes and ends past the file.
    [ "$COUNT_ok" -gt 0 ]
    [ "$COUNT_size" -gt 0 ]
}

@test "payload header and archive: every byte flipped ends as its place dictates" {
    reset_counts
    local step
    step=$(stride 32 128)
    local -a positions
    mapfile -t positions < <(seq "$L_END" $((L_END + HEADER_SIZE + 7)); seq $((L_END + HEADER_SIZE + 8)) "$step" $((L_SIZE - 9)); seq $((L_SIZE - 8)) $((L_SIZE - 1)))
    sweep_flips 255 "${positions[@]}"
    if full_sweep; then
        sweep_flips 1 $(seq "$L_END" $((L_END + HEADER_SIZE - 1)))
    fi
    report_counts "payload"
    cat mismatches >&3
    [ "$COUNT_MISMATCH" = 0 ]
    [ "$COUNT_ok" -ge 8 ]
    [ "$COUNT_failed" -ge 32 ]
}

@test "truncation: every length from e_shoff to the size less one ends as dictated" {
    reset_counts
    local step len
    step=$(stride 16 128)
    local -a lengths
    for ((len = L_SIZE - 1; len >= L_SHOFF; len--)); do
        if (( len - L_SHOFF < 8 || (len >= L_END - 8 && len < L_END + 32) || L_SIZE - len <= 8 || len % step == 0 )); then
            lengths+=("$len")
        fi
    done
    sweep_cuts "${lengths[@]}"
    report_counts "truncation"
    cat mismatches >&3
    [ "$COUNT_MISMATCH" = 0 ]
    [ "$COUNT_shdr" -gt 0 ]
    [ "$COUNT_bare" = 1 ]
    [ "$COUNT_size" = 7 ]
    [ "$COUNT_checksum" = 16 ]
    [ "$COUNT_failed" -gt 0 ]
}

# A section that ends beyond the end of the file puts the ELF end there, and
# the read of the archive size must fail ("Archive size read error"), also when
# the end lies beyond what the file system lets a stream seek to (ext4 refuses
# seeks beyond 16 TiB): the header must not be read from wherever the stream
# happened to stand. Only a 64-bit section header can name such an end.
@test "a section end beyond any seekable offset: Archive size read error, nothing extracted" {
    [ "$L_WIDTH" = 8 ] || skip "an ELF32 end stays below 4 GiB"
    local record=$((L_SHNUM - 1)) pos
    reset_counts
    # The top byte of the last section's sh_offset: its end moves past 2^56.
    pos=$(( L_SHOFF + record * L_RECORD + L_OFFSET_AT + 7 ))
    run_once "$pos" 1
    check_outcome "byte $pos ^ 1" size
    cat mismatches >&3
    [ "$R_ERR" = $'Archive size read error\n' ]
    [ "$R_OUT" = "" ]
    [ "$R_STATUS" = "exit 255" ]
    [ "$COUNT_MISMATCH" = 0 ]
}
