# shellcheck shell=bash
# An installer image: the bare launcher's bytes, the payload header (the
# stored payload's size, 8 bytes little-endian, and its MD5 digest, 16
# bytes), then the payload.

HEADER_SIZE=$((8 + 16))

# le64 N: the 8 bytes of N, little-endian.
le64() {
    local n=$1 i
    for i in 0 1 2 3 4 5 6 7; do
        # shellcheck disable=SC2059 # the format is the byte's octal escape
        printf "\\$(printf %03o $(( (n >> (8 * i)) & 255 )))"
    done
}

# bytes_at FILE OFFSET COUNT: COUNT bytes of FILE from OFFSET.
bytes_at() {
    tail -c +$(($2 + 1)) "$1" | head -c "$3"
}

# payload_of IMAGE LAUNCHER OUT: writes the payload of IMAGE, built with the
# bare LAUNCHER, to OUT, and checks the header before it: the payload's
# size, then its MD5 digest.
payload_of() {
    local skip
    skip=$(stat -c %s "$2")
    tail -c +$((skip + HEADER_SIZE + 1)) "$1" >"$3"
    cmp <(le64 "$(stat -c %s "$3")") <(bytes_at "$1" "$skip" 8) || return 1
    [ "$(bytes_at "$1" $((skip + 8)) 16 | od -An -tx1 | tr -d ' \n')" = "$(md5sum <"$3" | cut -c 1-32)" ]
}
