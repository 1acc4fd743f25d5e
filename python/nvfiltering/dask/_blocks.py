"""Chunk bookkeeping shared by the chunked filters: merging chunks that are too
small for a halo, snapping chunk boundaries to a resampling grid, and running a
function on every chunk with a halo taken from its neighbours (never past the
array's own edge) and trimmed away afterwards."""

from __future__ import annotations

import math
import operator
import threading

import numpy as np
from dask.base import tokenize

# Per worker thread: the bytes of the grown block and of its filtered result,
# reused from one task to the next (see scratch).
_held = threading.local()


def scratch(slot, shape, dtype):
    """An uninitialised array of `shape` and `dtype` in a buffer this thread
    keeps for `slot` and reuses from task to task (grown when a larger one is
    asked for). A worker's tasks then write their grown blocks and filter
    results into memory that is already mapped, instead of faulting fresh
    pages in for every chunk. Only for arrays that never leave the task: the
    next task on this thread overwrites them."""
    dtype = np.dtype(dtype)
    count = int(np.prod(shape, dtype=np.int64))
    need = count * dtype.itemsize
    buffer = getattr(_held, slot, None)
    if buffer is None or buffer.nbytes < need:
        buffer = np.empty(max(need, 1), np.uint8)
        setattr(_held, slot, buffer)
    return buffer[:need].view(dtype).reshape(shape)


def scratch_output(block, dtype, lo, hi, tail=()):
    """Where a task filters its grown `block` (output shape: the block's plus
    `tail`): this thread's scratch when a halo is cut off afterwards (trim
    copies the interior out), None (a fresh array, returned as it is) when
    the block has no halo."""
    if not any(lo) and not any(hi):
        return None
    return scratch("result", tuple(block.shape) + tuple(tail), dtype)


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


def _assemble(depth, lo, hi, centre, reuse, *parts):
    """The chunk (the `centre`-th of `parts`) grown by `lo`/`hi` elements per axis
    from its neighbours: `parts` are the chunk and its neighbours in the order
    of :func:`_offsets` (offsets -1, 0, +1 per axis where there is one), one
    buffer filled from the rims of each (this thread's scratch when `reuse`)."""
    chunk = parts[centre]
    shape = tuple(c + l + h for c, l, h in zip(chunk.shape, lo, hi))
    if shape == chunk.shape:
        return chunk
    block = scratch("grown", shape, chunk.dtype) if reuse else np.empty(shape, chunk.dtype)
    offsets = _offsets(lo, hi)
    for offset, part in zip(offsets, parts):
        src, dst = [], []
        for a, o in enumerate(offset):
            n = part.shape[a]
            if o < 0:
                src.append(slice(n - lo[a], n))
                dst.append(slice(0, lo[a]))
            elif o > 0:
                src.append(slice(0, hi[a]))
                dst.append(slice(lo[a] + chunk.shape[a], shape[a]))
            else:
                src.append(slice(0, n))
                dst.append(slice(lo[a], lo[a] + n))
        block[tuple(dst)] = part[tuple(src)]
    return block


def _offsets(lo, hi):
    """The neighbour offsets a chunk with halos `lo`/`hi` reads, in a fixed order."""
    import itertools
    choices = [([-1] if l else []) + [0] + ([1] if h else []) for l, h in zip(lo, hi)]
    return list(itertools.product(*choices))


def _run_grown(func, depth, lo, hi, loc, centre, reuse, *parts):
    return func(_assemble(depth, lo, hi, centre, reuse, *parts), lo, hi, loc)


def _rims(depth, directions, chunk):
    """What each neighbour's halo takes from `chunk`, by the neighbour's
    offset: per axis the last `depth` elements towards a neighbour after it,
    the first `depth` towards one before it, all of them along the axes where
    the two chunks are level. Copies, so that the chunk itself can be freed
    as soon as its own task has read it."""
    out = {}
    for d in directions:
        index = tuple(slice(n - w, n) if o > 0 else (slice(0, w) if o < 0 else slice(0, n))
                      for o, n, w in zip(d, chunk.shape, depth))
        out[d] = chunk[index].copy()
    return out


def rims_by_default():
    """Whether the halo is sent as rims when the caller does not say: as the
    Dask setting ``nvfiltering.rims`` says, False when it is not set. Whole
    neighbour chunks are the default because they were faster wherever this
    was measured, between the processes of one machine included; rims send
    fewer bytes and hold less memory (see with_halo)."""
    import dask
    return bool(dask.config.get("nvfiltering.rims", False))


def with_halo(x, depth, func, *, dtype, out_chunks=None, extra_out=(), meta=None, reuse_block=False, rims=None):
    """Run ``func(block, lo, hi, loc)`` on every chunk of `x` grown by `depth`
    elements per axis from its neighbours; ``lo``/``hi`` are the halo actually
    present before and after the chunk per axis (0 at the array's edge),
    ``loc`` the chunk's index. `func` returns the chunk's result, trimmed.
    `out_chunks` defaults to the input's chunks; `extra_out` appends trailing
    output axes (whole) that the input does not have.

    Each output chunk is one task that depends directly on the input chunks it
    reads (itself and its up to 26 neighbours) and assembles the chunk and its
    halo in one buffer: with the input's own task, two tasks per chunk, and a
    store of the result fuses with it.

    With `reuse_block` the grown block is assembled in a buffer the worker
    thread reuses (:func:`scratch`): only for a `func` whose result shares no
    memory with the block it is given.

    With `rims` (None: :func:`rims_by_default`) every input chunk gets one
    more task that copies out the slabs its neighbours' halos read
    (:func:`_rims`), and a chunk's task reads those instead of whole
    neighbour chunks: between processes only a chunk's bundle of rims
    travels (at a depth of 8 and chunks of 128 along every axis, 37.5 % of
    the chunk for all 26 neighbours together), and an input chunk is freed
    once its own task and its rim task have run. The results are the same
    bits either way."""
    from . import _graph
    depth = tuple(int(d) for d in depth)
    # A halo is only needed across inner chunk boundaries, and every chunk must
    # be able to lend it to its neighbour.
    chunks = tuple(merge_small(c, d) if d > 0 else c for c, d in zip(x.chunks, depth))
    if chunks != x.chunks:
        x = x.rechunk(chunks)
    depth = tuple(d if len(c) > 1 else 0 for c, d in zip(x.chunks, depth))
    nchunks = tuple(len(c) for c in x.chunks)
    if out_chunks is None:
        out_chunks = x.chunks
    out_chunks = tuple(out_chunks) + tuple((e,) for e in extra_out)
    x = _graph.graph_array(x)
    if rims is None:
        rims = rims_by_default()
    rims = bool(rims) and any(depth)
    name = "nvf-halo-" + tokenize(x, depth, func, dtype, out_chunks, rims)
    rim_name = "nvf-rims-" + tokenize(x, depth)
    graph = _graph.Graph()
    import itertools
    for loc in itertools.product(*(range(n) for n in nchunks)):
        lo = tuple(d if i > 0 else 0 for d, i in zip(depth, loc))
        hi = tuple(d if i < n - 1 else 0 for d, i, n in zip(depth, loc, nchunks))
        offsets = _offsets(lo, hi)
        if rims:
            # The neighbours this chunk reads from are those that read from it.
            graph.add((rim_name,) + loc, _rims, depth, [o for o in offsets if any(o)], _graph.ref((x.name,) + loc))
        parts = []
        for offset in offsets:
            at = tuple(i + o for i, o in zip(loc, offset))
            if rims and any(offset):
                # The neighbour at `offset` keeps our slab under the opposite direction.
                parts.append(_graph.call(operator.getitem, _graph.ref((rim_name,) + at), tuple(-o for o in offset)))
            else:
                parts.append(_graph.ref((x.name,) + at))
        centre = offsets.index((0,) * len(loc))
        key = (name,) + tuple(loc) + (0,) * len(extra_out)
        graph.add(key, _run_grown, func, depth, lo, hi, tuple(loc), centre, bool(reuse_block), *parts)
    return _graph.array(graph, name, out_chunks, dtype, [x])


def trim(result, lo, hi):
    """Cut the halo (lo/hi per axis, in the result's own samples) off a block's
    result. The interior is copied out whenever a halo is cut: a view would
    keep the whole grown block alive behind a chunk that Dask counts at the
    interior's size, so a worker would hold more memory than it accounts for."""
    if not any(lo) and not any(hi):
        return result
    index = []
    for a in range(len(lo)):
        stop = result.shape[a] - hi[a]
        index.append(slice(lo[a], stop))
    return result[tuple(index)].copy()


def ceil_int(v):
    return int(math.ceil(v))
