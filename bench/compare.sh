#!/usr/bin/env bash
# Two launchers against each other on the same payloads, in interleaved
# rounds: --check, --noexec of a plain, zstd, xz and gzip image, --create;
# wall time and peak memory (the launcher with its children), medians.
#
# Usage: bench/compare.sh OLD_LAUNCHER NEW_LAUNCHER
# Environment: TREE (default the compiler's library directory), ROUNDS
#   (default 5), COMPARE_DIR (work directory on disk, default
#   /var/tmp/vorlan-compare; compressed payloads found there are reused,
#   since the builder's default zstd and xz levels take minutes).
# Prints a Markdown table on standard output.
set -euo pipefail

[ $# -eq 2 ] || { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
OLD=$(realpath "$1")
NEW=$(realpath "$2")
TREE=${TREE:-/usr/lib/gcc/x86_64-linux-gnu/12}
ROUNDS=${ROUNDS:-5}
DIR=${COMPARE_DIR:-/var/tmp/vorlan-compare}
OPS="check noexec-plain noexec-zstd noexec-xz noexec-gzip create"

log() { printf '[compare] %s\n' "$*" >&2; }

payloads() {
    mkdir -p "$DIR"
    cd "$DIR"
    # As the builder packs a tree, and compresses it at its default levels.
    [ -f tree.tar ] || tar -C "$(dirname "$TREE")" --sort=name --owner=0 --group=0 --numeric-owner \
        -cf tree.tar "$(basename "$TREE")"
    [ -f tree.tar.zst ] || zstd -q -19 --long=27 -T0 tree.tar -o tree.tar.zst
    [ -f tree.tar.xz ] || xz -q -9 -T1 -k tree.tar
    [ -f tree.tar.gz ] || gzip -9 -n -k tree.tar
    for who in old new; do
        launcher=$OLD
        [ "$who" = new ] && launcher=$NEW
        "$launcher" --create "$who-plain.run" tree.tar
        for codec in zst xz gz; do
            "$launcher" --create "$who-$codec.run" "tree.tar.$codec"
        done
    done
}

# command WHO OP: the command line of one operation.
command_of() {
    local launcher=$OLD
    [ "$1" = new ] && launcher=$NEW
    case $2 in
    check) echo "./$1-plain.run --check" ;;
    noexec-plain) echo "./$1-plain.run --noexec --target out" ;;
    noexec-zstd) echo "./$1-zst.run --noexec --target out" ;;
    noexec-xz) echo "./$1-xz.run --noexec --target out" ;;
    noexec-gzip) echo "./$1-gz.run --noexec --target out" ;;
    create) echo "$launcher --create out.run tree.tar" ;;
    esac
}

# One run: wall seconds and peak KiB, appended to results.
run_once() {
    rm -rf out out.run
    sync
    # shellcheck disable=SC2046 # the command line's words
    /usr/bin/time -f "$1 $2 %e %M" -a -o results $(command_of "$1" "$2") >/dev/null
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
figure() { awk -v w="$1" -v o="$2" -v c="$3" '$1 == w && $2 == o { print $c }' results; }

table() {
    echo "| operation | old | new | new / old | peak RSS old / new (KiB) |"
    echo "|---|---|---|---|---|"
    for op in $OPS; do
        old=$(figure old "$op" 3 | median)
        new=$(figure new "$op" 3 | median)
        printf '| %s | %s s (%s-%s) | %s s (%s-%s) | %s | %s / %s |\n' "$op" \
            "$old" "$(figure old "$op" 3 | sort -n | head -n 1)" "$(figure old "$op" 3 | sort -n | tail -n 1)" \
            "$new" "$(figure new "$op" 3 | sort -n | head -n 1)" "$(figure new "$op" 3 | sort -n | tail -n 1)" \
            "$(awk -v a="$new" -v b="$old" 'BEGIN { printf "%.2fx", a / b }')" \
            "$(figure old "$op" 4 | median)" "$(figure new "$op" 4 | median)"
    done
}

log "payloads in $DIR"
payloads
rm -f results
for round in $(seq "$ROUNDS"); do
    log "round $round of $ROUNDS"
    for op in $OPS; do
        # Which launcher goes first alternates from round to round.
        if [ $((round % 2)) = 1 ]; then order="old new"; else order="new old"; fi
        for who in $order; do
            run_once "$who" "$op"
        done
    done
done
rm -rf out out.run
echo "$ROUNDS interleaved rounds, tree $TREE ($(stat -c %s tree.tar) bytes as a tar), work directory $DIR"
echo
table
