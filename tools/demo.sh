#!/usr/bin/env bash
# The main job: the colour test card encoded into frame strings, sent through a simulated radio
# channel with 5 % of the units lost, and received.
#   With a display ($DISPLAY or $WAYLAND_DISPLAY): picrx and pictx side by side, tonebox between
#   them at ten times the air rate; the windows stay up until you close them.
#   Without one: the same chain with the command-line stations (vistrel receive and send), and
#   picrx's window drawn to a PNG.
# Usage: demo.sh BIN_DIR   (VISTREL_DEMO_DIR: where the results go, ./demo-output by default)
set -euo pipefail
bin=$1
out=${VISTREL_DEMO_DIR:-$(pwd)/demo-output}
mkdir -p "$out"
# The windows remember their settings; the demo's own stay with its results, and the user's
# are neither read nor changed.
export XDG_CONFIG_HOME="$out/config"

loss=0.05
speed=10
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# A port nobody listens on; the ports 998 and 999 need privileges on Linux.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to $2 seconds for process $1 to end; true if it did.
wait_for() {
    local pid=$1 deadline=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

"$bin/vistrel" testcard "$out/testcard.png"
echo "demo: encoding the test card (64 x 64, CDF 9/7, the sender's start-up settings)"
"$bin/vistrel" encode "$out/testcard.png" -o "$out/testcard.frame" --callsign "VISTREL " \
    --message "Vistrel demo" --preview "$out/testcard-preview.png"
echo
"$bin/vistrel" info "$out/testcard.frame"
echo
echo "demo: three frames through the simulated channel, 5 % of the units lost"
"$bin/vistrel" simulate "$out/testcard.png" --callsign "VISTREL " --frames 3 --loss 5% \
    --seed 1 --out "$out/received"
echo

rx_port=$(free_port)
tx_port=$(free_port)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/picrx" ] && [ -x "$bin/pictx" ]; then
    echo "demo: picrx and pictx side by side; tonebox between them loses 5 % of the units and"
    echo "      plays ${speed} times faster than the air. Close both windows to end the demo."
    "$bin/picrx" --port "$rx_port" --record --record-dir "$out/movies" --verbose &
    rx=$!
    pids+=("$rx")
    sleep 1
    "$bin/tonebox" --simulate --port "$tx_port" --rx-port "$rx_port" --loss "$loss" --speed "$speed" &
    pids+=($!)
    sleep 0.5
    "$bin/pictx" --no-tonebox --tonebox-port "$tx_port" --picture "$out/testcard.png" \
        --transmit &
    tx=$!
    pids+=("$tx")
    wait "$rx" || true
    wait "$tx" || true
    echo
    echo "demo: picrx recorded the pictures it showed in $out/movies/"
    exit 0
fi

echo "demo: no display; the receiving and sending stations without windows, tonebox between"
echo "      them losing 5 % of the units and playing ${speed} times faster than the air"
live=$out/received-live
rm -rf "$live"
"$bin/vistrel" receive --port "$rx_port" --out "$live" --record --frames 2 &
rx=$!
pids+=("$rx")
sleep 0.5
"$bin/tonebox" --simulate --port "$tx_port" --rx-port "$rx_port" --loss "$loss" --speed "$speed" &
pids+=($!)
sleep 0.5
"$bin/vistrel" send "$out/testcard.png" --no-tonebox --tonebox-port "$tx_port" --frames 2 \
    --speed "$speed" --callsign "VISTREL " --message "Vistrel demo"
# A frame lost beyond repair never comes: the receiver then ends on the interrupt.
wait_for "$rx" 10 || kill -INT "$rx"
wait "$rx" || true

if [ -x "$bin/picrx" ]; then
    QT_QPA_PLATFORM=offscreen "$bin/picrx" --port 0 --feed "$out/testcard.frame" \
        --screenshot "$out/picrx-window.png" 2>/dev/null
fi
echo
echo "demo: source $out/testcard.png"
echo "      frame string $out/testcard.frame"
echo "      simulated: $out/received/frame-000[1-3].png (PSNR above: 'identical' means bit for"
echo "      bit the sender's preview), movie $out/received/received.tv"
echo "      over TCP and tonebox: $live/*.png, movie $(ls "$live"/*.tv 2>/dev/null || echo none)"
[ -e "$out/picrx-window.png" ] &&
    echo "      picrx's window after the test card's frame: $out/picrx-window.png"
exit 0
