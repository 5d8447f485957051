#!/usr/bin/env bash
# The main job as far as the programs go today: the colour test card encoded into a frame string
# with the vistrel tool, the frame string taken apart again, and the picture a receiver will see.
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
echo "demo: files in $out: testcard.png (source), testcard.frame (frame string),"
echo "      testcard-preview.png (the picture a receiver decodes)"
