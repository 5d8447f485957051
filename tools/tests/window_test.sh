#!/usr/bin/env bash
# tonebox's window tests on a private PulseAudio server with rigctld's dummy rig beside it, so
# that the keying buttons can be tried; nothing of the user's sound system is touched.
# Usage: window_test.sh TESTS VISTREL TONEBOX
set -euo pipefail
tests=$1
vistrel=$2
tonebox=$3

for tool in pulseaudio pactl rigctld rigctl python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "window_test: $tool is missing (./dev install adds it)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
rig_pid=
cleanup() {
    [ -n "$rig_pid" ] && kill "$rig_pid" 2>/dev/null
    stop_private_pulse 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config
source "$(dirname "$0")/../private_pulse.sh"
start_private_pulse "$work/pulse"

rig_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
rigctld -m 1 -P RIG -T 127.0.0.1 -t "$rig_port" >"$work/rigctld.log" 2>&1 &
rig_pid=$!
deadline=$((SECONDS + 10))
until [ "$(rigctl -m 2 -r "127.0.0.1:$rig_port" t 2>/dev/null | head -1)" = 0 ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
        echo "window_test: rigctld did not start" >&2
        exit 1
    fi
    sleep 0.1
done
# rigctld closes its rig when its last client leaves and reopens it for the next; a connection
# held open keeps it open.
exec 3<>"/dev/tcp/127.0.0.1/$rig_port"

VISTREL_TEST_RIG=rigctld:127.0.0.1:$rig_port "$tests" --vistrel="$vistrel" --tonebox="$tonebox"
