#!/usr/bin/env bats
# The licence agreement texts that the payload carries: UTF-8, CR LF on
# every line, wrapped for a terminal, the Russian text convertible to the
# 8-bit Cyrillic character sets the installer shows it in.

load helpers

EN=$SOURCE_DIR/payload/EULA
RU=$SOURCE_DIR/payload/EULA-RU

# crlf_ok FILE: every line, the last one included, ends in CR LF, and there
# is no CR anywhere else.
crlf_ok() {
    local size lines crs
    size=$(wc -c < "$1")
    lines=$(wc -l < "$1")
    crs=$(tr -cd '\r' < "$1" | wc -c)
    [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' ')" = 0d0a ] || return 1
    [ "$crs" -eq "$lines" ] || return 1
    [ "$(grep -c $'\r$' "$1")" -eq "$lines" ] || return 1
    [ "$size" -gt 0 ]
}

@test "both agreements are valid UTF-8" {
    iconv -f UTF-8 -t UTF-8 "$EN" > /dev/null
    iconv -f UTF-8 -t UTF-8 "$RU" > /dev/null
}

@test "the English agreement is plain ASCII" {
    run grep -c -P '[^\x00-\x7f]' "$EN"
    [ "$output" = 0 ]
}

@test "every line of both agreements ends in CR LF, the last one too" {
    crlf_ok "$EN"
    crlf_ok "$RU"
}

@test "the CR LF check itself refuses a missing last line end and a bare LF" {
    printf 'one\r\ntwo' > "$BATS_TEST_TMPDIR/a"
    printf 'one\r\ntwo\n' > "$BATS_TEST_TMPDIR/b"
    printf 'one\rtwo\r\n' > "$BATS_TEST_TMPDIR/c"
    run ! crlf_ok "$BATS_TEST_TMPDIR/a"
    run ! crlf_ok "$BATS_TEST_TMPDIR/b"
    run ! crlf_ok "$BATS_TEST_TMPDIR/c"
}

@test "sizes are in range: English about 7.4 kB, Russian about 15 kB" {
    local en_bytes en_lines ru_bytes ru_lines
    en_bytes=$(wc -c < "$EN")
    en_lines=$(wc -l < "$EN")
    ru_bytes=$(wc -c < "$RU")
    ru_lines=$(wc -l < "$RU")
    echo "EULA $en_bytes bytes, $en_lines lines; EULA-RU $ru_bytes bytes, $ru_lines lines"
    [ "$en_bytes" -ge 6800 ]
    [ "$en_bytes" -le 8200 ]
    [ "$en_lines" -ge 95 ]
    [ "$en_lines" -le 125 ]
    [ "$ru_bytes" -ge 14000 ]
    [ "$ru_bytes" -le 16500 ]
    [ "$ru_lines" -ge 130 ]
    [ "$ru_lines" -le 160 ]
}

@test "no line is wider than 78 characters, none has trailing blanks or tabs" {
    # In CP1251 every character is one byte, so awk's length counts characters.
    run awk '{ sub(/\r$/, "") } length($0) > 78 { print FILENAME ": " FNR }' \
        "$EN" <(iconv -f UTF-8 -t CP1251 "$RU")
    [ "$status" -eq 0 ]
    [ -z "$output" ]
    run grep -c -e $' \r$' -e $'\t' "$EN" "$RU"
    [ "$output" = "$EN:0"$'\n'"$RU:0" ]
}

@test "the Russian agreement converts to CP1251 and KOI8-R and back without loss" {
    local cs
    for cs in CP1251 KOI8-R; do
        iconv -f UTF-8 -t "$cs" "$RU" > "$BATS_TEST_TMPDIR/ru.$cs"
        iconv -f "$cs" -t UTF-8 "$BATS_TEST_TMPDIR/ru.$cs" > "$BATS_TEST_TMPDIR/back.$cs"
        cmp "$RU" "$BATS_TEST_TMPDIR/back.$cs"
    done
}

@test "the conversion check refuses characters that KOI8-R lacks" {
    printf '\302\253\320\224\302\273\r\n' > "$BATS_TEST_TMPDIR/guillemets"
    iconv -f UTF-8 -t CP1251 "$BATS_TEST_TMPDIR/guillemets" > /dev/null
    run iconv -f UTF-8 -t KOI8-R "$BATS_TEST_TMPDIR/guillemets"
    [ "$status" -ne 0 ]
}

@test "both agreements start with the product's name and have the same sixteen sections" {
    [ "$(head -n 2 "$EN")" = $'VORLAN CRESTA PROXY\r\nEND-USER LICENSE AGREEMENT\r' ]
    [ "$(head -n 1 "$RU")" = $'VORLAN CRESTA PROXY\r' ]
    run grep -o '^[0-9]*\. ' "$EN"
    local en_sections=$output
    run grep -o '^[0-9]*\. ' "$RU"
    [ "$output" = "$en_sections" ]
    [ "$(printf '%s\n' "$output" | tr -d '. ' | tr '\n' ' ')" = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 " ]
    # The name in the opening paragraph may be wrapped over two lines.
    tr -d '\r' < "$EN" | tr '\n' ' ' | grep -q 'software product Vorlan Cresta Proxy\.'
    tr -d '\r' < "$RU" | tr '\n' ' ' | grep -q 'программного продукта Vorlan Cresta Proxy\.'

}
