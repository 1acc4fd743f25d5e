"""Distributed multi-dimensional FFTs of arrays chunked along every axis: one
pass per transformed axis, each after a rechunk (a transpose between workers)
that makes that axis whole in every chunk while the other axes stay split."""

from __future__ import annotations

import numpy as np

from .. import fft as _memory
from .._checks import chunk_bytes_arg, fft_input, fft_length, fft_ndim, fft_sizes, lazy_fft_ndim, workers_count

__all__ = ["fft2", "fftn", "ifft2", "ifftn", "irfft2", "irfftn", "rfft2", "rfftn"]


def _along(block, axis, inverse):
    f = _memory.ifft if inverse else _memory.fft
    return f(block, axis=axis, workers=1)


def _real_along(block, n, inverse):
    if inverse:
        return _memory.irfft(block, axis=-1, n=n, workers=1)
    return _memory.rfft(block, axis=-1, workers=1)


def _complex_passes(x, axes, inverse, dtype, chunk_bytes):
    for axis in reversed(axes):
        # Whole along this axis; the others split as finely as the chunk budget asks.
        target_chunks = {a: ("auto" if a in axes else x.chunks[a]) for a in range(x.ndim)}
        target_chunks[axis] = -1
        x = x.rechunk(target_chunks, block_size_limit=chunk_bytes)
        x = x.map_blocks(_along, axis, inverse, dtype=dtype, meta=np.empty((0,) * x.ndim, dtype))
    return x


def _real_transform(input, two_d, inverse, s, workers, chunk_bytes):
    """The real transforms: the last axis halved, the others complex passes."""
    import dask.array as da
    workers_count(workers)
    x, is_complex, ct, rt = fft_input(input, "input", convert=da.asarray)
    if not inverse and is_complex:
        raise TypeError(f"input: complex input (dtype {x.dtype}) to a real transform; use fft / fftn")
    fft_ndim(x.ndim, two_d, "input")
    lazy_fft_ndim(x.ndim, "input")
    axes = (x.ndim - 2, x.ndim - 1) if two_d else tuple(range(x.ndim))
    sizes = fft_sizes(s, len(axes))
    if sizes is None:
        sizes = [x.shape[a] for a in axes]
        if inverse:
            sizes[-1] = 2 * (x.shape[-1] - 1)
    for a, n in zip(axes, sizes):
        fft_length(x.shape[a], "input")
        fft_length(n, "input")
        if a != x.ndim - 1 and n != x.shape[a]:
            raise ValueError(f"input: the chunked transforms take s equal to the input's lengths along "
                             f"axis {a}, got {n}")
    n = sizes[-1]
    if inverse and x.shape[-1] != n // 2 + 1:
        raise ValueError(f"input: {x.shape[-1]} values along the last axis, not n // 2 + 1 = {n // 2 + 1}")
    if not inverse and n != x.shape[-1]:
        raise ValueError(f"input: the chunked transforms take s equal to the input's lengths, got {n}")
    chunk_bytes = chunk_bytes_arg(chunk_bytes)
    if chunk_bytes is None:
        chunk_bytes = max(int(np.prod(x.chunksize)) * ct.itemsize, 1 << 20)
    others = axes[:-1]
    last = x.ndim - 1
    if inverse:
        if x.dtype != ct:
            x = x.astype(ct)
        x = _complex_passes(x, others, True, ct, chunk_bytes)
    elif x.dtype != rt:
        x = x.astype(rt)
    target_chunks = {a: ("auto" if a in axes else x.chunks[a]) for a in range(x.ndim)}
    target_chunks[last] = -1
    x = x.rechunk(target_chunks, block_size_limit=chunk_bytes)
    out_type = rt if inverse else ct
    length = n if inverse else n // 2 + 1
    chunks = x.chunks[:-1] + ((length,),)
    x = x.map_blocks(_real_along, n, inverse, dtype=out_type, chunks=chunks,
                     meta=np.empty((0,) * x.ndim, out_type))
    if not inverse:
        x = _complex_passes(x, others, False, ct, chunk_bytes)
    return x


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
    return _complex_passes(x, axes, inverse, dtype, chunk_bytes)


_SHARED_DOC = """
    Parameters
    ----------
    input : dask array or array_like
        {shape}. complex64 / float32 (and float16) give complex64; complex128,
        float64 and integers give complex128. Any transformed length of at
        least 1.
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
        What :func:`nvfiltering.fft.{memory}` refuses (a transformed length of
        0, a wrong number of dimensions), with its messages naming ``input``,
        when the function is called; 1-d input (the chunked transforms take 2
        or 3 dimensions).
    TypeError
        A non-numeric input.

    Notes
    -----
    Conventions as :func:`nvfiltering.fft.{memory}` (NumPy's signs and
    normalisation). The result agrees with the whole-array transform to its
    rounding (see the library's FFT documentation for the bounds).
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


def rfftn(input, *, workers=None, chunk_bytes=None):
    """Forward FFT of a real chunked image or volume over every axis, the last halved.

    Parameters
    ----------
    input : dask array or array_like
        2 or 3 dimensions of real values (float32 gives complex64, float64 and
        integers complex128; complex input is a TypeError).
    workers, chunk_bytes : as in :func:`fftn`.

    Returns
    -------
    dask array
        The transform, with n // 2 + 1 values along the last axis: first
        :func:`nvfiltering.fft.rfft` along the last axis (whole in every
        chunk), then one complex pass per other axis as in :func:`fftn`.

    Examples
    --------
    >>> import dask.array as da, nvfiltering.dask as nvd
    >>> nvd.rfftn(da.ones((4, 6), chunks=2)).shape
    (4, 4)
    """
    return _real_transform(input, False, False, None, workers, chunk_bytes)


def irfftn(input, *, s=None, workers=None, chunk_bytes=None):
    """Inverse of :func:`rfftn`: a real chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like
        2 or 3 dimensions of the half spectrum (complex64 / float32 give
        float32, the others float64).
    s : sequence of int, optional
        The output shape (default: the input's, with 2 (m - 1) along the last
        axis); every length but the last must equal the input's, and the input
        must hold s[-1] // 2 + 1 values along the last axis.
    workers, chunk_bytes : as in :func:`fftn`.

    Returns
    -------
    dask array
        The complex inverse passes of the other axes, then
        :func:`nvfiltering.fft.irfft` along the last axis.

    Examples
    --------
    >>> import dask.array as da, nvfiltering.dask as nvd
    >>> float(nvd.irfftn(nvd.rfftn(da.ones((4, 6), chunks=2)), s=(4, 6))[1, 2].compute())
    1.0
    """
    return _real_transform(input, False, True, s, workers, chunk_bytes)


def rfft2(input, *, workers=None, chunk_bytes=None):
    """As :func:`rfftn` over the last two axes (an image, or every slice of a volume).

    Examples
    --------
    >>> import dask.array as da, nvfiltering.dask as nvd
    >>> nvd.rfft2(da.ones((3, 4, 6), chunks=2)).shape
    (3, 4, 4)
    """
    return _real_transform(input, True, False, None, workers, chunk_bytes)


def irfft2(input, *, s=None, workers=None, chunk_bytes=None):
    """As :func:`irfftn` over the last two axes; ``s`` has two lengths.

    Examples
    --------
    >>> import dask.array as da, nvfiltering.dask as nvd
    >>> nvd.irfft2(nvd.rfft2(da.ones((3, 4, 6), chunks=2)), s=(4, 6)).shape
    (3, 4, 6)
    """
    return _real_transform(input, True, True, s, workers, chunk_bytes)
