"""Complex FFTs of lengths 2^p 3^q 5^r with NumPy's signs and normalisation.

The forward transform is unscaled with exp(-2 pi i jk / n); the inverse is
scaled by 1 / n. complex64 stays complex64, complex128 stays complex128; real
input becomes complex of its precision (float32 -> complex64; float64 and
integers -> complex128). The library works on split real / imaginary arrays:
the functions here split the input into such a pair once and interleave the
result into the returned array once (both without the GIL); ``fftn_split``
transforms split arrays in place without any copy.
"""

import numpy as np

from . import _nvfiltering as _core
from ._checks import (check_output, fast_length_at_least, fft_axis, fft_input, fft_length, fft_ndim, fft_size,
                      length_arg, native, split_arrays, workers_count)

__all__ = ["fft", "ifft", "fft2", "ifft2", "fftn", "ifftn", "next_fast_len", "fftn_split"]


def next_fast_len(n):
    """The smallest length >= n of the form 2^p 3^q 5^r.

    Parameters
    ----------
    n : int
        At least 1.

    Returns
    -------
    int

    Raises
    ------
    TypeError
        ``n`` is not an int.
    ValueError
        ``n`` < 1.

    Examples
    --------
    >>> from nvfiltering.fft import next_fast_len
    >>> next_fast_len(1001)
    1024
    """
    return fast_length_at_least(length_arg(n, "n"))


def _values(a, is_complex, complex_type, real_type):
    """C-contiguous values for the extension: complex ones as interleaved reals
    (a view, no copy when ``a`` already is C-contiguous of the dtype)."""
    if is_complex:
        return native(a, complex_type).view(real_type)
    return native(a, real_type)


def _transform(x, kind, output, workers, direction, axis=None):
    w = workers_count(workers)
    a, is_complex, ct, rt = fft_input(x, "x")
    if output is not None:
        check_output(output, a.shape, ct)
    moved = a
    if axis is not None:
        axis = fft_axis(axis, a.ndim)
        if axis != a.ndim - 1:
            moved = np.moveaxis(a, axis, -1)
    shape = moved.shape
    if kind == 1:
        for_lib = [shape[-1], moved.size // shape[-1] if shape[-1] else 0, 0]
        lengths = shape[-1:]
    elif kind == 2:
        fft_ndim(a.ndim, True, "x")
        plane = shape[-2] * shape[-1]
        for_lib = [shape[-2], shape[-1], moved.size // plane if plane else 0]
        lengths = shape[-2:]
    else:
        fft_ndim(a.ndim, False, "x")
        kind = a.ndim
        for_lib = [shape[0], 1, 0] if kind == 1 else ([shape[0], shape[1], 1] if kind == 2 else list(shape))
        lengths = shape
    for n in lengths:
        fft_length(n, "x")
    fft_size(moved.size, "x")
    data = _values(moved, is_complex, ct, rt)
    direct = moved is a
    out = output if output is not None else np.empty(a.shape, ct)
    target = out if direct else np.empty(shape, ct)
    if moved.size:
        scratch = np.empty((2, moved.size), rt)
        _core.transform(data, is_complex, target.view(rt), scratch[0], scratch[1], kind, for_lib, direction, w)
    if not direct:
        np.moveaxis(out, axis, -1)[...] = target
    return out


def _fftn_split_core(re, im, direction, w):
    for n in re.shape:
        fft_length(n, "x")
    fft_size(re.size, "x")
    if re.ndim == 1:
        _core.fft1(re, im, re.shape[0], 1, direction, w)
    elif re.ndim == 2:
        _core.fft2(re, im, re.shape[0], re.shape[1], 1, direction, w)
    else:
        _core.fft3(re, im, re.shape[0], re.shape[1], re.shape[2], direction, w)


_SHARED_DOC = """
    Parameters
    ----------
    x : array_like
        {shape}. complex64 / float32 (and float16) give complex64; complex128,
        float64 and integers give complex128.{axis}
    output : ndarray, optional
        C-contiguous writable complex array of the input's shape and the
        result dtype; written and returned.
    workers : int, optional
        None or 1: one thread; n: n threads; -1: all cores. The result is
        the same for every value.

    Returns
    -------
    ndarray
        {what}

    Raises
    ------
    ValueError
        A transformed length that is not 2^p 3^q 5^r (the message names the
        next good length, see :func:`next_fast_len`) or is 0, a wrong number
        of dimensions, more than 2^31 - 1 elements, a wrong output.
    TypeError
        A non-numeric input, a wrong output dtype.

    Notes
    -----
    Accuracy: see the library's FFT documentation (relative RMS error about
    1e-7 in single and 1e-15 in double precision for these sizes). NaN and
    inf spread over the transformed lines.
"""


def fft(x, axis=-1, *, output=None, workers=None):
    return _transform(x, 1, output, workers, 1, axis)


def ifft(x, axis=-1, *, output=None, workers=None):
    return _transform(x, 1, output, workers, -1, axis)


def fft2(x, *, output=None, workers=None):
    return _transform(x, 2, output, workers, 1)


def ifft2(x, *, output=None, workers=None):
    return _transform(x, 2, output, workers, -1)


def fftn(x, *, output=None, workers=None):
    return _transform(x, 3, output, workers, 1)


def ifftn(x, *, output=None, workers=None):
    return _transform(x, 3, output, workers, -1)


_ONE = dict(shape="At least 1 dimension; every other axis is a batch",
            axis="\n    axis : int, optional\n        The axis to transform (default: the last).")
_TWO = dict(shape="At least 2 dimensions; the last two are transformed, the others are a batch", axis="")
_ALL = dict(shape="1, 2 or 3 dimensions, all transformed", axis="")
for _f, _args, _summary, _what, _example in (
        (fft, _ONE, "Forward FFT along one axis.", "The forward transform along ``axis``.",
         "complex(fft(np.ones(8))[0])\n    (8+0j)"),
        (ifft, _ONE, "Inverse FFT along one axis.", "The inverse transform (scaled by 1/n) along ``axis``.",
         "complex(ifft(np.ones(8))[0])\n    (1+0j)"),
        (fft2, _TWO, "Forward FFT of the last two axes.", "The forward transform of the last two axes.",
         "complex(fft2(np.ones((4, 6)))[0, 0])\n    (24+0j)"),
        (ifft2, _TWO, "Inverse FFT of the last two axes.",
         "The inverse transform of the last two axes (scaled by 1/(n1 n2)).",
         "complex(ifft2(np.ones((4, 6)))[0, 0])\n    (1+0j)"),
        (fftn, _ALL, "Forward FFT over every axis.", "The forward transform over every axis.",
         "complex(fftn(np.ones((2, 3, 4)))[0, 0, 0])\n    (24+0j)"),
        (ifftn, _ALL, "Inverse FFT over every axis.", "The inverse transform over every axis (scaled by 1/size).",
         "complex(ifftn(np.ones((2, 3, 4)))[0, 0, 0])\n    (1+0j)")):
    _f.__doc__ = (_summary + "\n" + _SHARED_DOC.format(what=_what, **_args)
                  + "\n    Examples\n    --------\n    >>> import numpy as np\n"
                  + f"    >>> from nvfiltering.fft import {_f.__name__}\n    >>> {_example}\n")


def fftn_split(real, imag, *, inverse=False, workers=None):
    """Transform split real and imaginary arrays over every axis, in place.

    Parameters
    ----------
    real, imag : ndarray
        Two arrays of 1, 2 or 3 dimensions, the same shape and the same dtype
        (float32 or float64), C-contiguous, writable and not overlapping. Every
        length must be 2^p 3^q 5^r.
    inverse : bool, optional
        False: forward (unscaled, exp(-2 pi i ...)); True: inverse (scaled by 1/size).
    workers : int, optional
        Threads, as in :func:`fft`.

    Returns
    -------
    (real, imag)
        The two arrays given, now holding the transform. No copy is made.

    Raises
    ------
    TypeError
        Not NumPy arrays, another dtype, different dtypes.
    ValueError
        Different shapes, a wrong layout, read-only or overlapping arrays, bad lengths.

    Examples
    --------
    >>> import numpy as np
    >>> from nvfiltering.fft import fftn_split
    >>> re, im = np.ones((4, 4)), np.zeros((4, 4))
    >>> _ = fftn_split(re, im)
    >>> float(re[0, 0])
    16.0
    """
    split_arrays(real, imag, inverse)
    _fftn_split_core(real, imag, -1 if inverse else 1, workers_count(workers))
    return real, imag
