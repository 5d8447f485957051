#!/usr/bin/env bash
# What a receiving tonebox costs in CPU: a receive-only tonebox on a private PulseAudio server,
# idle (silence) for SECONDS, then receiving the modem's frames played into the sound server
# for SECONDS. Prints the CPU time it used over each stretch as a share of one core.
# With --window, tonebox shows its window (on a private Xvfb display when Xvfb is there,
# otherwise on Qt's offscreen platform), so the two runs tell what the window costs.
# Usage: scripts/tonebox_cpu.sh BIN_DIR [SECONDS] [--window]   (30 s by default)
set -euo pipefail
bin=$1
seconds=${2:-30}
window=${3:-}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
source "$here/tools/private_pulse.sh"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    stop_private_pulse
    rm -rf "$work"
}
trap cleanup EXIT
start_private_pulse "$work/pulse"
show=()
if [ "$window" = --window ]; then
    show=(--window)
    if command -v Xvfb >/dev/null; then
        display=:$((90 + RANDOM % 100))
        Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
        pids+=($!)
        sleep 1
        export DISPLAY=$display
        echo "window on the Xvfb display $display"
    else
        export QT_QPA_PLATFORM=offscreen
        echo "window on Qt's offscreen platform (no Xvfb)"
    fi
fi

"$bin/vistrel" testcard "$work/card.png"
"$bin/vistrel" encode "$work/card.png" -o "$work/card.frame" >/dev/null
"$bin/vistrel" modulate "$work/card.frame" -o "$work/card.wav" >/dev/null

"$bin/tonebox" --defaults --no-transmit --rx-port 9 --verbose "${show[@]}" >"$work/rx.log" 2>&1 &
rx=$!
pids+=("$rx")
sleep 3
ticks() { awk '{ print $14 + $15 }' "/proc/$rx/stat"; }
hz=$(getconf CLK_TCK)
measure() {  # measure LABEL: CPU share over the next $seconds
    local t0 c0 t1 c1
    t0=$(date +%s.%N)
    c0=$(ticks)
    sleep "$seconds"
    c1=$(ticks)
    t1=$(date +%s.%N)
    python3 -c "print(f'$1: {100 * ($c1 - $c0) / $hz / ($t1 - $t0):.2f} % of one core over {$t1 - $t0:.0f} s')"
}
measure "idle (silence)"
( while true; do paplay "$work/card.wav"; done ) &
pids+=($!)
sleep 1
frames0=$(grep -c 'heard a modem frame' "$work/rx.log" || true)
measure "receiving (modem frames back to back)"
frames1=$(grep -c 'heard a modem frame' "$work/rx.log" || true)
echo "modem frames heard while measuring: $((frames1 - frames0))"
