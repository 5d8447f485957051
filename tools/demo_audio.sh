#!/usr/bin/env bash
# The main job over sound: the colour test card from the sender through one tonebox, out as
# audio into a private sound server's null sink (the "radio"), recorded from its monitor by a
# second tonebox and delivered to the receiver. Nothing of the user's sound setup is touched.
#   With a display ($DISPLAY or $WAYLAND_DISPLAY): pictx -> tonebox -> sound -> tonebox -> picrx
#   with their windows; they stay up until you close them.
#   Without one: vistrel send and vistrel receive, two frames, compared with the sender's
#   preview pixel for pixel.
# Usage: demo_audio.sh BIN_DIR   (VISTREL_DEMO_DIR: where the results go, ./demo-output)
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
out=${VISTREL_DEMO_DIR:-$(pwd)/demo-output}/audio
rm -rf "$out"
mkdir -p "$out"
export XDG_CONFIG_HOME="$out/config"

pids=()
source "$here/private_pulse.sh"
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    stop_private_pulse
}
trap cleanup EXIT
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_for_line() {  # wait_for_line FILE TEXT SECONDS
    local deadline=$((SECONDS + $3))
    until grep -q "$2" "$1" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

echo "demo: a private sound server with a null sink 'air' stands in for the radio"
start_private_pulse "$out/pulse"
"$bin/vistrel" testcard "$out/testcard.png"
"$bin/vistrel" encode "$out/testcard.png" -o "$out/testcard.frame" --callsign "VISTREL " \
    --message "Vistrel demo" --preview "$out/testcard-preview.png" >/dev/null

rx_port=$(free_port)
tx_port=$(free_port)
start_modems() {
    "$bin/tonebox" --defaults --no-transmit --rx-port "$rx_port" --verbose \
        >"$out/tonebox-receive.log" 2>&1 &
    pids+=($!)
    "$bin/tonebox" --defaults --no-receive --port "$tx_port" --verbose \
        >"$out/tonebox-transmit.log" 2>&1 &
    pids+=($!)
    wait_for_line "$out/tonebox-transmit.log" 'playing on' 10
    wait_for_line "$out/tonebox-receive.log" 'recording' 10
    sleep 2  # streams just started on the server settle
    echo "demo: tonebox transmitting into 'air' (log $out/tonebox-transmit.log),"
    echo "      tonebox receiving its monitor (log $out/tonebox-receive.log)"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/picrx" ] && [ -x "$bin/pictx" ]; then
    "$bin/picrx" --port "$rx_port" --record --record-dir "$out/movies" --verbose &
    rx=$!
    pids+=("$rx")
    start_modems
    "$bin/pictx" --no-tonebox --tonebox-port "$tx_port" --picture "$out/testcard.png" \
        --transmit &
    tx=$!
    pids+=("$tx")
    echo "demo: pictx sends a frame every 14 s or so; close both windows to end the demo"
    wait "$rx" || true
    wait "$tx" || true
    echo "demo: picrx recorded the pictures it showed in $out/movies/"
    exit 0
fi

echo "demo: no display; vistrel send and vistrel receive stand in for the windows"
"$bin/vistrel" receive --port "$rx_port" --out "$out/received" --record --frames 2 &
rx=$!
pids+=("$rx")
start_modems
"$bin/vistrel" send "$out/testcard.png" --no-tonebox --tonebox-port "$tx_port" --frames 2 \
    --callsign "VISTREL " --message "Vistrel demo"
status=0
wait "$rx" || status=$?
echo
grep 'heard a modem frame' "$out/tonebox-receive.log" | sed 's/^tonebox: /receiving tonebox: /'
identical=0
for picture in "$out"/received/*.png; do
    [ -e "$picture" ] || continue
    if python3 "$here/same_pixels.py" "$picture" "$out/testcard-preview.png"; then
        identical=$((identical + 1))
    fi
done
echo
echo "demo: $identical received picture(s) pixel for pixel as the sender's preview:"
echo "      $out/received/, movie $(ls "$out"/received/*.tv 2>/dev/null || echo none)"
[ "$status" -eq 0 ] && [ "$identical" -eq 2 ]
