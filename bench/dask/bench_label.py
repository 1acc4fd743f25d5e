#!/usr/bin/env python3
"""Chunked labelling of a speckled volume on one thread: graph construction,
tasks per chunk, wall and process CPU time, and the components found.

Not run by the tests. Examples:

    python bench/dask/bench_label.py --shape 512 512 512 --chunks 64
    python bench/dask/bench_label.py --graph-only --grid 22 22 22

The volume is made in memory chunk by chunk from seeded generators (each voxel
is foreground with probability --density) before the clock starts; the labels
are reduced to their maximum per chunk as they are made, so the run holds only
the input and what the labelling itself holds. The scheduler is Dask's synchronous one, so
the process CPU time is the labelling's whole cost on one worker.
--graph-only builds the graph of a grid of one-voxel chunks and reports the
time taken and the tasks per chunk, without computing anything.
"""

from __future__ import annotations

import argparse
import time

import numpy as np


def parse():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--shape", type=int, nargs="+", default=[512, 512, 512])
    p.add_argument("--chunks", type=int, default=64)
    p.add_argument("--density", type=float, default=0.03)
    p.add_argument("--connectivity", type=int, default=None)
    p.add_argument("--graph-only", action="store_true")
    p.add_argument("--grid", type=int, nargs="+", default=[22, 22, 22],
                   help="chunks per axis of the --graph-only run")
    return p.parse_args()


def speckle(shape, chunks, density):
    """The speckled volume in memory (made chunk by chunk from seeded
    generators) as a dask array of those chunks: reading a chunk costs nothing,
    so the runs time the labelling alone."""
    import dask.array as da

    x = da.zeros(shape, dtype=np.uint8, chunks=chunks)
    volume = np.empty(shape, np.uint8)
    for k, block in enumerate(da.core.slices_from_chunks(x.chunks)):
        rng = np.random.default_rng(k)
        volume[block] = rng.random(volume[block].shape, np.float32) < density
    return da.from_array(volume, chunks=chunks)


def graph_only(args):
    import dask.array as da
    import nvfiltering.dask as nvd

    x = da.zeros(tuple(args.grid), dtype=np.uint8, chunks=1)
    start, cpu = time.perf_counter(), time.process_time()
    labels, count = nvd.label(x)
    built, cpu = time.perf_counter() - start, time.process_time() - cpu
    chunks = int(np.prod(args.grid))
    graph = dict(labels.__dask_graph__())
    graph.update(count.__dask_graph__())
    print(f"{chunks} chunks: graph built in {built:.2f} s ({cpu:.2f} s CPU), {len(graph)} tasks, "
          f"{len(graph) / chunks:.2f} per chunk (the input's tasks included)")


def run(args):
    import dask
    import nvfiltering.dask as nvd

    x = speckle(tuple(args.shape), args.chunks, args.density)
    kw = {} if args.connectivity is None else {"connectivity": args.connectivity}
    wall, cpu = time.perf_counter(), time.process_time()
    labels, count = nvd.label(x, **kw)
    built = time.perf_counter() - wall
    peak = labels.map_blocks(lambda b: np.array([[[b.max()]]], b.dtype)[(0,) * (3 - b.ndim)]
                             .reshape((1,) * b.ndim), chunks=(1,) * labels.ndim).max()
    with dask.config.set(scheduler="synchronous"):
        top, n = dask.compute(peak, count)
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    voxels = int(np.prod(args.shape))
    print(f"shape {tuple(args.shape)} chunks {args.chunks}: {int(n)} components (largest label {int(top)}), "
          f"graph {built:.2f} s, wall {wall:.1f} s, CPU {cpu:.1f} s, {voxels / wall / 1e6:.1f} Mvoxel/s")


if __name__ == "__main__":
    a = parse()
    graph_only(a) if a.graph_only else run(a)
