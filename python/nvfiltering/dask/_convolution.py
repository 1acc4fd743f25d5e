"""Chunked separable convolution with whole-factor resampling, and the pyramid
level built on it. Chunk boundaries are moved onto the resampling grid and each
chunk is filtered with a halo as wide as the kernels, so the result equals the
whole-array result bit for bit."""

from __future__ import annotations

import math

import numpy as np

from .. import _convolution as _memory
from .._checks import (as_array, kernels_per_axis, lazy_output_shape, nothing_to_resample, pyramid_input,
                       resampling_factors, separable_input, workers_count)
from . import _blocks

__all__ = ["pyramid_down", "separable_filter"]


def _block_outputs(length, needed, up, down):
    """An output length for a block of `length` samples that gives the same
    resampling factors as the whole line and at least `needed` outputs."""
    for m in range(max(needed, 1), length * up + 2):
        if resampling_factors(length, m) == (up, down) and (m - 1) * down <= length * up:
            return m
    raise ValueError("chunks too small for this resampling; rechunk to larger chunks")


def _plan_axis(chunks, n, m, taps):
    """Chunks of one spatial axis that suit the resampling grid, the halo, and
    per chunk the output range [o0, o1)."""
    up, down = resampling_factors(n, m)
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


def _too_long(n, m):
    """Whether m outputs run past n inputs at the whole resampling factor."""
    up, down = resampling_factors(n, m)
    return (m - 1) * down > n * up


def _library_verdict(shape, out_shape, taps, tail, dtype, call):
    """The library's own error, when the call is made, for lengths it refuses
    on the whole array: an axis shorter than its kernel, or an output too long
    for its input at the whole resampling factor. The library checks its axes
    X, Y, Z in turn (Z only when longer than 1); a stand-in of a few samples
    per axis that fails where the whole array would and passes elsewhere
    makes it raise the same error."""
    stand_in, stand_out, fails = [], [], False
    for a, (n, m, k) in enumerate(zip(shape, out_shape, taps)):
        if len(shape) == 3 and a == 0 and n == 1:
            p, q = 1, 1  # a single slice is not filtered along Z
        elif n < k:
            p, q, fails = n, 1, True
        elif _too_long(n, m):
            # From 5 inputs on, two outputs more are less than 1.5 times as
            # many: no up-sampling, and the window runs past the line.
            p = max(k, 5)
            q, fails = p + 2, True
        else:
            p, q = k, k
        stand_in.append(p)
        stand_out.append(q)
    if fails:
        call(np.zeros(tuple(stand_in) + tail, dtype), np.empty(tuple(stand_out) + tail, dtype))


def _resample(x, kernels, out_shape, vector, call):
    """``call(block, out)`` on every chunk grown by the kernels' halo, each
    writing the part of the output its chunk covers."""
    spatial = x.ndim - 1 if vector else x.ndim
    tail = (3,) if vector else ()
    if nothing_to_resample(x.shape, tuple(out_shape) + tail):
        import dask.array as da
        return da.empty(tuple(out_shape) + tail, dtype=x.dtype)
    _library_verdict(x.shape[:spatial], out_shape, [len(k) for k in kernels], tail, x.dtype, call)
    plans = [_plan_axis(x.chunks[a], x.shape[a], out_shape[a], len(kernels[a])) for a in range(spatial)]
    chunks = tuple(p[0] for p in plans) + ((3,) if vector else ())
    if chunks != x.chunks:
        x = x.rechunk(chunks)
    depth = tuple(p[1] for p in plans) + ((0,) if vector else ())
    out_chunks = tuple(tuple(o1 - o0 for o0, o1 in p[2]) for p in plans) + (((3,),) if vector else ())
    starts = [_blocks.chunk_starts(p[0]) for p in plans]

    def run(block, lo, hi, loc):
        shape, cut = [], []
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
        part = out[tuple(cut)]
        # A copy, so that the grown block is not kept alive behind the chunk.
        return part if part.shape == out.shape else part.copy()

    return _blocks.with_halo(x, depth, run, dtype=x.dtype, out_chunks=out_chunks)


def separable_filter(input, kernels, *, output=None, workers=None, vectors=None):
    """Separable convolution of a chunked image or volume with one kernel per
    axis, resampled to the output's shape.

    Parameters
    ----------
    input : dask array or array_like
        A scalar image of 1, 2 or 3 dimensions of the dtypes of
        :func:`nvfiltering.separable_filter`, or (``vectors=True``) float32
        three-vectors: an array of 2, 3 or 4 dimensions whose last axis has
        length 3 (each component filtered alike).
    kernels : Kernel or sequence of Kernel
        One for every image axis (array-axis order) or one for all. Tap
        ``len // 2`` is aligned with the output sample.
    output : tuple of int, optional
        The output's shape along the image axes (the vector axis left out);
        it sets the whole-factor resampling as the shape of
        :func:`nvfiltering.separable_filter`'s ``output`` does. Default: the
        input's shape. The result is lazy: an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.separable_filter`; every chunk task
        runs on one thread.
    vectors : bool, optional
        As in :func:`nvfiltering.separable_filter` (None: the earlier reading,
        with its DeprecationWarning when it reads vectors).

    Returns
    -------
    dask array
        The dtype :func:`nvfiltering.separable_filter` returns, bit
        for bit :func:`nvfiltering.separable_filter` of the whole array. Chunk
        boundaries are moved to multiples of the down-sampling factor and
        chunks merged to hold the kernels' halo.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.separable_filter` refuses (another dtype,
        kernels that are not Kernel objects, wrong dimensions, a vector axis
        that is not 3), with its messages, when the function is called.
    nvfiltering.Error
        An axis shorter than its kernel, or an output too long for its input:
        the library's own error, when the function is called.

    Notes
    -----
    Borders are mirrored without repeating the edge sample, as on the whole
    array.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering as nvf, nvfiltering.dask as nvd
    >>> img = da.full((8, 8), 100, dtype=np.uint8, chunks=4)
    >>> box = nvf.Kernel([1 / 3, 1 / 3, 1 / 3], center=1)
    >>> int(nvd.separable_filter(img, box)[4, 4].compute())
    100
    """
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    vector, work = separable_input(x, vectors)
    spatial = x.ndim - 1 if vector else x.ndim
    kernels = kernels_per_axis(kernels, spatial)
    out_shape = lazy_output_shape(output, x.shape[:spatial])
    workers_count(workers)
    if x.dtype != work:
        x = x.astype(work)  # the dtype the library reads, in its own byte order

    # The tasks carry the kernels as values and centres (a Kernel does not pickle).
    taps = tuple((list(k.values), k.center) for k in kernels)

    def call(block, out):
        rebuilt = tuple(_memory.Kernel(values, center=center) for values, center in taps)
        _memory.separable_filter(block, rebuilt, output=out, workers=1, vectors=vector)

    return _resample(x, kernels, out_shape, vector, call)


def pyramid_down(input, *, output=None, workers=None):
    """One level of an image pyramid of a chunked image or volume:
    smoothing with the five-tap kernel, then every second sample along every axis.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        The dtypes of :func:`nvfiltering.pyramid_down`. Every axis that is
        filtered must be at least 5 long.
    output : tuple of int, optional
        The output's shape (default ``(n + 1) // 2`` per axis; other sizes
        resample by the whole factor nearest to n / m). The result is lazy: an
        array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.pyramid_down`; every chunk task runs
        on one thread.

    Returns
    -------
    dask array
        The dtype :func:`nvfiltering.pyramid_down` returns; bit for bit
        :func:`nvfiltering.pyramid_down` of the whole array; chunk
        boundaries lie on even input positions.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.pyramid_down` refuses (a complex or
        non-numeric dtype, 0-d or 4-d input), with its messages, when the
        function is called.
    nvfiltering.Error
        An axis shorter than the kernel, or an output too long for its input:
        the library's own error, when the function is called.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> img = da.zeros((64, 64), dtype=np.uint8, chunks=20)
    >>> nvd.pyramid_down(img).shape
    (32, 32)
    """
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    work = pyramid_input(x)
    if x.dtype != work and x.dtype != np.bool_:
        x = x.astype(work)  # the dtype the library reads, in its own byte order (bool stays bool)
    kernels = kernels_per_axis(_memory.pyramid_kernel(), x.ndim)
    out_shape = lazy_output_shape(output, tuple((n + 1) // 2 for n in x.shape))
    workers_count(workers)

    def call(block, out):
        _memory.pyramid_down(block, output=out, workers=1)

    return _resample(x, kernels, out_shape, False, call)
