#!/usr/bin/env python3
"""Prints the benchmark medians of a Google Benchmark JSON file as one table, then the ratios
of our code against the references measured in the same run."""
import json
import sys

# (what, our benchmark, reference benchmark): ratio = reference time / our time.
RATIOS = [
    ("ARITHCODE encode, coefficient-like", "BM_ArithEncode/coefficients",
     "BM_LinearScanEncode/coefficients"),
    ("ARITHCODE decode, coefficient-like", "BM_ArithDecode/coefficients",
     "BM_LinearScanDecode/coefficients"),
    ("ARITHCODE encode, random", "BM_ArithEncode/random", "BM_LinearScanEncode/random"),
    ("ARITHCODE decode, random", "BM_ArithDecode/random", "BM_LinearScanDecode/random"),
    ("RSDECODE 40 lanes, t=16, 28 erasures", "BM_RsDecodeFrame", "BM_LibfecDecodeFrame"),
    ("CDF 9/7 forward 256, extended kernels", "BM_WaveletCdf97Forward256",
     "BM_WaveletCdf97Forward256Kernels"),
    ("CDF 9/7 inverse 256, extended kernels", "BM_WaveletCdf97Inverse256",
     "BM_WaveletCdf97Inverse256Kernels"),
    ("D4 forward 256, extended kernels", "BM_WaveletD4Forward256", "BM_WaveletD4Forward256Kernels"),
    ("D4 inverse 256, extended kernels", "BM_WaveletD4Inverse256", "BM_WaveletD4Inverse256Kernels"),
]


def human_rate(bytes_per_second):
    if bytes_per_second is None:
        return ""
    return f"{bytes_per_second / 1e6:10.1f} MB/s"


def human_items(items_per_second):
    if items_per_second is None:
        return ""
    return f"{items_per_second / 1e6:6.2f} M items/s"


SCALE = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}

# (what, our operation, peer operation, goal): ratio = peer time / our time.
PEER_RATIOS = [
    ("ENCODEFRAME / libwebp encode", "EncodeFrame", "WebpEncode", 1.0),
    ("ENCODEFRAME / OpenJPEG encode", "EncodeFrame", "OpenjpegEncode", 5.0),
    ("ENCODEFRAME / libjpeg-turbo encode", "EncodeFrame", "JpegEncode", None),
    ("receive / OpenJPEG decode", "ReceiveFrame", "OpenjpegDecode", 5.0),
    ("receive / libwebp decode", "ReceiveFrame", "WebpDecode", None),
    ("receive / libjpeg-turbo decode", "ReceiveFrame", "JpegDecode", None),
]
PEER_COLUMNS = ["EncodeFrame", "EncodeFrameNoPreview", "ReceiveFrame", "JpegEncode", "JpegDecode",
                "WebpEncode", "WebpDecode", "OpenjpegEncode", "OpenjpegDecode"]
FIT_GOAL_MS = 200.0


def cpu_us(b):
    return b["cpu_time"] * SCALE[b.get("time_unit", "ns")] / 1e3


def side_by_side(medians):
    """Vistrel beside the peers per frame size, from peer_bench's Peer/<operation>/<N> cases."""
    sizes = sorted({int(n.split("/")[2]) for n in medians
                    if n.startswith("Peer/") and n.count("/") == 2})
    if not sizes:
        return
    print()
    print("Side by side: CPU time per frame in us (median), single thread, same picture")
    print(f"{'N':>4}  " + "  ".join(f"{c:>14}" for c in PEER_COLUMNS))
    for n in sizes:
        cells = []
        for c in PEER_COLUMNS:
            b = medians.get(f"Peer/{c}/{n}")
            cells.append(f"{cpu_us(b):14.1f}" if b else f"{'-':>14}")
        print(f"{n:>4}  " + "  ".join(cells))
    print("quality matched on luma PSNR (dB) / coded bytes:")
    for n in sizes:
        parts = []
        for c in ["EncodeFrame", "JpegEncode", "WebpEncode", "OpenjpegEncode"]:
            b = medians.get(f"Peer/{c}/{n}")
            if b and "luma_dB" in b:
                parts.append(f"{c.replace('Encode', '').replace('Frame', 'Vistrel')} "
                             f"{b['luma_dB']:.1f}/{int(b['coded_bytes'])}")
        print(f"  {n:>4}: " + ", ".join(parts))
    print("ratio = peer time / Vistrel time (above 1: Vistrel faster)")
    print(f"  {'':<36}" + "".join(f"{n:>9}" for n in sizes) + "   goal")
    for what, ours, ref, goal in PEER_RATIOS:
        cells = []
        for n in sizes:
            a, r = medians.get(f"Peer/{ours}/{n}"), medians.get(f"Peer/{ref}/{n}")
            if a is None or r is None:
                cells.append(f"{'-':>9}")
                continue
            ratio = cpu_us(r) / cpu_us(a)
            mark = "" if goal is None else (" " if ratio >= goal else "!")
            cells.append(f"{ratio:8.2f}{mark or ' '}")
        goal_text = "" if goal is None else (f">= {goal:g}x" if goal > 1 else "> 1x")
        print(f"  {what:<36}" + "".join(cells) + f"   {goal_text}")
    print("  (! marks a ratio short of its goal)")
    for name, b in medians.items():
        if name.startswith("FitAirTime/"):
            ms = cpu_us(b) / 1e3
            verdict = "within" if ms < FIT_GOAL_MS else "over"
            print(f"fit to air time {name.split('/')[1]} x {name.split('/')[1]}: {ms:.1f} ms CPU "
                  f"({verdict} the {FIT_GOAL_MS:g} ms goal)")


def main(paths):
    benchmarks = []
    for path in paths:
        with open(path) as f:
            benchmarks += json.load(f)["benchmarks"]
    medians = {}
    for b in benchmarks:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"])
        medians[name] = b
    width = max((len(n) for n in medians), default=10)
    print(f"{'benchmark (median of repetitions)':<{width}}  {'time':>14}  {'throughput':>15}")
    for name, b in medians.items():
        unit = b.get("time_unit", "ns")
        print(f"{name:<{width}}  {b['real_time']:11.1f} {unit:<2}  "
              f"{human_rate(b.get('bytes_per_second')) or human_items(b.get('items_per_second'))}")
    print()
    print("ratio = reference time / our time (above 1: ours is faster)")
    for what, ours, ref in RATIOS:
        a, r = medians.get(ours), medians.get(ref)
        if a is None or r is None:
            print(f"  {what:<42} not measured")
            continue
        ratio = (r["real_time"] * SCALE[r["time_unit"]]) / (a["real_time"] * SCALE[a["time_unit"]])
        print(f"  {what:<42} {ratio:6.2f}x")
    side_by_side(medians)


if __name__ == "__main__":
    main(sys.argv[1:])
