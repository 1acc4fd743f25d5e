"""Chunked recursive Gaussian filters and the bound on how far a chunked result
can stray from the whole-array one, computed from the library's own impulse
response (the recursive filter has infinite support, so a finite halo cuts a tail)."""

from __future__ import annotations

import math
from functools import lru_cache

import numpy as np

from .. import _gaussian as _memory
from .._checks import (NUMPY_PAD_MODES, as_array, border_args, check_sigmas, check_spacings, gaussian_filter_args,
                       gaussian_gradient_args, integer, no_output_array, per_axis, truncate_arg, workers_count)
from . import _blocks

__all__ = ["gaussian_error_bound", "gaussian_filter", "gaussian_gradient", "gradient_error_bound"]


def halo(sigma, order, truncate):
    """ceil(truncate * sigma), and at least one sample for a derivative."""
    return tuple(max(_blocks.ceil_int(truncate * s), 1 if o else 0) for s, o in zip(sigma, order))


def _probe_shape(shape):
    """A shape of at most two samples per axis that the library filters along
    the same axes as ``shape`` (None when the shape is not known yet)."""
    if not all(isinstance(n, (int, np.integer)) for n in shape):
        return None
    return tuple(min(int(n), 2) for n in shape)


@lru_cache(maxsize=256)
def _library_takes(kind, shape, dtype, *args):
    """Runs the in-memory filter on a few zeros, so that what the library
    refuses (a sigma too large for its series) is refused when the chunked
    function is called, with the library's own error."""
    if shape is not None:
        getattr(_memory, kind)(np.zeros(shape, dtype), *args, workers=1)
    return True


def _pad_edges(x, depth, mode, cval):
    """`x` continued beyond its outer edges by `depth` samples per axis as
    `mode` says (numpy's pad of the same meaning, axis after axis, so that the
    corners hold the continuation of the continuation, as the filter sees it).
    The middle keeps the chunks of `x`; each side is one chunk more."""
    import dask.array as da
    for axis, d in enumerate(depth):
        n = x.shape[axis]
        if d == 0 or n == 0:
            continue
        if mode == "constant":
            shape = x.shape[:axis] + (d,) + x.shape[axis + 1:]
            chunks = x.chunks[:axis] + ((d,),) + x.chunks[axis + 1:]
            left = right = da.full(shape, cval, dtype=x.dtype, chunks=chunks)
        else:
            index = np.pad(np.arange(n), d, mode=NUMPY_PAD_MODES[mode])
            left = da.take(x, index[:d], axis=axis)
            right = da.take(x, index[n + d:], axis=axis)
        x = da.concatenate([left, x, right], axis=axis)
    return x


def _holds(dtype, value):
    """Whether `dtype` holds `value` exactly."""
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        return float(value).is_integer() and info.min <= value <= info.max
    return float(dtype.type(value)) == value


def _with_border(x, depth, mode, cval, work, out_dtype, filter_block, whole, extra_out=()):
    """The blockwise filtering of :func:`gaussian_filter` and
    :func:`gaussian_gradient` for a border mode other than constant 0: one
    chunk is the whole array's result (`whole` on it); otherwise the array is
    continued beyond its outer edges by the halo depth (in a dtype that holds
    cval exactly) and every chunk, outer ones included, is filtered with its
    halo and the default zero continuation beyond (`filter_block`), the
    continuation then cut off again."""
    import dask.array as da
    if all(len(c) <= 1 for c in x.chunks):
        return x.map_blocks(whole, dtype=out_dtype,
                            chunks=x.chunks + tuple((e,) for e in extra_out),
                            new_axis=list(range(x.ndim, x.ndim + len(extra_out))) or None)
    # Chunks smaller than the halo are merged first, as the default path does.
    merged = tuple(_blocks.merge_small(c, d) if d > 0 else c for c, d in zip(x.chunks, depth))
    if merged != x.chunks:
        x = x.rechunk(merged)
    if x.dtype != work:
        x = x.astype(work)
    if mode == "constant" and not _holds(work, cval):
        x = x.astype(np.float64)
    padded = _pad_edges(x, depth, mode, cval)

    def run(block, lo, hi, loc):
        out = filter_block(block)
        return _blocks.trim(out, lo + (0,) * len(extra_out), hi + (0,) * len(extra_out))

    out = _blocks.with_halo(padded, depth, run, dtype=out_dtype if padded.dtype == work else np.float64,
                            extra_out=extra_out)
    crop = tuple(slice(d, d + n) for d, n in zip(depth, x.shape)) + (slice(None),) * len(extra_out)
    out = out[crop].astype(out_dtype)
    return out.rechunk(x.chunks + tuple((e,) for e in extra_out))


@lru_cache(maxsize=256)
def _impulse(sigma, order):
    """The library's response to a unit impulse in the middle of a long line (float64)."""
    reach = int(math.ceil(30.0 * sigma)) + 32
    line = np.zeros(2 * reach + 1)
    line[reach] = 1.0
    return _memory.gaussian_filter(line, sigma, order, workers=1)


@lru_cache(maxsize=256)
def _line_weights(sigma, order, depth):
    """(weight beyond `depth` samples on both sides, total absolute weight)."""
    h = np.abs(_impulse(sigma, order))
    reach = h.size // 2
    tail = float(h[: max(reach - depth, 0)].sum() + h[reach + depth + 1:].sum())
    return tail, float(h.sum())


@lru_cache(maxsize=256)
def _rounding(sigma, order, dtype):
    """Largest difference between the `dtype` and the float64 runs on a fixed
    random line of values in [-1, 1]: the scale of one pass's rounding."""
    if np.dtype(dtype) == np.float64:
        return 0.0 if sigma == 0 else 64 * np.finfo(np.float64).eps
    rng = np.random.default_rng(12345)
    line = rng.uniform(-1.0, 1.0, int(math.ceil(16 * sigma)) + 64)
    low = _memory.gaussian_filter(line.astype(dtype), sigma, order, workers=1)
    high = _memory.gaussian_filter(line, sigma, order, workers=1)
    return float(np.max(np.abs(low.astype(np.float64) - high))) + float(np.finfo(dtype).eps)


def _separable_bound(sigma, order, depth, dtype):
    tails, sums, rounds = [], [], []
    for s, o, d in zip(sigma, order, depth):
        t, w = _line_weights(s, o, d)
        tails.append(t)
        sums.append(w)
        rounds.append(_rounding(s, o, dtype))
    total = 0.0
    for a in range(len(sigma)):
        others = math.prod(sums[b] for b in range(len(sigma)) if b != a)
        # Tail lost along axis a, and twice the rounding of that pass (both runs round).
        total += (tails[a] + 4.0 * rounds[a]) * others
    return total


def gaussian_error_bound(sigma, order=0, *, truncate=4.0, ndim=None, dtype=np.float32):
    """Bound on |chunked - whole| of :func:`gaussian_filter` per unit of max|input|.

    The chunked result at a voxel is the whole-array filter applied to the data
    inside its chunk plus halo, with zeros beyond; the difference is the filter's
    response to the data outside. With h_a the library's impulse response along
    axis a (measured by filtering an impulse), T_a the sum of |h_a(k)| over
    |k| > ceil(truncate * sigma_a) and S_a the sum of all |h_a(k)|:

        |chunked - whole| <= max|input| * sum_a (T_a + 4 R_a) * prod_{b != a} S_b

    where R_a is the rounding scale of one pass in the output dtype (measured
    the same way; zero in effect for float64). For smoothing S_a is about 1 and
    T_a about 1.5e-3 at truncate 4; derivatives scale both T_a and S_a by about
    1/sigma_a per derivative order.

    Parameters
    ----------
    sigma, order :
        As :func:`gaussian_filter`: a scalar or one value per axis.
    truncate : float, optional
        The halo of :func:`gaussian_filter`, in sigmas.
    ndim : int, optional
        1, 2 or 3 (default: the length of ``sigma`` or ``order`` when one is a
        sequence, else 3).
    dtype : dtype, optional
        The input's dtype (its output dtype sets the rounding).

    Returns
    -------
    float
        The factor of max|input|.

    Raises
    ------
    TypeError, ValueError
        The arguments :func:`gaussian_filter` refuses, with its messages.

    Examples
    --------
    >>> import nvfiltering.dask as nvd
    >>> 3e-4 < nvd.gaussian_error_bound(2.0, ndim=1) < 1e-2
    True
    """
    if ndim is None:
        ndim = len(sigma) if np.ndim(sigma) else len(order) if np.ndim(order) else 3
    ndim = integer(ndim, "ndim", 1, 3)
    stand_in = as_array(np.empty((0,) * ndim, dtype), "dtype")
    sigma, order, _, out_dtype = gaussian_filter_args(stand_in, sigma, order)
    truncate = truncate_arg(truncate)
    return _separable_bound(sigma, order, halo(sigma, order, truncate), out_dtype.type)


def gradient_error_bound(sigma, spacing=1.0, *, truncate=4.0, ndim=3):
    """Bound on |chunked - whole| of :func:`gaussian_gradient` (any component)
    per unit of max|input|: the bound of the derivative along each axis,
    divided by that axis's spacing.

    Parameters
    ----------
    sigma : float or sequence of float
        In the unit of ``spacing``; finite and >= 0.
    spacing : float or sequence of float, optional
        Sample distance along each array axis; finite and > 0.
    truncate : float, optional
        The halo of :func:`gaussian_gradient`, in sigmas.
    ndim : int, optional
        1, 2 or 3.

    Returns
    -------
    float
        The factor of max|input| (float32 rounding).

    Examples
    --------
    >>> import nvfiltering.dask as nvd
    >>> nvd.gradient_error_bound(2.0, (2.0, 1.0, 1.0)) < 1e-2
    True
    """
    ndim = integer(ndim, "ndim", 1, 3)
    spacing = per_axis(spacing, ndim, "spacing")
    check_spacings(spacing)
    sigma = per_axis(sigma, ndim, "sigma")
    check_sigmas(sigma)
    truncate = truncate_arg(truncate)
    voxel_sigma = tuple(s / h for s, h in zip(sigma, spacing))
    worst = 0.0
    for i in range(ndim):
        order = tuple(1 if a == i else 0 for a in range(ndim))
        depth = halo(voxel_sigma, (1,) * ndim, truncate)
        worst = max(worst, _separable_bound(voxel_sigma, order, depth, np.float32) / spacing[i])
    return worst


def gaussian_filter(input, sigma, order=0, *, mode="constant", cval=0.0, truncate=4.0, output=None, workers=None):
    """Recursive Gaussian smoothing, or one first or second Gaussian derivative,
    of a chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, float32 or float64. Every other real dtype (bool, other
        integers, float16) is filtered as float32.
    sigma : float or sequence of float
        Standard deviation in samples, one per array axis or one for all;
        finite and >= 0. 0 leaves an axis unfiltered. About 107 or more
        raises :class:`nvfiltering.Error` (the filter's series does not
        converge), when the function is called.
    order : int or sequence of int, optional
        0 (smoothing), 1 or 2 (derivative) per axis; at most one axis may have
        a non-zero order.
    mode, cval : optional
        The continuation of the array beyond its outer edges, as in
        :func:`nvfiltering.gaussian_filter`; inner chunk faces are bridged by
        the halo whatever the mode.
    truncate : float, optional
        Every chunk is filtered with a halo of ``ceil(truncate * sigma)``
        samples per axis from its neighbours (at least 1 for a derivative);
        finite and > 0.
    output : None
        The result is lazy: store it with ``dask.array.store`` or ``to_zarr``.
        An array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.gaussian_filter`; every chunk task
        runs on one thread and the scheduler supplies the parallelism.

    Returns
    -------
    dask array
        The input's shape and chunks (chunks smaller than the halo merged with
        a neighbour); float32 for uint8, float32 and converted input; float64
        for float64.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.gaussian_filter` refuses, with its messages,
        when the function is called; ``truncate`` not finite and > 0.
    nvfiltering.Error
        The library rejected sigma (too large).

    Notes
    -----
    With the default border there is no halo past the array's own edge, so
    the outer borders are the library's zero continuation, as on the whole
    array. With another mode the array is first continued past its outer
    edges by the halo depth as the mode says, so the outer chunks see the
    continuation as the inner ones see their neighbours, and the bound below
    holds with max|input| the largest magnitude of the continued array
    (``max(max|input|, |cval|)`` for ``'constant'``); an array of one chunk
    gets the whole-array result exactly. The recursive filter's response is
    infinite: the chunked result misses its tail beyond the halo.
    With h the library's impulse response along an axis (measured by filtering
    a unit impulse with the library), T its absolute weight beyond the halo and
    S its whole absolute weight,
    ``|chunked - whole| <= max|input| * sum_a (T_a + 4 R_a) * prod_{b!=a} S_b``
    (R_a: one pass's rounding in the output dtype). :func:`gaussian_error_bound`
    returns the factor. For smoothing, T is about 1.5e-3 per axis at
    ``truncate=4`` (the recursive filter keeps more weight in its tail than a
    sampled Gaussian); larger ``truncate`` tightens the bound, derivatives scale
    it by about 1/sigma per order.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> vol = da.zeros((32, 32, 32), dtype=np.uint8, chunks=16)
    >>> smooth = nvd.gaussian_filter(vol, 2.0)
    >>> smooth.dtype, smooth.chunks == vol.chunks
    (dtype('float32'), True)
    >>> dz = nvd.gaussian_filter(vol, 2.0, order=(1, 0, 0))
    """
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    sigma, order, work, out_dtype = gaussian_filter_args(x, sigma, order)
    border, cval = border_args(mode, cval)
    no_output_array(output)
    workers_count(workers)
    truncate = truncate_arg(truncate)
    _library_takes("gaussian_filter", _probe_shape(x.shape), work, sigma, order)
    if border != 0 or cval != 0.0:
        return _with_border(x, halo(sigma, order, truncate), mode, cval, work, out_dtype,
                            lambda block: _memory.gaussian_filter(block, sigma, order, workers=1),
                            lambda block: _memory.gaussian_filter(block, sigma, order, mode=mode, cval=cval,
                                                                  workers=1))

    def run(block, lo, hi, loc):
        out = _memory.gaussian_filter(block, sigma, order, workers=1,
                                      output=_blocks.scratch_output(block, out_dtype, lo, hi))
        return _blocks.trim(out, lo, hi)

    return _blocks.with_halo(x, halo(sigma, order, truncate), run, dtype=out_dtype, reuse_block=True)


def gaussian_gradient(input, sigma, spacing=1.0, *, mode="constant", cval=0.0, truncate=4.0, output=None,
                      workers=None):
    """Gradient in physical units of a chunked image or volume, by first
    recursive Gaussian derivatives.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, float32 or float64; other real dtypes are filtered as float32.
    sigma : float
        Standard deviation in the unit of ``spacing`` (one value for every
        axis); finite and >= 0.
    spacing : float or sequence of float, optional
        Sample distance along each array axis; finite and > 0.
    mode, cval : optional
        The continuation of the array beyond its outer edges, as in
        :func:`gaussian_filter`.
    truncate : float, optional
        The halo is ``ceil(truncate * sigma / spacing)`` samples per axis (at
        least 1); finite and > 0.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.gaussian_gradient`; every chunk task
        runs on one thread.

    Returns
    -------
    dask array
        Shape ``input.shape + (input.ndim,)``, the last axis in one chunk;
        ``out[..., i]`` is the derivative along array axis i divided by
        ``spacing[i]``. float32 for uint8, float32 and converted input;
        float64 for float64.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.gaussian_gradient` refuses, with its messages,
        when the function is called; ``truncate`` not finite and > 0.
    nvfiltering.Error
        sigma / spacing too large for the filter's series.

    Notes
    -----
    Borders as :func:`gaussian_filter`. The chunked result differs from the
    whole-array one by at most ``gradient_error_bound(sigma, spacing,
    truncate=truncate, ndim=input.ndim) * max|input|`` (with
    ``max(max|input|, |cval|)`` for ``mode='constant'``).

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> vol = da.zeros((16, 16, 16), dtype=np.uint8, chunks=8)
    >>> g = nvd.gaussian_gradient(vol, 1.5, spacing=(2.0, 1.0, 1.0))
    >>> g.shape, g.dtype
    ((16, 16, 16, 3), dtype('float32'))
    """
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    sigma, spacing, work, out_dtype = gaussian_gradient_args(x, sigma, spacing)
    border, cval = border_args(mode, cval)
    no_output_array(output)
    workers_count(workers)
    truncate = truncate_arg(truncate)
    _library_takes("gaussian_gradient", _probe_shape(x.shape), work, sigma, spacing)
    voxel_sigma = tuple(sigma / h for h in spacing)
    if border != 0 or cval != 0.0:
        return _with_border(x, halo(voxel_sigma, (1,) * x.ndim, truncate), mode, cval, work, out_dtype,
                            lambda block: _memory.gaussian_gradient(block, sigma, spacing, workers=1),
                            lambda block: _memory.gaussian_gradient(block, sigma, spacing, mode=mode, cval=cval,
                                                                    workers=1),
                            extra_out=(x.ndim,))

    def run(block, lo, hi, loc):
        out = _memory.gaussian_gradient(block, sigma, spacing, workers=1,
                                        output=_blocks.scratch_output(block, out_dtype, lo, hi, (x.ndim,)))
        return _blocks.trim(out, lo + (0,), hi + (0,))

    return _blocks.with_halo(x, halo(voxel_sigma, (1,) * x.ndim, truncate), run,
                             dtype=out_dtype, extra_out=(x.ndim,), reuse_block=True)
