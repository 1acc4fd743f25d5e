"""FFTs of any length with NumPy's signs, layouts and normalisations.

Complex transforms (``fft``, ``ifft``, ``fft2``, ``ifft2``, ``fftn``, ``ifftn``)
and real ones with the half spectrum (``rfft``, ``irfft``, ``rfft2``,
``irfft2``, ``rfftn``, ``irfftn``), with scipy.fft's ``n`` / ``s``, ``axes``,
``norm`` and ``workers``. The forward transform is exp(-2 pi i jk / n); with
``norm="backward"`` (the default) it is unscaled and the inverse is scaled by
1 / n, ``"ortho"`` scales both by 1 / sqrt(n), ``"forward"`` the forward one by
1 / n. complex64 stays complex64, complex128 stays complex128; real input
becomes complex of its precision (float32 -> complex64; float64 and integers
-> complex128), and the inverse real transforms give float32 / float64. The
library transforms NumPy's interleaved complex arrays directly (no split into
real and imaginary arrays); ``fftn_split`` transforms split arrays in place.
"""

import itertools

import numpy as np

from . import _nvfiltering as _core
from ._checks import (check_output, fast_length_at_least, fft_axes, fft_axis, fft_fast_length, fft_input,
                      fft_length, fft_ndim, fft_norm, fft_size, fft_sizes, length_arg, native, split_arrays,
                      workers_count)

__all__ = ["fft", "ifft", "fft2", "ifft2", "fftn", "ifftn", "rfft", "irfft", "rfft2", "irfft2", "rfftn", "irfftn",
           "next_fast_len", "fftn_split"]


def next_fast_len(n):
    """The smallest length >= n of the form 2^p 3^q 5^r.

    Every length is accepted; these ones run fastest.

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


def _pass(shape, axis):
    """Axis ``axis`` of a C-contiguous array of ``shape`` as pre x n x post."""
    pre = int(np.prod(shape[:axis], dtype=np.int64))
    post = int(np.prod(shape[axis + 1:], dtype=np.int64))
    return [pre, int(shape[axis]), post]


def _resized(a, axes, sizes):
    """``a`` cut or padded with zeros to ``sizes`` along ``axes``."""
    if sizes is None or all(a.shape[ax] == n for ax, n in zip(axes, sizes)):
        return a
    shape = list(a.shape)
    for ax, n in zip(axes, sizes):
        shape[ax] = n
    out = np.zeros(shape, a.dtype)
    common = tuple(slice(0, min(a.shape[d], shape[d])) for d in range(a.ndim))
    out[common] = a[common]
    return out


def _axes_of(a, axes, s, kind):
    """The transformed axes: kind 1 one axis, 2 two (default the last two), 3 every axis."""
    if kind == 1:
        return [fft_axis(axes, a.ndim)]
    if axes is None:
        if s is not None:
            count = len(s) if not np.isscalar(s) else 1
            return list(range(a.ndim - count, a.ndim)) if count <= a.ndim else fft_axes(range(count), a.ndim, ())
        fft_ndim(a.ndim, kind == 2, "x")
        return [a.ndim - 2, a.ndim - 1] if kind == 2 else list(range(a.ndim))
    return fft_axes(axes, a.ndim, ())


def _complex_of_real(a, out, axes, code, direction, w, rt):
    """``fft`` ... ``ifftn`` of real input transformed along the last axis (and
    any others): the real transform (half the work), the other half along the
    last axis filled in by conjugate symmetry, X(-k) = conj X(k), every index
    taken modulo its axis's length on the transformed axes. For real x the
    inverse is the conjugate of the forward transform with the scaling of the
    inverse."""
    last = a.ndim - 1
    n = a.shape[last]
    h = n // 2 + 1
    # The forward code: the scaling the inverse gives its direction (backward
    # 1/n, ortho 1/sqrt(n), forward 1).
    forward_code = code if direction == 1 else 2 - code
    rank = len(axes)
    if list(axes) == list(range(a.ndim - rank, a.ndim)) and rank + (a.ndim > rank) <= 3:
        # Trailing axes in order, at most three with the batch axes folded into
        # one: the library writes the whole spectrum, the fill included.
        flat = (-1,) + a.shape[a.ndim - rank:] if a.ndim > rank else a.shape
        _core.real_forward_full(native(a, rt).reshape(flat), out.reshape(flat).view(rt), rank, forward_code,
                                direction != 1, w)
        return
    shape = list(a.shape)
    shape[last] = h
    spectrum = np.empty(shape, out.dtype)
    others = [ax for ax in axes if ax != last]
    passes = [_pass(shape, ax) for ax in reversed(others)]
    _core.real_forward(native(a, rt), spectrum.view(rt), _pass(a.shape, last), passes, forward_code, w)
    # Forward: the first h values along the last axis are the spectrum, the rest
    # the conjugates of its mirror image. Inverse: the other way round.
    head, tail = slice(0, h), slice(h, n)
    if direction == 1:
        out[..., head] = spectrum
    else:
        out.real[..., head] = spectrum.real
        np.subtract(0, spectrum.imag, out=out.imag[..., head])
    if h == n:
        return
    # X(k1, ..., j) for j >= h from X(-k1, ..., n - j): along each other
    # transformed axis index 0 stays and k comes from N - k, which is a reversed
    # view, so the fill is 2^(axes - 1) assignments of views and no copy (an
    # axis of length 1 has an empty second part).
    for picks in itertools.product((0, 1), repeat=len(others)):
        dst = [slice(None)] * a.ndim
        src = [slice(None)] * a.ndim
        dst[last], src[last] = tail, slice(n - h, 0, -1)
        for ax, rest in zip(others, picks):
            size = a.shape[ax]
            dst[ax], src[ax] = (slice(1, size), slice(size - 1, 0, -1)) if rest else (slice(0, 1), slice(0, 1))
        part, mirrored = out[tuple(dst)], spectrum[tuple(src)]
        # Conjugates as 0 - imaginary part, so that a zero imaginary part comes
        # out +0 as in the complex transforms.
        part.real[...] = mirrored.real
        if direction == 1:
            np.subtract(0, mirrored.imag, out=part.imag)
        else:
            part.imag[...] = mirrored.imag


def _complex(x, kind, axes, s, norm, output, workers, direction):
    w = workers_count(workers)
    code = fft_norm(norm)
    a, is_complex, ct, rt = fft_input(x, "x")
    axes = _axes_of(a, axes, s, kind)
    sizes = fft_sizes(s, len(axes), "n" if kind == 1 else "s")
    a = _resized(a, axes, sizes)
    for ax in axes:
        fft_length(a.shape[ax], "x")
    check_output(output, a.shape, ct)
    out = output if output is not None else np.empty(a.shape, ct)
    if a.size:
        if not is_complex and a.ndim - 1 in axes and a.shape[-1] > 2:
            _complex_of_real(a, out, axes, code, direction, w, rt)
            return out
        data = native(a, ct)
        if a.ndim <= 3:
            # The array's own shape: two axes within the slabs of a volume run
            # slab by slab while the slab is in cache (the same bits as passes).
            _core.complex_axes(data.view(rt), out.view(rt), list(reversed(axes)), direction, code, w)
        else:
            passes = [_pass(a.shape, ax) for ax in reversed(axes)]
            _core.complex_passes(data.view(rt), out.view(rt), passes, direction, code, w)
    return out


def _trailing(a, axes):
    """Whether ``axes`` are the last ``len(axes)`` axes of ``a`` in order, at most three
    dimensions in all: the whole-array real transforms of the library then apply."""
    return a.ndim <= 3 and list(axes) == list(range(a.ndim - len(axes), a.ndim))


def _real_input(x, name="x"):
    a, is_complex, ct, rt = fft_input(x, name)
    if is_complex:
        raise TypeError(f"{name}: complex input (dtype {a.dtype}) to a real transform; use fft / fftn")
    return a, ct, rt


def _rforward(x, kind, axes, s, norm, output, workers):
    w = workers_count(workers)
    code = fft_norm(norm)
    a, ct, rt = _real_input(x)
    axes = _axes_of(a, axes, s, kind)
    sizes = fft_sizes(s, len(axes), "n" if kind == 1 else "s")
    a = _resized(a, axes, sizes)
    for ax in axes:
        fft_length(a.shape[ax], "x")
    halved = axes[-1]
    shape = list(a.shape)
    shape[halved] = a.shape[halved] // 2 + 1
    check_output(output, shape, ct)
    out = output if output is not None else np.empty(shape, ct)
    if a.size:
        data = native(a, rt)
        if len(axes) > 1 and _trailing(a, axes):
            # The last axes of a volume: the halved axis and the one before it slab by slab.
            _core.real_forward_rank(data, out.view(rt), len(axes), code, w)
            return out
        passes = [_pass(shape, ax) for ax in reversed(axes[:-1])]
        _core.real_forward(data, out.view(rt), _pass(a.shape, halved), passes, code, w)
    return out


def _rinverse(x, kind, axes, s, norm, output, workers):
    w = workers_count(workers)
    code = fft_norm(norm)
    a, _, ct, rt = fft_input(x, "x")
    axes = _axes_of(a, axes, s, kind)
    sizes = fft_sizes(s, len(axes), "n" if kind == 1 else "s")
    halved = axes[-1]
    if sizes is None:
        sizes = [a.shape[ax] for ax in axes[:-1]] + [2 * (a.shape[halved] - 1)]
    for ax, n in zip(axes, sizes):
        fft_length(n, "x")
    # The spectrum: the other axes at their output lengths, n/2 + 1 values along the halved one.
    spectrum_sizes = list(sizes[:-1]) + [sizes[-1] // 2 + 1]
    a = _resized(a, axes, spectrum_sizes)
    shape = list(a.shape)
    shape[halved] = sizes[-1]
    check_output(output, shape, rt)
    out = output if output is not None else np.empty(shape, rt)
    if out.size:
        data = native(a, ct)
        if len(axes) == 1 and not np.may_share_memory(data, out):
            # One axis: the library only reads the spectrum, so no copy of it.
            _core.real_inverse_lines(data.view(rt), out, _pass(shape, halved), code, w)
            return out
        if len(axes) > 1 and _trailing(a, axes) and not np.may_share_memory(data, out):
            # The last axes: the library keeps its own scratch spectrum and runs the
            # axes of a volume's slabs slab by slab.
            _core.real_inverse_rank(data.view(rt), out, len(axes), code, w)
            return out
        if len(axes) > 1:
            # The other axes from the input into a scratch spectrum (the first pass
            # reads the input, the others work in place), then the halved axis.
            source = np.empty(a.shape, ct)
            passes = [_pass(a.shape, ax) for ax in reversed(axes[:-1])]
            _core.complex_passes(data.view(rt), source.view(rt), passes, -1, code, w)
        else:
            # One axis, the output sharing the spectrum's memory: a copy first.
            source = data.copy()
        _core.real_inverse_lines(source.view(rt), out, _pass(shape, halved), code, w)
    return out


def _fftn_split_core(re, im, direction, w):
    for n in re.shape:
        fft_fast_length(n, "x")
    fft_size(re.size, "x")
    if re.ndim == 1:
        _core.fft1(re, im, re.shape[0], 1, direction, w)
    elif re.ndim == 2:
        _core.fft2(re, im, re.shape[0], re.shape[1], 1, direction, w)
    else:
        _core.fft3(re, im, re.shape[0], re.shape[1], re.shape[2], direction, w)


def fft(x, axis=-1, *, n=None, norm=None, output=None, workers=None):
    return _complex(x, 1, axis, n, norm, output, workers, 1)


def ifft(x, axis=-1, *, n=None, norm=None, output=None, workers=None):
    return _complex(x, 1, axis, n, norm, output, workers, -1)


def fft2(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _complex(x, 2, axes, s, norm, output, workers, 1)


def ifft2(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _complex(x, 2, axes, s, norm, output, workers, -1)


def fftn(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _complex(x, 3, axes, s, norm, output, workers, 1)


def ifftn(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _complex(x, 3, axes, s, norm, output, workers, -1)


def rfft(x, axis=-1, *, n=None, norm=None, output=None, workers=None):
    return _rforward(x, 1, axis, n, norm, output, workers)


def irfft(x, axis=-1, *, n=None, norm=None, output=None, workers=None):
    return _rinverse(x, 1, axis, n, norm, output, workers)


def rfft2(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _rforward(x, 2, axes, s, norm, output, workers)


def irfft2(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _rinverse(x, 2, axes, s, norm, output, workers)


def rfftn(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _rforward(x, 3, axes, s, norm, output, workers)


def irfftn(x, *, s=None, axes=None, norm=None, output=None, workers=None):
    return _rinverse(x, 3, axes, s, norm, output, workers)


_SHARED_DOC = """
    Parameters
    ----------
    x : array_like
        {shape}{axis}
    {size}
    norm : {{None, "backward", "ortho", "forward"}}, optional
        The scaling (per transformed axis of length n): "backward" (None)
        leaves the forward transform unscaled and scales the inverse by 1/n,
        "ortho" scales both by 1/sqrt(n), "forward" the forward one by 1/n.
    output : ndarray, optional
        C-contiguous writable array of the result's shape and dtype; written
        and returned. For the complex transforms it may be the input itself
        (in place) when that already has the result's dtype and layout.
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
        A transformed length of 0, a bad axis or size, a wrong number of
        dimensions, an unknown ``norm``, a wrong output.
    TypeError
        A non-numeric input, {complex_input}a wrong output dtype.

    Notes
    -----
    Any length is accepted; lengths whose prime factors are at most 13 take
    the mixed-radix path, the others the chirp-z path (see the library's FFT
    documentation for the accuracy of each, about 1e-7 log2(n) in single and
    2e-16 log2(n) in double precision relative RMS). NaN and inf spread over
    the transformed lines.
"""

_C = dict(shape="complex64 / float32 (and float16) give complex64; complex128, float64 and integers give "
                "complex128. ", complex_input="")
_CI = dict(shape="Complex (or real) spectrum; complex64 / float32 give float32, the others float64. ",
           complex_input="")
_R = dict(shape="Real input: float32 (and float16) give complex64, float64 and integers complex128. ",
          complex_input="complex input, ")
_ONE = dict(axis="At least 1 dimension; every other axis is a batch.\n    axis : int, optional\n"
                 "        The axis to transform (default: the last).",
            size="n : int, optional\n        The length transformed along ``axis``: the input is cut or "
                 "padded with zeros to it.")
_ONE_INV = dict(axis=_ONE["axis"],
                size="n : int, optional\n        The length of the output along ``axis`` (default "
                     "2 (m - 1) for m input values); the input is cut or padded to n // 2 + 1.")
_MANY = dict(axis="{dims}\n    axes : sequence of int, optional\n        The transformed axes, each once "
                  "({default}); the last one is halved in the real transforms.",
             size="s : sequence of int, optional\n        The lengths along ``axes``: the input is cut or "
                  "padded with zeros to them (for the inverse real transforms the output lengths, the input "
                  "taking s[-1] // 2 + 1 values along the last axis).")
_TWO = dict(dims="At least 2 dimensions when ``axes`` is None; the other axes are a batch.",
            default="default: the last two")
_ALL = dict(dims="1, 2 or 3 dimensions when ``axes`` is None (every axis transformed); any number with "
                 "``axes``.", default="default: every axis")

for _f, _kind, _many, _summary, _what, _example in (
        (fft, _C, None, "Forward FFT along one axis.", "The forward transform along ``axis``.",
         "complex(fft(np.ones(8))[0])\n    (8+0j)"),
        (ifft, _C, None, "Inverse FFT along one axis.", "The inverse transform along ``axis``.",
         "complex(ifft(np.ones(7))[0])\n    (1+0j)"),
        (fft2, _C, _TWO, "Forward FFT of two axes.", "The forward transform of ``axes``.",
         "complex(fft2(np.ones((4, 6)))[0, 0])\n    (24+0j)"),
        (ifft2, _C, _TWO, "Inverse FFT of two axes.", "The inverse transform of ``axes``.",
         "complex(ifft2(np.ones((4, 6)))[0, 0])\n    (1+0j)"),
        (fftn, _C, _ALL, "Forward FFT over several axes.", "The forward transform over ``axes``.",
         "complex(fftn(np.ones((2, 3, 4)))[0, 0, 0])\n    (24+0j)"),
        (ifftn, _C, _ALL, "Inverse FFT over several axes.", "The inverse transform over ``axes``.",
         "complex(ifftn(np.ones((2, 3, 4)))[0, 0, 0])\n    (1+0j)"),
        (rfft, _R, None, "Forward FFT of real input along one axis, the half spectrum.",
         "n // 2 + 1 values along ``axis``: X(0) .. X(n // 2).", "rfft(np.ones(7)).shape\n    (4,)"),
        (irfft, _CI, None, "Inverse of :func:`rfft`: real output of length n along one axis.",
         "The real inverse transform along ``axis``.", "irfft(np.array([5.0, 0, 0]), n=5).tolist()\n"
         "    [1.0, 1.0, 1.0, 1.0, 1.0]"),
        (rfft2, _R, _TWO, "Forward FFT of real input over two axes, the last halved.",
         "The transform over ``axes``, with n // 2 + 1 values along the last.",
         "rfft2(np.ones((4, 6))).shape\n    (4, 4)"),
        (irfft2, _CI, _TWO, "Inverse of :func:`rfft2`.", "The real inverse transform over ``axes``.",
         "irfft2(rfft2(np.ones((4, 6)))).shape\n    (4, 6)"),
        (rfftn, _R, _ALL, "Forward FFT of real input over several axes, the last halved.",
         "The transform over ``axes``, with n // 2 + 1 values along the last.",
         "rfftn(np.ones((3, 5, 9))).shape\n    (3, 5, 5)"),
        (irfftn, _CI, _ALL, "Inverse of :func:`rfftn`.", "The real inverse transform over ``axes``.",
         "irfftn(rfftn(np.ones((3, 5, 9))), s=(3, 5, 9)).shape\n    (3, 5, 9)")):
    if _many is None:
        _args = _ONE_INV if _f.__name__ == "irfft" else _ONE
        _axis, _size = _args["axis"], _args["size"]
    else:
        _axis, _size = _MANY["axis"].format(**_many), _MANY["size"]
    _f.__doc__ = (_summary + "\n" + _SHARED_DOC.format(what=_what, axis=_axis, size=_size, **_kind)
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
