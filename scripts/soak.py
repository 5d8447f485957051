#!/usr/bin/env python3
"""Soak run of the receiver: many frames at full speed over TCP through tonebox while recording.

    vistrel send --no-tonebox --speed X  ->  tonebox --speed X --loss --byte-errors  ->  picrx --record

Reports picrx's resident memory (VmRSS and its peak VmHWM from /proc) after 1,000 good frames
and at the end, the good frames picrx reported against the records of its ".tv" file
(vistrel tv-info), and the frames `vistrel simulate` decodes over the same channel (same seed,
same frames, so the same units arrive): the soak receiver must decode exactly those. Run by
hand, not by CTest: 10,000 frames take several minutes. Standard library only.

    scripts/soak.py --frames 10000 --bin build/bin
"""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def memory_kib(pid):
    """VmRSS and VmHWM of a process in KiB, or None once it has gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            text = f.read()
    except OSError:
        return None
    rss = int(re.search(r"VmRSS:\s+(\d+)", text).group(1))
    hwm = int(re.search(r"VmHWM:\s+(\d+)", text).group(1))
    return rss, hwm


def count_good(log_path):
    """The last "good frame N shown" number picrx --verbose printed."""
    last = 0
    try:
        with open(log_path, "rb") as f:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - 4096))
            tail = f.read().decode("latin-1")
    except OSError:
        return 0
    for m in re.finditer(r"good frame (\d+) shown", tail):
        last = int(m.group(1))
    return last


def wait_for(pattern, log_path, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with open(log_path, encoding="latin-1") as f:
                if re.search(pattern, f.read()):
                    return True
        except OSError:
            pass
        time.sleep(0.1)
    return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--frames", type=int, default=10000, help="frames to send (10000)")
    ap.add_argument("--bin", default="build/bin", help="folder of picrx, tonebox and vistrel")
    ap.add_argument("--speed", type=float, default=1000.0,
                    help="times faster than 250 bytes per second (1000)")
    ap.add_argument("--loss", type=float, default=0.2, help="fraction of units lost (0.2)")
    ap.add_argument("--byte-errors", type=float, default=0.001,
                    help="chance a delivered byte is damaged (0.001)")
    ap.add_argument("--seed", type=int, default=7, help="channel seed (7)")
    ap.add_argument("--work", help="folder for the recording and logs (a new temporary one)")
    ap.add_argument("--keep", action="store_true", help="keep the .tv file (3.5 GB at 10,000)")
    ap.add_argument("--no-simulate", action="store_true",
                    help="skip the `vistrel simulate` comparison")
    args = ap.parse_args()
    if args.frames < 1:
        ap.error("--frames must be at least 1")
    if not 0.0 <= args.loss < 1.0 or not 0.0 <= args.byte_errors < 1.0:
        ap.error("--loss and --byte-errors must be from 0 to below 1")

    binaries = {name: os.path.join(args.bin, name) for name in ("picrx", "tonebox", "vistrel")}
    for name, path in binaries.items():
        if not os.access(path, os.X_OK):
            sys.exit(f"soak: no {name} at {path} (see --bin)")
    work = args.work or tempfile.mkdtemp(prefix="vistrel-soak-")
    os.makedirs(work, exist_ok=True)
    card = os.path.join(work, "card.png")
    subprocess.run([binaries["vistrel"], "testcard", card], check=True, stdout=subprocess.DEVNULL)
    record_dir = os.path.join(work, "rec")
    os.makedirs(record_dir, exist_ok=True)
    rx_port, tx_port = free_port(), free_port()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    rx_log = os.path.join(work, "picrx.log")
    tb_log = os.path.join(work, "tonebox.log")
    tx_log = os.path.join(work, "send.log")
    procs = []
    try:
        picrx = subprocess.Popen(
            [binaries["picrx"], "--port", str(rx_port), "--record", "--record-dir", record_dir,
             "--verbose"], stdout=open(rx_log, "w"), stderr=subprocess.STDOUT, env=env)
        procs.append(picrx)
        if not wait_for(r"listening on", rx_log, 10):
            sys.exit(f"soak: picrx did not start listening (see {rx_log})")
        tonebox = subprocess.Popen(
            [binaries["tonebox"], "--port", str(tx_port), "--rx-port", str(rx_port),
             "--speed", str(args.speed), "--loss", str(args.loss),
             "--byte-errors", str(args.byte_errors), "--seed", str(args.seed)],
            stdout=open(tb_log, "w"), stderr=subprocess.STDOUT)
        procs.append(tonebox)
        time.sleep(0.5)
        start = time.time()
        sender = subprocess.Popen(
            [binaries["vistrel"], "send", card, "--no-tonebox", "--tonebox-port", str(tx_port),
             "--frames", str(args.frames), "--speed", str(args.speed)],
            stdout=open(tx_log, "w"), stderr=subprocess.STDOUT)
        procs.append(sender)

        at_1000 = None
        start_mem = memory_kib(picrx.pid)
        last_good, last_change = 0, time.time()
        peak = start_mem
        while True:
            good = count_good(rx_log)
            mem = memory_kib(picrx.pid)
            if mem is None:
                sys.exit(f"soak: picrx ended early (see {rx_log})")
            peak = mem
            if at_1000 is None and good >= 1000:
                at_1000 = (good, mem, time.time() - start)
            if good != last_good:
                last_good, last_change = good, time.time()
            # The sender is done and nothing has arrived for a while: tonebox has played it all.
            if sender.poll() is not None and time.time() - last_change > 5:
                break
            time.sleep(0.2)
        elapsed = last_change - start
        picrx.send_signal(signal.SIGTERM)
        picrx.wait(10)
        tonebox.wait(10)
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()

    tv_files = [os.path.join(record_dir, f) for f in os.listdir(record_dir) if f.endswith(".tv")]
    records = 0
    for tv in tv_files:
        info = subprocess.run([binaries["vistrel"], "tv-info", tv], capture_output=True, text=True)
        m = re.search(r"records:\s+(\d+)", info.stdout)
        records += int(m.group(1)) if m else 0
        if "whole records only" not in info.stdout:
            print(f"soak: {tv} is not whole records:\n{info.stdout}{info.stderr}")
    good = count_good(rx_log)
    sent = len(re.findall(r"^frame \d+ of", open(tx_log).read(), re.M))

    print(f"frames sent            {sent}")
    print(f"good frames (picrx)    {good}")
    print(f"records in .tv         {records}")
    print(f"time                   {elapsed:.0f} s, {good / max(elapsed, 1e-9):.1f} good frames/s")
    print(f"RSS at start           {start_mem[0]} KiB (peak {start_mem[1]} KiB)")
    if at_1000:
        print(f"RSS at {at_1000[0]} frames      {at_1000[1][0]} KiB (peak {at_1000[1][1]} KiB),"
              f" {at_1000[2]:.0f} s in")
    print(f"RSS at {good} frames     {peak[0]} KiB (peak {peak[1]} KiB)")
    ok = records == good
    if not args.no_simulate:
        sim = subprocess.run(
            [binaries["vistrel"], "simulate", card, "--frames", str(sent), "--loss",
             str(args.loss), "--byte-errors", str(args.byte_errors), "--seed", str(args.seed)],
            capture_output=True, text=True)
        m = re.search(r"decoded (\d+) of (\d+) frames", sim.stdout)
        expected = int(m.group(1)) if m else -1
        print(f"simulate decodes       {expected} (same channel, no TCP)")
        ok = ok and expected == good
    if not args.keep:
        for tv in tv_files:
            os.remove(tv)
    print(f"logs in {work}")
    print("soak: PASS" if ok else "soak: FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
