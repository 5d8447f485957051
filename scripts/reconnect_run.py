#!/usr/bin/env python3
"""The sender's link coming back: tonebox killed and started again while `vistrel send` runs.

    vistrel send --no-tonebox  ->  tonebox (killed, then started again)  ->  vistrel receive

Starts the three on free ports above 1023, kills tonebox with SIGKILL in the middle of the
second frame's air time, starts it again DOWN seconds later, and prints every line of the
three programs that tells the story, stamped with seconds since the start, then the numbers:
how long the sender took to see the link go, how many attempts it made while tonebox was away
(one per frame period at most), how long after tonebox listened again the link was up, and the
good frames the receiver decoded before and after. Run by hand; standard library only.

    scripts/reconnect_run.py --bin build/bin --speed 20 --frames 12 --down 2
"""

import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Program:
    """A child process whose output lines are kept with the time they arrived."""

    def __init__(self, name, args, lines, t0, cwd):
        self.name = name
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True, cwd=cwd)
        self.threads = []
        for stream, tag in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            t = threading.Thread(target=self._read, args=(stream, tag, lines, t0), daemon=True)
            t.start()
            self.threads.append(t)

    def _read(self, stream, tag, lines, t0):
        for line in stream:
            lines.append((time.monotonic() - t0, self.name, tag, line.rstrip("\n")))

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait()

    def join(self):
        for t in self.threads:
            t.join(timeout=2)


def wait_line(lines, name, pattern, timeout, after=0.0):
    """The time of the first line of name matching pattern, stamped after `after`."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        for stamp, who, _, text in list(lines):
            if who == name and stamp >= after and re.search(pattern, text):
                return stamp
        time.sleep(0.01)
    sys.exit(f"reconnect_run: no '{pattern}' from {name} within {timeout} s")


def first(lines, name, pattern, after=0.0):
    for stamp, who, _, text in lines:
        if who == name and stamp >= after and re.search(pattern, text):
            return stamp
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/bin")
    parser.add_argument("--speed", type=float, default=20.0)
    parser.add_argument("--frames", type=int, default=12)
    parser.add_argument("--down", type=float, default=2.0, help="seconds tonebox stays away")
    parser.add_argument("--card", help="picture to send (default: the test card)")
    a = parser.parse_args()
    bin_dir = os.path.abspath(a.bin)
    vistrel = os.path.join(bin_dir, "vistrel")
    tonebox = os.path.join(bin_dir, "tonebox")

    with tempfile.TemporaryDirectory() as work:
        card = a.card or os.path.join(work, "card.png")
        if not a.card:
            subprocess.run([vistrel, "testcard", card], check=True, stdout=subprocess.DEVNULL)
        tx_port, rx_port = free_port(), free_port()
        lines = []
        t0 = time.monotonic()
        receive = Program("receive", [vistrel, "receive", "--port", str(rx_port), "--out",
                                      "received"], lines, t0, work)
        wait_line(lines, "receive", "listening on", 10)
        tonebox_args = [tonebox, "--port", str(tx_port), "--rx-port", str(rx_port), "--speed",
                        str(a.speed)]
        first_box = Program("tonebox", tonebox_args, lines, t0, work)
        wait_line(lines, "tonebox", "listening for the sender", 10)
        send = Program("send", [vistrel, "send", card, "--no-tonebox", "--tonebox-port",
                                str(tx_port), "--frames", str(a.frames), "--speed",
                                str(a.speed)], lines, t0, work)

        # The middle of frame 2's air time: its "on the air" line, then half a period.
        sent1 = wait_line(lines, "send", r"^frame 1 of", 10)
        sent2 = wait_line(lines, "send", r"^frame 2 of", 60)
        period = sent2 - sent1
        wait_line(lines, "tonebox", r"^tonebox: frame 2 .*on the air", 60)
        time.sleep(period / 2)
        killed = time.monotonic() - t0
        first_box.proc.send_signal(signal.SIGKILL)
        first_box.wait(5)
        time.sleep(a.down)
        second_box = Program("tonebox'", tonebox_args, lines, t0, work)
        back = wait_line(lines, "tonebox'", "listening for the sender", 10)

        status = send.wait(60 + 2 * a.frames * period)
        second_box.wait(10)
        time.sleep(0.5)  # the last units reach the receiver
        receive.proc.send_signal(signal.SIGINT)
        receive.wait(10)
        for p in (receive, first_box, send, second_box):
            p.join()

    lines.sort()
    print(f"ports {tx_port} (sender) and {rx_port} (receiver); speed x{a.speed:g}, "
          f"frame period {period * 1000:.0f} ms as sent")
    keep = re.compile(r"frame \d+ of|modulator link|connected|tonebox: (start|stop|exit|frame"
                      r"|sender|listening)|good frame|failed its check|not sent|in all")
    for stamp, who, tag, text in lines:
        if keep.search(text) and not text.startswith("tonebox: air rate"):
            print(f"{stamp:8.3f}  {who:8} {tag}  {text}")
    print(f"{killed:8.3f}  -- tonebox killed (SIGKILL)")

    seen = first(lines, "send", r"modulator link: down: the modulator closed it", killed)
    attempts = [s for s, who, _, t in lines
                if who == "send" and "connecting again" in t and s >= killed]
    failed = [s for s, who, _, t in lines
              if who == "send" and re.search(r"modulator link: down \(", t) and s >= killed]
    up = first(lines, "send", r"modulator link: up again", killed)
    up_text = next((t for s, w, _, t in lines if s == up and w == "send"), "")
    good = [s for s, w, _, t in lines if w == "receive" and re.match(r"good frame \d+:", t)]
    rx_before = [s for s in good if s < killed]
    rx_after = [s for s in good if s > back]
    print()
    print(f"sender saw the link go            {((seen or killed) - killed) * 1000:7.0f} ms "
          f"after the kill")
    gaps = [b - a_ for a_, b in zip(attempts, attempts[1:])]
    print(f"attempts while it was away        {len(attempts)} ({len(failed)} refused); "
          f"shortest gap {min(gaps) * 1000:.0f} ms" if gaps else
          f"attempts while it was away        {len(attempts)} ({len(failed)} refused)")
    if up is not None:
        print(f"link up again                     {(up - back) * 1000:7.0f} ms after tonebox "
              f"listened again ({up_text.split('after ')[-1]})")
    else:
        print("link up again                     never")
    print(f"good frames at the receiver       {len(rx_before)} before the kill, "
          f"{len(rx_after)} after the restart"
          + (f" (first {(rx_after[0] - back) * 1000:.0f} ms after it listened)" if rx_after
             else ""))
    print(f"vistrel send exit status          {status}")


if __name__ == "__main__":
    main()
