#!/usr/bin/env bash
# The vistrel command line as a user meets it: results, exit statuses, and files left alone on
# failure.
set -u
vistrel=$1
tonebox=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
status() { "$@" >/dev/null 2>&1; echo $?; }
has() { grep -q -- "$2" <<<"$1"; }  # has TEXT PATTERN

head -c 70000 /dev/urandom >"$work/random"
yes 'CQ CQ de Vistrel' | head -c 200000 >"$work/text"
for f in random text; do
    "$vistrel" lzw "$work/$f" "$work/$f.lzw" >/dev/null
    "$vistrel" unlzw "$work/$f.lzw" "$work/$f.out" >/dev/null
    check "lzw then unlzw restores $f" cmp -s "$work/$f" "$work/$f.out"
done
check "text compresses" test "$(stat -c %s "$work/text.lzw")" -lt 20000

check "--help exits 0" test "$(status "$vistrel" --help)" -eq 0
check "help mentions lzw" bash -c "'$vistrel' --help | grep -q 'lzw IN OUT'"
check "no command exits 2" test "$(status "$vistrel")" -eq 2
check "unknown command exits 2" test "$(status "$vistrel" frobnicate)" -eq 2
check "missing OUT exits 2" test "$(status "$vistrel" lzw "$work/text")" -eq 2

echo keep >"$work/keep"
check "missing input exits 1" test "$(status "$vistrel" lzw "$work/nothing" "$work/keep")" -eq 1
check "failed run leaves OUT alone" grep -q keep "$work/keep"
check "unwritable OUT exits 1" \
    test "$(status "$vistrel" lzw "$work/text" "$work/no/such/dir/out")" -eq 1
check "error names the file" \
    bash -c "'$vistrel' lzw '$work/nothing' '$work/x' 2>&1 | grep -q nothing"

# Pictures into frame strings.
"$vistrel" testcard "$work/card.png"
check "testcard writes a PNG" bash -c "head -c 8 '$work/card.png' | grep -q PNG"
out=$("$vistrel" encode "$work/card.png" -o "$work/card.frame" --callsign "PA0VIS " \
    --message "hello" --counter 513 --preview "$work/preview.png")
check "encode prints the status line" \
    has "$out" '^64x64 pixels,  CDF97 subband compression,  [0-9]*\.[0-9] seconds/frame$'
check "frame string is whole units" test $(($(stat -c %s "$work/card.frame") % 41)) -eq 0
check "preview is a PNG" bash -c "head -c 8 '$work/preview.png' | grep -q PNG"
info=$("$vistrel" info "$work/card.frame")
check "info shows the label" has "$info" 'label: *"PA0VIS card.png  '
check "info shows the counter" has "$info" 'frame counter 513'
check "info finds the frame intact" has "$info" 'every codeword and the CRC are good'
check "info shows the message" has "$info" 'message: *"hello  '
check "info counts the units" has "$info" 'packets, 1[0-9] header blocks, [0-9]* message blocks'
"$vistrel" encode "$work/card.png" -o "$work/haar.frame" --size 48 --wavelet haar --red 2 \
    --blue 2 --quantiser 30 --threshold 5 --syndromes 20 --preserve-aspect >/dev/null
info=$("$vistrel" info "$work/haar.frame")
check "options reach the header" has "$info" '48 x 48, Haar (H), red factor 2, blue factor 2, step 46'
check "syndromes set t" has "$info" 't 10, k 235'

check "too large a frame exits 3" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/big.frame" --size 256)" -eq 3
check "too large a frame writes nothing" test ! -e "$work/big.frame"
err=$("$vistrel" encode "$work/card.png" -o "$work/big.frame" --size 256 2>&1 >/dev/null)
check "size check lines on stderr" has "$err" '^   exceeds maximum of  9945$'
check "unreadable picture exits 2" \
    test "$(status "$vistrel" encode "$work/text" -o "$work/t.frame")" -eq 2
check "bad option value exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/t.frame" --size 100)" -eq 2
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --quantiser 99 2>&1)
check "bad option names the problem" has "$err" 'quantiser must be a whole number from 1 to 65'
check "unknown option exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/t.frame" --colour red)" -eq 2
check "missing -o exits 2" test "$(status "$vistrel" encode "$work/card.png")" -eq 2
check "info on a non-frame exits 2" test "$(status "$vistrel" info "$work/text")" -eq 2

# Fitting a picture to an air time.
out=$("$vistrel" encode "$work/card.png" -o "$work/fit.frame" --air-time 15 --syndromes 16)
check "air-time prints the chosen settings" has "$out" '^fit: .*, red [24], blue [24], quantiser'
check "air-time frame fits its air time" test "$(stat -c %s "$work/fit.frame")" -le 3750
check "air-time prints PSNR and air time" has "$out" 'PSNR [0-9.]* dB, [0-9]* bytes, [0-9.]* of 15.0'
check "air-time too short exits 3" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/short.frame" --air-time 2)" -eq 3
check "air-time too short writes nothing" test ! -e "$work/short.frame"
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --air-time 15 --wavelet d4 2>&1)
check "air-time refuses a setting it chooses" has "$err" 'air-time chooses --wavelet'

# The AV1 payload: another codec in the same frame format, with its own options.
png_side() {  # png_side FILE: width and height from the IHDR chunk
    python3 -c 'import struct, sys
print("%d x %d" % struct.unpack(">II", open(sys.argv[1], "rb").read()[16:24]))' "$1"
}
same_pixels() { python3 "$(dirname "$0")/../same_pixels.py" "$@"; }
out=$("$vistrel" encode "$work/card.png" -o "$work/av1.frame" --codec av1 --callsign "PA0VIS " \
    --preview "$work/av1-preview.png")
check "encode --codec av1 prints the status line" \
    has "$out" '^64x64 pixels,  AV1 compression,  [0-9]*\.[0-9] seconds/frame$'
info=$("$vistrel" info "$work/av1.frame")
check "info says AV1, its chroma and quality" \
    has "$info" '^picture:   64 x 64, AV1 (A), chroma 4:4:4, quality 32$'
check "info finds the AV1 frame intact" has "$info" 'every codeword and the CRC are good'
out=$("$vistrel" decode "$work/av1.frame" -o "$work/av1-rx.png")
check "decode decodes an AV1 frame" has "$out" '^1 picture decoded; the last, 64 x 64'
check "decode names the AV1 frame" has "$out" '^AV1 compression$'
check "the decoded AV1 picture is 64 x 64" test "$(png_side "$work/av1-rx.png")" = "64 x 64"
check "the decoded AV1 picture is the sender's preview" \
    same_pixels "$work/av1-rx.png" "$work/av1-preview.png"
"$vistrel" encode "$work/card.png" -o "$work/av1-420.frame" --codec av1 --chroma 420 \
    --quality 50 --speed 2 --size 96 >/dev/null
check "--chroma, --quality and --size reach the AV1 header" \
    has "$("$vistrel" info "$work/av1-420.frame")" '^picture:   96 x 96, AV1 (A), chroma 4:2:0, quality 50$'
"$vistrel" decode "$work/av1-420.frame" -o "$work/av1-420.png" >/dev/null
check "a 4:2:0 frame decodes to 96 x 96" test "$(png_side "$work/av1-420.png")" = "96 x 96"
"$vistrel" encode "$work/card.png" -o "$work/av1-fine.frame" --codec av1 --quality 0 >/dev/null
"$vistrel" encode "$work/card.png" -o "$work/av1-coarse.frame" --codec av1 --quality 63 >/dev/null
check "a finer AV1 quality makes a longer frame" \
    test "$(stat -c %s "$work/av1-fine.frame")" -gt "$(stat -c %s "$work/av1-coarse.frame")"
for refused in "--wavelet d4" "--red 2" "--blue 2" "--quantiser 3" "--threshold 10"; do
    # shellcheck disable=SC2086 # the option and its value are two words
    check "--codec av1 refuses $refused" \
        test "$(status "$vistrel" encode "$work/card.png" -o "$work/x" --codec av1 $refused)" -eq 2
done
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --codec av1 --quantiser 3 2>&1)
check "the refusal names the AV1 settings" \
    has "$err" 'codec av1 takes no --quantiser (its settings are --quality, --chroma and --speed)'
for refused in "--quality 20" "--chroma 420" "--speed 2"; do
    # shellcheck disable=SC2086
    check "the wavelets refuse $refused" \
        test "$(status "$vistrel" encode "$work/card.png" -o "$work/x" $refused)" -eq 2
done
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --codec wavelet --quality 20 2>&1)
check "the refusal says to add --codec av1" has "$err" 'quality is an AV1 setting; add --codec av1'
check "AV1 quality above 63 exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/x" --codec av1 --quality 64)" -eq 2
check "AV1 speed above 9 exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/x" --codec av1 --speed 10)" -eq 2
check "unknown codec exits 2" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/x" --codec vp9)" -eq 2
check "refused runs write no frame" test ! -e "$work/x"
# The card's AV1 frames run from about 3.4 s (quality 63) to 6.1 s (quality 0) at syndromes 8.
out=$("$vistrel" encode "$work/card.png" -o "$work/av1-fit.frame" --codec av1 --air-time 5 \
    --syndromes 8)
check "air-time with AV1 prints the chosen quality" \
    has "$out" '^fit:       AV1 4:4:4, quality [0-9]*, speed 6$'
check "air-time with AV1 fits its air time" test "$(stat -c %s "$work/av1-fit.frame")" -le 1250
quality=$(grep -o 'quality [0-9]*' <<<"$out" | grep -o '[0-9]*')
check "the fitted quality reaches the header" \
    has "$("$vistrel" info "$work/av1-fit.frame")" "AV1 (A), chroma 4:4:4, quality $quality\$"
err=$("$vistrel" encode "$work/card.png" -o "$work/av1-short.frame" --codec av1 --air-time 2 \
    2>&1 >/dev/null)
check "air-time too short for AV1 quality 63 says so" \
    has "$err" 'no AV1 quality fits 2.0 seconds: the 64 x 64 frame at quality 63'
check "air-time too short for AV1 exits 3" \
    test "$(status "$vistrel" encode "$work/card.png" -o "$work/av1-short.frame" --codec av1 \
        --air-time 2)" -eq 3
check "air-time too short for AV1 writes nothing" test ! -e "$work/av1-short.frame"
err=$("$vistrel" encode "$work/card.png" -o "$work/x" --codec av1 --air-time 5 --quality 9 2>&1)
check "air-time refuses --quality" has "$err" 'air-time chooses --quality'
out=$("$vistrel" simulate "$work/card.png" --codec av1 --chroma 420 --frames 2 --loss 10% --seed 3)
check "simulate takes AV1 frames through 10% loss" has "$out" '^decoded 2 of 2 frames'
check "the received AV1 pictures are the preview" has "$out" 'identical$'
check "simulate refuses wavelet options with AV1" \
    test "$(status "$vistrel" simulate "$work/card.png" --codec av1 --red 2)" -eq 2

# Frame strings through the receiver, and the movies it records.
"$vistrel" encode "$work/card.png" -o "$work/second.frame" --counter 514 --wavelet d4 >/dev/null
out=$("$vistrel" decode "$work/card.frame" "$work/second.frame" -o "$work/rx.png" \
    --record "$work/rx.tv")
check "decode takes consecutive frames" has "$out" '^2 pictures decoded; the last, 64 x 64'
check "decode prints the status lines" has "$out" '^D4 wavelet compression'
check "decode writes the picture" bash -c "head -c 8 '$work/rx.png' | grep -q PNG"
info=$("$vistrel" tv-info "$work/rx.tv")
check "every good frame is recorded" has "$info" '^records:  2 of 347480 bytes each'
"$vistrel" tv-extract "$work/rx.tv" --frame 2 -o "$work/rec2.png"
check "tv-extract writes a record" bash -c "head -c 8 '$work/rec2.png' | grep -q PNG"
check "tv-extract past the end exits 2" \
    test "$(status "$vistrel" tv-extract "$work/rx.tv" --frame 3 -o "$work/x.png")" -eq 2
head -c 100 "$work/rx.tv" >"$work/short.tv"
check "tv-info refuses a cut header record" test "$(status "$vistrel" tv-info "$work/short.tv")" -eq 1
check "decode of noise decodes nothing" \
    test "$(status "$vistrel" decode "$work/random" -o "$work/none.png")" -eq 1
check "decode of nothing decoded writes no picture" test ! -e "$work/none.png"

out=$("$vistrel" simulate "$work/card.png" --frames 3 --loss 10% --seed 3 --out "$work/sim")
check "simulate decodes through 10% loss" has "$out" '^decoded 3 of 3 frames'
check "simulate compares with the preview" has "$out" 'identical$'
check "simulate keeps the pictures" test -s "$work/sim/frame-0003.png"
check "simulate records the good frames" \
    has "$("$vistrel" tv-info "$work/sim/received.tv")" '^records:  3 '
out=$("$vistrel" simulate "$work/card.png" --frames 2 --loss 0.9 --seed 3)
check "simulate reports lost frames" has "$out" 'not decoded$'
check "bad loss exits 2" test "$(status "$vistrel" simulate "$work/card.png" --loss 150%)" -eq 2

# Movies into AVI videos, named after the movie in the current folder.
avi_field() {  # avi_field FILE CHUNK OFFSET: a 32-bit field of the first CHUNK's data
    python3 -c 'import sys, struct
d = open(sys.argv[1], "rb").read(); at = d.find(sys.argv[2].encode()) + 8 + int(sys.argv[3])
print(struct.unpack_from("<I", d, at)[0])' "$1" "$2" "$3"
}
mkdir -p "$work/avi"
err=$(cd "$work/avi" && "$vistrel" export-avi ../sim/received.tv 2>&1 >/dev/null)
check "export-avi names the AVI after the movie" test -s "$work/avi/received.avi"
check "export-avi shows its progress" has "$err" '^Writing  3 of 3 frames$'
check "export-avi ends with Finished!" has "$err" '^Finished!$'
check "the AVI holds a frame per record" test "$(avi_field "$work/avi/received.avi" avih 16)" -eq 3
check "the AVI runs at 10 frames per second" \
    test "$(avi_field "$work/avi/received.avi" strh 24)" -eq 10 -a \
    "$(avi_field "$work/avi/received.avi" strh 20)" -eq 1
check "uncompressed frames are 32-bit bottom-up bitmaps" \
    test "$(avi_field "$work/avi/received.avi" strf 8)" -eq 254 -a \
    "$(avi_field "$work/avi/received.avi" strf 12)" -eq 2097153  # 1 plane, 32 bits
cp "$work/avi/received.avi" "$work/avi/first.avi"
check "export-avi will not replace a file" \
    test "$(cd "$work/avi" && status "$vistrel" export-avi ../sim/received.tv)" -eq 1
check "the refused file is left alone" cmp -s "$work/avi/received.avi" "$work/avi/first.avi"
"$vistrel" export-avi "$work/sim/received.tv" --codec ffv1 --fps 3 -o "$work/avi/received.avi" \
    --force 2>/dev/null >/dev/null
check "--force replaces it, at the rate asked" test "$(avi_field "$work/avi/received.avi" strh 24)" -eq 3
check "--codec ffv1 writes FFV1" test "$(avi_field "$work/avi/received.avi" strf 16)" -eq 827737670
check "unknown codec exits 2" \
    test "$(status "$vistrel" export-avi "$work/sim/received.tv" --codec divx -o "$work/x.avi")" -eq 2
check "unknown rate exits 2" \
    test "$(status "$vistrel" export-avi "$work/sim/received.tv" --fps 7 -o "$work/x.avi")" -eq 2
check "raw takes no key-frame interval" \
    test "$(status "$vistrel" export-avi "$work/sim/received.tv" --keyint 5 -o "$work/x.avi")" -eq 2
check "a movie that is no .tv exits 2" \
    test "$(status "$vistrel" export-avi "$work/short.tv" -o "$work/x.avi")" -eq 2
check "a missing movie exits 2" \
    test "$(status "$vistrel" export-avi "$work/nothing.tv" -o "$work/x.avi")" -eq 2
check "the movie is never the output" \
    test "$(status "$vistrel" export-avi "$work/sim/received.tv" -o "$work/sim/received.tv" --force)" -eq 2
check "an unwritable AVI exits 1" \
    test "$(status "$vistrel" export-avi "$work/sim/received.tv" -o "$work/no/dir/x.avi")" -eq 1
check "bad exports leave no files" test ! -e "$work/x.avi" -a ! -e "$work/no"

# Three stations on loopback: a receiver, tonebox with 10 % loss at 50 times the air rate, and
# a sender, each on a port the system picks.
if [ -n "$tonebox" ]; then
    port_of() {  # port_of LOG PATTERN: waits for the port a program printed
        for _ in $(seq 100); do
            p=$(grep -o "$2" "$1" 2>/dev/null | grep -o '[0-9]*$' | head -n 1)
            [ -n "$p" ] && { echo "$p"; return; }
            sleep 0.1
        done
    }
    timeout 60 "$vistrel" receive --port 0 --out "$work/rx" --record --frames 3 \
        >"$work/receive.log" 2>&1 &
    rx_pid=$!
    rx_port=$(port_of "$work/receive.log" 'port [0-9]*')
    timeout 60 "$tonebox" --simulate --defaults --port 0 --rx-port "$rx_port" --speed 50 --loss 0.1 --seed 2 \
        >"$work/tonebox.log" 2>&1 &
    tb_pid=$!
    tb_port=$(port_of "$work/tonebox.log" 'sender on 127.0.0.1:[0-9]*')
    timeout 60 "$vistrel" send "$work/card.png" --no-tonebox --tonebox-port "$tb_port" \
        --frames 3 --speed 50 --callsign "PA0VIS " >"$work/send.log" 2>&1
    check "send sends three frames" has "$(cat "$work/send.log")" '^frame 3 of 3 sent'
    wait "$rx_pid"
    check "receive ends after three good frames" has "$(cat "$work/receive.log")" \
        '^3 good frames received'
    check "received pictures carry the callsign" \
        bash -c "ls '$work/rx' | grep -q '_3_PA0VIS_card_png.png$'"
    check "receive records the good frames" \
        has "$("$vistrel" tv-info "$work"/rx/*.tv)" '^records:  3 '
    wait "$tb_pid"
    check "tonebox ends on exit" has "$(cat "$work/tonebox.log")" 'exit'

    # An AV1 frame the same way; send's --speed is its timers', the encoder's is --av1-speed.
    timeout 60 "$vistrel" receive --port 0 --out "$work/rx-av1" --frames 1 \
        >"$work/receive-av1.log" 2>&1 &
    rx_pid=$!
    rx_port=$(port_of "$work/receive-av1.log" 'port [0-9]*')
    timeout 60 "$tonebox" --simulate --defaults --port 0 --rx-port "$rx_port" --speed 50 \
        --loss 0.1 --seed 2 >"$work/tonebox-av1.log" 2>&1 &
    tb_pid=$!
    tb_port=$(port_of "$work/tonebox-av1.log" 'sender on 127.0.0.1:[0-9]*')
    timeout 60 "$vistrel" send "$work/card.png" --no-tonebox --tonebox-port "$tb_port" \
        --frames 1 --speed 50 --codec av1 --av1-speed 8 --callsign "PA0VIS " \
        >"$work/send-av1.log" 2>&1
    check "send sends an AV1 frame" has "$(cat "$work/send-av1.log")" \
        '^frame 1 of 1 sent: .*AV1 compression'
    wait "$rx_pid"
    check "receive takes the AV1 frame" has "$(cat "$work/receive-av1.log")" \
        '^good frame 1: 64 x 64'
    wait "$tb_pid"
    check "send refuses --speed 0..9 as the AV1 speed" test "$(status "$vistrel" send \
        "$work/card.png" --no-tonebox --codec av1 --av1-speed 12)" -eq 2
fi

# The modem: frame strings to audio and back, bit for bit, and bad recordings refused.
"$vistrel" testcard "$work/modem.png" >/dev/null
"$vistrel" encode "$work/modem.png" -o "$work/modem.frame" --size 48 >/dev/null
check "modulate writes a WAV" test "$(status "$vistrel" modulate "$work/modem.frame" \
    "$work/modem.frame" -o "$work/modem.wav")" -eq 0
"$vistrel" demodulate "$work/modem.wav" -o "$work/modem.units" >"$work/demod.out" \
    2>"$work/demod.err"
check "demodulate gives back both frame strings" \
    cmp -s "$work/modem.units" <(cat "$work/modem.frame" "$work/modem.frame")
check "demodulate prints a line per modem frame" has "$(cat "$work/demod.err")" '^modem frame at'
check "demodulated units decode" test "$(status "$vistrel" decode "$work/modem.units" \
    -o "$work/modem-rx.png")" -eq 0
"$vistrel" modulate "$work/modem.frame" -o "$work/robust.wav" --mode robust --rate 44100 \
    >/dev/null
# 24-bit stereo at 44100 Hz, the signal on the left and silence on the right.
python3 - "$work/robust.wav" "$work/robust24.wav" <<'PY'
import sys, wave
src = wave.open(sys.argv[1]); frames = src.readframes(src.getnframes())
out = wave.open(sys.argv[2], "wb"); out.setnchannels(2); out.setsampwidth(3)
out.setframerate(src.getframerate())
data = bytearray()
for i in range(0, len(frames), 2):
    data += b"\0" + frames[i:i + 2] + b"\0\0\0"
out.writeframes(bytes(data)); out.close()
PY
"$vistrel" demodulate "$work/robust24.wav" -o "$work/robust.units" >/dev/null 2>"$work/robust.err"
check "robust mode is read from the signal, from 24-bit stereo" \
    cmp -s "$work/robust.units" "$work/modem.frame"
check "robust frames say so" has "$(cat "$work/robust.err")" 'robust'
"$vistrel" demodulate "$work/robust24.wav" -o "$work/none.units" --mode normal >/dev/null 2>&1
check "--mode normal passes robust frames over" test ! -s "$work/none.units"
head -c 30 "$work/modem.wav" >"$work/header-only.wav"
head -c 20000 "$work/modem.wav" >"$work/cut.wav"
: >"$work/empty.wav"
for bad in header-only cut empty text; do
    file="$work/$bad.wav"
    [ "$bad" = text ] && file="$work/text"
    echo keep >"$work/keep.units"
    check "demodulate refuses $bad audio with exit 1" \
        test "$(status "$vistrel" demodulate "$file" -o "$work/keep.units")" -eq 1
    check "a refused recording leaves UNITS alone" grep -q keep "$work/keep.units"
done
check "modulate refuses a file that is no frame string" \
    test "$(status "$vistrel" modulate "$work/modem.png" -o "$work/x.wav")" -eq 2
check "modem-sweep prints its table" \
    has "$("$vistrel" modem-sweep --snr 20:20:1 --units 24)" '^ *20.0 *0.000 *24 *0'
# Three test-card frames through the modem into the receiver: all three pictures decode.
check "modem-sweep --pictures decodes every frame at a high SNR" \
    has "$("$vistrel" modem-sweep --pictures --frames 3 --snr 20:20:1)" \
    '^ *20.0 *0.000 .* 3 *100.0 *0$'
check "modem-sweep --frames needs --pictures" \
    test "$(status "$vistrel" modem-sweep --frames 3)" -eq 2

# The HF channel: the modem's audio as a receiver hears it, noise first, the signal in place.
wav_seconds() {  # wav_seconds FILE
    python3 -c 'import sys, wave
w = wave.open(sys.argv[1]); print(w.getnframes() / w.getframerate())' "$1"
}
wav_rms() {  # wav_rms FILE FROM TO: RMS of the samples FROM to TO seconds, full scale 1
    python3 - "$@" <<'PY'
import struct, sys, wave
w = wave.open(sys.argv[1]); rate = w.getframerate()
w.setpos(int(float(sys.argv[2]) * rate)); n = int((float(sys.argv[3]) - float(sys.argv[2])) * rate)
print((sum(x * x for x in struct.unpack("<%dh" % n, w.readframes(n))) / n) ** 0.5 / 32768)
PY
}
longer_by() {  # longer_by LONG.wav SHORT.wav SECONDS, to a millisecond
    python3 -c 'import sys; a, b, s = map(float, sys.argv[1:]); sys.exit(abs(a - b - s) > 1e-3)' \
        "$(wav_seconds "$1")" "$(wav_seconds "$2")" "$3"
}
less() { python3 -c 'import sys; sys.exit(not float(sys.argv[1]) < float(sys.argv[2]))' "$@"; }
out=$("$vistrel" hf-channel "$work/modem.wav" -o "$work/heard.wav" --snr 20 --seed 3 2>&1)
check "hf-channel prints its line" has "$out" \
    'modem.wav -> .*heard.wav: [0-9.]* s at 48000 Hz, channel awgn, SNR 20.0 dB (signal -12.'
"$vistrel" demodulate "$work/heard.wav" -o "$work/heard.units" >/dev/null 2>"$work/heard.err"
check "hf-channel at 20 dB demodulates to both frame strings" \
    cmp -s "$work/heard.units" <(cat "$work/modem.frame" "$work/modem.frame")
check "hf-channel leaves the signal in place after the silence" \
    has "$(cat "$work/heard.err")" '^modem frame at 1.00 s'
check "hf-channel adds a second of silence each side" \
    longer_by "$work/heard.wav" "$work/modem.wav" 2
noise=$(wav_rms "$work/heard.wav" 0 0.9)
signal=$(wav_rms "$work/heard.wav" 1.1 3)
# -12 dBFS of signal at 20 dB in 3 kHz: noise about -31 dBFS in the channel's 4 kHz.
check "hf-channel's noise comes before the signal" less 0.01 "$noise"
check "hf-channel's noise lies well below the signal" less "$noise" "$(python3 -c "print($signal / 5)")"
"$vistrel" hf-channel "$work/modem.wav" -o "$work/heard-again.wav" --snr 20 --seed 3 >/dev/null 2>&1
check "hf-channel: the same seed gives the same file" cmp -s "$work/heard.wav" "$work/heard-again.wav"
"$vistrel" hf-channel "$work/robust.wav" -o "$work/faded.wav" --channel moderate --snr 20 \
    --offset 20 --ppm 50 --silence 0.25 >/dev/null 2>&1
check "hf-channel --silence 0.25 adds half a second" \
    longer_by "$work/faded.wav" "$work/robust.wav" 0.5
check "hf-channel keeps IN's rate" python3 -c \
    'import sys, wave; sys.exit(wave.open(sys.argv[1]).getframerate() != 44100)' "$work/faded.wav"
"$vistrel" demodulate "$work/faded.wav" -o "$work/faded.units" >/dev/null 2>"$work/faded.err"
check "moderate fading, mistuned 20 Hz, 50 ppm: the frame string comes through" \
    cmp -s "$work/faded.units" "$work/modem.frame"
check "the demodulator finds the channel's offset" has "$(cat "$work/faded.err")" 'offset +[12][09]\.'
check "hf-channel says when it scales the output down" \
    has "$("$vistrel" hf-channel "$work/modem.wav" -o "$work/loud.wav" --snr -10 2>&1)" \
    'would clip .*scaled down by'
check "hf-channel refuses an unknown --channel" \
    test "$(status "$vistrel" hf-channel "$work/modem.wav" -o "$work/x.wav" --channel bad)" -eq 2
check "hf-channel refuses a malformed --snr" \
    test "$(status "$vistrel" hf-channel "$work/modem.wav" -o "$work/x.wav" --snr loud)" -eq 2
check "hf-channel needs -o" test "$(status "$vistrel" hf-channel "$work/modem.wav")" -eq 2
python3 -c 'import sys, wave; w = wave.open(sys.argv[1], "wb"); w.setnchannels(1); w.setsampwidth(2)
w.setframerate(8000); w.writeframes(bytes(16000)); w.close()' "$work/silent.wav"
check "hf-channel refuses a silent recording" \
    test "$(status "$vistrel" hf-channel "$work/silent.wav" -o "$work/x.wav")" -eq 2
echo keep >"$work/keep.wav"
check "hf-channel: a missing recording exits 1" \
    test "$(status "$vistrel" hf-channel "$work/nothing.wav" -o "$work/keep.wav")" -eq 1
check "hf-channel: a failed run leaves OUT alone" grep -q keep "$work/keep.wav"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
