#!/usr/bin/env python3
"""Prints the bench tables from the benches' JSON output.

    qez_dft_1d_bench --benchmark_repetitions=3 --benchmark_format=json > run.json
    bench/table.py run.json

For each precision: GFLOPS of every road for the batched transforms (a single
transform where the length alone fills a call), the best of the repetitions,
then the GPU road over the better of clFFT and VkFFT, the GPU road over clFFT
alone (the peer the composite lengths are held against) and the CPU road over
FFTW on all threads; and the second-commit times in milliseconds. From
qez_dft_cpu_bench's output (real 1D, complex and real 2D and 3D transforms):
the CPU road beside FFTW, the same way.
"""
import json
import math
import sys
from collections import defaultdict

ROADS = ["gpu", "clfft", "vkfft", "cpu", "fftw1", "fftwN"]
PRECISIONS = {"s": "single", "d": "double"}


def parse_name(name):
    """'gpu/s/N:64/batch:65536' -> ('gpu', 's', 64, 65536)."""
    parts = name.split("/")
    if len(parts) < 4 or not parts[2].startswith("N:") or not parts[3].startswith("batch:"):
        return None
    return parts[0], parts[1], int(parts[2][2:]), int(parts[3][6:].split("_")[0])


def parse_shape_name(name):
    """'cpu/r/s/64x64/batch:1024' -> ('cpu', 's', 'r', '64x64', 1024)."""
    parts = name.split("/")
    if len(parts) < 5 or parts[1] not in ("c", "r") or not parts[4].startswith("batch:"):
        return None
    return parts[0], parts[2], parts[1], parts[3], int(parts[4][6:].split("_")[0])


def best_results(runs, parse=parse_name):
    """Best GFLOPS and best time (us) per parsed name."""
    gflops, micros = defaultdict(float), {}
    for run in runs:
        key = parse(run["name"])
        if key is None or run.get("run_type", "iteration") != "iteration":
            continue
        if run.get("error_occurred"):
            gflops[key] = max(gflops[key], 0.0)  # the road has no plan: "fails"
            continue
        gflops[key] = max(gflops[key], run.get("GFLOPS", 0.0))
        t = run["real_time"]
        micros[key] = min(micros.get(key, t), t)
    return gflops, micros


def largest_batch(keys, roads, precision, n):
    batches = [k[3] for k in keys if k[0] in roads and k[1:3] == (precision, n)]
    return max(batches) if batches else None


def cell(value):
    if value is None:
        return "-"
    return f"{value:.1f}" if value else "fails"


def ratio(a, b):
    return f"{a / b:.2f}" if a and b else "-"


def print_tables(gflops, micros):
    lengths = sorted({k[2] for k in gflops})
    for letter, precision in PRECISIONS.items():
        print(f"\n### {precision} precision, GFLOPS (5 N log2 N x batch / time)\n")
        header = ["N", "batch"] + ROADS + ["gpu / best peer", "gpu / clfft", "cpu / fftwN"]
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for n in lengths:
            batch = largest_batch(gflops.keys(), ROADS, letter, n)
            if batch is None:
                continue
            row = {road: gflops.get((road, letter, n, batch)) for road in ROADS}
            peer = max(row["clfft"] or 0.0, row["vkfft"] or 0.0)
            label = f"2^{int(math.log2(n))}" if n & (n - 1) == 0 else str(n)
            cells = [label, str(batch)] + [cell(row[r]) for r in ROADS]
            cells += [ratio(row["gpu"], peer), ratio(row["gpu"], row["clfft"])]
            cells += [ratio(row["cpu"], row["fftwN"])]
            print("| " + " | ".join(cells) + " |")
        print(f"\n### {precision} precision, second commit of a cached configuration (ms)\n")
        print("| N | batch | GPU road | CPU road |")
        print("|---|---|---|---|")
        for n in lengths:
            batch = largest_batch(micros.keys(), ("commit_gpu", "commit_cpu"), letter, n)
            if batch is None:
                continue
            g = micros.get(("commit_gpu", letter, n, batch))
            c = micros.get(("commit_cpu", letter, n, batch))
            fmt = lambda t: f"{t / 1000:.3f}" if t is not None else "-"
            print(f"| {n} | {batch} | {fmt(g)} | {fmt(c)} |")


SHAPE_ROADS = ["cpu", "fftw1", "fftwN"]
KINDS = {"r": "real", "c": "complex"}


def print_shape_tables(gflops):
    shapes = sorted({k[2:4] for k in gflops},
                    key=lambda k: (k[1].count("x"), k[0] != "r", int(k[1].split("x")[0])))
    for letter, precision in PRECISIONS.items():
        print(f"\n### CPU road, {precision} precision, GFLOPS (real: half of 5 N log2 N x batch / time)\n")
        header = ["transform", "shape", "batch"] + SHAPE_ROADS + ["cpu / fftwN"]
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for kind, shape in shapes:
            batches = [k[4] for k in gflops if k[1:4] == (letter, kind, shape)]
            if not batches:
                continue
            batch = max(batches)
            row = {road: gflops.get((road, letter, kind, shape, batch)) for road in SHAPE_ROADS}
            cells = [KINDS[kind], shape, str(batch)] + [cell(row[r]) for r in SHAPE_ROADS]
            print("| " + " | ".join(cells + [ratio(row["cpu"], row["fftwN"])]) + " |")


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1]) as f:
        runs = json.load(f)["benchmarks"]
    if any(parse_shape_name(run["name"]) for run in runs):
        print_shape_tables(best_results(runs, parse_shape_name)[0])
    else:
        print_tables(*best_results(runs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
