#!/usr/bin/env bash
# Benchmark of the launcher against the floor of plain tools doing the same
# work on the same bytes (md5sum, tar -xf, cp, cat), plus peak memory and a
# correctness pass of the 32-bit launcher on a payload larger than 4 GiB;
# then compressed payloads of a real tree against gzip, xz and zstd.
#
# Usage: bench/bench.sh [--quick] [--write-readme] [--no-i386] [--no-compressed] [--keep]
#   --quick          3 runs, a 256 MiB "large" payload (for iteration only)
#   --write-readme   also replace the Results section of bench/README.md
#   --no-i386        skip the 32-bit pass (it writes a 4.2 GB image)
#   --no-compressed  skip the compressed payloads (some 20 minutes of CPU)
#   --keep           keep the work directory
# Environment: BENCH_DIR (work directory, default /var/tmp/vorlan-bench),
#   RUNS, LARGE_MB, TYPICAL_MB (override the sizes and run count),
#   LAUNCHER_DIR (use prebuilt launchers instead of building the checkout;
#   the compressed payloads then take the builder of the build tree
#   BUILD_DIR, default ./build),
#   TREE (the tree of the compressed payloads, default the compiler's
#   library directory), TMPFS_DIR (a directory on tmpfs, default /dev/shm).
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(cd "$SCRIPT_DIR/.." && pwd)
BENCH_DIR=${BENCH_DIR:-/var/tmp/vorlan-bench}
QUICK=0
WRITE_README=0
DO_I386=1
DO_COMPRESSED=1
KEEP=0
COMMAND_LINE="bench/bench.sh${*:+ $*}"

for arg in "$@"; do
    case $arg in
    --quick) QUICK=1 ;;
    --write-readme) WRITE_README=1 ;;
    --no-i386) DO_I386=0 ;;
    --no-compressed) DO_COMPRESSED=0 ;;
    --keep) KEEP=1 ;;
    -h | --help)
        sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "unknown argument: $arg" >&2
        exit 2
        ;;
    esac
done

if [ "$QUICK" -eq 1 ]; then
    RUNS=${RUNS:-3}
    LARGE_MB=${LARGE_MB:-256}
else
    RUNS=${RUNS:-5}
    LARGE_MB=${LARGE_MB:-1100}
fi
TYPICAL_MB=${TYPICAL_MB:-30}
SMALL_BYTES=8192
I386_PAYLOAD=4200M
I386_PAYLOAD_BYTES=$((4200 * 1024 * 1024))

for tool in hyperfine jq md5sum tar cmake /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "missing tool: $tool" >&2
        exit 1
    }
done
if [ "$DO_COMPRESSED" -eq 1 ]; then
    for tool in zstd xz gzip; do
        command -v "$tool" >/dev/null || {
            echo "missing tool: $tool (or use --no-compressed)" >&2
            exit 1
        }
    done
fi

START_SECONDS=$SECONDS
LOAD_START=$(cut -d ' ' -f 1-3 /proc/loadavg)
W=$BENCH_DIR/work
P=$BENCH_DIR/payloads
R=$BENCH_DIR/results
mkdir -p "$BENCH_DIR"
rm -rf "$W" "$R"
mkdir -p "$W" "$P" "$R"

cleanup() {
    if [ "$KEEP" -eq 0 ]; then
        rm -rf "$W" "$P" "$R" ${TMPFS_WORK:+"$TMPFS_WORK"}
    fi
}
trap cleanup EXIT

log() { printf '[bench %4ds] %s\n' "$((SECONDS - START_SECONDS))" "$*" >&2; }
die() {
    printf 'bench: FAIL: %s\n' "$*" >&2
    exit 1
}

# ---------------------------------------------------------------- launchers
if [ -n "${LAUNCHER_DIR:-}" ]; then
    L64=$LAUNCHER_DIR/vorlan-launcher-x86_64
    L32=$LAUNCHER_DIR/vorlan-launcher-i386
else
    log "building the launchers from $REPO_DIR into $BENCH_DIR/build"
    cmake -S "$REPO_DIR" -B "$BENCH_DIR/build" -DCMAKE_BUILD_TYPE=Release -DVORLAN_TESTS=OFF \
        >"$R/cmake.log" 2>&1 || die "cmake configure failed, see $R/cmake.log"
    # The toolkit: both launchers and the builder with its library.
    cmake --build "$BENCH_DIR/build" -j2 --target toolkit \
        >>"$R/cmake.log" 2>&1 || die "build failed, see $R/cmake.log"
    L64=$BENCH_DIR/build/launcher/vorlan-launcher-x86_64
    L32=$BENCH_DIR/build/launcher/vorlan-launcher-i386
    BUILD_DIR=$BENCH_DIR/build
fi
[ -x "$L64" ] || die "no launcher at $L64"
# How this kernel runs the 32-bit launcher: natively where it can, else
# under qemu-i386 (EMU32 names it; PREFIX32 is its word in a command line).
EMU32=
PREFIX32=
HOW32=natively
if [ "$DO_I386" -eq 1 ]; then
    # shellcheck source-path=SCRIPTDIR source=../scripts/lib.sh
    EMU32=$(. "$REPO_DIR/scripts/lib.sh" && launcher_emulator "$L32") || die "cannot run $L32; use --no-i386"
    if [ -n "$EMU32" ]; then
        PREFIX32="'$EMU32' "
        HOW32="under qemu-i386"
    fi
fi

# ---------------------------------------------------------------- payloads
# Regular files under the given roots (relative to /), in a fixed order, until
# their sizes add up to the limit; files larger than max_file are skipped.
select_files() {
    local limit=$1 max_file=$2 out=$3
    shift 3
    (cd / && find "$@" -type f -readable -printf '%s\t%p\n' 2>/dev/null) |
        grep -v $'\t.*\\\\' |
        LC_ALL=C sort -t $'\t' -k2 |
        awk -F '\t' -v lim="$limit" -v max="$max_file" \
            'NF == 2 && $1 <= max && s < lim { print $2; s += $1 } END { if (s < lim) exit 1 }' \
            >"$out"
}

make_payload() {
    local name=$1 limit=$2 max_file=$3
    shift 3
    select_files "$limit" "$max_file" "$P/$name.list" "$@" ||
        die "not enough files under $* for the $name payload"
    tar -C / --no-recursion --verbatim-files-from -cf "$P/$name.tar" -T "$P/$name.list" ||
        die "tar of the $name payload failed"
}

log "building payloads (small, typical ${TYPICAL_MB} MiB, large ${LARGE_MB} MiB) in $P"
make_payload small "$SMALL_BYTES" 1024 usr/share/doc usr/share
make_payload typical $((TYPICAL_MB * 1024 * 1024)) $((8 * 1024 * 1024)) usr/include usr/share
make_payload large $((LARGE_MB * 1024 * 1024)) $((256 * 1024 * 1024)) usr
PAYLOADS=(small typical large)
launcher_size=$(stat -c %s "$L64")

for name in "${PAYLOADS[@]}"; do
    "$L64" --create "$P/$name.run" "$P/$name.tar" || die "--create of $name failed"
done
# The 32-bit launcher's own images, for its cost against the 64-bit one.
if [ "$DO_I386" -eq 1 ]; then
    for name in typical large; do
        ${EMU32:+"$EMU32"} "$L32" --create "$P/$name.run32" "$P/$name.tar" || die "32-bit --create of $name failed"
        cmp -s <(tail -c +$(($(stat -c %s "$L32") + 1)) "$P/$name.run32") \
            <(tail -c +$((launcher_size + 1)) "$P/$name.run") ||
            die "32-bit and 64-bit images of $name differ behind the launcher"
    done
fi

# ---------------------------------------------------------------- sanity
# The image is launcher + 8-byte size + 16-byte digest + tar; the digest must
# be what md5sum says, and the extraction must hold every member.
for name in "${PAYLOADS[@]}"; do
    tar_size=$(stat -c %s "$P/$name.tar")
    [ "$(stat -c %s "$P/$name.run")" -eq $((launcher_size + 24 + tar_size)) ] ||
        die "$name image has the wrong size"
    stored=$(od -An -v -tx1 -j $((launcher_size + 8)) -N 16 "$P/$name.run" | tr -d ' \n')
    [ "$stored" = "$(md5sum <"$P/$name.tar" | cut -d ' ' -f 1)" ] ||
        die "$name image digest differs from md5sum"
    out=$("$P/$name.run" --check) || die "$name --check failed"
    [[ $out == *"Succeed."* ]] || die "$name --check did not succeed"
done
rm -rf "$W/x"
"$P/typical.run" --noexec --target "$W/x" >/dev/null || die "typical --noexec failed"
extracted=$(cd "$W/x" && find . -type f | wc -l)
[ "$extracted" -eq "$(wc -l <"$P/typical.list")" ] || die "typical extraction is incomplete"
rm -rf "$W/x"

# ---------------------------------------------------------------- timings
# Warm page cache; before every run the extraction directory and outputs are
# removed, an empty target directory is made and dirty pages are written back,
# so no run pays for the previous one's write-back.
PREPARE="rm -rf '$W/x' '$W/out.run' '$W/out.tar' && mkdir '$W/x' && sync"
LABELS=(check noexec list create info md5sum tar_x cp cat check_tty check_pipe)

time_payload() {
    local name=$1 tar=$P/$1.tar run=$P/$1.run
    log "timing $name ($(stat -c %s "$tar") bytes, $RUNS runs)"
    hyperfine --runs "$RUNS" --warmup 1 --style none --prepare "$PREPARE" \
        --export-json "$R/$name.json" \
        -n check "'$run' --check" \
        -n noexec "'$run' --noexec --target '$W/x'" \
        -n list "'$run' --list >/dev/null" \
        -n create "'$L64' --create '$W/out.run' '$tar'" \
        -n info "'$run' --info" \
        -n md5sum "md5sum '$tar'" \
        -n tar_x "tar --no-same-owner --no-overwrite-dir -xf '$tar' -C '$W/x'" \
        -n cp "cp '$tar' '$W/out.tar'" \
        -n cat "cat '$tar' >/dev/null" \
        -n check_tty "TERM=xterm script -qec \"'$run' --check\" /dev/null" \
        -n check_pipe "TERM=xterm script -qec \"'$run' --check | cat\" /dev/null" \
        >"$R/$name.hyperfine.log" 2>&1 || die "hyperfine failed on $name, see $R/$name.hyperfine.log"
}

for name in "${PAYLOADS[@]}"; do
    time_payload "$name"
done

# The 32-bit launcher on the same payloads.
time_i386() {
    local name=$1 tar=$P/$1.tar run=$P/$1.run32
    log "timing the 32-bit launcher $HOW32 on $name ($RUNS runs)"
    hyperfine --runs "$RUNS" --warmup 1 --style none --prepare "$PREPARE" \
        --export-json "$R/$name.i386.json" \
        -n check "$PREFIX32'$run' --check" \
        -n noexec "$PREFIX32'$run' --noexec --target '$W/x'" \
        -n create "$PREFIX32'$L32' --create '$W/out.run' '$tar'" \
        >"$R/$name.i386.hyperfine.log" 2>&1 ||
        die "hyperfine failed on the 32-bit $name, see $R/$name.i386.hyperfine.log"
}

if [ "$DO_I386" -eq 1 ]; then
    time_i386 typical
    time_i386 large
fi
rm -rf "$W/x" "$W/out.run" "$W/out.tar"

# stat FIELD of the command LABEL on payload NAME, in seconds
stat_of() {
    jq -r --arg n "$3" ".results[] | select(.command == \$n) | .$2" "$R/$1.json"
}

fmt_time() { # median (min-max), in ms below 10 s
    awk -v m="$1" -v lo="$2" -v hi="$3" 'BEGIN {
        if (m < 10) printf "%.1f ms (%.1f–%.1f)", m * 1000, lo * 1000, hi * 1000;
        else printf "%.2f s (%.2f–%.2f)", m, lo, hi }'
}

cell_time() {
    fmt_time "$(stat_of "$1" median "$2")" "$(stat_of "$1" min "$2")" "$(stat_of "$1" max "$2")"
}

ratio() { # ratio of medians: label over the sum of the others
    local name=$1 num=$2
    shift 2
    local n d=0 x
    n=$(stat_of "$name" median "$num")
    for x in "$@"; do
        d=$(awk -v a="$d" -v b="$(stat_of "$name" median "$x")" 'BEGIN { print a + b }')
    done
    awk -v a="$n" -v b="$d" 'BEGIN { printf "%.2fx", a / b }'
}

ratio_between() { # the same label's medians in two result files
    awk -v a="$(stat_of "$1" median "$3")" -v b="$(stat_of "$2" median "$3")" \
        'BEGIN { printf "%.2fx", a / b }'
}

# ---------------------------------------------------------------- memory
# Peak RSS two ways: GNU time's %M (the launcher with any shell and tar it ran,
# since the kernel folds reaped children into it), and the launcher alone,
# sampled from VmHWM in /proc while it runs.
rss_tree() {
    local out=$W/time.out
    /usr/bin/time -f %M -o "$out" "$@" >/dev/null 2>&1 || die "failed under time: $*"
    tail -n 1 "$out"
}

rss_self() {
    local comm key value hwm=0 name state
    comm=$(basename "$1" | cut -c 1-15)
    "$@" >/dev/null 2>&1 &
    local pid=$!
    state=R
    while [ "$state" != Z ] && [ -e "/proc/$pid/status" ]; do
        name=""
        while read -r key value _; do
            case $key in
            Name:) name=$value ;;
            State:) state=$value ;;
            VmHWM:)
                # before the exec the child is still the shell: skip it
                if [ "$name" = "$comm" ] && [ "$value" -gt "$hwm" ]; then
                    hwm=$value
                fi
                ;;
            esac
        done <"/proc/$pid/status" 2>/dev/null || true
    done
    wait "$pid" || die "failed: $*"
    if [ "$hwm" -gt 0 ]; then echo "$hwm"; else echo "– (too short to sample)"; fi
}

declare -A RSS
measure_rss() {
    local name=$1 run=$P/$1.run op
    log "peak RSS on $name"
    for op in check noexec list create info; do
        rm -rf "$W/x" "$W/out.run"
        mkdir "$W/x"
        local cmd
        case $op in
        check) cmd=("$run" --check) ;;
        noexec) cmd=("$run" --noexec --target "$W/x") ;;
        list) cmd=("$run" --list) ;;
        create) cmd=("$L64" --create "$W/out.run" "$P/$name.tar") ;;
        info) cmd=("$run" --info) ;;
        esac
        local tree self
        tree=$(rss_tree "${cmd[@]}")
        rm -rf "$W/x" "$W/out.run"
        mkdir "$W/x"
        self=$(rss_self "${cmd[@]}")
        RSS[$name.$op]="$self / $tree"
    done
    rm -rf "$W/x" "$W/out.run"
    mkdir "$W/x"
    RSS[$name.tar_x]="– / $(rss_tree tar --no-same-owner --no-overwrite-dir -xf "$P/$name.tar" -C "$W/x")"
    rm -rf "$W/x"
}
mkdir -p "$W/x"
measure_rss typical
measure_rss large

# ---------------------------------------------------------------- 32-bit
I386_RESULT="not run (--no-i386)"
if [ "$DO_I386" -eq 1 ]; then
    log "32-bit launcher $HOW32: --create, --check and --info of a $I386_PAYLOAD payload"
    i386_start=$SECONDS
    truncate -s "$I386_PAYLOAD" "$W/big.tar"
    emulator=$EMU32
    $emulator "$L32" --create "$W/big32.run" "$W/big.tar" || die "32-bit --create failed"
    size32=$(stat -c %s "$L32")
    [ "$(stat -c %s "$W/big32.run")" -eq $((size32 + 24 + I386_PAYLOAD_BYTES)) ] ||
        die "32-bit image has the wrong size"
    check_out=$(cd "$W" && $emulator ./big32.run --check) || die "32-bit --check exited non-zero"
    [[ $check_out == *"Succeed."* ]] || die "32-bit --check did not print Succeed.: $check_out"
    info_out=$(cd "$W" && $emulator ./big32.run --info) || die "32-bit --info failed"
    want_kb=$(((I386_PAYLOAD_BYTES + 1023) / 1024))
    [[ $info_out == *"TAR size: $want_kb KB"* ]] || die "32-bit --info shows: $info_out"
    rm -f "$W/big32.run" "$W/big.tar"
    I386_RESULT="pass: --create, --check (Succeed., exit 0), --info \"TAR size: $want_kb KB\"; $((SECONDS - i386_start)) s"
fi

# ---------------------------------------------------------------- compressed
# A real tree packed by vorlan-mkinstaller with each codec: image sizes
# against gzip -9 and xz -9 of the same tar, the builder's time against zstd
# alone, and, side by side in interleaved rounds, the zstd image's --noexec
# and --check against their floors and the plain image's --noexec against
# md5sum + tar -xf FILE on disk and on tmpfs, through both launchers.
TREE=${TREE:-/usr/lib/gcc/x86_64-linux-gnu/12}
TMPFS_DIR=${TMPFS_DIR:-/dev/shm}
MK=${BUILD_DIR:-$REPO_DIR/build}/bin/vorlan-mkinstaller
declare -A CZ

# timed NAME COMMAND...: runs COMMAND once; its wall seconds and peak RSS
# (KiB, with its children) in CZ[NAME.s] and CZ[NAME.rss].
timed() {
    local name=$1 out=$W/time.out
    shift
    /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>"$W/stderr" || die "failed: $*: $(cat "$W/stderr")"
    read -r "CZ[$name.s]" "CZ[$name.rss]" <"$out"
}

# interleave NAME LABEL=COMMAND...: RUNS rounds after a warm-up round, each
# running every command once in turn after PREPARE_C; "LABEL SECONDS" lines
# in $R/NAME.times.
interleave() {
    local name=$1 round pair start end
    shift
    : >"$R/$name.times"
    for ((round = 0; round <= RUNS; round++)); do
        for pair in "$@"; do
            bash -c "$PREPARE_C" || die "cannot prepare the round"
            start=$EPOCHREALTIME
            bash -c "${pair#*=}" >/dev/null 2>"$W/stderr" ||
                die "${pair%%=*} failed with status $?: ${pair#*=}: $(cat "$W/stderr")"
            end=$EPOCHREALTIME
            [ "$round" -eq 0 ] || echo "${pair%%=*} $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
                >>"$R/$name.times"
        done
    done
}

# istat NAME LABEL median|min|max: seconds, from the interleaved rounds.
istat() {
    awk -v l="$2" '$1 == l { print $2 }' "$R/$1.times" | sort -g | awk -v w="$3" '
        { v[NR] = $1 }
        END { if (w == "min") print v[1]; else if (w == "max") print v[NR];
              else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

icell() { fmt_time "$(istat "$1" "$2" median)" "$(istat "$1" "$2" min)" "$(istat "$1" "$2" max)"; }

iratio() { # median of LABEL over the sum of the medians of the others
    local name=$1 num=$2 d=0 x
    shift 2
    for x in "$@"; do
        d=$(awk -v a="$d" -v b="$(istat "$name" "$x" median)" 'BEGIN { print a + b }')
    done
    awk -v a="$(istat "$name" "$num" median)" -v b="$d" 'BEGIN { printf "%.2fx", a / b }'
}

size_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", a / b }'; }

compressed_bench() {
    local app=$P/app codec tar=$P/tree.tar T=$TMPFS_DIR/vorlan-bench
    TMPFS_WORK=$T
    [ "$(findmnt -no FSTYPE -T "$TMPFS_DIR" | head -n 1)" = tmpfs ] || die "$TMPFS_DIR is not on tmpfs; set TMPFS_DIR"
    [ -x "$MK" ] || die "no builder at $MK; set BUILD_DIR or use --no-compressed"
    log "compressed payloads of $TREE"
    rm -rf "$app" "$T"
    mkdir -p "$app" "$T"
    cp -a "$TREE/." "$app/" || die "cannot copy $TREE"
    printf 'exit 0\n' >"$app/install.sh"
    export SOURCE_DATE_EPOCH=1527724800
    for codec in none zstd xz gzip; do
        log "vorlan-mkinstaller --compress $codec"
        timed "build_$codec" "$MK" --launcher "$L64" --compress "$codec" "$app" "$P/$codec.run"
        CZ[$codec.size]=$(stat -c %s "$P/$codec.run")
    done
    tail -c +$((launcher_size + 25)) "$P/none.run" >"$tar"
    tail -c +$((launcher_size + 25)) "$P/zstd.run" >"$P/tree.tar.zst"
    CZ[tar.size]=$(stat -c %s "$tar")
    CZ[files]=$(tar -tf "$tar" | wc -l)
    log "the compressors alone: zstd -19 -T0, with --long=27, gzip -9, xz -9"
    timed zstd19 zstd -q -c -19 -T0 "$tar"
    timed zstd19long zstd -q -c -19 --long=27 -T0 "$tar"
    CZ[gzip9.size]=$(gzip -9 -c "$tar" | wc -c)
    CZ[xz9.size]=$(xz -9 -c "$tar" | wc -c)

    cp "$P/none.run" "$tar" "$T/"
    local plain32=""
    if [ "$DO_I386" -eq 1 ]; then
        # The same stored payloads behind the 32-bit launcher.
        ${EMU32:+"$EMU32"} "$L32" --create "$P/none.run32" "$tar" >/dev/null || die "32-bit --create failed"
        ${EMU32:+"$EMU32"} "$L32" --create "$P/zstd.run32" "$P/tree.tar.zst" >/dev/null ||
            die "32-bit --create failed"
        cp "$P/none.run32" "$T/"
        plain32="noexec32=$PREFIX32'$P/none.run32' --noexec --target '$W/x'
noexec32_tmpfs=$PREFIX32'$T/none.run32' --noexec --target '$T/x'
zstd_noexec32=$PREFIX32'$P/zstd.run32' --noexec --target '$W/x'"
    fi
    PREPARE_C="rm -rf '$W/x' '$T/x' && mkdir '$W/x' '$T/x' && sync"
    local tar_flags="--no-same-owner --no-overwrite-dir"
    log "interleaved rounds ($RUNS + 1 warm-up)"
    local -a commands=(
        "zstd_noexec='$P/zstd.run' --noexec --target '$W/x'"
        "zstd_md5=md5sum '$P/zstd.run'"
        "unzstd_tar=zstd -dc '$P/tree.tar.zst' | tar $tar_flags -xf - -C '$W/x'"
        "zstd_check='$P/zstd.run' --check"
        "noexec='$P/none.run' --noexec --target '$W/x'"
        "md5=md5sum '$P/none.run'"
        "tar_file=tar $tar_flags -xf '$tar' -C '$W/x'"
        "noexec_tmpfs='$T/none.run' --noexec --target '$T/x'"
        "md5_tmpfs=md5sum '$T/none.run'"
        "tar_file_tmpfs=tar $tar_flags -xf '$T/tree.tar' -C '$T/x'"
    )
    if [ -n "$plain32" ]; then
        mapfile -t -O "${#commands[@]}" commands <<<"$plain32"
    fi
    interleave compressed "${commands[@]}"
    log "peak RSS of decoding"
    for codec in zstd xz gzip; do
        rm -rf "$W/x"
        mkdir "$W/x"
        CZ[$codec.rss]="$(rss_self "$P/$codec.run" --noexec --target "$W/x") / $(rm -rf "$W/x" && mkdir "$W/x" && rss_tree "$P/$codec.run" --noexec --target "$W/x")"
    done
    rm -rf "$W/x" "$T" "$app"
    unset SOURCE_DATE_EPOCH
}

compressed_table() {
    local c=compressed
    echo "Tree: $TREE, tar of ${CZ[tar.size]} B / ${CZ[files]} entries; tmpfs: $TMPFS_DIR; the 32-bit launcher ran $HOW32."
    echo
    echo "| Measure | value | target |"
    echo "|---|---|---|"
    echo "| image, \`--compress none\` / zstd (default) / xz / gzip, bytes | ${CZ[none.size]} / ${CZ[zstd.size]} / ${CZ[xz.size]} / ${CZ[gzip.size]} | |"
    echo "| \`gzip -9\` / \`xz -9\` of the tar, bytes | ${CZ[gzip9.size]} / ${CZ[xz9.size]} | |"
    echo "| ratio zstd image / gzip -9 | $(size_ratio "${CZ[zstd.size]}" "${CZ[gzip9.size]}") | ≤ 0.50x |"
    echo "| ratio zstd image / xz -9 | $(size_ratio "${CZ[zstd.size]}" "${CZ[xz9.size]}") | ≤ 1.30x |"
    local xz_stored=$((${CZ[xz.size]} - launcher_size - 24))
    echo "| ratio \`--compress xz\` stored payload (the image without the launcher and header) / xz -9 | $(size_ratio "$xz_stored" "${CZ[xz9.size]}") | ≤ 1.02x |"
    echo "| builder, default (zstd -19 --long=27 -T0), one run: s, peak RSS KiB | ${CZ[build_zstd.s]} s, ${CZ[build_zstd.rss]} | |"
    echo "| \`zstd -19 -T0\` / \`zstd -19 --long=27 -T0\` of the tar alone, one run | ${CZ[zstd19.s]} s / ${CZ[zstd19long.s]} s | |"
    echo "| builder with xz / gzip / none, one run | ${CZ[build_xz.s]} s / ${CZ[build_gzip.s]} s / ${CZ[build_none.s]} s | |"
    echo "| zstd image \`--noexec\`, median (min–max) | $(icell $c zstd_noexec) | |"
    echo "| floor: md5sum of the zstd image / \`zstd -dc \\| tar -xf -\` | $(icell $c zstd_md5) / $(icell $c unzstd_tar) | |"
    echo "| ratio zstd \`--noexec\` / floor | $(iratio $c zstd_noexec zstd_md5 unzstd_tar) | ≤ 1.10x |"
    echo "| ratio zstd \`--noexec\` / plain \`--noexec\` (below 1: the zstd image extracts faster) | $(iratio $c zstd_noexec noexec) | |"
    echo "| zstd image \`--check\`, median (min–max) | $(icell $c zstd_check) | |"
    echo "| ratio zstd \`--check\` / md5sum of the image | $(iratio $c zstd_check zstd_md5) | ≤ 1.05x |"
    echo "| plain image \`--noexec\` on disk / on tmpfs, median (min–max) | $(icell $c noexec) / $(icell $c noexec_tmpfs) | |"
    echo "| floor on disk: md5sum / \`tar -xf FILE\` | $(icell $c md5) / $(icell $c tar_file) | |"
    echo "| floor on tmpfs: md5sum / \`tar -xf FILE\` | $(icell $c md5_tmpfs) / $(icell $c tar_file_tmpfs) | |"
    echo "| ratio plain \`--noexec\` / (md5sum + tar -xf FILE), disk / tmpfs | $(iratio $c noexec md5 tar_file) / $(iratio $c noexec_tmpfs md5_tmpfs tar_file_tmpfs) | ≤ 1.10x |"
    if [ "$DO_I386" -eq 1 ]; then
        echo "| 32-bit ($HOW32) plain \`--noexec\` on disk / on tmpfs, median (min–max) | $(icell $c noexec32) / $(icell $c noexec32_tmpfs) | |"
        echo "| ratio 32-bit plain \`--noexec\` / (md5sum + tar -xf FILE), disk / tmpfs | $(iratio $c noexec32 md5 tar_file) / $(iratio $c noexec32_tmpfs md5_tmpfs tar_file_tmpfs) | ≤ 1.10x |"
        echo "| 32-bit ($HOW32) zstd \`--noexec\`, ratio to its floor | $(icell $c zstd_noexec32), $(iratio $c zstd_noexec32 zstd_md5 unzstd_tar) | |"
    fi
    echo "| peak RSS KiB of \`--noexec\`, zstd / xz / gzip: launcher alone / with children | ${CZ[zstd.rss]}; ${CZ[xz.rss]}; ${CZ[gzip.rss]} | |"
}

if [ "$DO_COMPRESSED" -eq 1 ]; then
    compressed_bench
fi

# ---------------------------------------------------------------- report
cpu=$(awk -F ': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
fs=$(findmnt -no SOURCE,FSTYPE -T "$BENCH_DIR" | head -n 1)
mem=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
sizes=""
for name in "${PAYLOADS[@]}"; do
    sizes+="$name $(stat -c %s "$P/$name.tar") B / $(wc -l <"$P/$name.list") files; "
done

TABLE=$(
    echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $mem RAM, Linux $(uname -r), bench dir $BENCH_DIR on $fs."
    echo "Command: \`$COMMAND_LINE\` ($RUNS runs + 1 warm-up per command, warm page cache)."
    echo "Payloads: ${sizes%; }."
    echo "Load average (1/5/15 min) at start: $LOAD_START, at end: $(cut -d ' ' -f 1-3 /proc/loadavg) (2 cores; anything above ~1 means other work shared the CPUs)."
    echo "Tools: $(tar --version | head -n 1), $(md5sum --version | head -n 1), hyperfine $(hyperfine --version | cut -d ' ' -f 2)."
    echo
    echo "| Measure | small | typical | large | target (large) |"
    echo "|---|---|---|---|---|"
    for label in "${LABELS[@]}"; do
        case $label in
        check | noexec | list | create | info) what="launcher \`--$label\`" ;;
        md5sum) what="floor: \`md5sum\`" ;;
        tar_x) what="floor: \`tar -xf\` (same flags as the launcher's tar)" ;;
        cp) what="floor: \`cp\`" ;;
        cat) what="floor: \`cat >/dev/null\`" ;;
        check_tty) what="launcher \`--check\` on a terminal (under \`script\`)" ;;
        check_pipe) what="launcher \`--check\` into a pipe (under \`script\`, \`| cat\`)" ;;
        esac
        echo "| $what, median (min–max) | $(cell_time small "$label") | $(cell_time typical "$label") | $(cell_time large "$label") | |"
    done
    echo "| ratio \`--check\` / md5sum | $(ratio small check md5sum) | $(ratio typical check md5sum) | $(ratio large check md5sum) | ≤ 1.15x |"
    echo "| ratio \`--noexec\` / (md5sum + tar -xf) | $(ratio small noexec md5sum tar_x) | $(ratio typical noexec md5sum tar_x) | $(ratio large noexec md5sum tar_x) | ≤ 1.15x |"
    echo "| ratio \`--create\` / (md5sum + cp) | $(ratio small create md5sum cp) | $(ratio typical create md5sum cp) | $(ratio large create md5sum cp) | ≤ 1.1x |"
    echo "| ratio \`--check\` terminal / pipe | $(ratio small check_tty check_pipe) | $(ratio typical check_tty check_pipe) | $(ratio large check_tty check_pipe) | no cost |"
    for op in check noexec list create info tar_x; do
        if [ "$op" = tar_x ]; then what="floor \`tar -xf\`"; else what="launcher \`--$op\`"; fi
        echo "| peak RSS KiB, $what: launcher alone / with children | – | ${RSS[typical.$op]} | ${RSS[large.$op]} | < 4096, no growth |"
    done
    echo "| 32-bit launcher $HOW32, $I386_PAYLOAD sparse payload | $I386_RESULT | | | correct |"
    if [ "$DO_I386" -eq 1 ]; then
        for op in check noexec create; do
            echo "| 32-bit launcher \`--$op\` $HOW32, median (min–max) | – | $(cell_time typical.i386 "$op") | $(cell_time large.i386 "$op") | |"
        done
        for op in check noexec create; do
            echo "| ratio 32-bit ($HOW32) / 64-bit \`--$op\` | – | $(ratio_between typical.i386 typical "$op") | $(ratio_between large.i386 large "$op") | |"
        done
    fi
    if [ "$DO_COMPRESSED" -eq 1 ]; then
        echo
        compressed_table
    fi
    echo
    echo "Full run took $((SECONDS - START_SECONDS)) s."
)

printf '\n%s\n' "$TABLE"

# The prose of README.md stays as written; only its Results section is new.
if [ "$WRITE_README" -eq 1 ]; then
    readme=$SCRIPT_DIR/README.md
    { sed '/^## Results$/q' "$readme" && echo && echo "$TABLE"; } >"$readme.new" ||
        die "cannot write $readme.new"
    mv "$readme.new" "$readme" || die "cannot replace $readme"
    log "wrote the Results of $readme"
fi
