"""The dtypes every function takes without a conversion, the 16-bit pyramid's
exact rounding, the ``vectors=`` reading of separable_filter, and ``axes=``
batches (each item filtered on its own, bit for bit the loop over items)."""

import itertools
import warnings

import numpy as np
import pytest

import nvfiltering as nvf

RNG = np.random.default_rng(20261209)


def random_array(shape, dtype, rng=RNG):
    dt = np.dtype(dtype)
    if dt == np.bool_:
        return rng.random(shape) < 0.4
    if dt.kind in "iu":
        info = np.iinfo(dt)
        return rng.integers(info.min, int(info.max) + 1, shape, dtype=dt)
    return rng.standard_normal(shape).astype(dt)


# ---------------------------------------------------------------- dtype table
# (function, input dtype) -> output dtype; each row also checks the result
# against the same call on the values in the dtype the function reads them as.

SMOOTH = lambda a, **kw: nvf.gaussian_filter(a, 1.3, **kw)  # noqa: E731
GRADIENT = lambda a, **kw: nvf.gaussian_gradient(a, 1.1, **kw)  # noqa: E731
PYRAMID = nvf.pyramid_down
SEPARABLE = lambda a, **kw: nvf.separable_filter(a, nvf.pyramid_kernel(), vectors=False, **kw)  # noqa: E731
GREY = nvf.grey_dilation
MAXIMA = nvf.regional_maxima

DTYPE_TABLE = [
    # function, input, output, the dtype it reads the values as (None: itself)
    (SMOOTH, np.bool_, np.float32, np.uint8),
    (SMOOTH, np.uint8, np.float32, np.float32),
    (SMOOTH, np.uint16, np.float32, np.float32),
    (SMOOTH, np.int16, np.float32, np.float32),
    (SMOOTH, np.int8, np.float32, np.float32),
    (SMOOTH, np.float32, np.float32, None),
    (SMOOTH, np.float64, np.float64, None),
    (SMOOTH, np.int32, np.float32, np.float32),
    (GRADIENT, np.uint16, np.float32, None),
    (GRADIENT, np.int16, np.float32, None),
    (GRADIENT, np.bool_, np.float32, np.uint8),
    (PYRAMID, np.uint8, np.uint8, None),
    (PYRAMID, np.uint16, np.uint16, None),
    (PYRAMID, np.int16, np.int16, None),
    (PYRAMID, np.float32, np.float32, None),
    (PYRAMID, np.float64, np.float64, None),
    (PYRAMID, np.bool_, np.bool_, None),
    (PYRAMID, np.int8, np.int16, np.int16),
    (PYRAMID, np.uint32, np.float64, np.float64),
    (SEPARABLE, np.uint16, np.uint16, None),
    (SEPARABLE, np.float32, np.float32, None),
    (SEPARABLE, np.bool_, np.uint8, np.uint8),
    (SEPARABLE, np.float16, np.float32, np.float32),
    (nvf.dilate, np.uint16, np.uint16, None),
    (nvf.erode, np.uint16, np.uint16, None),
    (GREY, np.bool_, np.bool_, None),
    (GREY, np.int8, np.int16, np.int16),
    (GREY, np.int32, np.float64, np.float64),
    (GREY, np.float16, np.float32, np.float32),
    (MAXIMA, np.int32, np.uint8, np.float64),
    (MAXIMA, np.bool_, np.uint8, np.uint8),
]


@pytest.mark.parametrize("fn, dtype, out_dtype, read_as", DTYPE_TABLE)
def test_dtype_table(fn, dtype, out_dtype, read_as):
    a = random_array((7, 10, 9), dtype)
    result = fn(a)
    assert result.dtype == out_dtype
    if read_as is not None:
        expected = fn(a.astype(read_as))
        if out_dtype == np.bool_:
            expected = expected.astype(np.bool_)
        np.testing.assert_array_equal(result, expected.astype(out_dtype))


def test_sixteen_bit_gaussians_equal_their_float32_values():
    # Every 16-bit value is exact in float: the integer path gives the float32
    # path's bits, for smoothing and both derivatives, on every axis.
    for dtype in (np.uint16, np.int16):
        a = random_array((9, 12, 11), dtype)
        f = a.astype(np.float32)
        for order in [0, (1, 0, 0), (0, 2, 0), (0, 0, 1), (0, 0, 2)]:
            np.testing.assert_array_equal(nvf.gaussian_filter(a, (1.4, 0.9, 2.1), order),
                                          nvf.gaussian_filter(f, (1.4, 0.9, 2.1), order))


def test_sixteen_bit_gradient_is_the_recursive_one_within_float_rounding():
    a = random_array((8, 13, 10), np.uint16)
    got = nvf.gaussian_gradient(a, 1.2, spacing=(2.0, 1.0, 0.5))
    ref = nvf.gaussian_gradient(a.astype(np.float64), 1.2, spacing=(2.0, 1.0, 0.5))
    np.testing.assert_allclose(got, ref, rtol=0, atol=2e-6 * np.abs(ref).max())


# ---------------------------------------------------------------- the exact 16-bit pyramid

def pyramid_reference(x, lo, hi):
    """The weighted sum of [1, 4, 6, 4, 1] / 16 along every axis of length >= 5
    with the mirrored border, every second sample, in integers; rounded half
    up and clamped."""
    x = x.astype(np.int64)
    taps = np.array([1, 4, 6, 4, 1], np.int64)
    scale = 1
    for ax in range(x.ndim):
        if x.ndim == 3 and ax == 0 and x.shape[0] == 1:
            continue
        n = x.shape[ax]
        padded = np.pad(x, [(2, 2) if k == ax else (0, 0) for k in range(x.ndim)], mode="reflect")
        s = sum(t * np.take(padded, range(i, i + n), axis=ax) for i, t in enumerate(taps))
        x = np.take(s, range(0, n, 2), axis=ax)
        scale *= 16
    return np.clip(np.floor_divide(x + scale // 2, scale), lo, hi)


@pytest.mark.parametrize("shape", [(23,), (9, 14), (7, 11, 6), (1, 8, 9), (5, 5, 5)])
@pytest.mark.parametrize("dtype", [np.uint16, np.int16, np.uint8])
def test_integer_pyramid_is_the_exact_sum_rounded_half_up(shape, dtype):
    info = np.iinfo(dtype)
    a = random_array(shape, dtype)
    # Full-range values and the extremes, where float intermediates lose bits.
    a.flat[::5] = info.max
    a.flat[1::7] = info.min
    np.testing.assert_array_equal(nvf.pyramid_down(a, workers=2),
                                  pyramid_reference(a, info.min, info.max).astype(dtype))


def test_float_separable_is_the_double_sum_rounded_once_per_pass():
    a = random_array((9, 10, 11), np.float64)
    k = nvf.Kernel([0.25, 0.5, 0.25], center=1)
    got = nvf.separable_filter(a, k, vectors=False)
    ref = a
    for ax in range(3):
        p = np.pad(ref, [(1, 1) if i == ax else (0, 0) for i in range(3)], mode="reflect")
        n = ref.shape[ax]
        ref = sum(w * np.take(p, range(i, i + n), axis=ax) for i, w in enumerate((0.25, 0.5, 0.25)))
    np.testing.assert_allclose(got, ref, rtol=0, atol=1e-15 * np.abs(ref).max())
    got32 = nvf.separable_filter(a.astype(np.float32), k, vectors=False)
    np.testing.assert_allclose(got32, ref, rtol=0, atol=4e-7 * np.abs(ref).max())


# ---------------------------------------------------------------- vectors=

def test_separable_vectors_flag():
    k = nvf.Kernel([0.25, 0.5, 0.25], center=1)
    a = random_array((8, 9, 3), np.float32)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        as_vectors = nvf.separable_filter(a, k, vectors=True)
        as_scalars = nvf.separable_filter(a, k, vectors=False)
    with pytest.warns(DeprecationWarning, match="vectors=True"):
        legacy = nvf.separable_filter(a, k)
    np.testing.assert_array_equal(legacy, as_vectors)
    # The scalar reading filters the last axis too; the vector reading does not.
    per_component = np.stack([nvf.separable_filter(a[..., c], k) for c in range(3)], -1)
    np.testing.assert_allclose(as_vectors, per_component, rtol=0, atol=1e-6)
    assert not np.array_equal(as_scalars, as_vectors)
    with pytest.raises(TypeError, match="vectors=True"):
        nvf.separable_filter(random_array((8, 9, 3), np.float64), k, vectors=True)
    with pytest.raises(TypeError, match="vectors"):
        nvf.separable_filter(a, k, vectors="yes")


# ---------------------------------------------------------------- axes=

def loop_over_items(fn, a, axes):
    """The reference: ``fn`` on every item, the results put back by hand."""
    axes = [ax % a.ndim for ax in axes]
    batch = [ax for ax in range(a.ndim) if ax not in axes]
    moved = np.moveaxis(a, sorted(axes), range(len(batch), a.ndim))
    outs = {}
    for idx in itertools.product(*(range(n) for n in moved.shape[:len(batch)])):
        outs[idx] = fn(np.ascontiguousarray(moved[idx]))
    return batch, outs


BATCH_CASES = [
    # name, function of (array, **kw), dtype, shape, axes
    ("smooth", lambda a, **kw: nvf.gaussian_filter(a, 1.5, **kw), np.uint16, (3, 2, 9, 11, 8), (2, 3, 4)),
    ("derivative", lambda a, **kw: nvf.gaussian_filter(a, (1.0, 2.0), (1, 0), **kw), np.float32, (4, 9, 10),
     (2, 0)),
    ("pyramid", nvf.pyramid_down, np.int16, (2, 6, 10, 12), (1, 2, 3)),
    ("separable", lambda a, **kw: nvf.separable_filter(a, nvf.pyramid_kernel(), vectors=False, **kw), np.float64,
     (9, 5, 8), (0, 2)),
    ("dilate", nvf.dilate, np.uint8, (3, 7, 9, 5), (1, 3)),
    ("grey", lambda a, **kw: nvf.grey_opening(a, iterations=2, **kw), np.float32, (2, 2, 6, 7, 5), (-3, -2, -1)),
    ("maxima", nvf.regional_maxima, np.uint16, (3, 6, 7, 5), (1, 2, 3)),
    ("maxima-2d", nvf.regional_maxima, np.float64, (8, 3, 9), (0, 2)),
]


@pytest.mark.parametrize("name, fn, dtype, shape, axes", BATCH_CASES, ids=[c[0] for c in BATCH_CASES])
def test_batches_equal_the_loop_over_items(name, fn, dtype, shape, axes):
    a = random_array(shape, dtype)
    if name == "maxima":
        a //= 4000  # plateaus
    got = fn(a, axes=axes)
    got2 = fn(a, axes=axes, workers=3)
    np.testing.assert_array_equal(got, got2)
    # Per-axis arguments follow the order of axes: the reference is called on
    # the item with its axes in array order, so a reversed axes needs the
    # per-axis arguments reversed for the item.
    if name == "derivative":
        item_fn = lambda x: nvf.gaussian_filter(x, (2.0, 1.0), (0, 1))  # noqa: E731
    else:
        item_fn = fn
    batch, outs = loop_over_items(item_fn, a, axes)
    moved = np.moveaxis(got, sorted(ax % a.ndim for ax in axes), range(len(batch), a.ndim))
    for idx, expected in outs.items():
        np.testing.assert_array_equal(moved[idx], expected)


def test_batched_label_returns_counts_per_item():
    a = RNG.random((3, 4, 9, 10)) < 0.35
    labels, counts = nvf.label(a, axes=(2, 3), workers=2)
    assert counts.shape == (3, 4) and counts.dtype == np.int64
    for i, j in itertools.product(range(3), range(4)):
        lab, n = nvf.label(a[i, j])
        np.testing.assert_array_equal(labels[i, j], lab)
        assert counts[i, j] == n


def test_batched_gradient_components_follow_axes():
    a = random_array((3, 8, 9), np.float64)
    g = nvf.gaussian_gradient(a, 1.0, spacing=(2.0, 0.5), axes=(2, 1))
    assert g.shape == (3, 8, 9, 2)
    for i in range(3):
        item = nvf.gaussian_gradient(a[i], 1.0, spacing=(0.5, 2.0))
        np.testing.assert_array_equal(g[i, ..., 0], item[..., 1])
        np.testing.assert_array_equal(g[i, ..., 1], item[..., 0])


def test_batched_output_and_resampling():
    a = random_array((2, 12, 10), np.uint16)
    out = np.empty((2, 6, 5), np.uint16)
    assert nvf.pyramid_down(a, axes=(1, 2), output=out) is out
    np.testing.assert_array_equal(out[1], nvf.pyramid_down(a[1]))
    vec = random_array((3, 8, 9, 3), np.float32)
    r = nvf.separable_filter(vec, nvf.pyramid_kernel(), vectors=True, axes=(1, 2))
    np.testing.assert_array_equal(r[2], nvf.separable_filter(vec[2], nvf.pyramid_kernel(), vectors=True))
    with pytest.raises(ValueError, match="batch axes"):
        nvf.pyramid_down(a, axes=(1, 2), output=np.empty((3, 6, 5), np.uint16))


@pytest.mark.parametrize("axes, error", [
    ((0, 0), ValueError), ((5,), ValueError), ((0, 1, 2, 3), ValueError), ((), ValueError),
    ((1.0,), TypeError), ("x", TypeError), ((True,), TypeError),
])
def test_bad_axes(axes, error):
    with pytest.raises(error):
        nvf.gaussian_filter(np.zeros((2, 3, 4, 5), np.float32), 1.0, axes=axes)


def test_too_many_dimensions_and_empty_batches():
    with pytest.raises(ValueError, match="at most 5"):
        nvf.dilate(np.zeros((2,) * 6, np.uint8), axes=(0, 1))
    empty = nvf.gaussian_filter(np.zeros((0, 5, 6), np.uint8), 1.0, axes=(1, 2))
    assert empty.shape == (0, 5, 6) and empty.dtype == np.float32
    labels, counts = nvf.label(np.zeros((0, 4, 4), bool), axes=(1, 2))
    assert labels.shape == (0, 4, 4) and counts.shape == (0,)
