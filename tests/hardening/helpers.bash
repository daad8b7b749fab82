# Shared by the hardening tests: corruption sweeps, injected faults and hostile
# payloads. Builds on the launcher helpers (launch, launch_as, make_payload,
# make_image, setup_workdir, teardown_workdir).

load ../launcher/helpers
load ../helpers/namespace

# in_mnt SCRIPT [ARGS...]: the bash SCRIPT as root in a private mount
# namespace where /mnt and /tmp are fresh tmpfs mounts and the test's
# directory is /mnt/work.
in_mnt() {
    in_private_ns tmpfs::/mnt bind:"$WORK":/mnt/work tmpfs::/tmp -- bash -c "$@"
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

# elf_layout FILE: where the section header table of FILE lies, for the
# sweeps to aim at: L_SHOFF, L_SHNUM, L_RECORD (the bytes of a record),
# L_WIDTH (of an offset or a size) and, within a record, the fields the
# launcher reads: sh_type (L_TYPE_AT, 4 bytes), sh_offset (L_OFFSET_AT)
# and sh_size (L_SIZE_AT). L_SIZE is the size of FILE.
elf_layout() {
    if [ "$(od -An -tu1 -j 4 -N 1 "$1" | tr -d ' ')" = 1 ]; then
        L_SHOFF=$(od -An -tu4 -j 32 -N 4 "$1" | tr -d ' ')
        L_SHNUM=$(od -An -tu2 -j 48 -N 2 "$1" | tr -d ' ')
        L_RECORD=40 L_WIDTH=4 L_TYPE_AT=4 L_OFFSET_AT=16 L_SIZE_AT=20
    else
        L_SHOFF=$(od -An -tu8 -j 40 -N 8 "$1" | tr -d ' ')
        L_SHNUM=$(od -An -tu2 -j 60 -N 2 "$1" | tr -d ' ')
        L_RECORD=64 L_WIDTH=8 L_TYPE_AT=4 L_OFFSET_AT=24 L_SIZE_AT=32
    fi
    L_SIZE=$(stat -c %s "$1")
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
    if [ -n "$EMULATOR" ]; then
        cmd=("$EMULATOR" "${cmd[@]}")
    fi
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

# check_outcome LABEL [KIND]: the last run ended as every run of a changed
# image must: status 0, the usual output and an extraction identical to a
# clean one, or status 255 and nothing extracted, after one of the
# launcher's own failures; and, where KIND is given, in that kind. Counted
# by kind (ok, failed, size, checksum, shdr, bare); a mismatch is described
# in the file mismatches.
check_outcome() {
    local label=$1 want=${2-} kind=unknown listing=absent
    case $R_STATUS:$R_OUT:$R_ERR in
    "exit 0:"$'Verifying archive integrity... Succeed.\nUncompressing in t...\n:')
        kind=ok listing=$REF_LISTING ;;
    "exit 255:"$'Verifying archive integrity... Failed.\n:') kind=failed ;;
    "exit 255::"$'Archive size read error\n') kind=size ;;
    "exit 255::"$'Archive checksum read error\n') kind=checksum ;;
    "exit 255::"$'ELF section header read error: unexpected end of file\n') kind=shdr ;;
    "exit 255::"$'./img: unrecognized option \'--noexec\'\n') kind=bare ;;
    esac
    COUNT_RUNS=$((COUNT_RUNS + 1))
    eval "COUNT_$kind=\$((COUNT_$kind + 1))"
    if [ "$kind" = unknown ] || [ "$R_LISTING" != "$listing" ] || [ "${want:-$kind}" != "$kind" ]; then
        COUNT_MISMATCH=$((COUNT_MISMATCH + 1))
        {
            printf '%s: expected %s, got %s, listing %s\n' "$label" "${want:-a clean outcome}" "$R_STATUS" "$R_LISTING"
            printf '  stdout: %q\n  stderr: %q\n' "$R_OUT" "$R_ERR"
        } >>mismatches
    fi
}

reset_counts() {
    COUNT_RUNS=0 COUNT_MISMATCH=0 COUNT_ok=0 COUNT_bare=0 COUNT_size=0
    COUNT_checksum=0 COUNT_shdr=0 COUNT_failed=0 COUNT_unknown=0
    : >mismatches
}

report_counts() {
    echo "# $1: $COUNT_RUNS runs: ok $COUNT_ok, failed $COUNT_failed, size $COUNT_size, checksum $COUNT_checksum, shdr $COUNT_shdr, bare $COUNT_bare; mismatches $COUNT_MISMATCH" >&3
}

# sweep_flips XOR POSITIONS...: every position flipped once with XOR. A
# byte of the section header table may end any clean way; one of the
# archive size only feeds --info and the prompt, so the run succeeds; one
# of the digest or the archive fails the verification.
sweep_flips() {
    local xor=$1 pos
    shift
    for pos in "$@"; do
        run_once "$pos" "$xor"
        if (( pos < L_END )); then
            check_outcome "byte $pos ^ $xor"
        elif (( pos < L_END + 8 )); then
            check_outcome "byte $pos ^ $xor" ok
        else
            check_outcome "byte $pos ^ $xor" failed
        fi
    done
}

# cut_kind LENGTH: how a run of the image cut to LENGTH bytes ends: inside
# the section header table, the table cannot be read; at its end the image
# is a bare launcher; inside the payload header that header cannot be read;
# inside the archive the verification fails.
cut_kind() {
    if (( $1 < L_END )); then
        echo shdr
    elif (( $1 == L_END )); then
        echo bare
    elif (( $1 < L_END + 8 )); then
        echo size
    elif (( $1 < L_END + HEADER_SIZE )); then
        echo checksum
    else
        echo failed
    fi
}

# sweep_cuts LENGTHS...: the image cut to each length, longest first (each cut
# only shortens the file further).
sweep_cuts() {
    local len
    for len in "$@"; do
        cut_image "$len" || { echo "cannot cut to $len" >>mismatches; return 1; }
        run_once -1 0
        check_outcome "length $len" "$(cut_kind "$len")"
    done
}

# setup_sweep: a tiny installer image ./img in a fresh directory, its table
# located, the reference listing of a clean extraction and a runner started.
# L_END, where the launcher's image ends, is the bare launcher's size.
setup_sweep() {
    setup_workdir
    make_tiny_payload tiny.tar
    make_image img tiny.tar
    elf_layout img
    L_END=$(stat -c %s "$LAUNCHER")
    start_runner img
    run_once -1 0
    REF_LISTING=$R_LISTING
}
