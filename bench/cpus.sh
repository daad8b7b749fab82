#!/usr/bin/env bash
# Each CPU's launcher against the x86_64 one on the same payloads, in
# interleaved rounds: its size, and --check of the plain image and
# --noexec of the zstd image of a real tree, the other CPUs under their
# qemu-user programs (this machine runs x86_64 only, and i386 where its
# kernel allows), as a ratio to the x86_64 launcher's time in the same run.
#
# Usage: bench/cpus.sh LAUNCHER_DIR
#   LAUNCHER_DIR holds vorlan-launcher-CPU for every CPU (a build's launcher/).
# Environment: TREE, ROUNDS (default 3), COMPARE_DIR (shared with
#   bench/compare.sh: its tree.tar and tree.tar.zst are reused).
# Prints a Markdown table on standard output.
set -euo pipefail

[ $# -eq 1 ] || { sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
LAUNCHERS=$(realpath "$1")
TREE=${TREE:-/usr/lib/gcc/x86_64-linux-gnu/12}
ROUNDS=${ROUNDS:-3}
DIR=${COMPARE_DIR:-/var/tmp/vorlan-compare}
CPUS="x86_64 i386 aarch64 armv7l ppc64le s390x riscv64"
# shellcheck source-path=SCRIPTDIR source=../scripts/lib.sh
. "$(dirname "$0")/../scripts/lib.sh"

mkdir -p "$DIR"
cd "$DIR"
[ -f tree.tar ] || tar -C "$(dirname "$TREE")" --sort=name --owner=0 --group=0 --numeric-owner \
    -cf tree.tar "$(basename "$TREE")"
[ -f tree.tar.zst ] || zstd -q -19 --long=27 -T0 tree.tar -o tree.tar.zst
for cpu in $CPUS; do
    launcher=$LAUNCHERS/vorlan-launcher-$cpu
    run_launcher "$launcher" --create "cpu-$cpu-plain.run" tree.tar
    run_launcher "$launcher" --create "cpu-$cpu-zst.run" tree.tar.zst
done

rm -f cpu-results
for round in $(seq "$ROUNDS"); do
    echo "[cpus] round $round of $ROUNDS" >&2
    for cpu in $CPUS; do
        for op in check noexec; do
            rm -rf out
            sync
            if [ "$op" = check ]; then set -- "./cpu-$cpu-plain.run" --check; else set -- "./cpu-$cpu-zst.run" --noexec --target out; fi
            emulator=$(launcher_emulator "$1")
            /usr/bin/time -f "$cpu $op %e" -a -o cpu-results ${emulator:+"$emulator"} "$@" >/dev/null
        done
    done
done
rm -rf out

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
of() { awk -v c="$1" -v o="$2" '$1 == c && $2 == o { print $3 }' cpu-results | median; }

echo "$ROUNDS interleaved rounds, tree $TREE ($(stat -c %s tree.tar) bytes as a tar)"
echo
echo "| CPU | launcher | run by | --check | / x86_64 | zstd --noexec | / x86_64 |"
echo "|---|---|---|---|---|---|---|"
base_check=$(of x86_64 check)
base_noexec=$(of x86_64 noexec)
for cpu in $CPUS; do
    emulator=$(launcher_emulator "$LAUNCHERS/vorlan-launcher-$cpu")
    check=$(of "$cpu" check)
    noexec=$(of "$cpu" noexec)
    printf '| %s | %s bytes | %s | %s s | %s | %s s | %s |\n' "$cpu" "$(stat -c %s "$LAUNCHERS/vorlan-launcher-$cpu")" \
        "$([ -n "$emulator" ] && basename "$emulator" || echo "the kernel")" \
        "$check" "$(awk -v a="$check" -v b="$base_check" 'BEGIN { printf "%.2fx", a / b }')" \
        "$noexec" "$(awk -v a="$noexec" -v b="$base_noexec" 'BEGIN { printf "%.2fx", a / b }')"
done
