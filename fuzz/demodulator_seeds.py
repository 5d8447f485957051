#!/usr/bin/env python3
"""Writes the real modulations of demodulator_fuzz's corpus: short modem frames of units from
the target's family, clean, noisy, clipped and with a DC offset, so the fuzzer starts from inputs
that reach the header and the frame decoder.

    fuzz/demodulator_seeds.py build/bin/vistrel fuzz/corpus/demodulator_fuzz

Each file: a chunking byte, a flags byte (see fuzz/demodulator_fuzz.cpp), then 8000 Hz audio as
signed 16-bit little endian. Fixed seeds: the same files every time.
"""

import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

UNIT_BYTES = 41


def family_unit(k):
    """The unit of the fuzz target's family that starts with k (the same formula as there)."""
    return bytes([k] + [(k * 167 + i * i * 31 + (k ^ i) * 13 + 89) & 0xFF
                        for i in range(1, UNIT_BYTES)])


def modulate(vistrel, units, mode, work):
    frame = os.path.join(work, "units.frame")
    wav = os.path.join(work, "audio.wav")
    with open(frame, "wb") as f:
        f.write(b"".join(family_unit(k) for k in units))
    subprocess.run([vistrel, "modulate", frame, "-o", wav, "--mode", mode, "--rate", "8000"],
                   check=True, stdout=subprocess.DEVNULL)
    with wave.open(wav, "rb") as w:
        assert w.getframerate() == 8000 and w.getsampwidth() == 2 and w.getnchannels() == 1
        raw = w.readframes(w.getnframes())
    return [v / 32768.0 for v in struct.unpack("<%dh" % (len(raw) // 2), raw)]


def seed_file(path, chunking, flags, samples):
    clipped = [max(-32768, min(32767, round(x * 32768.0))) for x in samples]
    with open(path, "wb") as f:
        f.write(bytes([chunking, flags]))
        f.write(struct.pack("<%dh" % len(clipped), *clipped))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    vistrel, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20)
    quiet = [0.0] * 200  # 25 ms either side
    # Signal power 0.0625 (the modulator's -12 dBFS); noise of power p over 0..4 kHz puts
    # p x 3/4 in the 3 kHz the SNR is quoted in.
    def noisy(samples, snr_db):
        sigma = (0.0625 / 10 ** (snr_db / 10) * 4 / 3) ** 0.5
        return [x + rng.gauss(0.0, sigma) for x in samples]

    with tempfile.TemporaryDirectory() as work:
        normal = modulate(vistrel, [7], "normal", work)
        robust = modulate(vistrel, [200], "robust", work)
        two = modulate(vistrel, [1, 2], "normal", work)
        seed_file(os.path.join(out, "normal_1_clean"), 0x37, 0, quiet + normal + quiet)
        seed_file(os.path.join(out, "robust_1_clean"), 0x5A, 0, quiet + robust + quiet)
        seed_file(os.path.join(out, "normal_1_noise_10db"), 0x11, 0,
                  noisy(quiet + normal + quiet, 10.0))
        seed_file(os.path.join(out, "robust_1_noise_3db"), 0x23, 0,
                  noisy(quiet + robust + quiet, 3.0))
        # Driven three times too hard: most peaks cut at full scale.
        seed_file(os.path.join(out, "normal_1_clipped"), 0x42, 0,
                  [max(-1.0, min(1.0, 3.0 * x)) for x in quiet + normal + quiet])
        # Two units, a DC offset, played twice, fed one sample at a time.
        seed_file(os.path.join(out, "normal_2_dc_twice"), 0x00, 0x01,
                  [x + 0.2 for x in quiet + two + quiet])
        # A robust frame to a demodulator told to read normal frames only: nothing comes out.
        seed_file(os.path.join(out, "robust_1_normal_only"), 0x09, 0x04, quiet + robust + quiet)
        # A frame cut short by the end of the input.
        seed_file(os.path.join(out, "normal_1_cut"), 0x66, 0, quiet + normal[:len(normal) // 2])
        seed_file(os.path.join(out, "noise"), 0x13, 0x03, [rng.gauss(0.0, 0.3) for _ in range(2000)])


if __name__ == "__main__":
    main()
