#!/usr/bin/env bash
# tonebox on a real sound system: a private PulseAudio server with a null sink stands in for
# the radio, and rigctld's dummy rig for the transmitter.
#   - the test card through vistrel send -> tonebox -> the null sink -> its monitor -> a
#     receive-only tonebox -> vistrel receive, arriving pixel for pixel as the sender's preview,
#     with the keying's lead and tail measured through the sound system;
#   - the transmitter unkeyed on "stop", "exit", the sender's link lost, SIGINT, SIGTERM,
#     SIGHUP, the transmit time-out (and no keying again until "start"), and the sound server
#     dying mid-frame (and the sound card opened again when it is back);
#   - a settings file with bad lines, and a rig that does not answer.
# Usage: station_test.sh VISTREL TONEBOX
set -euo pipefail
vistrel=$1
tonebox=$2

for tool in pulseaudio pactl rigctld rigctl python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "station_test: $tool is missing (./dev install adds it)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
failures=0
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # The server this test started, by its pid, and nothing else.
    stop_private_pulse 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -n "${STATION_TEST_KEEP:-}" ]; then echo "station_test: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to $2 seconds for the command in $1 to succeed.
wait_until() {
    local deadline=$((SECONDS + $2))
    until eval "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# Everything below talks to the private server only.
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config
source "$(dirname "$0")/../private_pulse.sh"
start_pulse() { start_private_pulse "$work/pulse" || exit 1; }
stop_pulse() { stop_private_pulse; }
start_pulse

rig_port=$(free_port)
rigctld -m 1 -P RIG -T 127.0.0.1 -t "$rig_port" >"$work/rigctld.log" 2>&1 &
pids+=($!)
ptt() { rigctl -m 2 -r "127.0.0.1:$rig_port" t 2>/dev/null | head -1; }
wait_until '[ "$(ptt)" = 0 ]' 10 || { echo "station_test: rigctld did not start" >&2; exit 1; }
# rigctld closes its rig when its last client leaves and reopens it for the next; a tonebox
# connecting in between would be refused. A connection held open keeps the rig open.
exec 3<>"/dev/tcp/127.0.0.1/$rig_port"
keyed() { [ "$(ptt)" = 1 ]; }
unkeyed() { [ "$(ptt)" = 0 ]; }
rig=rigctld:127.0.0.1:$rig_port

"$vistrel" testcard "$work/card.png"
"$vistrel" encode "$work/card.png" -o "$work/card.frame" --preview "$work/preview.png" >/dev/null
"$vistrel" encode "$work/card.png" -o "$work/small.frame" --size 48 >/dev/null

# Starts a transmitting tonebox keyed through rigctld; sets tb (pid), tb_log and tb_port.
start_transmitter() {  # start_transmitter NAME [options...]
    local name=$1
    shift
    tb_log=$work/$name.log
    "$tonebox" --defaults --no-receive --port 0 --ptt "$rig" --verbose "$@" >"$tb_log" 2>&1 &
    tb=$!
    pids+=("$tb")
    wait_until "grep -q 'playing on' '$tb_log' && grep -q 'listening for the sender\\|tune:' '$tb_log'" 10 ||
        { echo "station_test: tonebox $name did not start:" >&2; cat "$tb_log" >&2; exit 1; }
    tb_port=$(grep -o 'sender on 127.0.0.1:[0-9]*' "$tb_log" | head -1 | cut -d: -f2 || true)
}

# A sender speaking the link's protocol: each step is "send:FILE", "text:WORDS", "sleep:S" or
# "close"; runs in the background.
sender() {  # sender PORT STEP...
    python3 - "$@" <<'EOF' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
for step in sys.argv[2:]:
    kind, _, arg = step.partition(":")
    if kind == "send":
        s.sendall(open(arg, "rb").read())
    elif kind == "text":
        s.sendall(arg.encode())
    elif kind == "sleep":
        time.sleep(float(arg))
    elif kind == "close":
        s.close()
        break
else:
    time.sleep(30)
EOF
    pids+=($!)
}

ended() { ! kill -0 "$1" 2>/dev/null; }

# --- the picture through the sound system ----------------------------------------------------
rx_port=$(free_port)
"$vistrel" receive --port "$rx_port" --out "$work/rx" --frames 1 >"$work/receive.log" 2>&1 &
rx=$!
pids+=("$rx")
"$tonebox" --defaults --no-transmit --rx-port "$rx_port" --verbose >"$work/tbrx.log" 2>&1 &
tbrx=$!
pids+=("$tbrx")
start_transmitter picture
wait_until "grep -q 'recording' '$work/tbrx.log'" 10
# Streams that have just started on the sound server glitch for a moment: a second to settle.
sleep 2
"$vistrel" send "$work/card.png" --no-tonebox --tonebox-port "$tb_port" >"$work/send.log" 2>&1 &
send=$!
pids+=("$send")
check "keyed while the frame string is sent" wait_until keyed 5
wait "$send" || true
check "the picture arrives" wait_until "ended $rx" 20
check "unkeyed after the frame string" wait_until unkeyed 3
kill -TERM "$tb" 2>/dev/null || true
# The keying's timing with a tone alone (nothing held for a next frame string).
start_transmitter tune --tune 1
check "the tone ends tonebox" wait_until "ended $tb" 10
sleep 0.7
kill -TERM "$tbrx" 2>/dev/null || true
wait_until "ended $tbrx" 5 || true
pixels_equal() { python3 "$(dirname "$0")/../same_pixels.py" "$@"; }
received=$(ls "$work"/rx/*.png 2>/dev/null | head -1)
check "received pixel for pixel as the sender's preview" \
    pixels_equal "${received:-/nonexistent}" "$work/preview.png"
check "units after the receiver left are counted, not lost silently" \
    grep -q 'not delivered' "$work/tbrx.log"

# The keying's timing through the sound system: the transmitting tonebox says when it keyed
# (K) and unkeyed (U); the receiving one when sound began (A: the first modem frame, or the
# tone) and ended (B) in what it recorded. The lead is A - K, the tail U - B. Printed for the record; the machine's load
# decides them too, so they are not held to a figure here.
lead_tail() {
    python3 - "$@" <<'EOF'
import re, sys
tx, rx, what = open(sys.argv[1]).read(), open(sys.argv[2]).read(), sys.argv[3]
keyed = [float(x) for x in re.findall(r"keyed at ([0-9.]+) \(the keying took", tx)]
unkeyed = [float(x) for x in re.findall(r"unkeyed at ([0-9.]+)", tx)]
asked = [float(x) for x in re.findall(r"unkeyed at [0-9.]+ \(asked at ([0-9.]+)", tx)]
# Sound begins with the first modem frame's sync burst, or with the tone. (A stream being
# opened elsewhere on the sound server can click: "sound began" alone is not taken for it.)
frames = [float(x) for x in re.findall(r"heard a modem frame at ([0-9.]+)", rx)]
sounds = [float(x) for x in re.findall(r"sound began at ([0-9.]+)", rx)]
ended = [float(x) for x in re.findall(r"sound ended at ([0-9.]+)", rx)]
if not keyed or not unkeyed:
    sys.exit(f"timing ({what}): the transmitter's log has no keying")
k, u = keyed[0], unkeyed[-1]
a = min((x for x in frames if k - 1 < x < u),
        default=min((x for x in sounds if k - 1 < x < u), default=None))
b = max((x for x in ended if k < x < u + 1), default=None)
if a is None or b is None:
    sys.exit(f"timing ({what}): no sound heard")
print(f"timing ({what}): lead {1000 * (a - k):.1f} ms (set 150), tail {1000 * (u - b):.1f} ms"
      f" (unkey asked {1000 * (asked[-1] - b):.1f} ms after the sound ended)")
sys.exit(0 if a > k and u > b else 1)
EOF
}
check "the picture's sound came after the keying and ended before the unkeying" \
    lead_tail "$work/picture.log" "$work/tbrx.log" "picture, held 1000 ms for a next string"
check "the tone's sound came after the keying and ended before the unkeying" \
    lead_tail "$work/tune.log" "$work/tbrx.log" "tone, tail set 50"

# --- the transmitter unkeyed on every way out ------------------------------------------------
for signal in TERM INT HUP; do
    start_transmitter "signal-$signal" --tune 60
    check "keyed by --tune" wait_until keyed 5
    kill "-$signal" "$tb"
    check "SIG$signal ends tonebox" wait_until "ended $tb" 5
    check "SIG$signal leaves the transmitter unkeyed" unkeyed
done

start_transmitter stop
sender "$tb_port" text:start send:"$work/card.frame" sleep:1.5 text:stop sleep:30
check "keyed for the frame string" wait_until keyed 5
check "\"stop\" unkeys" wait_until unkeyed 3
check "\"stop\" drops the queue" wait_until "grep -q 'the queue dropped' '$tb_log'" 3
kill "$tb"

start_transmitter exit
sender "$tb_port" text:start send:"$work/card.frame" sleep:1.5 text:exit sleep:30
check "keyed for the frame string" wait_until keyed 5
check "\"exit\" ends tonebox" wait_until "ended $tb" 5
check "\"exit\" unkeys" unkeyed

start_transmitter link
sender "$tb_port" text:start send:"$work/card.frame" sleep:1.5 close
check "keyed for the frame string" wait_until keyed 5
check "the sender's link lost unkeys" wait_until unkeyed 3
check "tonebox stays up for the next sender" kill -0 "$tb"
kill "$tb"

start_transmitter timeout --tx-timeout 2
sender "$tb_port" text:start send:"$work/card.frame" sleep:3.5 send:"$work/small.frame" \
    sleep:1.5 text:start send:"$work/small.frame" sleep:30
check "keyed for the frame string" wait_until keyed 5
check "the time-out unkeys" wait_until "grep -q 'transmit time-out' '$tb_log'" 5
check "unkeyed after the time-out" unkeyed
check "no keying after the time-out until \"start\"" \
    wait_until "grep -q 'dropped: the transmit time-out holds' '$tb_log'" 5
check "still unkeyed" unkeyed
check "keyed again after \"start\"" wait_until keyed 5
kill "$tb"
wait_until unkeyed 3 || true

# Faster than the mode carries: a string still waiting whole is dropped for a newer one, and
# said so; a string the sender stopped in the middle of goes out as it is after a pause.
start_transmitter robust --mode robust
head -c $((41 * 20)) "$work/small.frame" >"$work/half.frame"
sender "$tb_port" text:start send:"$work/card.frame" send:"$work/small.frame" \
    send:"$work/card.frame" sleep:0.2 send:"$work/half.frame" sleep:30
check "a waiting string is dropped whole for a newer one" \
    wait_until "grep -q 'dropped whole: the robust mode is slower' '$tb_log'" 5
check "a string cut short goes out after a pause" \
    wait_until "grep -q 'frame string of 20 units queued' '$tb_log'" 5
kill "$tb"
wait_until unkeyed 3 || true

start_transmitter vanish
sender "$tb_port" text:start send:"$work/card.frame" sleep:30
check "keyed for the frame string" wait_until keyed 5
sleep 1
stop_pulse
check "the sound server gone mid-frame is seen" \
    wait_until "grep -q 'unplugged\\|sound card:' '$tb_log'" 10
check "and the transmitter unkeyed" wait_until unkeyed 3
check "tonebox keeps running" kill -0 "$tb"
start_pulse
check "the sound card opened again when it is back" \
    wait_until "grep -q 'sound card open again' '$tb_log'" 15
kill "$tb"

# --- settings and a rig that does not answer -------------------------------------------------
mkdir -p "$work/config/vistrel"
printf '[tonebox]\nptt = bogus\ncolour = red\ntx-level = 3\nmode = robust\n' \
    >"$work/config/vistrel/tonebox.conf"
"$tonebox" --no-receive --port 0 >"$work/config.log" 2>&1 &
cfg=$!
pids+=("$cfg")
wait_until "grep -q 'listening for the sender' '$work/config.log'" 10 || true
check "a bad setting is named by its line" grep -q 'tonebox.conf:2: ptt = bogus' "$work/config.log"
check "an unknown setting is named by its line" \
    grep -q "tonebox.conf:3: unknown setting 'colour'" "$work/config.log"
check "the good settings are read" grep -q 'mode robust' "$work/config.log"
check "nothing keyed by a bad file" unkeyed
kill "$cfg"

dead_port=$(free_port)
set +e
timeout 20 "$tonebox" --defaults --no-receive --port 0 --ptt "rigctld:127.0.0.1:$dead_port" \
    >"$work/dead.log" 2>&1
status=$?
set -e
check "a rig that does not answer is told, and tonebox ends" \
    test "$status" = 1 -a -n "$(grep 'cannot key the transmitter' "$work/dead.log")"

if [ "$failures" -gt 0 ]; then
    for log in "$work"/*.log; do
        echo "--- $log"
        grep -v '^ALSA lib\|^Cannot connect\|^jack\|^Jack' "$log" | tail -40
    done
    echo "station_test: $failures failed"
    exit 1
fi
echo "station_test: all passed"
