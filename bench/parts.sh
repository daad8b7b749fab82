#!/bin/sh
# parts.sh MAP: what each part of a static launcher weighs, from its link
# map: the bytes of the input sections kept in the program, by the library
# or object they came from (uninitialised data, which takes no room in the
# file, left out).
[ $# -eq 1 ] || { echo "usage: parts.sh MAP" >&2; exit 2; }
awk '
    function part(file) {
        if (file ~ /musl/) return "musl"
        if (file ~ /libc\.a|libc_nonshared|libpthread|libm\.a|\/crt1\.o|\/crti\.o|\/crtn\.o/) return "glibc"
        if (file ~ /libstdc\+\+|libsupc\+\+/) return "libstdc++"
        if (file ~ /tomcrypt|vorlan_md5/) return "MD5"
        if (file ~ /zstd/) return "zstd"
        if (file ~ /lzma|vorlan_xz/) return "xz"
        if (file ~ /libz\.a|vorlan_zlib/) return "zlib"
        if (file ~ /libgcc|crtbegin|crtend/) return "libgcc"
        return "launcher code"
    }
    function hex(text,   value, i) {
        value = 0
        for (i = 3; i <= length(text); i++)
            value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
        return value
    }
    function add(section, size, file) {
        if (section ~ /^\.(bss|tbss|comment|note\.GNU-stack|debug)/ || file == "") return
        sizes[part(file)] += hex(size)
    }
    /^Linker script and memory map/ { inside = 1; next }
    !inside { next }
    # A section with its address, size and file on one line, or its name
    # alone with the rest on the next.
    /^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add($1, $3, $4); pending = ""; next }
    /^ \.[^ ]+$/ { pending = $1; next }
    pending != "" && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ / { add(pending, $2, $3); pending = ""; next }
    { pending = "" }
    END { for (p in sizes) { printf "%s\t%d\n", p, sizes[p]; total += sizes[p] } printf "total\t%d\n", total }
' "$1" | sort -t "$(printf '\t')" -k2,2nr
