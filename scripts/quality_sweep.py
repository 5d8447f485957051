#!/usr/bin/env python3
"""Quality per air-second: runs build/bin/quality_sweep, then writes docs/QUALITY.md (tables) and
docs/quality.png (PSNR against bytes, drawn with gnuplot).

    scripts/quality_sweep.py [--build DIR] [--docs DIR] [--points CSV] [--fitcheck CSV]
                             [--av1fit CSV] [--photos DIR]

--points/--fitcheck/--av1fit reuse CSV files of an earlier run instead of sweeping again (the sweep takes
some minutes; the fit check's exhaustive searches at 256 x 256 most of them). --photos: the
folder of Debian's python3-skimage sample pictures (by default where that package puts them);
its photographs with a clear licence join the project's own pictures when it is there.
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile
from collections import defaultdict

BYTES_PER_SECOND = 250
AIR_TIMES = [4, 8, 15, 30, 60]  # seconds, for the tables
SERIES = [  # (key, label in tables and plot)
    ("Vistrel-air", "Vistrel frame string"),
    ("Av1-444-air", "AV1 4:4:4 frame string"),
    ("Av1-420-air", "AV1 4:2:0 frame string"),
    ("Vistrel", "Vistrel coded stream"),
    ("Jpeg", "libjpeg-turbo"),
    ("Webp", "libwebp"),
    ("Openjpeg", "OpenJPEG"),
]
PICTURES = {
    "card": "generated test card (encoder/test_pictures.h)",
    "gradient": "generated gradient (encoder/test_pictures.h)",
    "landscape": "fractal landscape made by bench/quality_sweep.cpp (seed 7)",
}
# Photographs Debian ships in python3-skimage with a clear licence (its skimage/data/_fetchers.py
# says so for each); the middle square of each is scaled to 256 x 256.
PHOTOS_DIR = "/usr/lib/python3/dist-packages/skimage/data"
PHOTOS = {
    "astronaut.png": "astronaut: NASA photograph, public domain",
    "coffee.png": "coffee: cup of coffee, CC0 (Rachel Michetti)",
    "chelsea.png": "chelsea: cat, CC0 (Stefan van der Walt)",
    "rocket.jpg": "rocket: launch, SpaceX, public domain",
    "hubble_deep_field.jpg": "hubble_deep_field: NASA, public domain",
    "retina.jpg": "retina: fundus photograph, CC0 (Mikael Haggstrom)",
}
PLOT_PICTURES = ["card", "landscape", "astronaut", "coffee", "chelsea"]
# The pictures with the statistics of photographs: the gains and the 30 dB budget are
# summarised over these (the test card and the gradient are shown, not averaged).
PHOTOGRAPH_LIKE = ["landscape"] + [name.split(".")[0] for name in PHOTOS]


def run_sweep(build, mode, path, files=()):
    program = os.path.join(build, "bin", "quality_sweep")
    if not os.access(program, os.X_OK):
        sys.exit(f"quality_sweep.py: {program} not found; build the quality_sweep target first")
    print(f"quality_sweep.py: running {program} {mode} (some minutes)", file=sys.stderr)
    subprocess.run([program, mode, path, *files], check=True)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def fronts(points):
    """Per (picture, n, series): the points no other point beats on both bytes and RGB PSNR,
    by bytes."""
    raw = defaultdict(list)
    for p in points:
        key = (p["picture"], int(p["n"]))
        rgb, luma = float(p["rgb_db"]), float(p["luma_db"])
        raw[key + (p["codec"],)].append((int(p["coded_bytes"]), rgb, luma, p["setting"]))
        if p["codec"] in ("Vistrel", "Av1-444", "Av1-420"):
            raw[key + (p["codec"] + "-air",)].append(
                (int(p["air_bytes"]), rgb, luma, p["setting"]))
    out = {}
    for key, pts in raw.items():
        pts.sort(key=lambda t: (t[0], -t[1]))
        front, best = [], -1.0
        for t in pts:
            if t[1] > best:
                front.append(t)
                best = t[1]
        out[key] = front
    return out


def best_within(front, budget):
    fitting = [t for t in front if t[0] <= budget]
    return max(fitting, key=lambda t: t[1]) if fitting else None


def table(front_map, picture, n):
    lines = [f"| air time (bytes) | " + " | ".join(label for _, label in SERIES) + " |",
             "|---|" + "---|" * len(SERIES)]
    for seconds in AIR_TIMES:
        budget = seconds * BYTES_PER_SECOND
        cells = []
        for key, _ in SERIES:
            t = best_within(front_map.get((picture, n, key), []), budget)
            cells.append(f"{t[1]:.1f} / {t[2]:.1f}" if t else "-")
        lines.append(f"| {seconds} s ({budget}) | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def mean_gain(front_map, picture, n, series, points=24):
    """Mean RGB PSNR gain of series over the fixed format's frame string at equal frame-string
    bytes, over the fixed format's own range: budgets spaced evenly in log bytes from its
    smallest frame to its largest best point."""
    base = front_map.get((picture, n, "Vistrel-air"), [])
    other = front_map.get((picture, n, series), [])
    if len(base) < 2 or not other:
        return None
    lo, hi = base[0][0], base[-1][0]
    gains = []
    for i in range(points):
        budget = lo * (hi / lo) ** (i / (points - 1))
        a, b = best_within(other, budget), best_within(base, budget)
        if a and b:
            gains.append(a[1] - b[1])
    return sum(gains) / len(gains) if gains else None


def bytes_for(front_map, picture, n, series, db):
    fitting = [t for t in front_map.get((picture, n, series), []) if t[1] >= db]
    return min(t[0] for t in fitting) if fitting else None


def median(values):
    values = sorted(values)
    if not values:
        return None
    mid = len(values) // 2
    return values[mid] if len(values) % 2 else (values[mid - 1] + values[mid]) / 2


def av1_section(front_map, pictures, sizes):
    photos = [p for p in PHOTOGRAPH_LIKE if p in pictures]
    lines = ["| picture | " + " | ".join(f"{n}: AV1 4:4:4 / 4:2:0" for n in sizes) + " |",
             "|---|" + "---|" * len(sizes)]
    summary = {}
    for picture in pictures:
        cells = []
        for n in sizes:
            g4 = mean_gain(front_map, picture, n, "Av1-444-air")
            g2 = mean_gain(front_map, picture, n, "Av1-420-air")
            cells.append(" / ".join("-" if g is None else f"{g:+.1f}" for g in (g4, g2)))
        lines.append(f"| {picture} | " + " | ".join(cells) + " |")
    means = []
    for n in sizes:
        pair = []
        for series in ("Av1-444-air", "Av1-420-air"):
            gains = [g for g in (mean_gain(front_map, p, n, series) for p in photos)
                     if g is not None]
            pair.append(sum(gains) / len(gains) if gains else None)
        summary[n] = pair
        means.append(" / ".join("-" if g is None else f"**{g:+.1f}**" for g in pair))
    lines.append("| mean of the photographs | " + " | ".join(means) + " |")
    budget = ["| N | fixed format | AV1 4:4:4 | AV1 4:2:0 |", "|---|---|---|---|"]
    needed = {}
    for n in sizes:
        cells = []
        for series in ("Vistrel-air", "Av1-444-air", "Av1-420-air"):
            got = [bytes_for(front_map, p, n, series, 30.0) for p in photos]
            reached = [b for b in got if b is not None]
            m = median([b if b is not None else float("inf") for b in got])
            needed[(n, series)] = m
            cells.append("never" if m is None or m == float("inf") else
                         f"{m:.0f} ({m / BYTES_PER_SECOND:.1f} s; {len(reached)} of {len(got)} "
                         f"reach it)")
        budget.append(f"| {n} | " + " | ".join(cells) + " |")
    return "\n".join(lines), "\n".join(budget), summary, needed


def plot(front_map, sizes, png):
    gnuplot = shutil.which("gnuplot")
    if gnuplot is None:
        print("quality_sweep.py: gnuplot not found (apt-get install gnuplot-nox); no plot",
              file=sys.stderr)
        return False
    with tempfile.TemporaryDirectory() as tmp:
        script = [f"set terminal pngcairo size 2300,1250 font ',10'",
                  f"set output '{png}'",
                  f"set multiplot layout {len(sizes)},{len(PLOT_PICTURES)} title "
                  "'RGB PSNR (dB) against bytes: best points of each codec'",
                  "set logscale x", "set grid", "set key bottom right font ',8'",
                  "set xlabel 'bytes (Vistrel frame string: what goes on air)'",
                  "set ylabel 'RGB PSNR, dB'"]
        for n in sizes:
            for picture in PLOT_PICTURES:
                plots = []
                for key, label in SERIES:
                    front = front_map.get((picture, n, key), [])
                    if not front:
                        continue
                    data = os.path.join(tmp, f"{picture}-{n}-{key}.dat")
                    with open(data, "w") as f:
                        for t in front:
                            f.write(f"{t[0]} {t[1]}\n")
                    style = ("lines dt 2 lw 2" if key == "Vistrel" else
                             "lines lw 3" if key.startswith("Av1") else
                             "linespoints pt 7 ps 0.4 lw 2")
                    plots.append(f"'{data}' using 1:2 with {style} title '{label}'")
                script.append(f"set title '{picture}, {n} x {n}'")
                script.append("plot " + ", ".join(plots))
        script.append("unset multiplot")
        path = os.path.join(tmp, "plot.gp")
        with open(path, "w") as f:
            f.write("\n".join(script) + "\n")
        subprocess.run([gnuplot, path], check=True)
    return True


def fit_table(rows):
    lines = ["| picture | N | syndromes | air time | fit: settings, PSNR, bytes | points decoded | "
             "fit time | grid's best: settings, PSNR | short by | search time |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    worst = 0.0
    for r in rows:
        short = float(r["best_db"]) - float(r["fit_db"])
        worst = max(worst, short)
        lines.append(
            f"| {r['picture']} | {r['n']} | {r['syndromes']} | {r['air_s']} s | "
            f"{r['fit_settings']}, {float(r['fit_db']):.2f} dB, {r['fit_bytes']} | "
            f"{r['fit_points']} | {float(r['fit_ms']):.0f} ms | "
            f"{r['best_settings']}, {float(r['best_db']):.2f} dB | {short:.2f} dB | "
            f"{float(r['search_ms']) / 1000:.1f} s |")
    return "\n".join(lines), worst


def av1_fit_table(rows):
    lines = ["| picture | N | air time | fit: quality, PSNR, bytes | encodes | fit time | "
             "best quality, PSNR, bytes | short by |",
             "|---|---|---|---|---|---|---|---|"]
    worst = 0.0
    for r in rows:
        short = float(r["best_db"]) - float(r["fit_db"])
        worst = max(worst, short)
        lines.append(
            f"| {r['picture']} | {r['n']} | {r['air_s']} s | q{r['fit_quality']}, "
            f"{float(r['fit_db']):.2f} dB, {r['fit_bytes']} | {r['fit_encodes']} | "
            f"{float(r['fit_ms']):.0f} ms | q{r['best_quality']}, {float(r['best_db']):.2f} dB, "
            f"{r['best_bytes']} | {short:.2f} dB |")
    slowest = {n: max(float(r["fit_ms"]) for r in rows if r["n"] == n)
               for n in dict.fromkeys(r["n"] for r in rows)}
    return "\n".join(lines), worst, slowest


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder with bin/quality_sweep")
    parser.add_argument("--docs", default="docs", help="where QUALITY.md and quality.png go")
    parser.add_argument("--points", help="CSV of an earlier 'quality_sweep points' run")
    parser.add_argument("--fitcheck", help="CSV of an earlier 'quality_sweep fitcheck' run")
    parser.add_argument("--av1fit", help="CSV of an earlier 'quality_sweep av1fit' run")
    parser.add_argument("--photos", default=PHOTOS_DIR,
                        help="folder of python3-skimage's sample pictures")
    args = parser.parse_args()
    photo_files = [os.path.join(args.photos, f) for f in PHOTOS
                   if os.path.exists(os.path.join(args.photos, f))]
    if not photo_files:
        print(f"quality_sweep.py: no photographs in {args.photos} (apt-get install "
              "python3-skimage); the project's own pictures only", file=sys.stderr)

    with tempfile.TemporaryDirectory() as tmp:
        points_csv = args.points or os.path.join(tmp, "points.csv")
        fit_csv = args.fitcheck or os.path.join(tmp, "fitcheck.csv")
        if not args.points:
            run_sweep(args.build, "points", points_csv, photo_files)
        av1_csv = args.av1fit or os.path.join(tmp, "av1fit.csv")
        if not args.fitcheck:
            run_sweep(args.build, "fitcheck", fit_csv)
        if not args.av1fit:
            run_sweep(args.build, "av1fit", av1_csv, photo_files)
        points = read_csv(points_csv)
        fits = read_csv(fit_csv)
        av1_fits = read_csv(av1_csv)

    front_map = fronts(points)
    sizes = sorted({int(p["n"]) for p in points})
    pictures = list(dict.fromkeys(p["picture"] for p in points))
    described = dict(PICTURES)
    for f, text in PHOTOS.items():
        if f.split(".")[0] in pictures:
            described[f.split(".")[0]] = text.split(": ", 1)[1] + ", from Debian's python3-skimage"
    gain_table, budget_table, gains, needed = av1_section(front_map, pictures, sizes)
    os.makedirs(args.docs, exist_ok=True)
    png = os.path.join(args.docs, "quality.png")
    drawn = plot(front_map, sizes, png)
    fit_text, worst = fit_table(fits)
    av1_fit_text, av1_worst, av1_slowest = av1_fit_table(av1_fits)
    vistrel_points = sum(1 for p in points if p["codec"] == "Vistrel")

    md = [
        "# Quality per air-second",
        "",
        "What a picture looks like after a given time on the air at 250 bytes per second, for "
        "Vistrel and for the codecs users know, on the same pictures. Regenerate everything on "
        "this page (tables, plot and the numbers quoted) with:",
        "",
        "```",
        "cmake --build build --target quality_sweep && scripts/quality_sweep.py",
        "```",
        "",
        "(with Debian's `python3-skimage` installed for its photographs; without it the project's "
        "own pictures only). The AV1 payload's speed and decode times are in `./dev bench` "
        "(`av1_bench`).",
        "",
        "## Method",
        "",
        "- Pictures: " + "; ".join(f"`{k}`: {described.get(k, k)}" for k in pictures) + ".",
        "- Each 256 x 256 source is box-averaged to N x N as the encoder does "
        "(`referencePicture`); every codec encodes that N x N picture and PSNR is measured "
        "against it: RGB PSNR over the three channels, and luma PSNR of "
        "0.299 R + 0.587 G + 0.114 B.",
        "- Vistrel: 1560 settings per picture and size through `ENCODEFRAME` (wavelet Haar, D4 "
        "or CDF 9/7; chroma factors 2/2 and 4/4; thresholds 0, 20, 50, 100; quantisers 1..65; "
        f"syndromes 32, t = 16; no message; {vistrel_points} frames in all), counted two ways: the coded stream alone, and the "
        "whole frame string with CRC, end marker, Reed-Solomon parity, header blocks and packet "
        "numbers: what actually goes on the air. Frames the size check rejects are left out. "
        "(The smallest frame string is about 2 KB whatever the picture: 3 header blocks, one "
        "every 7 packets, and 32 parity bytes in each of the 39 codewords.)",
        "- AV1 payload: every quality 0..63 in 4:4:4 and in 4:2:0 through `ENCODEFRAME` "
        "(libaom all-intra at the send speed, 6; the same frame format, syndromes 32), the "
        "frame string counted whole like Vistrel's.",
        "- Peers, coded bytes only (they carry no framing or error protection): libjpeg-turbo "
        "(baseline, 4:2:0) quality 5..100, libwebp (lossy, method 4) quality 5..100, OpenJPEG "
        "(J2K, 9/7, one layer) compression ratios 2..256 (`bench/peer_codecs.cpp`).",
        "- For each codec only its best points are kept: those no other setting beats on both "
        "bytes and RGB PSNR.",
        "",
        "## PSNR against bytes",
        "",
        "![RGB PSNR against bytes](quality.png)" if drawn else "(gnuplot was missing: no plot)",
        "",
    ]
    md += [
        "## The AV1 payload against the fixed format",
        "",
        "Mean RGB PSNR gain in dB of the AV1 payload's frame string over the fixed format's, at "
        "equal frame-string bytes, over the fixed format's own range (24 budgets spaced evenly "
        "in log bytes from its smallest frame to its largest best point); the mean is over "
        "the photographs and the landscape (" + ", ".join(p for p in PHOTOGRAPH_LIKE
                                                        if p in pictures) + ").",
        "",
        gain_table,
        "",
        "Frame-string bytes to reach 30 dB RGB PSNR, median picture of the same set "
        "(a picture that never reaches it counts as more than any):",
        "",
        budget_table,
        "",
    ]
    md += [
        "## Best picture within an air time",
        "",
        "Cells are RGB / luma PSNR in dB of the best point within the air time: for Vistrel's "
        "frame string, the frame's own length; for the stream and the peers, their coded bytes "
        "against the same byte budget (with no framing, which Vistrel's frame pays for). A dash: "
        "nothing that small.",
        "",
    ]
    for picture in pictures:
        for n in sizes:
            md += [f"### {picture}, {n} x {n}", "", table(front_map, picture, n), ""]
    md += [
        "## Fitting a picture to an air time",
        "",
        "`fitAirTime` (`encoder/air_time.h`, `vistrel encode --air-time SECONDS`) chooses "
        "wavelet, chroma factors, threshold and quantiser for the best RGB PSNR whose frame "
        "string fits the air time, at the caller's frame size and syndromes. Its grid "
        "(`fullFitGrid`): the 3 wavelets, the 4 pairs of chroma factors, thresholds "
        "0, 10, 15, 20, 25, 30, 40, 50, 60, 80, 100 and every quantiser 1..65: 8580 points. "
        "The table compares it with `searchGridExhaustively`, which codes every point and "
        "decodes every one that fits. Times are wall clock on a shared, loaded machine; "
        "the CPU time of the fit at 256 x 256 is in `./dev bench` (FitAirTime/256).",
        "",
        fit_text,
        "",
        f"Largest shortfall against the grid's best: {worst:.2f} dB.",
        "",
        "How it searches: colour conversion and the forward transforms depend on the wavelet "
        "and the chroma factors only (Haar's own threshold zeroes exactly what the quantiser's "
        "does), so they are done once. For every combination of wavelet, factors and "
        "threshold, the frame length at each quantiser is estimated from the counts of the "
        "coefficient bytes (the adaptive order-0 coder's output depends on the counts alone, "
        "within a byte of ARITHCODE's), and the error from the coefficient errors weighted into "
        "RGB. The estimates order the work; the leading combinations are then decoded in full "
        "around their best quantisers, because the decoded PSNR jumps by up to half a dB from "
        "one quantiser to the next (the power law rounds different coefficients each time, and "
        "the clamping of saturated colours hides errors the estimate counts), and the "
        "best decoded point is coded with ARITHCODE to confirm its frame length.",
        "",
    ]
    md += [
        "## Fitting an AV1 picture to an air time",
        "",
        "With the AV1 payload, `fitAv1AirTime` (`vistrel encode --codec av1 --air-time "
        "SECONDS`) chooses the quality alone (4:4:4, the send speed, syndromes 32): quality 63, "
        "a bisection of the 64 qualities, a look at the finer qualities below the answer (the "
        "frame length does not always fall with the quality), and of the fitting qualities "
        "tried near the answer the sharpest decoded one. The encodes run two at a time: the "
        "one the search needs and the one it will probably need next, guessed from the "
        "lengths so far; the answer is the same as with one at a time. The table compares it "
        "with every quality 0..63 at three air times per picture (1.1, 1.5 and 2.5 times "
        "quality 63's frame, rounded up to a second). Times are wall clock with both cores "
        "free for the fit; `./dev bench` (`av1_bench`, Av1FitAirTime) gives the median of "
        "the slowest case and the same with one encode at a time.",
        "",
        av1_fit_text,
        "",
        f"Largest shortfall against the sharpest fitting quality: {av1_worst:.2f} dB. "
        "Slowest fit: " + ", ".join(f"{ms:.0f} ms at {n} x {n}"
                                    for n, ms in av1_slowest.items()) + ".",
        "",
    ]
    path = os.path.join(args.docs, "QUALITY.md")
    with open(path, "w") as f:
        f.write("\n".join(md))
    print(f"quality_sweep.py: wrote {path}" + (f" and {png}" if drawn else ""), file=sys.stderr)


if __name__ == "__main__":
    main()
