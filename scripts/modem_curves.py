#!/usr/bin/env python3
"""Unit error rate against SNR for our modem's modes beside codec2's DATAC1.

Runs build/bin/modem_peer on AWGN, CCIR moderate, CCIR poor and CCIR flutter (two channels at a
time, one process each), draws docs/modem-uer.png (UER in per cent, log scale, one panel per
channel, with the figures measured before the modem existed drawn as markers) and writes the
tables into docs/MODEM.md between its marker comments.

usage: scripts/modem_curves.py [--units N] [--bin build/bin/modem_peer] [--no-docs]
                               [--from build/modem_peer.txt]
"""

import argparse
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Channel, SNR range (LO:HI:STEP). The ranges span each modem's fall from total loss to none;
# flutter gets few points, since every modem loses everything there and a lost frame costs the
# decoders their most iterations.
SWEEPS = {
    "awgn": "0:7:1",
    "moderate": "4:20:2",
    "poor": "4:20:2",
    "flutter": "10:30:20",
}
# Two processes, each about half of the work.
BATCHES = [["awgn", "flutter"], ["moderate", "poor"]]

TITLES = {
    "awgn": "AWGN",
    "moderate": "CCIR moderate (1 ms, 0.5 Hz)",
    "poor": "CCIR poor (2 ms, 1 Hz)",
    "flutter": "CCIR flutter (0.5 ms, 10 Hz)",
}

# Figures measured before this modem, from the issue that asked for it: the SNR of 1 % UER.
# (label, channel, snr_db, uer_percent)
ANCHOR_POINTS = [
    ("liquid-dsp probe, K=7 r2/3 (257.8 B/s)", "awgn", 7.0),
    ("liquid-dsp probe, QPSK r3/4 (290.7 B/s)", "awgn", 8.0),
    ("bound: ideal sync, K=7 r3/4 (273 B/s)", "awgn", 6.5),
    ("bound: ideal sync, K=7 r2/3 (246-256 B/s)", "awgn", 5.0),
    ("bound: ideal sync, K=7 r3/4 (273 B/s)", "moderate", 17.0),
    ("bound: ideal sync, K=7 r2/3 (246-256 B/s)", "moderate", 14.5),
    ("bound: ideal sync, K=7 r3/4 (273 B/s)", "poor", 16.5),
    ("bound: ideal sync, K=7 r2/3 (246-256 B/s)", "poor", 14.0),
    ("bound: ideal sync, K=7 r1/2 (186 B/s)", "poor", 9.5),
]
# codec2's DATAC1 as the issue's probe measured it, for comparison with the DATAC1 run here.
DATAC1_ANCHORS = [("awgn", 2.0), ("poor", 8.0)]
# The probe's loss ranges on fading: (channel, snr_lo, snr_hi, uer_lo, uer_hi); None: any SNR.
ANCHOR_RANGES = [
    ("moderate", 27.0, 36.0, 1.0, 14.0),
    ("poor", None, None, 34.0, 100.0),
]
# The goals at 1 % UER: (label, channel, snr_db).
GOALS = [
    ("goal: normal", "awgn", 6.0),
    ("goal: normal", "moderate", 14.0),
    ("goal: normal", "poor", 15.0),
    ("goal: robust", "awgn", 2.0),
    ("goal: robust", "poor", 8.0),
]

MARKERS = {
    "liquid-dsp probe, K=7 r2/3 (257.8 B/s)": ("s", "tab:gray"),
    "liquid-dsp probe, QPSK r3/4 (290.7 B/s)": ("D", "tab:gray"),
    "bound: ideal sync, K=7 r3/4 (273 B/s)": ("^", "tab:purple"),
    "bound: ideal sync, K=7 r2/3 (246-256 B/s)": ("v", "tab:purple"),
    "bound: ideal sync, K=7 r1/2 (186 B/s)": ("<", "tab:purple"),
    "goal: normal": ("*", "tab:blue"),
    "goal: robust": ("*", "tab:orange"),
}
COLOURS = {"normal": "tab:blue", "robust": "tab:orange", "DATAC1": "tab:green"}

BEGIN = "<!-- modem-curves:begin -->"
END = "<!-- modem-curves:end -->"


def parse(text):
    """Tables of modem_peer's output: {title: {"header": [...], "rows": [[...]], "extra": [...]}}."""
    tables = {}
    current = None
    for line in text.splitlines():
        if line.startswith("## "):
            current = {"header": None, "rows": [], "extra": []}
            tables[line[3:].strip()] = current
        elif current is not None and line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if current["header"] is None:
                current["header"] = cells
            elif not cells[0].startswith("-"):
                current["rows"].append(cells)
        elif current is not None and line.startswith(("1 %", "Wrong")):
            current["extra"].append(line.strip())
    return tables


def series(table, modem):
    header = table["header"]
    col = header.index(f"{modem} UER %")
    points = []
    for row in table["rows"]:
        if row[col] != "-":
            points.append((float(row[0]), float(row[col])))
    return points


def plot(results, units, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Rectangle

    channels = list(SWEEPS)
    fig, axes = plt.subplots(2, 2, figsize=(12, 9))
    floor = 100.0 * 0.5 / units  # where a point with no lost unit is drawn
    seen = set()
    for ax, channel in zip(axes.flat, channels):
        table = results[channel]
        lo, hi, _ = (float(x) for x in SWEEPS[channel].split(":"))
        for modem, colour in COLOURS.items():
            pts = series(table, modem)
            xs = [p[0] for p in pts]
            ys = [max(p[1], floor) for p in pts]
            ax.plot(xs, ys, "o-", color=colour, label=modem if modem not in seen else None)
            seen.add(modem)
        for label, ch, snr in ANCHOR_POINTS + GOALS:
            if ch != channel:
                continue
            marker, colour = MARKERS[label]
            ax.plot([snr], [1.0], marker, color=colour, markersize=11 if marker == "*" else 8,
                    markerfacecolor="none" if marker != "*" else colour,
                    linestyle="none", label=label if label not in seen else None)
            seen.add(label)
        for ch, snr in DATAC1_ANCHORS:
            if ch != channel:
                continue
            label = "DATAC1 as the issue measured it"
            ax.plot([snr], [1.0], "o", color="tab:green", markerfacecolor="none", markersize=10,
                    linestyle="none", label=label if label not in seen else None)
            seen.add(label)
        for ch, s_lo, s_hi, u_lo, u_hi in ANCHOR_RANGES:
            if ch != channel:
                continue
            x0 = lo if s_lo is None else s_lo
            x1 = max(hi, 36.0) if s_hi is None else s_hi
            label = "liquid-dsp probe: loss range measured"
            ax.add_patch(Rectangle((x0, u_lo), x1 - x0, u_hi - u_lo, color="tab:gray",
                                   alpha=0.2, label=label if label not in seen else None))
            seen.add(label)
        right = max([hi] + [snr for _, ch, snr in ANCHOR_POINTS + GOALS if ch == channel])
        for ch, s_lo, s_hi, *_ in ANCHOR_RANGES:
            if ch == channel and s_hi is not None:
                right = max(right, s_hi + 1)
        ax.set_xlim(lo - 0.5, right + 0.5)
        ax.set_yscale("log")
        ax.set_ylim(floor / 1.5, 150)
        ax.axhline(1.0, color="black", linewidth=0.6, linestyle=":")
        ax.set_title(TITLES[channel])
        ax.set_xlabel("SNR in 3 kHz (dB)")
        ax.set_ylabel("unit error rate (%)")
        ax.grid(True, which="both", alpha=0.3)
    handles, labels = [], []
    for ax in axes.flat:
        h, lab = ax.get_legend_handles_labels()
        handles += h
        labels += lab
    fig.legend(handles, labels, loc="lower center", ncol=3, fontsize=8, frameon=False)
    fig.suptitle(f"41-byte units, {units} a point; points with no lost unit drawn at "
                 f"{floor:.3g} %", fontsize=10)
    fig.tight_layout(rect=(0, 0.1, 1, 0.97))
    fig.savefig(path, dpi=100)


def markdown(results, header_lines, units, command):
    out = [f"Measured with `{command}` ({units} units a point and modem, seed 1). "
           "UER: units lost (or wrong) out of those sent; B/s: unit bytes delivered per second "
           "of the modem's own air time; `-`: not run (the modem had lost no unit at the two "
           "points below)."]
    out.append("")
    seen = set()
    for line in header_lines:
        if line not in seen:
            out.append(f"    {line[2:]}")
            seen.add(line)
    for channel in SWEEPS:
        table = results[channel]
        out.append("")
        out.append(f"#### {TITLES[channel]}")
        out.append("")
        out.append("| " + " | ".join(table["header"]) + " |")
        out.append("|" + "---:|" * len(table["header"]))
        for row in table["rows"]:
            out.append("| " + " | ".join(row) + " |")
        out.append("")
        for extra in table["extra"]:
            out.append(f"{extra}  ")
    return "\n".join(out).rstrip() + "\n"


def run(binary, units):
    """modem_peer's output for every channel, the batches side by side."""
    procs = []
    for batch in BATCHES:
        cmds = [[binary, "--channel", ch, "--snr", SWEEPS[ch], "--units", str(units)]
                for ch in batch]
        # One shell per batch runs its channels in turn.
        script = " && ".join(" ".join(f"'{a}'" for a in cmd) for cmd in cmds)
        procs.append(subprocess.Popen(["bash", "-c", script], stdout=subprocess.PIPE,
                                      text=True))
    texts = []
    for proc in procs:
        out, _ = proc.communicate()
        if proc.returncode != 0:
            sys.exit(f"modem_curves: modem_peer failed ({proc.returncode})")
        texts.append(out)
    return "\n".join(texts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--units", type=int, default=2016)
    parser.add_argument("--bin", default=str(ROOT / "build/bin/modem_peer"))
    parser.add_argument("--no-docs", action="store_true", help="print, write nothing")
    parser.add_argument("--from", dest="saved", metavar="FILE",
                        help="draw and write from modem_peer output saved before; run nothing")
    args = parser.parse_args()

    if args.saved:
        text = Path(args.saved).read_text()
    else:
        text = run(args.bin, args.units)
        print(text)
        (ROOT / "build").mkdir(exist_ok=True)
        (ROOT / "build/modem_peer.txt").write_text(text)  # for --from
    units = args.units
    header = []
    for line in text.splitlines():
        if line.startswith("# "):
            header.append(line)
            found = re.match(r"# modem_peer: (\d+) units", line)
            if found:
                units = int(found.group(1))
    tables = parse(text)
    results = {}
    for channel, title in TITLES.items():
        found = [t for name, t in tables.items() if name.startswith(title.split(" (")[0])]
        if not found:
            sys.exit(f"modem_curves: no table for {channel}")
        results[channel] = found[0]
    if args.no_docs:
        return
    plot(results, units, ROOT / "docs/modem-uer.png")
    block = markdown(results, header, units, "./dev modem-curves")
    doc = ROOT / "docs/MODEM.md"
    current = doc.read_text()
    if BEGIN not in current or END not in current:
        sys.exit(f"modem_curves: {doc} lacks the markers {BEGIN} and {END}")
    before, rest = current.split(BEGIN, 1)
    _, after = rest.split(END, 1)
    doc.write_text(before + BEGIN + "\n" + block + END + after)
    print("modem_curves: wrote docs/modem-uer.png and the tables in docs/MODEM.md")


if __name__ == "__main__":
    main()
