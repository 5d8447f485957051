#!/usr/bin/env bash
# Faults on the radio path, with real processes on loopback and tonebox at 1000 times the air
# rate: the receiver killed with SIGKILL while it records leaves only whole records, all
# readable; a recording that hits the file-size limit (as a full disk would) is reported and
# the receiver goes on receiving. And AV1 frames cross the same path and are recorded.
# Usage: faults_test.sh PICRX VISTREL TONEBOX
set -euo pipefail
picrx=$1
vistrel=$2
tonebox=$3
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null && { wait "$pid" 2>/dev/null || true; }
    done
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME="$work/config"  # picrx remembers its recorder here, not in ~/.config
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log; do
        echo "--- $log" >&2
        tail -n 5 "$log" >&2
    done
    exit 1
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# Waits up to 10 s for a pattern in a log.
wait_for() {
    for _ in $(seq 100); do
        grep -q "$1" "$2" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
"$vistrel" testcard "$work/card.png" >/dev/null

# Starts picrx recording into $1 under a file-size limit of $3 KiB, tonebox and a sender of
# $2 frames (the sender's own options after those); the picrx pid is left in rx.
station() {
    local dir=$1 frames=$2 limit=$3
    shift 3
    local rx_port tx_port
    rx_port=$(free_port)
    tx_port=$(free_port)
    bash -c 'ulimit -f "$1"; shift; exec "$@"' limit "$limit" \
        "$picrx" --port "$rx_port" --record --record-dir "$dir" --verbose >"$dir.log" 2>&1 &
    rx=$!
    pids+=("$rx")
    wait_for "listening on" "$dir.log" || fail "picrx did not listen"
    "$tonebox" --simulate --defaults --port "$tx_port" --rx-port "$rx_port" --speed 1000 --loss 0.1 \
        >"$dir-tonebox.log" 2>&1 &
    pids+=("$!")
    wait_for "listening for the sender" "$dir-tonebox.log" || fail "tonebox did not listen"
    "$vistrel" send "$work/card.png" --no-tonebox --tonebox-port "$tx_port" --frames "$frames" \
        --speed 1000 "$@" >"$dir-send.log" 2>&1 &
    pids+=("$!")
}

# SIGKILL mid-recording: every record the file holds reads back.
mkdir "$work/killed"
station "$work/killed" 200 unlimited
wait_for "good frame 8 shown" "$work/killed.log" || fail "no 8 good frames"
kill -KILL "$rx"
wait "$rx" 2>/dev/null || true
tv=$(ls "$work"/killed/*.tv)
"$vistrel" tv-info "$tv" >"$work/info" || fail "tv-info refuses the killed recording"
records=$(sed -n 's/^records: *\([0-9]*\) .*/\1/p' "$work/info")
[ "${records:-0}" -ge 8 ] || fail "only ${records:-0} records after 8 good frames"
for i in 1 "$records"; do
    "$vistrel" tv-extract "$tv" --frame "$i" -o "$work/record.png" || fail "record $i unreadable"
done

# A file-size limit of 1 MiB: three whole records fit, the fourth is refused. The limit raises
# SIGXFSZ on the write, which must not end the receiver.
mkdir "$work/limited"
station "$work/limited" 8 1024
wait_for "good frame 6 shown" "$work/limited.log" || fail "the receiver stopped at the limit"
kill -0 "$rx" 2>/dev/null || fail "the receiver ended at the limit"
grep -q "Recording stopped: cannot write" "$work/limited.log" || fail "the limit was not reported"
"$vistrel" tv-info "$work"/limited/*.tv >"$work/info" || fail "tv-info refuses the recording"
grep -q "records:  3 of" "$work/info" && grep -q "whole records only" "$work/info" ||
    fail "the limited recording is not 3 whole records: $(cat "$work/info")"

# AV1 frames: vistrel send -> tonebox (10 % of the units lost) -> picrx, shown and recorded.
mkdir "$work/av1"
station "$work/av1" 4 unlimited --codec av1 --size 128 --quality 24
wait_for "good frame 3 shown" "$work/av1.log" || fail "no AV1 frames shown"
grep -q "AV1 compression" "$work/av1.log" "$work/av1-send.log" || fail "the frames were not AV1"
kill -TERM "$rx"
wait "$rx" 2>/dev/null || true
"$vistrel" tv-info "$work"/av1/*.tv >"$work/info" || fail "tv-info refuses the AV1 recording"
records=$(sed -n 's/^records: *\([0-9]*\) .*/\1/p' "$work/info")
[ "${records:-0}" -ge 3 ] || fail "only ${records:-0} AV1 records: $(cat "$work/info")"
"$vistrel" tv-extract "$work"/av1/*.tv --frame 1 -o "$work/av1.png" || fail "AV1 record unreadable"
echo "faults: pass"
