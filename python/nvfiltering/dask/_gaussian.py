"""Chunked recursive Gaussian filters and the bound on how far a chunked result
can stray from the whole-array one, computed from the library's own impulse
response (the recursive filter has infinite support, so a finite halo cuts a tail)."""

from __future__ import annotations

import math
from functools import lru_cache

import numpy as np

from . import _blocks


def _nv():
    import nvfiltering
    return nvfiltering


def per_axis(value, ndim, name, kind=float):
    if np.ndim(value) == 0:
        return (kind(value),) * ndim
    values = tuple(kind(v) for v in value)
    if len(values) != ndim:
        raise ValueError(f"{name} must be a scalar or have one value per axis ({ndim}), got {len(values)}")
    return values


def check_sigma(sigma, name="sigma"):
    for s in sigma:
        if not (math.isfinite(s) and s >= 0):
            raise ValueError(f"{name} must be finite and non-negative, got {s}")


def halo(sigma, order, truncate):
    """ceil(truncate * sigma), and at least one sample for a derivative."""
    return tuple(max(_blocks.ceil_int(truncate * s), 1 if o else 0) for s, o in zip(sigma, order))


@lru_cache(maxsize=256)
def _impulse(sigma, order):
    """The library's response to a unit impulse in the middle of a long line (float64)."""
    reach = int(math.ceil(30.0 * sigma)) + 32
    line = np.zeros(2 * reach + 1)
    line[reach] = 1.0
    return _nv().gaussian_filter(line, sigma, order, workers=1)


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
    low = _nv().gaussian_filter(line.astype(dtype), sigma, order, workers=1)
    high = _nv().gaussian_filter(line, sigma, order, workers=1)
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
    """Bound on |chunked - whole| of `gaussian_filter` per unit of max|input|.

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
    """
    if ndim is None:
        ndim = len(sigma) if np.ndim(sigma) else len(order) if np.ndim(order) else 3
    sigma = per_axis(sigma, ndim, "sigma")
    order = per_axis(order, ndim, "order", int)
    check_sigma(sigma)
    return _separable_bound(sigma, order, halo(sigma, order, truncate), np.dtype(dtype).type)


def gradient_error_bound(sigma, spacing=1.0, *, truncate=4.0, ndim=3):
    """Bound on |chunked - whole| of `gaussian_gradient` (any component) per
    unit of max|input|: the bound of the derivative along each axis, divided by
    that axis's spacing."""
    spacing = per_axis(spacing, ndim, "spacing")
    voxel_sigma = tuple(s / h for s, h in zip(per_axis(sigma, ndim, "sigma"), spacing))
    check_sigma(voxel_sigma)
    worst = 0.0
    for i in range(ndim):
        order = tuple(1 if a == i else 0 for a in range(ndim))
        depth = halo(voxel_sigma, (1,) * ndim, truncate)
        worst = max(worst, _separable_bound(voxel_sigma, order, depth, np.float32) / spacing[i])
    return worst


@lru_cache(maxsize=64)
def _gaussian_dtype(dtype, ndim):
    return _nv().gaussian_filter(np.zeros((1,) * ndim, dtype), 0.0, workers=1).dtype


def gaussian_filter(input, sigma, order=0, *, truncate=4.0, output=None, workers=None):
    import dask.array as da
    x = da.asarray(input)
    if output is not None:
        raise TypeError("output: the chunked filters return a lazy dask array; store it with dask.array.store or to_zarr")
    sigma = per_axis(sigma, x.ndim, "sigma")
    order = per_axis(order, x.ndim, "order", int)
    check_sigma(sigma)
    if any(o not in (0, 1, 2) for o in order):
        raise ValueError(f"order must be 0, 1 or 2 per axis, got {order}")
    if sum(1 for o in order if o) > 1:
        raise ValueError("order: a derivative along at most one axis")
    if not (math.isfinite(truncate) and truncate > 0):
        raise ValueError(f"truncate must be positive and finite, got {truncate}")
    dtype = _gaussian_dtype(x.dtype, x.ndim)
    sigma_arg = sigma
    order_arg = order

    def run(block, lo, hi, loc):
        out = _nv().gaussian_filter(block, sigma_arg, order_arg, workers=1)
        return _blocks.trim(out, lo, hi)

    return _blocks.with_halo(x, halo(sigma, order, truncate), run, dtype=dtype)


def gaussian_gradient(input, sigma, spacing=1.0, *, truncate=4.0, output=None, workers=None):
    import dask.array as da
    x = da.asarray(input)
    if output is not None:
        raise TypeError("output: the chunked filters return a lazy dask array; store it with dask.array.store or to_zarr")
    sigma_arg, spacing_arg = sigma, spacing
    spacing = per_axis(spacing, x.ndim, "spacing")
    for h in spacing:
        if not (math.isfinite(h) and h > 0):
            raise ValueError(f"spacing must be positive and finite, got {h}")
    sigma = per_axis(sigma, x.ndim, "sigma")
    check_sigma(sigma)
    if not (math.isfinite(truncate) and truncate > 0):
        raise ValueError(f"truncate must be positive and finite, got {truncate}")
    voxel_sigma = tuple(s / h for s, h in zip(sigma, spacing))

    def run(block, lo, hi, loc):
        out = _nv().gaussian_gradient(block, sigma_arg, spacing_arg, workers=1)
        return _blocks.trim(out, lo + (0,), hi + (0,))

    return _blocks.with_halo(x, halo(voxel_sigma, (1,) * x.ndim, truncate), run,
                             dtype=np.float32, extra_out=(x.ndim,))
