"""Distributed multi-dimensional FFTs of arrays chunked along every axis: one
pass per transformed axis, each after a rechunk (a transpose between workers)
that makes that axis whole in every chunk while the other axes stay split."""

from __future__ import annotations

from functools import lru_cache

import numpy as np


def _fft():
    import nvfiltering.fft
    return nvfiltering.fft


@lru_cache(maxsize=32)
def _out_dtype(dtype):
    return _fft().fft(np.zeros(1, dtype), workers=1).dtype


def _along(block, axis, inverse):
    f = _fft().ifft if inverse else _fft().fft
    return f(block, axis=axis, workers=1)


def _transform(input, axes, inverse, chunk_bytes):
    import dask.array as da
    x = da.asarray(input)
    for a in axes:
        n = x.shape[a]
        good = _fft().next_fast_len(n)
        if good != n:
            raise ValueError(f"input: axis {a} has length {n}, not 2^p 3^q 5^r; the next such length is {good}")
    dtype = np.dtype(_out_dtype(x.dtype))
    if chunk_bytes is None:
        chunk_bytes = max(int(np.prod(x.chunksize)) * dtype.itemsize, 1 << 20)
    if x.dtype != dtype:
        x = x.astype(dtype)
    for axis in reversed(axes):
        # Whole along this axis; the others split as finely as the chunk budget asks.
        target_chunks = {a: ("auto" if a in axes else x.chunks[a]) for a in range(x.ndim)}
        target_chunks[axis] = -1
        x = x.rechunk(target_chunks, block_size_limit=chunk_bytes)
        x = x.map_blocks(_along, axis, inverse, dtype=dtype, meta=np.empty((0,) * x.ndim, dtype))
    return x


def _check(x, lo, hi, axes_text):
    if not lo <= x.ndim <= hi:
        raise ValueError(f"input must have {axes_text}, got {x.ndim} dimensions")


def fftn(input, *, workers=None, chunk_bytes=None):
    """Forward transform over all axes (2-D or 3-D); see the module documentation."""
    import dask.array as da
    x = da.asarray(input)
    _check(x, 2, 3, "2 or 3 dimensions")
    return _transform(x, tuple(range(x.ndim)), False, chunk_bytes)


def ifftn(input, *, workers=None, chunk_bytes=None):
    import dask.array as da
    x = da.asarray(input)
    _check(x, 2, 3, "2 or 3 dimensions")
    return _transform(x, tuple(range(x.ndim)), True, chunk_bytes)


def fft2(input, *, workers=None, chunk_bytes=None):
    """Forward transform over the last two axes (of a 2-D image or of each slice of a volume)."""
    import dask.array as da
    x = da.asarray(input)
    _check(x, 2, 3, "2 or 3 dimensions")
    return _transform(x, (x.ndim - 2, x.ndim - 1), False, chunk_bytes)


def ifft2(input, *, workers=None, chunk_bytes=None):
    import dask.array as da
    x = da.asarray(input)
    _check(x, 2, 3, "2 or 3 dimensions")
    return _transform(x, (x.ndim - 2, x.ndim - 1), True, chunk_bytes)
