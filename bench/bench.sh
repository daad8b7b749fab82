#!/usr/bin/env bash
# Benchmark of the launcher against the floor of plain tools doing the same
# work on the same bytes (md5sum, tar -xf, cp, cat), plus peak memory and a
# correctness pass of the 32-bit launcher on a payload larger than 4 GiB.
#
# Usage: bench/bench.sh [--quick] [--write-readme] [--no-i386] [--keep]
#   --quick         3 runs, a 256 MiB "large" payload (for iteration only)
#   --write-readme  also replace the Results section of bench/README.md
#   --no-i386       skip the 32-bit pass (it writes a 4.2 GB image)
#   --keep          keep the work directory
# Environment: BENCH_DIR (work directory, default /var/tmp/vorlan-bench),
#   RUNS, LARGE_MB, TYPICAL_MB (override the sizes and run count),
#   LAUNCHER_DIR (use prebuilt launchers instead of building the checkout).
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(cd "$SCRIPT_DIR/.." && pwd)
BENCH_DIR=${BENCH_DIR:-/var/tmp/vorlan-bench}
QUICK=0
WRITE_README=0
DO_I386=1
KEEP=0
COMMAND_LINE="bench/bench.sh${*:+ $*}"

for arg in "$@"; do
    case $arg in
    --quick) QUICK=1 ;;
    --write-readme) WRITE_README=1 ;;
    --no-i386) DO_I386=0 ;;
    --keep) KEEP=1 ;;
    -h | --help)
        sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
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
if [ "$DO_I386" -eq 1 ] && ! command -v qemu-i386 >/dev/null; then
    echo "qemu-i386 missing; use --no-i386" >&2
    exit 1
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
        rm -rf "$W" "$P" "$R"
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
    cmake --build "$BENCH_DIR/build" -j2 --target vorlan-launcher-x86_64 vorlan-launcher-i386 \
        >>"$R/cmake.log" 2>&1 || die "build failed, see $R/cmake.log"
    L64=$BENCH_DIR/build/launcher/vorlan-launcher-x86_64
    L32=$BENCH_DIR/build/launcher/vorlan-launcher-i386
fi
[ -x "$L64" ] || die "no launcher at $L64"

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
        qemu-i386 "$L32" --create "$P/$name.run32" "$P/$name.tar" || die "32-bit --create of $name failed"
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

# The 32-bit launcher, emulated here, on the same payloads.
time_i386() {
    local name=$1 tar=$P/$1.tar run=$P/$1.run32
    log "timing the 32-bit launcher under qemu-i386 on $name ($RUNS runs)"
    hyperfine --runs "$RUNS" --warmup 1 --style none --prepare "$PREPARE" \
        --export-json "$R/$name.i386.json" \
        -n check "qemu-i386 '$run' --check" \
        -n noexec "qemu-i386 '$run' --noexec --target '$W/x'" \
        -n create "qemu-i386 '$L32' --create '$W/out.run' '$tar'" \
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
    log "32-bit launcher under qemu-i386: --create, --check and --info of a $I386_PAYLOAD payload"
    i386_start=$SECONDS
    truncate -s "$I386_PAYLOAD" "$W/big.tar"
    # shellcheck source-path=SCRIPTDIR source=../scripts/lib.sh
    emulator=$(. "$REPO_DIR/scripts/lib.sh" && launcher_emulator "$L32") || die "cannot run $L32"
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
    echo "| 32-bit launcher under qemu-i386, $I386_PAYLOAD sparse payload | $I386_RESULT | | | correct |"
    if [ "$DO_I386" -eq 1 ]; then
        for op in check noexec create; do
            echo "| 32-bit launcher \`--$op\` under qemu-i386, median (min–max) | – | $(cell_time typical.i386 "$op") | $(cell_time large.i386 "$op") | |"
        done
        for op in check noexec create; do
            echo "| ratio 32-bit (qemu-i386) / 64-bit \`--$op\` | – | $(ratio_between typical.i386 typical "$op") | $(ratio_between large.i386 large "$op") | |"
        done
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
