#!/usr/bin/env bash
# picrx as a user runs it: help, mistakes, a frame file fed in with a screenshot and a
# recording, a port that is taken, the remembered recorder settings, and the entry points in its
# dynamic symbol table.
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
# Remembered settings go to a folder of the test's own, never the user's.
export XDG_CONFIG_HOME="$work/config"
conf="$XDG_CONFIG_HOME/vistrel/picrx.conf"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$picrx" --help >"$work/help" || fail "--help exits non-zero"
for word in --port --listen --record --record-dir --feed --screenshot --defaults picrx.conf; do
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
[ ! -e "$conf" ] || fail "a screenshot run wrote $conf"

# Remembered: --record and --record-dir are written at start, and a plain start records there.
# picrx runs until killed; $1 is what it must print before the checks go on.
run_picrx() {
    local wait_for=$1
    shift
    # Gone before the start: the child opens its redirections in its own time, and the last
    # run's words must not be taken for this one's.
    rm -f "$work/run.out" "$work/run.err"
    "$picrx" --port 0 --verbose "$@" >"$work/run.out" 2>"$work/run.err" &
    holder=$!
    for _ in $(seq 100); do
        grep -q "$wait_for" "$work/run.out" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "picrx $* did not print '$wait_for': $(cat "$work/run.err")"
}
stop_picrx() {
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null || true
    holder=
}
run_picrx "listening on" --record --record-dir "$work/kept"
stop_picrx
grep -qx "record=true" "$conf" || fail "--record not remembered: $(cat "$conf")"
grep -qx "record_dir=$work/kept" "$conf" || fail "--record-dir not remembered: $(cat "$conf")"
run_picrx "good frame" --feed "$work/card.frame"
stop_picrx
kept=("$work"/kept/Vistrel_*.tv)
[ -e "${kept[0]}" ] || fail "a plain start did not record into the remembered folder"
# Qt may add notes of its own on stderr; picrx's lines start with its name.
! grep -q "^picrx:" "$work/run.err" || fail "a good file said: $(cat "$work/run.err")"
rm -f "$work"/kept/*.tv

# --defaults does not read the file: no recording.
run_picrx "good frame" --defaults --feed "$work/card.frame"
stop_picrx
[ -z "$(ls "$work/kept")" ] || fail "--defaults recorded as the file says"
grep -qx "record=true" "$conf" || fail "--defaults without a change rewrote the file"

# A damaged file: one line on stderr, the built-in settings, and the window works.
printf '\x7fELF\x02\x01\x01\x00\x00' >"$conf"
run_picrx "good frame" --feed "$work/card.frame"
stop_picrx
[ "$(grep -c "^picrx:" "$work/run.err")" -eq 1 ] || fail "damaged file: $(cat "$work/run.err")"
grep -q "^picrx: ignoring the settings file $conf (not a text file)" "$work/run.err" ||
    fail "damaged file: $(cat "$work/run.err")"
[ -z "$(ls "$work/kept")" ] || fail "a damaged file still recorded"

# An out-of-range value: named on stderr, the other one kept.
printf '[picrx]\nrecord_dir=%s\nrecord=maybe\n' "$work/kept" >"$conf"
run_picrx "listening on"
stop_picrx
grep -q "^picrx: settings file $conf: record out of range" "$work/run.err" ||
    fail "bad value: $(cat "$work/run.err")"

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
