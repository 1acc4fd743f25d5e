#!/usr/bin/env python3
"""Chunked filtering of a Zarr volume on a local Dask cluster: voxels per
second, the peak memory of every worker, the speed-up of two workers over one,
and the same jobs with dask-image's gaussian_filter and label on the same chunks.

Not run by the tests. Example (needs about 12 GiB of disk for the first):

    python bench/dask/bench_chunked.py --shape 2048 1024 1024 --memory-limit 1GiB
    python bench/dask/bench_chunked.py --shape 1024 1024 1024 --ops gaussian label

Worker configurations are PROCESSESxTHREADS (default 1x2, 1x1 and 2x1: one
process of two threads, and one against two processes of one thread), the
library at workers=1 in every task. Before the Dask runs, the floor: the same
chunks read, filtered and written by a plain loop on one and on two threads.

Every result is written to a Zarr store on disk (uncompressed unless
--compress), so the volume may be larger than the workers' memory; with
--sink discard the chunks of the result are computed and dropped, which times
the reading and the filtering without the writing. Peak memory is the resident
size of each worker process, sampled every 0.1 s. --keep-input leaves the input
store in place and uses it again on the next run with the same shape and chunks.
Needs the packages of bench/dask/requirements.txt beside the test packages.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import shutil
import sys
import threading
import time

import numpy as np


def parse():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--shape", type=int, nargs=3, default=[2048, 1024, 1024])
    p.add_argument("--chunks", type=int, default=128)
    p.add_argument("--sigma", type=float, default=2.0)
    p.add_argument("--memory-limit", default="1GiB")
    p.add_argument("--workers", nargs="+", default=["1x2", "1x1", "2x1"],
                   help="worker configurations, PROCESSESxTHREADS (a bare number means N processes of one thread)")
    p.add_argument("--floor", choices=["yes", "no"], default="yes",
                   help="first time a loop without Dask over the same chunks (read, filter, write), one and two threads")
    p.add_argument("--ops", nargs="+", default=["gaussian", "label"], choices=["gaussian", "label"])
    p.add_argument("--peers", choices=["yes", "no"], default="yes", help="also time dask-image")
    p.add_argument("--peer-ops", nargs="*", default=None, choices=["gaussian", "label"],
                   help="the jobs to time with dask-image too (default: all of --ops)")
    p.add_argument("--peer-timeout", type=float, default=1800.0,
                   help="seconds after which a dask-image run is abandoned and reported as such")
    p.add_argument("--workdir", default="nvf-dask-bench")
    p.add_argument("--sink", choices=["zarr", "discard"], default="zarr",
                   help="write the result to a Zarr store, or compute its chunks and drop them")
    p.add_argument("--keep-input", action="store_true", help="keep the input store and reuse a matching one")
    p.add_argument("--compress", action="store_true",
                   help="compress the outputs (the store's default codec); by default they are written raw, so "
                        "that the filters, not the codec, are timed")
    p.add_argument("--malloc", choices=["dask", "heap"], default="dask",
                   help="the worker processes' allocator settings: Dask's default (freed memory above 64 KiB goes "
                        "back to the system at once, so every new array is faulted in again), or large blocks "
                        "kept on the heap for reuse (MALLOC_MMAP_THRESHOLD_ 32 MiB, MALLOC_TRIM_THRESHOLD_ "
                        "256 MiB), for both libraries")
    p.add_argument("--rims", choices=["default", "yes", "no"], default="default",
                   help="our halo filters: send neighbours' rims (yes), whole neighbour chunks (no), or as the "
                        "package chooses (default: whole chunks unless the Dask setting nvfiltering.rims says "
                        "otherwise); dask-image is not affected")
    return p.parse_args()


def make_input(path, shape, chunks):
    """A uint8 volume of blobs (smooth waves plus noise), written chunk by chunk."""
    import dask.array as da

    def block(block_info=None):
        info = block_info[None]
        (z0, z1), (y0, y1), (x0, x1) = info["array-location"]
        z, y, x = np.ogrid[z0:z1, y0:y1, x0:x1]
        wave = np.sin(x / 7.0) * np.sin(y / 11.0) * np.sin(z / 13.0)
        noise = np.random.default_rng(z0 * 7919 + y0 * 104729 + x0).integers(-40, 41, (z1 - z0, y1 - y0, x1 - x0))
        return np.clip(128 + 90 * wave + noise, 0, 255).astype(np.uint8)

    vol = da.map_blocks(block, dtype=np.uint8, chunks=da.core.normalize_chunks(chunks, shape),
                        meta=np.empty((0, 0, 0), np.uint8))
    shutil.rmtree(path, ignore_errors=True)
    vol.to_zarr(str(path))


def matching_input(path, shape, chunks):
    try:
        import zarr
        a = zarr.open_array(str(path), mode="r")
    except Exception:
        return False
    return a.shape == shape and a.chunks == tuple(min(chunks, n) for n in shape) and a.dtype == np.uint8


class PeakMemory:
    """Largest resident size and CPU seconds of every worker process while a job runs."""

    def __init__(self, client):
        import psutil
        self.procs = {addr: psutil.Process(pid) for addr, pid in client.run(os.getpid).items()}
        self.peak = {addr: 0 for addr in self.procs}
        self.cpu = {addr: self._cpu(proc) for addr, proc in self.procs.items()}
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    @staticmethod
    def _cpu(proc):
        t = proc.cpu_times()
        return t.user + t.system

    def run(self):
        while not self.stop.is_set():
            for addr, proc in self.procs.items():
                try:
                    self.peak[addr] = max(self.peak[addr], proc.memory_info().rss)
                except Exception:
                    pass
            time.sleep(0.1)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()
        self.lost = []
        for addr, proc in self.procs.items():
            try:
                self.cpu[addr] = self._cpu(proc) - self.cpu[addr]
            except Exception:  # the nanny ended it (memory limit) and started another
                self.lost.append(addr)
                self.cpu[addr] = float("nan")


class Discard:
    """A store target that drops what it is given."""

    def __setitem__(self, where, value):
        pass


def job(name, impl, source, sigma):
    """The lazy result to store for one job."""
    import dask.array as da
    if impl == "nvfiltering":
        import nvfiltering.dask as nvd
        if name == "gaussian":
            return nvd.gaussian_filter(source, sigma)
        labels, _ = nvd.label(source > 160)
        return labels
    from dask_image import ndfilters, ndmeasure
    if name == "gaussian":
        # Same chunks, float32 out as ours; scipy's truncate 4 gives the same halo.
        return ndfilters.gaussian_filter(source.astype(np.float32), sigma, mode="constant", truncate=4.0)
    labels, _ = ndmeasure.label(source > 160)
    return labels.astype(np.uint32) if labels.dtype != np.uint32 else labels


def config(text):
    """``"PxT"`` (P worker processes of T threads) or ``"P"`` (threads 1) as ``(P, T)``."""
    procs, _, threads = str(text).partition("x")
    return int(procs), int(threads or 1)


def floor(args, src_path, out_path, threads):
    """The machine's floor for the Gaussian job: every chunk read from the Zarr
    store once, grown by the halo with zeros (the same filtering work as a
    chunk with its neighbours' rims), filtered by the library in one call
    (workers=1) and its interior written as float32 to a Zarr store of the same
    chunks (or dropped), with no Dask at all, on `threads` threads. Returns
    wall seconds and process CPU seconds."""
    import concurrent.futures
    import itertools
    import zarr
    import nvfiltering as nvf
    import nvfiltering.dask._gaussian as chunked

    src = zarr.open_array(str(src_path), mode="r")
    depth = chunked.halo((args.sigma,) * 3, (0, 0, 0), 4.0)
    shutil.rmtree(out_path, ignore_errors=True)
    out = None
    if args.sink == "zarr":
        out = zarr.create_array(str(out_path), shape=src.shape, chunks=src.chunks, dtype=np.float32,
                                compressors=None if not args.compress else "auto")
    grid = [range(0, n, c) for n, c in zip(src.shape, src.chunks)]

    def one(start):
        region = tuple(slice(s, min(s + c, n)) for s, c, n in zip(start, src.chunks, src.shape))
        chunk = src[region]
        grown = np.zeros(tuple(n + 2 * d for n, d in zip(chunk.shape, depth)), np.uint8)
        grown[tuple(slice(d, d + n) for d, n in zip(depth, chunk.shape))] = chunk
        result = nvf.gaussian_filter(grown, args.sigma, workers=1)
        interior = np.ascontiguousarray(result[tuple(slice(d, d + n) for d, n in zip(depth, chunk.shape))])
        if out is not None:
            out[region] = interior

    cpu0 = time.process_time()
    start = time.perf_counter()
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        list(pool.map(one, itertools.product(*grid)))
    seconds = time.perf_counter() - start
    cpu = time.process_time() - cpu0
    shutil.rmtree(out_path, ignore_errors=True)
    return seconds, cpu


# The allocator settings of --malloc heap: blocks up to 32 MiB (a 128^3 chunk in float32 and its grown
# block) come from the heap, and up to 256 MiB of freed heap stays with the process.
HEAP_MMAP_THRESHOLD = 32 * 2**20
HEAP_TRIM_THRESHOLD = 256 * 2**20


def run_one(name, impl, workers, args, src_path, out_path, limit):
    import dask.array as da
    from distributed import Client, LocalCluster

    import dask
    workers, threads = config(workers)
    environ = {}
    if args.rims != "default":
        environ["nvfiltering.rims"] = args.rims == "yes"
    if args.malloc == "heap":
        environ.update({"distributed.nanny.pre-spawn-environ.MALLOC_MMAP_THRESHOLD_": HEAP_MMAP_THRESHOLD,
                        "distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": HEAP_TRIM_THRESHOLD})
    with dask.config.set(environ), LocalCluster(n_workers=workers, threads_per_worker=threads, processes=True, memory_limit=args.memory_limit,
                      dashboard_address=None, silence_logs=50) as cluster, Client(cluster) as client:
        source = da.from_zarr(str(src_path))
        result = job(name, impl, source, args.sigma)
        shutil.rmtree(out_path, ignore_errors=True)
        if args.sink == "discard":
            store = da.store(result, Discard(), lock=False, compute=False)
        else:
            import zarr
            target = zarr.create_array(str(out_path), shape=result.shape, chunks=result.chunksize,
                                       dtype=result.dtype, compressors="auto" if args.compress else None)
            store = da.store(result, target, lock=False, compute=False)
        with PeakMemory(client) as mem:
            start = time.perf_counter()
            future = client.compute(store)
            try:
                future.result(timeout=args.peer_timeout if impl != "nvfiltering" else None)
                seconds = time.perf_counter() - start
                status = "ok"
            except Exception as e:  # a peer that runs out of memory or time is reported, not fatal
                seconds = time.perf_counter() - start
                status = f"failed after {seconds:.0f} s: {type(e).__name__}"
                client.cancel(future)
        if mem.lost:
            status += f"; {len(mem.lost)} worker process(es) ended and restarted by the nanny (limit reached)"
        peaks = [mem.peak[a] for a in sorted(mem.peak)]
        cpu = [mem.cpu[a] for a in sorted(mem.cpu)]
    shutil.rmtree(out_path, ignore_errors=True)
    return seconds, peaks, cpu, status


def main():
    args = parse()
    work = pathlib.Path(args.workdir)
    work.mkdir(parents=True, exist_ok=True)
    voxels = int(np.prod(args.shape))
    need = voxels * (1 + 4) * 1.2  # input plus one float32 output at a time, uncompressed worst case
    free = shutil.disk_usage(work).free
    if free < need:
        sys.exit(f"{work}: {free / 2**30:.1f} GiB free, {need / 2**30:.1f} GiB needed")
    from dask.utils import parse_bytes
    limit = parse_bytes(args.memory_limit)
    src = work / "input.zarr"
    print(f"input {args.shape} uint8 ({voxels / 2**30:.2f} GiB), chunks {args.chunks}^3, sigma {args.sigma}, "
          f"workers limited to {args.memory_limit} each, allocator settings: {args.malloc}, rims: {args.rims}",
          flush=True)
    start = time.perf_counter()
    if args.keep_input and matching_input(src, tuple(args.shape), args.chunks):
        print("input reused", flush=True)
    else:
        make_input(src, tuple(args.shape), args.chunks)
        print(f"input written in {time.perf_counter() - start:.1f} s", flush=True)

    floors = {}
    if args.floor == "yes" and "gaussian" in args.ops:
        for threads in (1, 2):
            floors[threads] = floor(args, src, work / "out.zarr", threads)
            seconds, cpu = floors[threads]
            print(f"floor     no Dask      {threads} thread(s): {seconds:8.1f} s  {voxels / seconds / 1e6:8.1f} "
                  f"Mvoxel/s  CPU {cpu:.1f} s  ({args.sink})", flush=True)

    impls = ["nvfiltering"] + (["dask-image"] if args.peers == "yes" else [])
    rows = []
    for name in args.ops:
        for impl in impls:
            if impl != "nvfiltering" and args.peer_ops is not None and name not in args.peer_ops:
                continue
            for workers in args.workers:
                seconds, peaks, cpu, status = run_one(name, impl, workers, args, src, work / "out.zarr", limit)
                rows.append((name, impl, workers, seconds, peaks, cpu, status))
                print(f"{name:9s} {impl:12s} {workers} worker(s): {seconds:8.1f} s  {voxels / seconds / 1e6:8.1f} "
                      f"Mvoxel/s  peak " + ", ".join(f"{p / 2**20:.0f} MiB" for p in peaks)
                      + "  CPU " + ", ".join(f"{c:.1f} s" for c in cpu) + f"  {status}", flush=True)

    print("\n| job | implementation | workers | seconds | Mvoxel/s | peak memory per worker | CPU s per worker "
          "| limit kept | status |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, impl, workers, seconds, peaks, cpu, status in rows:
        print(f"| {name} | {impl} | {workers} | {seconds:.1f} | {voxels / seconds / 1e6:.1f} | "
              + ", ".join(f"{p / 2**20:.0f} MiB" for p in peaks) + " | " + ", ".join(f"{c:.1f}" for c in cpu)
              + f" | {'yes' if max(peaks) <= limit else 'NO'} | {status} |")
    ok = {(n, i, config(w)): (s, c) for n, i, w, s, _, c, st in rows if st == "ok"}
    print()
    # Wall clock, and the speed-up the CPU seconds allow (one worker's total over
    # the busiest of two): on a shared machine the second is the one to trust.
    for name in args.ops:
        for impl in impls:
            if (name, impl, (1, 1)) in ok and (name, impl, (2, 1)) in ok:
                (s1, c1), (s2, c2) = ok[(name, impl, (1, 1))], ok[(name, impl, (2, 1))]
                print(f"{name} {impl}: two workers {s1 / s2:.2f}x one by wall clock, "
                      f"{sum(c1) / max(c2):.2f}x by CPU seconds")
        for w in args.workers:
            w = config(w)
            if (name, "nvfiltering", w) in ok and (name, "dask-image", w) in ok:
                (sn, cn), (sp, cp) = ok[(name, "nvfiltering", w)], ok[(name, "dask-image", w)]
                print(f"{name}, {w[0]}x{w[1]}: nvfiltering {sp / sn:.2f}x faster than dask-image by wall clock, "
                      f"{sum(cp) / sum(cn):.2f}x by CPU seconds")
            threads = w[0] * w[1]
            if name == "gaussian" and (name, "nvfiltering", w) in ok and threads in floors:
                (sn, cn), (sf, cf) = ok[(name, "nvfiltering", w)], floors[threads]
                print(f"gaussian, {w[0]}x{w[1]}: {sn / sf:.2f}x the floor of {threads} thread(s) by wall clock, "
                      f"{sum(cn) / cf:.2f}x by CPU seconds")
    if not args.keep_input:
        shutil.rmtree(src, ignore_errors=True)


if __name__ == "__main__":
    main()
