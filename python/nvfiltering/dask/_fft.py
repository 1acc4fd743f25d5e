"""Distributed multi-dimensional FFTs of arrays chunked along every axis: one
pass per transformed axis, each after a rechunk (a transpose between workers)
that makes that axis whole in every chunk while the other axes stay split."""

from __future__ import annotations

import numpy as np

from .. import fft as _memory
from .._checks import chunk_bytes_arg, fft_input, fft_length, fft_ndim, lazy_fft_ndim, workers_count

__all__ = ["fft2", "fftn", "ifft2", "ifftn"]


def _along(block, axis, inverse):
    f = _memory.ifft if inverse else _memory.fft
    return f(block, axis=axis, workers=1)


def _transform(input, two_d, inverse, workers, chunk_bytes):
    import dask.array as da
    workers_count(workers)
    x, _, dtype, _ = fft_input(input, "input", convert=da.asarray)
    fft_ndim(x.ndim, two_d, "input")
    lazy_fft_ndim(x.ndim, "input")
    axes = (x.ndim - 2, x.ndim - 1) if two_d else tuple(range(x.ndim))
    for a in axes:
        fft_length(x.shape[a], "input")
    chunk_bytes = chunk_bytes_arg(chunk_bytes)
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


_SHARED_DOC = """
    Parameters
    ----------
    input : dask array or array_like
        {shape}. complex64 / float32 (and float16) give complex64; complex128,
        float64 and integers give complex128. Every transformed length must be
        2^p 3^q 5^r.
    workers : int, optional
        Checked as in :func:`nvfiltering.fft.{memory}`; every chunk task runs
        on one thread and the scheduler supplies the parallelism.
    chunk_bytes : int, optional
        Bytes of a chunk during each pass (default: the input's chunk size in
        the output dtype, at least 1 MiB).

    Returns
    -------
    dask array
        {what} One pass per transformed axis: a rechunk makes that axis whole
        in every chunk (the other axes split so that a chunk holds at most
        ``chunk_bytes``), then :func:`nvfiltering.fft.{one}` transforms along it.

    Raises
    ------
    ValueError
        What :func:`nvfiltering.fft.{memory}` refuses (a length that is not
        2^p 3^q 5^r or is 0, with the next good length named; a wrong number of
        dimensions), with its messages naming ``input``, when the function is
        called; 1-d input (the chunked transforms take 2 or 3 dimensions).
    TypeError
        A non-numeric input.

    Notes
    -----
    Conventions as :func:`nvfiltering.fft.{memory}` (NumPy's signs and
    normalisation). The result agrees with the whole-array transform to its
    rounding: relative RMS error below 5e-7 log2(n) in single and 1e-15
    log2(n) in double precision, for each of the two.
"""


def fftn(input, *, workers=None, chunk_bytes=None):
    return _transform(input, False, False, workers, chunk_bytes)


def ifftn(input, *, workers=None, chunk_bytes=None):
    return _transform(input, False, True, workers, chunk_bytes)


def fft2(input, *, workers=None, chunk_bytes=None):
    return _transform(input, True, False, workers, chunk_bytes)


def ifft2(input, *, workers=None, chunk_bytes=None):
    return _transform(input, True, True, workers, chunk_bytes)


_ALL = "2 or 3 dimensions, all transformed"
_TWO = "2 or 3 dimensions; the last two are transformed (an image, or every slice of a volume)"
for _f, _shape, _summary, _what, _example in (
        (fftn, _ALL, "Forward FFT over every axis of a chunked image or volume.",
         "The forward transform over every axis, in the output dtype.",
         "complex(nvd.fftn(da.ones((4, 6), chunks=2))[0, 0].compute())\n    (24+0j)"),
        (ifftn, _ALL, "Inverse FFT over every axis of a chunked image or volume (scaled by 1/size).",
         "The inverse transform over every axis.",
         "complex(nvd.ifftn(da.ones((4, 6), chunks=2))[0, 0].compute())\n    (1+0j)"),
        (fft2, _TWO, "Forward FFT over the last two axes of a chunked image or volume.",
         "The forward transform of the last two axes.",
         "complex(nvd.fft2(da.ones((3, 4, 6), chunks=2))[1, 0, 0].compute())\n    (24+0j)"),
        (ifft2, _TWO, "Inverse FFT over the last two axes of a chunked image or volume (scaled by 1/(n1 n2)).",
         "The inverse transform of the last two axes.",
         "complex(nvd.ifft2(da.ones((3, 4, 6), chunks=2))[1, 0, 0].compute())\n    (1+0j)")):
    _f.__doc__ = (_summary + "\n" + _SHARED_DOC.format(shape=_shape, what=_what, memory=_f.__name__,
                                                       one="ifft" if _f.__name__.startswith("i") else "fft")
                  + "\n    Examples\n    --------\n    >>> import dask.array as da, nvfiltering.dask as nvd\n"
                  + f"    >>> {_example}\n")
