#!/usr/bin/env bash
# picrx as a user runs it: help, mistakes, a frame file fed in with a screenshot and a
# recording, a port that is taken, and the entry points in its dynamic symbol table.
# Usage: picrx_program_test.sh PICRX VISTREL
set -euo pipefail
picrx=$1
vistrel=$2
work=$(mktemp -d)
holder=
cleanup() {
    [ -n "$holder" ] && kill "$holder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$picrx" --help >"$work/help" || fail "--help exits non-zero"
for word in --port --listen --record --record-dir --feed --screenshot; do
    grep -q -- "$word" "$work/help" || fail "--help does not mention $word"
done

status=0
"$picrx" --port 70000 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "a bad port exits $status, not 2"
grep -q "port must be a number from 0 to 65535" "$work/err" || fail "bad port: $(cat "$work/err")"

"$vistrel" testcard "$work/card.png" >/dev/null
"$vistrel" encode "$work/card.png" -o "$work/card.frame" --callsign "TEST " >/dev/null

# A frame cut short is refused with its size named, and nothing is written.
head -c 100 "$work/card.frame" >"$work/cut.frame"
status=0
"$picrx" --port 0 --feed "$work/cut.frame" --screenshot "$work/cut.png" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a cut frame file exits $status, not 1"
grep -q "not a whole number of 41-byte units" "$work/err" || fail "cut frame: $(cat "$work/err")"
[ ! -e "$work/cut.png" ] || fail "a screenshot was written for a refused frame file"

# The frame fed in and recorded: one record of the 342 x 254 control.
"$picrx" --port 0 --record --record-dir "$work/movies" --feed "$work/card.frame" \
    --screenshot "$work/window.png"
[ "$(head -c 8 "$work/window.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "the screenshot is no PNG"
movies=("$work"/movies/Vistrel_*.tv)
[ ${#movies[@]} -eq 1 ] || fail "expected one movie, found ${movies[*]}"
[[ $(basename "${movies[0]}") =~ ^Vistrel_[0-9]{2}-[0-9]{2}-[0-9]{4}_[0-9]{6}\.tv$ ]] ||
    fail "movie name ${movies[0]}"
[ "$(stat -c %s "${movies[0]}")" -eq 347480 ] || fail "movie size $(stat -c %s "${movies[0]}")"

# A port that is taken: the reason on stderr, and the window goes on without a link.
"$picrx" --port 0 --verbose >"$work/holder.out" 2>/dev/null &
holder=$!
for _ in $(seq 100); do
    grep -q "listening on" "$work/holder.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/.*listening on .* port \([0-9]*\).*/\1/p' "$work/holder.out")
[ -n "$port" ] || fail "the first picrx did not say where it listens"
"$picrx" --port "$port" --screenshot "$work/second.png" 2>"$work/err" ||
    fail "a taken port ends picrx"
grep -q "Couldn't create socket!" "$work/err" || fail "taken port: $(cat "$work/err")"
grep -q "already in use" "$work/err" || fail "taken port: $(cat "$work/err")"

# --verbose names the bytes a demodulator left in a cut unit: 42 bytes then quiet drops the
# 42nd (the stream realigns), 30 bytes then a close drops all 30.
wait_out() {
    for _ in $(seq 100); do
        grep -q -- "$1" "$work/holder.out" && return 0
        sleep 0.1
    done
    fail "picrx --verbose never said '$1': $(cat "$work/holder.out")"
}
exec 3<>"/dev/tcp/127.0.0.1/$port"
head -c 42 /dev/zero >&3
wait_out "no data for 500 ms inside a unit: dropped its 1 byte, the next read starts a unit"
head -c 30 /dev/zero >&3
exec 3>&-
wait_out "the connection ended inside a unit: dropped its 30 bytes (31 bytes dropped, 1 realignment"

exported=$(nm -D --defined-only "$picrx")
for name in LZW UNLZW INITCOMCTL32 GETSYSFILEVER; do
    grep -Eq " T $name\$" <<<"$exported" || fail "$name is not exported"
done
echo "picrx program: all checks passed"
