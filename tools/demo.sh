#!/usr/bin/env bash
# The main job as far as the programs go today: the colour test card encoded into frame strings,
# sent through a simulated radio channel with 5 % of the units lost, and received.
set -euo pipefail
bin=$1
out=${VISTREL_DEMO_DIR:-$(pwd)/demo-output}
mkdir -p "$out"

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
echo "demo: source $out/testcard.png"
echo "      frame string $out/testcard.frame"
echo "      received pictures $out/received/frame-000[1-3].png (PSNR above: 'identical' means"
echo "      bit for bit the sender's preview), movie $out/received/received.tv"
