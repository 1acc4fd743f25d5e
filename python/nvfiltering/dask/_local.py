"""Chunked filters with a finite footprint: separable convolution with
resampling (and the pyramid level built on it), dilation, erosion and regional
maxima. Each chunk is filtered with a halo as wide as the footprint, so the
result equals the whole-array result bit for bit."""

from __future__ import annotations

import math

import numpy as np

from . import _blocks


def _nv():
    import nvfiltering
    return nvfiltering


def _no_output(output):
    if output is not None:
        raise TypeError("output: the chunked filters return a lazy dask array; store it with dask.array.store or to_zarr")


def dilate(input, *, iterations=1, output=None, workers=None):
    return _morphology("dilate", input, iterations, output)


def erode(input, *, iterations=1, output=None, workers=None):
    return _morphology("erode", input, iterations, output)


def _morphology(name, input, iterations, output):
    import dask.array as da
    _no_output(output)
    x = da.asarray(input)
    if isinstance(iterations, bool) or not isinstance(iterations, (int, np.integer)) or iterations < 0:
        raise ValueError(f"iterations must be a non-negative integer, got {iterations!r}")
    iterations = int(iterations)

    def run(block, lo, hi, loc):
        out = getattr(_nv(), name)(block, iterations=iterations, workers=1)
        return _blocks.trim(out, lo, hi)

    return _blocks.with_halo(x, (iterations,) * x.ndim, run, dtype=x.dtype)


def regional_maxima(input, *, output=None, workers=None):
    import dask.array as da
    _no_output(output)
    x = da.asarray(input)
    if x.ndim != 2:
        raise ValueError(f"input must be a 2-D image, got {x.ndim} dimensions")

    def run(block, lo, hi, loc):
        out = _nv().regional_maxima(block, workers=1)
        return _blocks.trim(out, lo, hi)

    return _blocks.with_halo(x, (1, 1), run, dtype=np.uint8)


def _taps(kernel):
    """Number of taps of a Kernel (or of a plain sequence of values)."""
    for attr in ("values", "taps"):
        if hasattr(kernel, attr):
            return len(getattr(kernel, attr))
    return len(kernel)


def _factors(n, m):
    """Whole-factor resampling (up, down) the line filter derives from n inputs, m outputs."""
    r = m / n
    if r > 1:
        return int(math.floor(r + 0.5)), 1
    if r < 1:
        return 1, int(math.floor(1.0 / r + 0.5))
    return 1, 1


def _block_outputs(length, needed, up, down):
    """An output length for a block of `length` samples that gives the same
    resampling factors as the whole line and at least `needed` outputs."""
    for m in range(max(needed, 1), length * up + 2):
        if _factors(length, m) == (up, down) and (m - 1) * down <= length * up:
            return m
    raise ValueError("chunks too small for this resampling; rechunk to larger chunks")


def _plan_axis(chunks, n, m, taps):
    """Chunks of one spatial axis that suit the resampling grid, the halo, and
    per chunk the output range [o0, o1)."""
    up, down = _factors(n, m)
    if (m - 1) * down > n * up:
        raise ValueError(f"output: length {m} too long for input length {n} and whole-factor resampling")
    h = taps // 2
    reach = max(math.ceil(h / up), math.ceil((taps - 1 - h + up - 1) / up), 1)
    depth = math.ceil(reach / down) * down
    chunks = _blocks.snap(chunks, down)
    chunks = _blocks.merge_small(chunks, max(depth, taps, 2 * down, 2))
    if len(chunks) == 1:
        depth = 0
    ranges = []
    for s, c in zip(_blocks.chunk_starts(chunks), chunks):
        o0 = min(-(-s * up // down), m)
        o1 = m if s + c == n else min(-(-(s + c) * up // down), m)
        ranges.append((o0, o1))
    return chunks, depth, ranges, up, down


def _resample(x, kernels, out_shape, vector, call):
    spatial = x.ndim - 1 if vector else x.ndim
    plans = [_plan_axis(x.chunks[a], x.shape[a], out_shape[a], _taps(kernels[a])) for a in range(spatial)]
    chunks = tuple(p[0] for p in plans) + ((3,) if vector else ())
    if chunks != x.chunks:
        x = x.rechunk(chunks)
    depth = tuple(p[1] for p in plans) + ((0,) if vector else ())
    out_chunks = tuple(tuple(o1 - o0 for o0, o1 in p[2]) for p in plans) + (((3,),) if vector else ())
    starts = [_blocks.chunk_starts(p[0]) for p in plans]

    def run(block, lo, hi, loc):
        shape, cut = [], []
        tail = (3,) if vector else ()
        if any(out_chunks[a][loc[a]] == 0 for a in range(spatial)):
            return np.empty(tuple(out_chunks[a][loc[a]] for a in range(spatial)) + tail, block.dtype)
        for a in range(spatial):
            _, _, ranges, up, down = plans[a]
            o0, o1 = ranges[loc[a]]
            offset = (starts[a][loc[a]] - lo[a]) * up // down
            shape.append(_block_outputs(block.shape[a], o1 - offset, up, down))
            cut.append(slice(o0 - offset, o1 - offset))
        out = np.empty(tuple(shape) + tail, block.dtype)
        call(block, out)
        return out[tuple(cut)]

    return _blocks.with_halo(x, depth, run, dtype=x.dtype, out_chunks=out_chunks)


def separable_filter(input, kernels, *, output=None, workers=None):
    """`output`: None (the input's shape) or the output's shape, as a tuple."""
    import dask.array as da
    x = da.asarray(input)
    vector = x.dtype == np.float32 and x.ndim >= 2 and x.shape[-1] == 3
    spatial = x.ndim - 1 if vector else x.ndim
    if isinstance(kernels, (list, tuple)):
        kernels = tuple(kernels)
        if len(kernels) != spatial:
            raise ValueError(f"kernels: one per axis ({spatial}), got {len(kernels)}")
    else:
        kernels = (kernels,) * spatial
    out_shape = _shape_arg(output, x.shape[:spatial])
    kernel_arg = kernels

    def call(block, out):
        _nv().separable_filter(block, kernel_arg, output=out, workers=1)

    return _resample(x, kernels, out_shape, vector, call)


def pyramid_down(input, *, output=None, workers=None):
    """`output`: None (``(n + 1) // 2`` per axis) or the output's shape, as a tuple."""
    import dask.array as da
    x = da.asarray(input)
    out_shape = _shape_arg(output, tuple((n + 1) // 2 for n in x.shape))

    def call(block, out):
        _nv().pyramid_down(block, output=out, workers=1)

    return _resample(x, (range(5),) * x.ndim, out_shape, False, call)


def _shape_arg(output, default):
    if output is None:
        return tuple(int(n) for n in default)
    if isinstance(output, tuple) and all(isinstance(n, (int, np.integer)) for n in output):
        if len(output) != len(default) or any(n < 1 for n in output):
            raise ValueError(f"output: a shape of {len(default)} positive lengths, got {output}")
        return tuple(int(n) for n in output)
    raise TypeError("output: None or the output's shape as a tuple (the chunked filters return a lazy dask array)")
