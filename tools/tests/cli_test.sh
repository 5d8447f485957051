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

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
