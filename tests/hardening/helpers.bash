# Shared by the hardening tests: corruption sweeps, injected faults and hostile
# payloads. Builds on the launcher helpers (launch, launch_as, make_payload,
# make_image, setup_workdir, teardown_workdir).

# shellcheck source=../launcher/helpers.bash
source "$BATS_TEST_DIRNAME/../launcher/helpers.bash"

# The sign bit, for unsigned 64-bit comparisons in shell arithmetic.
SIGN_BIT=$((1 << 63))

# ugt A B: unsigned 64-bit A > B.
ugt() {
    (( ($1 ^ SIGN_BIT) > ($2 ^ SIGN_BIT) ))
}

# A tiny payload: one member install.sh, written with 512-byte records, so the
# archive holds a header block, one data block and the two end blocks (2 KB).
# make_tiny_payload TARFILE
make_tiny_payload() {
    mkdir -p tiny
    printf '#!/bin/sh\necho tiny script ran\n' >tiny/install.sh
    chmod 0644 tiny/install.sh
    touch -d '2020-01-02 03:04:05 UTC' tiny/install.sh
    tar -b1 --owner=0 --group=0 --numeric-owner -C tiny -cf "$1" install.sh
}

# The oracle below is plain shell arithmetic with results in globals: a
# command substitution per byte would cost a process each.

# le ARRAYNAME START WIDTH: LE_VALUE = the little-endian value of WIDTH bytes
# of the byte array at START, wrapped to 64 bits.
le() {
    local -n bytes=$1
    local start=$2 width=$3 i
    LE_VALUE=0
    for ((i = width - 1; i >= 0; i--)); do
        LE_VALUE=$(( (LE_VALUE << 8) | bytes[start + i] ))
    done
}

# section_end ARRAYNAME RECORD: SEC_END = the end of one section in the file,
# or -1 (never a real end here) for a section that occupies no bytes (type 8).
section_end() {
    local base=$(( $2 * L_RECORD )) offset
    le "$1" $((base + L_TYPE_AT)) 4
    if [ "$LE_VALUE" = 8 ]; then
        SEC_END=-1
        return
    fi
    le "$1" $((base + L_OFFSET_AT)) "$L_WIDTH"
    offset=$LE_VALUE
    le "$1" $((base + L_SIZE_AT)) "$L_WIDTH"
    SEC_END=$(( (offset + LE_VALUE) & L_MASK ))
}

# load_layout FILE: reads the ELF end inputs of FILE into globals, with od only.
# L_SHOFF, L_SHENTSIZE, L_SHNUM, L_RECORD, L_WIDTH, L_MASK, L_*_AT, L_TABLE
# (the section header table as bytes), L_ENDS (each record's end), L_SIZE
# (file size), L_TABLE_END, L_TABLE_READ_END, L_END (the ELF end).
load_layout() {
    local file=$1 i
    local -a header
    L_SIZE=$(stat -c %s "$file")
    read -r -a header <<<"$(od -An -tu1 -v -N64 "$file" | tr -s ' \n' '  ')"
    if [ "${header[4]}" = 1 ]; then
        le header 32 4; L_SHOFF=$LE_VALUE
        le header 46 2; L_SHENTSIZE=$LE_VALUE
        le header 48 2; L_SHNUM=$LE_VALUE
        L_RECORD=40 L_WIDTH=4 L_MASK=$(( (1 << 32) - 1 ))
        L_TYPE_AT=4 L_OFFSET_AT=16 L_SIZE_AT=20
    else
        le header 40 8; L_SHOFF=$LE_VALUE
        le header 58 2; L_SHENTSIZE=$LE_VALUE
        le header 60 2; L_SHNUM=$LE_VALUE
        L_RECORD=64 L_WIDTH=8 L_MASK=-1
        L_TYPE_AT=4 L_OFFSET_AT=24 L_SIZE_AT=32
    fi
    read -r -a L_TABLE <<<"$(od -An -tu1 -v -j "$L_SHOFF" -N $((L_SHNUM * L_RECORD)) "$file" | tr -s ' \n' '  ')"
    L_TABLE_END=$(( (L_SHOFF + L_SHENTSIZE * L_SHNUM) & L_MASK ))
    L_TABLE_READ_END=$(( L_SHOFF + L_SHNUM * L_RECORD ))
    L_ENDS=()
    for ((i = 0; i < L_SHNUM; i++)); do
        section_end L_TABLE "$i"
        L_ENDS[i]=$SEC_END
    done
    elf_end_with -1 0
    L_END=$E_WITH
}

# elf_end_with INDEX XOR: E_WITH = the ELF end of the loaded file once byte
# INDEX of its section header table is XORed with XOR (INDEX -1: unchanged).
# An end above the largest signed 64-bit value counts as that value.
elf_end_with() {
    local index=$1 xor=$2 i record=-1 end
    local -a table
    E_WITH=$L_TABLE_END
    if [ "$index" -ge 0 ]; then
        table=("${L_TABLE[@]}")
        table[index]=$(( table[index] ^ xor ))
        record=$(( index / L_RECORD ))
    fi
    for ((i = 0; i < L_SHNUM; i++)); do
        if [ "$i" = "$record" ]; then
            section_end table "$i"
            end=$SEC_END
        else
            end=${L_ENDS[i]}
        fi
        [ "$end" = -1 ] && continue
        if ugt "$end" "$E_WITH"; then E_WITH=$end; fi
    done
    (( E_WITH < 0 )) && E_WITH=$(( (1 << 63) - 1 ))
    return 0
}

# kind_for_end END SIZE: KIND = what a run of an image of SIZE bytes whose ELF
# end is END must end with: ok (E is the true end), bare, size, checksum or failed.
kind_for_end() {
    local end=$1 size=$2
    if [ "$end" = "$size" ]; then
        KIND=bare
    elif ugt "$end" $((size - 8)); then
        KIND=size
    elif ugt "$end" $((size - HEADER_SIZE)); then
        KIND=checksum
    elif [ "$end" = "$L_END" ] && [ "$size" = "$L_SIZE" ]; then
        KIND=ok
    else
        KIND=failed
    fi
}

# expected_flip POSITION XOR: KIND for one changed byte of the loaded image.
expected_flip() {
    local pos=$1 xor=$2
    if (( pos < L_TABLE_READ_END )); then
        elf_end_with $((pos - L_SHOFF)) "$xor"
        kind_for_end "$E_WITH" "$L_SIZE"
    elif (( pos < L_END + 8 )); then
        KIND=ok      # the archive size only feeds --info and the prompt
    else
        KIND=failed  # digest or archive: the digests differ
    fi
}

# expected_cut LENGTH: KIND for the loaded image cut to LENGTH bytes.
expected_cut() {
    if (( $1 < L_TABLE_READ_END )); then
        KIND=shdr
    else
        kind_for_end "$L_END" "$1"
    fi
}

# The runner: one long-lived process that patches the image in place, runs one
# command at a time with a 10-second limit and its output in files, and reports
# the wait status and what the target directory holds (then removes it). It
# spares the sweep two or three extra processes per run.
RUNNER_SCRIPT='
use strict; use warnings; use POSIX (); use Digest::MD5 (); use File::Path ();
$| = 1;
my $image = shift;
sub patch { my ($pos, $xor) = @_;
    open(my $fh, "+<:raw", $image) or die "open $image: $!";
    sysseek($fh, $pos, 0); sysread($fh, my $b, 1) == 1 or die "read $pos";
    sysseek($fh, $pos, 0); syswrite($fh, chr(ord($b) ^ $xor)) == 1 or die "write";
    close($fh); }
sub listing { my ($top) = @_;
    return "absent" unless -e $top || -l $top;
    my @out; my @todo = ("");
    while (@todo) { my $rel = shift @todo; my $p = $rel eq "" ? $top : "$top/$rel";
        my @st = lstat($p); my $mode = sprintf("%o", $st[2]);
        my $line = "$rel:$mode:$st[4]:$st[5]";
        if (-l _) { $line .= ":" . readlink($p); }
        elsif (-f _) { open(my $f, "<:raw", $p); $line .= ":$st[7]:$st[9]:" . Digest::MD5->new->addfile($f)->hexdigest; }
        elsif (-d _) { opendir(my $d, $p); push @todo, map { $rel eq "" ? $_ : "$rel/$_" } sort grep { !/^\.\.?$/ } readdir $d; }
        push @out, $line; }
    File::Path::remove_tree($top);
    return join(" ", @out); }
while (my $line = <STDIN>) { chomp $line;
    my ($cmd, @f) = split /\t/, $line, -1;
    if ($cmd eq "cut") { truncate($image, $f[0]) or die "truncate: $!"; print "ok\n"; next; }
    my ($pos, $xor, $dir, @argv) = @f;
    patch($pos, $xor) if $pos >= 0;
    my $pid = fork // die "fork: $!";
    if ($pid == 0) { open(STDIN, "<", "/dev/null"); open(STDOUT, ">", "out"); open(STDERR, ">", "err");
        { no warnings "exec"; exec { $argv[0] } @argv; } POSIX::_exit(127); }
    my $status;
    eval { local $SIG{ALRM} = sub { die "timeout\n" }; alarm 10; waitpid($pid, 0); $status = $?; alarm 0; };
    if (!defined $status) { kill "KILL", $pid; waitpid($pid, 0); $status = "timeout"; }
    elsif ($status & 127) { $status = "signal " . ($status & 127); }
    else { $status = "exit " . ($status >> 8); }
    patch($pos, $xor) if $pos >= 0;
    print "$status\t" . listing($dir) . "\n"; }
'

# start_runner IMAGE: starts the runner in the current directory.
start_runner() {
    coproc RUNNER { exec perl -e "$RUNNER_SCRIPT" "$1"; }
}

stop_runner() {
    [ -n "${RUNNER_PID:-}" ] || return 0
    local pid=$RUNNER_PID
    exec {RUNNER[1]}>&-
    wait "$pid" 2>/dev/null || true
}

# run_once POSITION XOR: one run of ./img --noexec --target t, the byte at
# POSITION XORed with XOR for this run only (POSITION -1: none). Sets R_STATUS,
# R_LISTING, R_OUT, R_ERR.
run_once() {
    local -a cmd=(./img --noexec --target t)
    [ -n "$EMULATOR" ] && cmd=("$EMULATOR" "${cmd[@]}")
    local IFS=$'\t'
    printf 'run\t%s\t%s\t%s\t%s\n' "$1" "$2" t "${cmd[*]}" >&"${RUNNER[1]}"
    read -r R_STATUS R_LISTING <&"${RUNNER[0]}"
    IFS= read -r -d '' R_OUT <out || true
    IFS= read -r -d '' R_ERR <err || true
}

cut_image() {
    printf 'cut\t%s\n' "$1" >&"${RUNNER[1]}"
    local reply
    read -r reply <&"${RUNNER[0]}"
    [ "$reply" = ok ]
}

# check_kind KIND LABEL: compares the last run with what KIND demands; a
# mismatch is counted and described in the file mismatches.
check_kind() {
    local kind=$1 label=$2 want_status="exit 255" want_out="" want_err="" want_listing=absent
    case $kind in
    ok)
        want_status="exit 0"
        want_out=$'Verifying archive integrity... Succeed.\nUncompressing in t...\n'
        want_listing=$REF_LISTING ;;
    bare) want_err=$'./img: unrecognized option \'--noexec\'\n' ;;
    size) want_err=$'Archive size read error\n' ;;
    checksum) want_err=$'Archive checksum read error\n' ;;
    shdr) want_err=$'ELF section header read error: Success\n' ;;
    failed) want_out=$'Verifying archive integrity... Failed.\n' ;;
    esac
    COUNT_RUNS=$((COUNT_RUNS + 1))
    eval "COUNT_$kind=\$((COUNT_$kind + 1))"
    if [ "$R_STATUS" != "$want_status" ] || [ "$R_OUT" != "$want_out" ] \
        || [ "$R_ERR" != "$want_err" ] || [ "$R_LISTING" != "$want_listing" ]; then
        COUNT_MISMATCH=$((COUNT_MISMATCH + 1))
        {
            printf '%s: expected %s (%s)\n' "$label" "$kind" "$want_status"
            printf '  got %s, listing %s\n  stdout: %q\n  stderr: %q\n' \
                "$R_STATUS" "$R_LISTING" "$R_OUT" "$R_ERR"
        } >>mismatches
    fi
}

reset_counts() {
    COUNT_RUNS=0 COUNT_MISMATCH=0 COUNT_ok=0 COUNT_bare=0 COUNT_size=0
    COUNT_checksum=0 COUNT_shdr=0 COUNT_failed=0
    : >mismatches
}

report_counts() {
    echo "# $1: $COUNT_RUNS runs: ok $COUNT_ok, failed $COUNT_failed, size $COUNT_size, checksum $COUNT_checksum, shdr $COUNT_shdr, bare $COUNT_bare; mismatches $COUNT_MISMATCH" >&3
}

# sweep_flips XOR POSITIONS...: every position flipped once with XOR.
sweep_flips() {
    local xor=$1 pos
    shift
    for pos in "$@"; do
        run_once "$pos" "$xor"
        expected_flip "$pos" "$xor"
        check_kind "$KIND" "byte $pos ^ $xor"
    done
}

# sweep_cuts LENGTHS...: the image cut to each length, longest first (each cut
# only shortens the file further).
sweep_cuts() {
    local len
    for len in "$@"; do
        cut_image "$len" || { echo "cannot cut to $len" >>mismatches; return 1; }
        run_once -1 0
        expected_cut "$len"
        check_kind "$KIND" "length $len"
    done
}

# setup_sweep: a tiny installer image ./img in a fresh directory, its layout
# loaded, the reference listing of a clean extraction and a runner started.
setup_sweep() {
    setup_workdir
    make_tiny_payload tiny.tar
    make_image img tiny.tar
    load_layout img
    start_runner img
    run_once -1 0
    REF_LISTING=$R_LISTING
}
