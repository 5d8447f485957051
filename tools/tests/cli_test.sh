#!/usr/bin/env bash
# The vistrel command line as a user meets it: results, exit statuses, and files left alone on
# failure.
set -u
vistrel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
status() { "$@" >/dev/null 2>&1; echo $?; }
has() { grep -q -- "$2" <<<"$1"; }  # has TEXT PATTERN

head -c 70000 /dev/urandom >"$work/random"
yes 'CQ CQ de Vistrel' | head -c 200000 >"$work/text"
for f in random text; do
    "$vistrel" lzw "$work/$f" "$work/$f.lzw" >/dev/null
    "$vistrel" unlzw "$work/$f.lzw" "$work/$f.out" >/dev/null
    check "lzw then unlzw restores $f" cmp -s "$work/$f" "$work/$f.out"
done
check "text compresses" test "$(stat -c %s "$work/text.lzw")" -lt 20000

check "--help exits 0" test "$(status "$vistrel" --help)" -eq 0
check "help mentions lzw" bash -c "'$vistrel' --help | grep -q 'lzw IN OUT'"
check "no command exits 2" test "$(status "$vistrel")" -eq 2
check "unknown command exits 2" test "$(status "$vistrel" frobnicate)" -eq 2
check "missing OUT exits 2" test "$(status "$vistrel" lzw "$work/text")" -eq 2

echo keep >"$work/keep"
check "missing input exits 1" test "$(status "$vistrel" lzw "$work/nothing" "$work/keep")" -eq 1
check "failed run leaves OUT alone" grep -q keep "$work/keep"
check "unwritable OUT exits 1" \
    test "$(status "$vistrel" lzw "$work/text" "$work/no/such/dir/out")" -eq 1
check "error names the file" \
    bash -c "'$vistrel' lzw '$work/nothing' '$work/x' 2>&1 | grep -q nothing"

# Pictures into frame strings.
"$vistrel" testcard "$work/card.png"
check "testcard writes a PNG" bash -c "head -c 8 '$work/card.png' | grep -q PNG"
out=$("$vistrel" encode "$work/card.png" -o "$work/card.frame" --callsign "PA0VIS " \
    --message "hello" --counter 513 --preview "$work/preview.png")
check "encode prints the status line" \
    has "$out" '^64x64 pixels,  CDF97 subband compression,  [0-9]*\.[0-9] seconds/frame$'
check "frame string is whole units" test $(($(stat -c %s "$work/card.frame") % 41)) -eq 0
check "preview is a PNG" bash -c "head -c 8 '$work/preview.png' | grep -q PNG"
info=$("$vistrel" info "$work/card.frame")
check "info shows the label" has "$info" 'label: *"PA0VIS card.png  '
check "info shows the counter" has "$info" 'frame counter 513'
check "info finds the frame intact" has "$info" 'every codeword and the CRC are good'
check "info shows the message" has "$info" 'message: *"hello  '
check "info counts the units" has "$info" 'packets, 1[0-9] header blocks, [0-9]* message blocks'
"$vistrel" encode "$work/card.png" -o "$work/haar.frame" --size 48 --wavelet haar --red 2 \
    --blue 2 --quantiser 30 --threshold 5 --syndromes 20 --preserve-aspect >/dev/null
info=$("$vistrel" info "$work/haar.frame")
check "options reach the header" has "$info" '48 x 48, Haar (H), red factor 2, blue factor 2, step 46'
check "syndromes set t" has "$info" 't 10, k 235'

check "too large a frame exits 3" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/big.frame" --size 256)" -eq 3
check "too large a frame writes nothing" test ! -e "$work/big.frame"
err=$("$vistrel" encode "$work/card.png" -o "$work/big.frame" --size 256 2>&1 >/dev/null)
check "size check lines on stderr" has "$err" '^   exceeds maximum of  9945$'
check "unreadable picture exits 2" \
    test "$(status "$vistrel" encode "$work/text" -o "$work/t.frame")" -eq 2
check "bad option value exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/t.frame" --size 100)" -eq 2
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --quantiser 99 2>&1)
check "bad option names the problem" has "$err" 'quantiser must be a whole number from 1 to 65'
check "unknown option exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/t.frame" --colour red)" -eq 2
check "missing -o exits 2" test "$(status "$vistrel" encode "$work/card.png")" -eq 2
check "info on a non-frame exits 2" test "$(status "$vistrel" info "$work/text")" -eq 2

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
