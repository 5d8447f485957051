#!/usr/bin/env python3
"""A demodulator that does not write whole units, against `vistrel receive`.

Each case starts a receiver on a free port, connects as the demodulator, writes what the case
says and counts the good frames the receiver reports, with the lines it prints for the bytes
it dropped from cut units. The frames are the test card encoded with counters 1, 2, 3, ...;
each is written unit by unit, as a demodulator does. A pause of 3 s lets the receiver realign
(it drops a partial unit after 500 ms without a byte). Standard library only; about 30 s.

    scripts/odd_writes.py --bin build/bin
"""

import argparse
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import time

UNIT = 41


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def encode_frames(vistrel, work, count):
    card = os.path.join(work, "card.png")
    subprocess.run([vistrel, "testcard", card], check=True, stdout=subprocess.DEVNULL)
    frames = []
    for counter in range(1, count + 1):
        path = os.path.join(work, f"card{counter}.frame")
        subprocess.run([vistrel, "encode", card, "-o", path, "--counter", str(counter)],
                       check=True, stdout=subprocess.DEVNULL)
        with open(path, "rb") as f:
            frames.append(f.read())
    return frames


def write_frame(sock, frame):
    for at in range(0, len(frame), UNIT):
        sock.sendall(frame[at:at + UNIT])


def run_case(vistrel, work, steps):
    """steps: bytes to write in one write, a list of frames to write unit by unit, a float
    (seconds to pause) or None (a new connection)."""
    port = free_port()
    out = os.path.join(work, f"rx{port}")
    rx = subprocess.Popen([vistrel, "receive", "--port", str(port), "--out", out],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(0.5)
    sock = socket.create_connection(("127.0.0.1", port))
    for step in steps:
        if step is None:
            sock.close()
            time.sleep(0.3)
            sock = socket.create_connection(("127.0.0.1", port))
        elif isinstance(step, float):
            time.sleep(step)
        elif isinstance(step, list):
            for frame in step:
                write_frame(sock, frame)
        else:
            sock.sendall(step)
    time.sleep(2.5)  # the receiver ends the last frame after 2 s without a unit
    sock.close()
    time.sleep(0.3)
    rx.send_signal(signal.SIGINT)
    text = rx.communicate(timeout=10)[0]
    good = sum(1 for line in text.splitlines() if line.startswith("good frame"))
    drops = [line for line in text.splitlines() if "dropped its" in line]
    return good, drops


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", default="build/bin", help="folder with vistrel")
    args = parser.parse_args()
    vistrel = os.path.join(args.bin, "vistrel")
    noise = random.Random(19)
    with tempfile.TemporaryDirectory() as work:
        f = encode_frames(vistrel, work, 6)
        unit = f[0][:UNIT]
        junk = bytes(noise.randrange(256) for _ in range(1_000_000))
        cases = [
            ("42-byte write, 3 s pause, 3 frames", [unit + b"\0", 3.0, [f[1], f[2], f[3]]], 3),
            ("40-byte write, 3 s pause, 3 frames", [unit[:40], 3.0, [f[1], f[2], f[3]]], 3),
            ("42-byte write, 3 frames at once, 3 s pause, 2 frames",
             [unit + b"\0", [f[1], f[2], f[3]], 3.0, [f[4], f[5]]], 2),
            ("1 MB of noise, 17 bytes, a frame, 3 s pause, a frame",
             [junk, junk[:17], [f[1]], 3.0, [f[2]]], 1),
            ("1 MB of noise, 17 bytes, a frame; new connection, a frame",
             [junk, junk[:17], [f[1]], None, [f[2]]], 1),
        ]
        failed = False
        print(f"{'case':58} good frames (expected)")
        for name, steps, expected in cases:
            good, drops = run_case(vistrel, work, steps)
            failed |= good != expected
            print(f"{name:58} {good} ({expected})")
            for line in drops:
                print(f"    {line}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
