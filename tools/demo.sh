#!/usr/bin/env bash
# The main job as far as the programs go today: bytes through the codec library's LZW coder
# with the vistrel tool, and back.
set -euo pipefail
bin=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat "$root/README.md" "$root/codec/"*.h >"$work/sample"
"$bin/vistrel" lzw "$work/sample" "$work/sample.lzw"
"$bin/vistrel" unlzw "$work/sample.lzw" "$work/sample.out"
if cmp -s "$work/sample" "$work/sample.out"; then
    echo "demo: the round trip restored all $(stat -c %s "$work/sample") bytes"
else
    echo "demo: the round trip changed the bytes" >&2
    exit 1
fi
