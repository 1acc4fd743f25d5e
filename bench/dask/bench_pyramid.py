"""A full OME-Zarr pyramid of a uint16 volume: nvfiltering.ome.to_ome_zarr
against ome-zarr's write_image (its default resize downsampling), one run
each, on the same machine, the same input store and the same chunks.

    python bench/dask/bench_pyramid.py                    # 1024^3, chunks 128
    python bench/dask/bench_pyramid.py --size 256 --chunks 64
    python bench/dask/bench_pyramid.py --keep DIR         # keep the stores

The input is made once (not timed) as a Zarr array of smooth random blobs
with noise. Each method runs in a fresh process on Dask's threaded scheduler
(--threads, default all cores), reading the input store lazily and writing
its pyramid; wall time, the process's peak resident memory (the one local
worker) and the levels written are reported. ome-zarr is optional (pip
install ome-zarr, see bench/dask/requirements.txt); without it only this
library runs.
"""

import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np


def make_input(path, size, chunks):
    import dask.array as da
    import zarr

    def blobs(block, block_info=None):
        loc = block_info[0]["array-location"]
        g = np.random.default_rng(loc[0][0] * 7919 + loc[1][0] * 104729 + loc[2][0])
        z, y, x = np.meshgrid(*[np.arange(a, b, dtype=np.float32) for a, b in loc], indexing="ij")
        v = 20000 + 15000 * np.sin(z / 17.0) * np.cos(y / 23.0) * np.sin(x / 29.0 + 1)
        v += g.normal(0, 500, v.shape)
        return np.clip(v, 0, 65535).astype(np.uint16)

    x = da.zeros((size,) * 3, np.uint16, chunks=chunks).map_blocks(blobs, dtype=np.uint16)
    target = zarr.create_array(path, shape=x.shape, dtype=np.uint16, chunks=(chunks,) * 3, overwrite=True)
    da.store(x, target, lock=False)


def run_nvfiltering(src, out, chunks):
    import dask.array as da
    from nvfiltering.ome import to_ome_zarr
    written = to_ome_zarr(da.from_zarr(src), out, chunks=chunks)
    return [list(shape) for shape, _ in written]


def run_ome_zarr(src, out, chunks, levels):
    import dask.array as da
    import zarr
    from ome_zarr.writer import write_image
    group = zarr.open_group(out, mode="w")
    write_image(da.from_zarr(src), group, scale_factors=[2 ** k for k in range(1, levels)], axes="zyx",
                storage_options={"chunks": (chunks,) * 3})
    attrs = group.attrs.asdict()
    datasets = attrs.get("ome", attrs)["multiscales"][0]["datasets"]
    return [list(group[d["path"]].shape) for d in datasets]


def child(args):
    import dask
    dask.config.set(scheduler="threads", num_workers=args.threads)
    start = time.perf_counter()
    if args.method == "nvfiltering":
        shapes = run_nvfiltering(args.input, args.output, args.chunks)
    else:
        shapes = run_ome_zarr(args.input, args.output, args.chunks, args.levels)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps({"seconds": seconds, "peak_bytes": peak, "levels": shapes}))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--size", type=int, default=1024)
    p.add_argument("--chunks", type=int, default=128)
    p.add_argument("--threads", type=int, default=os.cpu_count())
    p.add_argument("--keep", metavar="DIR", help="write the stores here and keep them")
    p.add_argument("--method", help=argparse.SUPPRESS)
    p.add_argument("--input", help=argparse.SUPPRESS)
    p.add_argument("--output", help=argparse.SUPPRESS)
    p.add_argument("--levels", type=int, help=argparse.SUPPRESS)
    args = p.parse_args()
    if args.method:
        child(args)
        return
    folder = args.keep or tempfile.mkdtemp(prefix="bench_pyramid_")
    os.makedirs(folder, exist_ok=True)
    try:
        src = os.path.join(folder, "input.zarr")
        print(f"input: {args.size}^3 uint16, chunks {args.chunks}^3, {args.threads} threads")
        t = time.perf_counter()
        make_input(src, args.size, args.chunks)
        print(f"  made in {time.perf_counter() - t:.1f} s (not counted)")
        methods = ["nvfiltering"]
        try:
            import ome_zarr  # noqa: F401
            methods.append("ome-zarr")
        except ImportError:
            print("  ome-zarr not installed: only nvfiltering runs")
        levels = None
        print(f"{'method':<12} {'levels':>6} {'seconds':>9} {'peak MiB':>9}  shapes")
        for method in methods:
            out = os.path.join(folder, f"{method}.ome.zarr")
            cmd = [sys.executable, __file__, "--method", method, "--input", src, "--output", out,
                   "--chunks", str(args.chunks), "--threads", str(args.threads)]
            if levels:
                cmd += ["--levels", str(levels)]
            r = subprocess.run(cmd, capture_output=True, text=True)
            if r.returncode:
                print(f"{method:<12} failed:\n{r.stderr}")
                continue
            res = json.loads(r.stdout.strip().splitlines()[-1])
            levels = levels or len(res["levels"])  # the same number of levels for the other method
            shapes = " ".join("x".join(map(str, s)) for s in res["levels"])
            print(f"{method:<12} {len(res['levels']):>6} {res['seconds']:>9.2f} "
                  f"{res['peak_bytes'] / 2 ** 20:>9.0f}  {shapes}")
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
