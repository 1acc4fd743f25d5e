"""nvfiltering.fft against scipy.fft, in one process and one run: the complex
transforms (fft, fft2, fftn on complex64 / complex128 input and on real input)
and the real ones (rfft*, irfft*), with workers=1 for both, and nvfiltering with
workers=2 for the speed-up of two threads.

Every case runs its contenders in a shuffled order, repetition after
repetition, and reports medians: CPU time of the process for workers=1 (the
machine is shared, CPU time moves less than wall time), wall time for the
two-thread speed-up (wall time of workers=1 over wall time of workers=2).

    python bench/python/bench_fft.py                 # every case, 5 repetitions
    python bench/python/bench_fft.py --reps 9 --only 3d
    python bench/python/bench_fft.py --json out.json

The printed ratio is nvfiltering's time over scipy's (below 1: nvfiltering is
faster).
"""

import argparse
import json
import random
import statistics
import time

import numpy as np
import scipy.fft

from nvfiltering import fft as nfft

# (family, shape, dtype of the real data, the axes transformed)
CASES = [
    ("3d", (256, 256, 256), np.float32, (0, 1, 2)),
    ("3d", (240, 240, 240), np.float32, (0, 1, 2)),
    ("3d", (180, 200, 216), np.float32, (0, 1, 2)),
    ("2d", (1024, 1024), np.float64, (0, 1)),
    ("2d", (1000, 1000), np.float64, (0, 1)),
    ("2d", (2048, 2048), np.float32, (0, 1)),
    ("1d", (4096, 1000), np.float64, (1,)),
    ("1d", (10000, 360), np.float64, (1,)),
]


def complex_of(real):
    return np.complex64 if real == np.float32 else np.complex128


def calls(module, kind, axes, workers):
    """The transform of one kind (complex, complex of real data, r2c, c2r)."""
    if len(axes) == 1:
        f = {"c2c": module.fft, "real_in": module.fft, "r2c": module.rfft, "c2r": module.irfft}[kind]
        return lambda x, n=None: f(x, axis=axes[0], workers=workers) if n is None else f(
            x, n=n, axis=axes[0], workers=workers)
    f = {"c2c": module.fftn, "real_in": module.fftn, "r2c": module.rfftn, "c2r": module.irfftn}[kind]
    return lambda x, n=None: f(x, axes=axes, workers=workers) if n is None else f(
        x, s=n, axes=axes, workers=workers)


def timed(f, clock):
    t0 = clock()
    f()
    return clock() - t0


def run_case(family, shape, real, axes, reps, kinds):
    rng = np.random.default_rng(1)
    xr = rng.standard_normal(shape).astype(real)
    xc = (xr + 1j * rng.standard_normal(shape).astype(real)).astype(complex_of(real))
    half = scipy.fft.rfftn(xr, axes=axes) if len(axes) > 1 else scipy.fft.rfft(xr, axis=axes[0])
    last = tuple(shape[a] for a in axes)
    inputs = {"c2c": (xc, None), "real_in": (xr, None), "r2c": (xr, None), "c2r": (half, last[-1] if len(axes) == 1 else last)}
    rows = []
    for kind in kinds:
        x, n = inputs[kind]
        jobs = {
            "nvf1": calls(nfft, kind, axes, 1),
            "scipy1": calls(scipy.fft, kind, axes, 1),
            "nvf2": calls(nfft, kind, axes, 2),
        }
        for f in jobs.values():  # plans, caches, first-touch of the outputs
            f(x, n)
        cpu = {k: [] for k in jobs}
        wall = {k: [] for k in jobs}
        for _ in range(reps):
            order = list(jobs)
            random.shuffle(order)
            for k in order:
                t0, c0 = time.perf_counter(), time.process_time()
                jobs[k](x, n)
                wall[k].append(time.perf_counter() - t0)
                cpu[k].append(time.process_time() - c0)
        med = {k: statistics.median(cpu[k]) for k in jobs}
        medw = {k: statistics.median(wall[k]) for k in jobs}
        rows.append({
            "family": family, "shape": "x".join(map(str, shape)), "input": np.dtype(x.dtype).name, "kind": kind,
            "nvf_ms": 1e3 * med["nvf1"], "scipy_ms": 1e3 * med["scipy1"],
            "ratio": med["nvf1"] / med["scipy1"],
            "speedup_2": medw["nvf1"] / medw["nvf2"],
        })
    return rows


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--reps", type=int, default=5)
    p.add_argument("--only", default="", help="comma-separated families (3d, 2d, 1d)")
    p.add_argument("--kinds", default="c2c,real_in,r2c,c2r")
    p.add_argument("--json", default="")
    args = p.parse_args()
    only = set(filter(None, args.only.split(",")))
    kinds = args.kinds.split(",")
    random.seed(7)
    rows = []
    print(f"{'case':<28} {'input':<10} {'kind':<8} {'nvf ms':>9} {'scipy ms':>9} {'ratio':>6} {'2 thr':>6}")
    for family, shape, real, axes in CASES:
        if only and family not in only:
            continue
        for r in run_case(family, shape, real, axes, args.reps, kinds):
            rows.append(r)
            print(f"{r['family'] + ' ' + r['shape']:<28} {r['input']:<10} {r['kind']:<8} {r['nvf_ms']:9.2f} "
                  f"{r['scipy_ms']:9.2f} {r['ratio']:6.2f} {r['speedup_2']:6.2f}", flush=True)
    if args.json:
        with open(args.json, "w") as fh:
            json.dump(rows, fh, indent=1)


if __name__ == "__main__":
    main()
