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
]


def human_rate(bytes_per_second):
    if bytes_per_second is None:
        return ""
    return f"{bytes_per_second / 1e6:10.1f} MB/s"


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
              f"{human_rate(b.get('bytes_per_second'))}")
    print()
    print("ratio = reference time / our time (above 1: ours is faster)")
    for what, ours, ref in RATIOS:
        a, r = medians.get(ours), medians.get(ref)
        if a is None or r is None:
            print(f"  {what:<42} not measured")
            continue
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
        ratio = (r["real_time"] * scale[r["time_unit"]]) / (a["real_time"] * scale[a["time_unit"]])
        print(f"  {what:<42} {ratio:6.2f}x")


if __name__ == "__main__":
    main(sys.argv[1:])
