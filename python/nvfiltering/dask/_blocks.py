"""Chunk bookkeeping shared by the chunked filters: merging chunks that are too
small for a halo, snapping chunk boundaries to a resampling grid, and running a
function on every chunk with a halo taken from its neighbours (never past the
array's own edge) and trimmed away afterwards."""

from __future__ import annotations

import math
import numpy as np
import dask.array as da
from dask.array.overlap import overlap


def merge_small(chunks, minimum):
    """Merge neighbouring chunks of one axis until each holds at least
    `minimum` elements (a lone chunk may stay smaller: the axis is shorter)."""
    chunks = [c for c in chunks if c > 0]
    if not chunks:
        return (0,)
    out = []
    acc = 0
    for c in chunks:
        acc += c
        if acc >= minimum:
            out.append(acc)
            acc = 0
    if acc:
        if out:
            out[-1] += acc
        else:
            out.append(acc)
    return tuple(out)


def snap(chunks, step):
    """Move the inner boundaries of one axis's chunks to multiples of `step`
    (to the nearest one, at least one step apart) so that every chunk but the
    last starts on the resampling grid."""
    if step <= 1:
        return tuple(chunks)
    total = sum(chunks)
    bounds = []
    pos = 0
    for c in chunks[:-1]:
        pos += c
        b = int(round(pos / step)) * step
        if b <= (bounds[-1] if bounds else 0) or b >= total:
            continue
        bounds.append(b)
    edges = [0] + bounds + [total]
    return tuple(e - s for s, e in zip(edges[:-1], edges[1:]))


def chunk_starts(chunks):
    return tuple(int(s) for s in np.cumsum((0,) + tuple(chunks[:-1])))


def with_halo(x, depth, func, *, dtype, out_chunks=None, extra_out=(), meta=None):
    """Run ``func(block, lo, hi, loc)`` on every chunk of `x` grown by `depth`
    elements per axis from its neighbours; ``lo``/``hi`` are the halo actually
    present before and after the chunk per axis (0 at the array's edge),
    ``loc`` the chunk's index. `func` returns the chunk's result, trimmed.
    `out_chunks` defaults to the input's chunks; `extra_out` appends trailing
    output axes (whole) that the input does not have."""
    depth = tuple(int(d) for d in depth)
    # A halo is only needed across inner chunk boundaries, and every chunk must
    # be able to lend it to its neighbour.
    chunks = tuple(merge_small(c, d) if d > 0 else c for c, d in zip(x.chunks, depth))
    if chunks != x.chunks:
        x = x.rechunk(chunks)
    depth = tuple(d if len(c) > 1 else 0 for c, d in zip(x.chunks, depth))
    nchunks = tuple(len(c) for c in x.chunks)
    if any(depth):
        grown = overlap(x, depth={a: d for a, d in enumerate(depth)},
                        boundary={a: "none" for a in range(x.ndim)}, allow_rechunk=False)
    else:
        grown = x

    def run(block, block_info=None):
        loc = tuple(block_info[0]["chunk-location"])
        lo = tuple(d if i > 0 else 0 for d, i in zip(depth, loc))
        hi = tuple(d if i < n - 1 else 0 for d, i, n in zip(depth, loc, nchunks))
        return func(block, lo, hi, loc)

    if out_chunks is None:
        out_chunks = x.chunks
    out_chunks = tuple(out_chunks) + tuple((e,) for e in extra_out)
    new_axis = list(range(x.ndim, x.ndim + len(extra_out))) or None
    return da.map_blocks(run, grown, dtype=dtype, chunks=out_chunks, new_axis=new_axis,
                         meta=meta if meta is not None else np.empty((0,) * len(out_chunks), dtype))


def trim(result, lo, hi):
    """Cut the halo (lo/hi per axis, in the result's own samples) off a block's result."""
    index = []
    for a in range(len(lo)):
        stop = result.shape[a] - hi[a]
        index.append(slice(lo[a], stop))
    return result[tuple(index)]


def ceil_int(v):
    return int(math.ceil(v))
