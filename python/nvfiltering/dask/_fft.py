"""Distributed multi-dimensional FFTs of arrays chunked along every axis: one
pass per transformed axis, each after a rechunk (a transpose between workers)
that makes that axis whole in every chunk while the other axes stay split."""

from __future__ import annotations

import numpy as np

from .. import fft as _memory
from .._checks import (chunk_bytes_arg, fft_input, fft_length, fft_ndim, fft_norm, fft_sizes,
                       lazy_fft_ndim, no_output_array, workers_count)

__all__ = ["fft", "fft2", "fftn", "ifft", "ifft2", "ifftn", "irfft", "irfft2", "irfftn", "rfft", "rfft2", "rfftn"]

def _along(block, axis, inverse, norm):
    f = _memory.ifft if inverse else _memory.fft
    return f(block, axis=axis, norm=norm, workers=1)


def _real_along(block, axis, n, inverse, norm):
    if inverse:
        return _memory.irfft(block, axis=axis, n=n, norm=norm, workers=1)
    return _memory.rfft(block, axis=axis, norm=norm, workers=1)


def _whole_along(x, axis, axes, chunk_bytes):
    """`x` rechunked whole along `axis`, the other transformed axes split as
    finely as the chunk budget asks, the batch axes as they were."""
    target_chunks = {a: ("auto" if a in axes else x.chunks[a]) for a in range(x.ndim)}
    target_chunks[axis] = -1
    return x.rechunk(target_chunks, block_size_limit=chunk_bytes)


def _complex_passes(x, passes, axes, inverse, norm, dtype, chunk_bytes):
    """One pass per axis of `passes` (in reverse order, as the in-memory
    transforms run them), each after a rechunk that makes its axis whole."""
    for axis in reversed(passes):
        x = _whole_along(x, axis, axes, chunk_bytes)
        x = x.map_blocks(_along, axis, inverse, norm, dtype=dtype,
                         meta=np.empty((0,) * x.ndim, dtype))
    return x


def _resized(x, axes, sizes):
    """`x` cut or padded with zeros to `sizes` along `axes` (lazily)."""
    import dask.array as da
    index = [slice(None)] * x.ndim
    pad = [(0, 0)] * x.ndim
    for a, n in zip(axes, sizes):
        if n < x.shape[a]:
            index[a] = slice(0, n)
        elif n > x.shape[a]:
            pad[a] = (0, n - x.shape[a])
    if any(i != slice(None) for i in index):
        x = x[tuple(index)]
    if any(p != (0, 0) for p in pad):
        if x.size == 0:
            # Nothing to pad from (Dask's pad divides by the empty length).
            shape = tuple(n + p[1] for n, p in zip(x.shape, pad))
            return da.zeros(shape, dtype=x.dtype, chunks=tuple(c or max(n, 1) for c, n in zip(x.chunksize, shape)))
        x = da.pad(x, pad, mode="constant")
    return x


def _axes_of(x, axes, s, kind):
    """The transformed axes, as the in-memory transforms choose them (kind 1:
    one axis, 2: two, 3: several); with neither ``axes`` nor ``s`` the
    chunked transforms take images and volumes."""
    if kind != 1 and axes is None and s is None:
        fft_ndim(x.ndim, kind == 2, "input")
        lazy_fft_ndim(x.ndim, "input")
    return _memory._axes_of(x, axes, s, kind)


def _budget(x, chunk_bytes, dtype):
    chunk_bytes = chunk_bytes_arg(chunk_bytes)
    if chunk_bytes is None:
        chunk_bytes = max(int(np.prod(x.chunksize)) * dtype.itemsize, 1 << 20)
    return chunk_bytes


def _transform(input, kind, axes, s, norm, output, workers, chunk_bytes, inverse):
    import dask.array as da
    no_output_array(output)
    workers_count(workers)
    fft_norm(norm)
    x, _, dtype, _ = fft_input(input, "input", convert=da.asarray)
    axes = _axes_of(x, axes, s, kind)
    sizes = fft_sizes(s, len(axes), "n" if kind == 1 else "s")
    if sizes is not None:
        x = _resized(x, axes, sizes)
    for a in axes:
        fft_length(x.shape[a], "input")
    chunk_bytes = _budget(x, chunk_bytes, dtype)
    if x.dtype != dtype:
        x = x.astype(dtype)
    return _complex_passes(x, axes, axes, inverse, norm, dtype, chunk_bytes)


def _real_transform(input, kind, axes, s, norm, output, workers, chunk_bytes, inverse):
    """The real transforms: the last of the axes halved, the others complex passes."""
    import dask.array as da
    no_output_array(output)
    workers_count(workers)
    fft_norm(norm)
    x, is_complex, ct, rt = fft_input(input, "input", convert=da.asarray)
    if not inverse and is_complex:
        raise TypeError(f"input: complex input (dtype {x.dtype}) to a real transform; use fft / fftn")
    axes = _axes_of(x, axes, s, kind)
    sizes = fft_sizes(s, len(axes), "n" if kind == 1 else "s")
    halved = axes[-1]
    others = axes[:-1]
    if inverse:
        if sizes is None:
            sizes = [x.shape[a] for a in others] + [2 * (x.shape[halved] - 1)]
        for n in sizes:
            fft_length(n, "input")
        # The spectrum: the other axes at their output lengths, n // 2 + 1
        # values along the halved one.
        x = _resized(x, axes, list(sizes[:-1]) + [sizes[-1] // 2 + 1])
    else:
        if sizes is not None:
            x = _resized(x, axes, sizes)
        for a in axes:
            fft_length(x.shape[a], "input")
    n = sizes[-1] if inverse else x.shape[halved]
    chunk_bytes = _budget(x, chunk_bytes, ct)
    if inverse:
        if x.dtype != ct:
            x = x.astype(ct)
        x = _complex_passes(x, others, axes, True, norm, ct, chunk_bytes)
    elif x.dtype != rt:
        x = x.astype(rt)
    x = _whole_along(x, halved, axes, chunk_bytes)
    out_type = rt if inverse else ct
    chunks = list(x.chunks)
    chunks[halved] = (n if inverse else n // 2 + 1,)
    x = x.map_blocks(_real_along, halved, n, inverse, norm, dtype=out_type, chunks=tuple(chunks),
                     meta=np.empty((0,) * x.ndim, out_type))
    if not inverse:
        x = _complex_passes(x, others, axes, False, norm, ct, chunk_bytes)
    return x


_SHARED_DOC = """
    Parameters
    ----------
    input : dask array or array_like
        {shape}{axis}
    {size}
    norm : {{None, "backward", "ortho", "forward"}}, optional
        As in :func:`nvfiltering.fft.{memory}`: each pass scales by its own
        axis's factor, which together give the whole transform's.
    output : None
        Accepted for the in-memory signature; an array is a TypeError (store
        the lazy result with ``dask.array.store`` or ``to_zarr``).
    workers : int, optional
        Checked as in :func:`nvfiltering.fft.{memory}`; every chunk task runs
        on one thread and the scheduler supplies the parallelism.
    chunk_bytes : int, optional
        Bytes of a chunk during each pass (default: the input's chunk size in
        the complex dtype, at least 1 MiB).

    Returns
    -------
    dask array
        {what} One pass per transformed axis: a rechunk makes that axis whole
        in every chunk (the other transformed axes split so that a chunk holds
        at most ``chunk_bytes``, the batch axes chunked as they were), then
        the in-memory transform runs along it on one thread.

    Raises
    ------
    ValueError
        What :func:`nvfiltering.fft.{memory}` refuses (a transformed length of
        0, a bad axis or size, an unknown ``norm``), with its messages naming
        ``input``, when the function is called.{dims_error}
    TypeError
        A non-numeric input{complex_input}, an ``output`` array.

    Notes
    -----
    Conventions as :func:`nvfiltering.fft.{memory}` (NumPy's signs, layouts
    and normalisations; any length). The result agrees with the whole-array
    transform to its rounding (see the library's FFT documentation for the
    bounds).
"""

_C = dict(shape="complex64 / float32 (and float16) give complex64; complex128, float64 and integers give "
                "complex128. ", complex_input="")
_CI = dict(shape="Complex (or real) spectrum; complex64 / float32 give float32, the others float64. ",
           complex_input="")
_R = dict(shape="Real input: float32 (and float16) give complex64, float64 and integers complex128. ",
          complex_input=", complex input")
_ONE = dict(axis="At least 1 dimension; every other axis is a batch.\n    axis : int, optional\n"
                 "        The axis to transform (default: the last).",
            size="n : int, optional\n        The length transformed along ``axis``: the input is cut or "
                 "padded with zeros to it.", dims_error="")
_ONE_INV = dict(_ONE, size="n : int, optional\n        The length of the output along ``axis`` (default "
                           "2 (m - 1) for m input values); the input is cut or padded to n // 2 + 1.")
_MANY = dict(axis="{dims}\n    axes : sequence of int, optional\n        The transformed axes, each once "
                  "({default}); the last one is halved in the real transforms.",
             size="s : sequence of int, optional\n        The lengths along ``axes``: the input is cut or "
                  "padded with zeros to them (for the inverse real transforms the output lengths, the input "
                  "taking s[-1] // 2 + 1 values along the last of ``axes``).",
             dims_error=" Without ``axes`` and ``s``, input of other than 2 or 3 dimensions.")
_TWO = dict(dims="2 or 3 dimensions when neither ``axes`` nor ``s`` is given (an image, or every slice of a "
                 "volume); any number with them, the other axes a batch.",
            default="default: the last two")
_ALL = dict(dims="2 or 3 dimensions when neither ``axes`` nor ``s`` is given (every axis transformed); any "
                 "number with them, the other axes a batch.",
            default="default: every axis")


def fft(input, axis=-1, *, n=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 1, axis, n, norm, output, workers, chunk_bytes, False)


def ifft(input, axis=-1, *, n=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 1, axis, n, norm, output, workers, chunk_bytes, True)


def fft2(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 2, axes, s, norm, output, workers, chunk_bytes, False)


def ifft2(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 2, axes, s, norm, output, workers, chunk_bytes, True)


def fftn(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 3, axes, s, norm, output, workers, chunk_bytes, False)


def ifftn(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _transform(input, 3, axes, s, norm, output, workers, chunk_bytes, True)


def rfft(input, axis=-1, *, n=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 1, axis, n, norm, output, workers, chunk_bytes, False)


def irfft(input, axis=-1, *, n=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 1, axis, n, norm, output, workers, chunk_bytes, True)


def rfft2(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 2, axes, s, norm, output, workers, chunk_bytes, False)


def irfft2(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 2, axes, s, norm, output, workers, chunk_bytes, True)


def rfftn(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 3, axes, s, norm, output, workers, chunk_bytes, False)


def irfftn(input, *, s=None, axes=None, norm=None, output=None, workers=None, chunk_bytes=None):
    return _real_transform(input, 3, axes, s, norm, output, workers, chunk_bytes, True)


_EXAMPLES = "    >>> import dask.array as da, nvfiltering.dask as nvd\n"
for _f, _kind, _many, _summary, _what, _example in (
        (fft, _C, None, "Forward FFT of a chunked array along one axis.", "The forward transform along ``axis``.",
         "complex(nvd.fft(da.ones((3, 8), chunks=2))[1, 0].compute())\n    (8+0j)"),
        (ifft, _C, None, "Inverse FFT of a chunked array along one axis (scaled by 1/n).",
         "The inverse transform along ``axis``.",
         "complex(nvd.ifft(da.ones((3, 7), chunks=2), axis=1)[2, 0].compute())\n    (1+0j)"),
        (fft2, _C, _TWO, "Forward FFT over two axes of a chunked array (the last two by default).",
         "The forward transform of ``axes``.",
         "complex(nvd.fft2(da.ones((3, 4, 6), chunks=2))[1, 0, 0].compute())\n    (24+0j)"),
        (ifft2, _C, _TWO, "Inverse FFT over two axes of a chunked array (scaled by 1/(n1 n2)).",
         "The inverse transform of ``axes``.",
         "complex(nvd.ifft2(da.ones((3, 4, 6), chunks=2))[1, 0, 0].compute())\n    (1+0j)"),
        (fftn, _C, _ALL, "Forward FFT over several axes of a chunked array (every axis by default).",
         "The forward transform over ``axes``.",
         "complex(nvd.fftn(da.ones((4, 6), chunks=2))[0, 0].compute())\n    (24+0j)"),
        (ifftn, _C, _ALL, "Inverse FFT over several axes of a chunked array (scaled by 1/size).",
         "The inverse transform over ``axes``.",
         "complex(nvd.ifftn(da.ones((4, 6), chunks=2))[0, 0].compute())\n    (1+0j)"),
        (rfft, _R, None, "Forward FFT of a real chunked array along one axis, the half spectrum.",
         "n // 2 + 1 values along ``axis``: X(0) .. X(n // 2).",
         "nvd.rfft(da.ones((3, 7), chunks=2)).shape\n    (3, 4)"),
        (irfft, _CI, None, "Inverse of :func:`rfft`: real output of length n along one axis.",
         "The real inverse transform along ``axis``.",
         "nvd.irfft(nvd.rfft(da.ones((3, 7), chunks=2)), n=7).compute()[0].round(12).tolist()\n"
         "    [1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0]"),
        (rfft2, _R, _TWO, "Forward FFT of a real chunked array over two axes, the last halved.",
         "The transform over ``axes``, with n // 2 + 1 values along the last.",
         "nvd.rfft2(da.ones((3, 4, 6), chunks=2)).shape\n    (3, 4, 4)"),
        (irfft2, _CI, _TWO, "Inverse of :func:`rfft2`.", "The real inverse transform over ``axes``.",
         "nvd.irfft2(nvd.rfft2(da.ones((3, 4, 6), chunks=2)), s=(4, 6)).shape\n    (3, 4, 6)"),
        (rfftn, _R, _ALL, "Forward FFT of a real chunked array over several axes, the last halved.",
         "The transform over ``axes``, with n // 2 + 1 values along the last.",
         "nvd.rfftn(da.ones((4, 6), chunks=2)).shape\n    (4, 4)"),
        (irfftn, _CI, _ALL, "Inverse of :func:`rfftn`.", "The real inverse transform over ``axes``.",
         "float(nvd.irfftn(nvd.rfftn(da.ones((4, 6), chunks=2)), s=(4, 6))[1, 2].compute())\n    1.0")):
    if _many is None:
        _args = _ONE_INV if _f.__name__ == "irfft" else _ONE
        _axis, _size, _dims_error = _args["axis"], _args["size"], _args["dims_error"]
    else:
        _axis, _size, _dims_error = _MANY["axis"].format(**_many), _MANY["size"], _MANY["dims_error"]
    _f.__doc__ = (_summary + "\n" + _SHARED_DOC.format(what=_what, axis=_axis, size=_size, memory=_f.__name__,
                                                       dims_error=_dims_error, **_kind)
                  + "\n    Examples\n    --------\n" + _EXAMPLES + f"    >>> {_example}\n")
