"""Chunked filters against the whole-array call on the threaded scheduler:
the Gaussian within its stated bound, everything with a finite footprint bit
for bit, for odd shapes and uneven chunkings."""

import dask
import dask.array as da
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st, HealthCheck

RNG = np.random.default_rng(20261208)


def threaded(x):
    with dask.config.set(scheduler="threads", num_workers=2):
        return x.compute()


def volume(shape, dtype=np.uint8, high=256):
    return RNG.integers(0, high, shape).astype(dtype)


# ---------------------------------------------------------------- Gaussian

@pytest.mark.parametrize("sigma, order, chunks", [
    (0.8, 0, (13, 17, 20)), (2.5, 0, (37, 9, 45)), (4.0, 0, (5, 6, 7)), ((1.5, 3.0, 2.0), 0, (13, 17, 20)),
    (2.0, (1, 0, 0), (5, 6, 7)), (3.0, (0, 0, 1), (13, 17, 20)), (2.0, (0, 2, 0), (37, 9, 45)),
    (1.0, (0, 0, 2), (5, 6, 7)), (0.0, (0, 1, 0), (13, 17, 20)),
])
def test_gaussian_within_bound(nv, nvd, sigma, order, chunks):
    x = volume((37, 41, 45))
    whole = nv.gaussian_filter(x, sigma, order)
    chunked = threaded(nvd.gaussian_filter(da.from_array(x, chunks=chunks), sigma, order))
    assert chunked.dtype == whole.dtype == np.float32
    bound = nvd.gaussian_error_bound(sigma, order, ndim=3) * 255
    diff = np.abs(chunked.astype(np.float64) - whole).max()
    assert diff <= bound
    if np.max(sigma) > 0:
        # The halo really is finite: the chunks do see less than the whole.
        assert diff > 0


def test_gaussian_float64_and_2d(nv, nvd):
    x = RNG.normal(size=(61, 47)) * 100
    for sigma, order in [(2.0, 0), (1.5, (0, 1)), (3.0, (2, 0))]:
        whole = nv.gaussian_filter(x, sigma, order)
        chunked = threaded(nvd.gaussian_filter(da.from_array(x, chunks=(16, 11)), sigma, order))
        assert chunked.dtype == np.float64
        assert np.abs(chunked - whole).max() <= nvd.gaussian_error_bound(sigma, order, ndim=2,
                                                                        dtype=np.float64) * np.abs(x).max()


def test_gaussian_truncate_tightens_bound(nv, nvd):
    x = volume((30, 31, 33))
    errors, bounds = [], []
    for truncate in (2.0, 4.0, 6.0):
        chunked = threaded(nvd.gaussian_filter(da.from_array(x, chunks=(10, 11, 12)), 2.0, truncate=truncate))
        errors.append(np.abs(chunked - nv.gaussian_filter(x, 2.0)).max())
        bounds.append(nvd.gaussian_error_bound(2.0, truncate=truncate, ndim=3) * 255)
    assert all(e <= b for e, b in zip(errors, bounds))
    assert bounds[0] > bounds[1] > bounds[2]
    assert errors[0] > errors[2]


@pytest.mark.parametrize("sigma", [1.0, 2.0, 8.0])
def test_gaussian_bound_is_the_filters_tail(nv, nvd, sigma):
    # One axis at truncate 4: the weight the recursive filter keeps beyond the
    # halo, a few 1e-3 (a sampled Gaussian would keep about 6e-5), and less
    # with a wider halo.
    tight = nvd.gaussian_error_bound(sigma, ndim=1)
    assert 3e-4 < tight < 1e-2
    assert nvd.gaussian_error_bound(sigma, truncate=8.0, ndim=1) < tight / 4
    # It is the tail: a line whose only non-zero sample lies just beyond the
    # halo of one chunk shows it at that chunk's edge.
    h = int(np.ceil(4.0 * sigma))
    line = np.zeros(64 + 2 * h)
    line[32 + h + 1] = 1.0
    chunked = threaded(nvd.gaussian_filter(da.from_array(line, chunks=32), sigma))
    whole = nv.gaussian_filter(line, sigma)
    assert 0 < np.abs(chunked - whole).max() <= tight


def test_gaussian_single_chunk_is_whole(nv, nvd):
    x = volume((20, 21, 22))
    chunked = threaded(nvd.gaussian_filter(da.from_array(x, chunks=-1), 2.0, (0, 1, 0)))
    np.testing.assert_array_equal(chunked, nv.gaussian_filter(x, 2.0, (0, 1, 0)))


BORDERS = [("constant", 40.0), ("constant", -300.5), ("nearest", 0.0), ("reflect", 0.0), ("mirror", 0.0),
           ("wrap", 0.0)]


@pytest.mark.parametrize("mode, cval", BORDERS)
@pytest.mark.parametrize("sigma, order, chunks", [
    (2.0, 0, (13, 17, 20)), (1.5, (0, 1, 0), (5, 6, 7)), (2.5, (0, 0, 2), (37, 9, 45)), (1.2, (1, 0, 0), (2, 41, 9)),
])
def test_gaussian_modes_within_bound(nv, nvd, mode, cval, sigma, order, chunks):
    # The outer edges get the mode, the inner faces the halo: within the bound
    # per unit of the continued array's largest magnitude.
    x = volume((37, 41, 45))
    whole = nv.gaussian_filter(x, sigma, order, mode=mode, cval=cval)
    lazy = nvd.gaussian_filter(da.from_array(x, chunks=chunks), sigma, order, mode=mode, cval=cval)
    assert lazy.dtype == np.float32 and lazy.shape == x.shape
    chunked = threaded(lazy)
    assert chunked.dtype == whole.dtype == np.float32
    bound = nvd.gaussian_error_bound(sigma, order, ndim=3) * max(255.0, abs(cval))
    diff = np.abs(chunked.astype(np.float64) - whole).max()
    assert 0 < diff <= bound
    # Without the mode the outer chunks differ from the whole by far more.
    zero = threaded(nvd.gaussian_filter(da.from_array(x, chunks=chunks), sigma, order))
    if mode != "constant" or order == 0:
        assert np.abs(zero.astype(np.float64) - whole).max() > 4 * bound


def test_gaussian_modes_keep_the_chunks_and_one_chunk_is_whole(nv, nvd):
    x = RNG.normal(size=(23, 31)) * 50
    for mode, cval in BORDERS:
        lazy = nvd.gaussian_filter(da.from_array(x, chunks=(9, 10)), 1.5, (0, 1), mode=mode, cval=cval)
        # The default border's chunks: those of the input, the last row of
        # 5 (less than the halo of 6) merged with its neighbour.
        assert lazy.chunks == nvd.gaussian_filter(da.from_array(x, chunks=(9, 10)), 1.5, (0, 1)).chunks
        assert lazy.chunks == ((9, 14), (10, 10, 11))
        whole = nv.gaussian_filter(x, 1.5, (0, 1), mode=mode, cval=cval)
        bound = nvd.gaussian_error_bound(1.5, (0, 1), ndim=2, dtype=np.float64) * max(np.abs(x).max(), abs(cval))
        assert np.abs(threaded(lazy) - whole).max() <= bound
        one = nvd.gaussian_filter(da.from_array(x, chunks=-1), 1.5, (0, 1), mode=mode, cval=cval)
        np.testing.assert_array_equal(threaded(one), whole)


def test_gaussian_uint8_with_a_fractional_cval(nv, nvd):
    # uint8 cannot hold the constant: the continuation is made in float64.
    x = volume((19, 23, 17))
    for cval in (2.5, -1.0, 300.0):
        whole = nv.gaussian_filter(x, 1.3, mode="constant", cval=cval)
        chunked = threaded(nvd.gaussian_filter(da.from_array(x, chunks=(7, 8, 6)), 1.3, mode="constant", cval=cval))
        assert chunked.dtype == np.float32
        assert np.abs(chunked.astype(np.float64) - whole).max() <= (
            nvd.gaussian_error_bound(1.3, ndim=3) * max(255.0, abs(cval)))


@pytest.mark.parametrize("mode, cval", BORDERS)
def test_gradient_modes_within_bound(nv, nvd, mode, cval):
    x = volume((29, 33, 35))
    whole = nv.gaussian_gradient(x, 1.5, (2.0, 1.0, 0.5), mode=mode, cval=cval)
    lazy = nvd.gaussian_gradient(da.from_array(x, chunks=(10, 12, 9)), 1.5, (2.0, 1.0, 0.5), mode=mode, cval=cval)
    assert lazy.shape == x.shape + (3,) and lazy.dtype == np.float32
    bound = nvd.gradient_error_bound(1.5, (2.0, 1.0, 0.5), ndim=3) * max(255.0, abs(cval))
    assert 0 < np.abs(threaded(lazy).astype(np.float64) - whole).max() <= bound


def test_modes_are_checked_when_called(nvd):
    x = da.zeros((8, 8), np.float32, chunks=4)
    for function in (nvd.gaussian_filter, nvd.gaussian_gradient):
        with pytest.raises(ValueError, match="mode"):
            function(x, 1.0, mode="symmetric")
        with pytest.raises(ValueError, match="cval"):
            function(x, 1.0, cval=float("nan"))


@pytest.mark.parametrize("sigma, spacing", [(2.0, 1.0), (1.5, (2.0, 1.0, 0.5))])
def test_gradient_within_bound(nv, nvd, sigma, spacing):
    x = volume((29, 33, 35))
    whole = nv.gaussian_gradient(x, sigma, spacing)
    lazy = nvd.gaussian_gradient(da.from_array(x, chunks=(10, 12, 9)), sigma, spacing)
    assert lazy.shape == x.shape + (3,) and lazy.dtype == np.float32
    chunked = threaded(lazy)
    bound = nvd.gradient_error_bound(sigma, spacing, ndim=3) * 255
    assert 0 < np.abs(chunked.astype(np.float64) - whole).max() <= bound


def test_gaussian_rejects_bad_arguments(nvd):
    x = da.zeros((8, 8), chunks=4, dtype=np.uint8)
    with pytest.raises(ValueError, match="order"):
        nvd.gaussian_filter(x, 1.0, (1, 1))
    with pytest.raises(ValueError, match="sigma"):
        nvd.gaussian_filter(x, (1.0, 2.0, 3.0))
    with pytest.raises(ValueError, match="sigma"):
        nvd.gaussian_filter(x, -1.0)
    with pytest.raises(ValueError, match="truncate"):
        nvd.gaussian_filter(x, 1.0, truncate=0)
    with pytest.raises(TypeError, match="output"):
        nvd.gaussian_filter(x, 1.0, output=np.zeros((8, 8), np.float32))


# ------------------------------------------------- resampling, bit for bit

@pytest.mark.parametrize("shape, chunks", [
    ((37, 41, 45), (13, 17, 20)), ((37, 41, 45), (7, 9, 11)), ((33, 40, 29), (16, 13, 29)),
    ((53, 67), (20, 9)), ((1, 31, 33), (1, 10, 11)),
])
def test_pyramid_down_exact(nv, nvd, shape, chunks):
    x = volume(shape)
    lazy = nvd.pyramid_down(da.from_array(x, chunks=chunks))
    whole = nv.pyramid_down(x)
    assert lazy.shape == whole.shape
    np.testing.assert_array_equal(threaded(lazy), whole)


@pytest.mark.parametrize("out_shape", [(13, 14, 15), (18, 20, 22), (37, 41, 45)])
def test_pyramid_down_other_output_shapes(nv, nvd, out_shape):
    x = volume((37, 41, 45))
    whole = nv.pyramid_down(x, output=np.empty(out_shape, np.uint8))
    lazy = nvd.pyramid_down(da.from_array(x, chunks=(11, 12, 13)), output=out_shape)
    np.testing.assert_array_equal(threaded(lazy), whole)


def test_separable_resampling_exact(nv, nvd):
    rng = np.random.default_rng(5)
    x = volume((23, 29, 31))
    for taps, out_shape in [((3, 5, 7), (46, 29, 15)), ((4, 1, 6), (23, 58, 31)), ((7, 2, 3), (11, 10, 62))]:
        kernels = [nv.Kernel(list(rng.uniform(-0.2, 0.6, n))) for n in taps]
        whole = nv.separable_filter(x, kernels, output=np.empty(out_shape, np.uint8))
        lazy = nvd.separable_filter(da.from_array(x, chunks=(8, 10, 7)), kernels, output=out_shape)
        np.testing.assert_array_equal(threaded(lazy), whole)


def test_separable_vectors_exact(nv, nvd):
    x = RNG.normal(size=(25, 27, 3)).astype(np.float32)
    kernels = [nv.Kernel([0.25, 0.5, 0.25]), nv.Kernel([0.1, 0.2, 0.4, 0.2, 0.1])]
    whole = nv.separable_filter(x, kernels, vectors=True, output=np.empty((13, 27, 3), np.float32))
    lazy = nvd.separable_filter(da.from_array(x, chunks=(6, 8, 3)), kernels, vectors=True, output=(13, 27))
    np.testing.assert_array_equal(threaded(lazy), whole)


def test_resampling_chunks_follow_grid(nvd):
    # Inner chunk boundaries move to even positions; the output keeps several chunks.
    lazy = nvd.pyramid_down(da.zeros((101, 77), chunks=(15, 13), dtype=np.uint8))
    assert lazy.numblocks[0] > 2 and lazy.numblocks[1] > 2
    assert lazy.shape == (51, 39)


# ------------------------------------------------------------ morphology

@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32, np.bool_])
@pytest.mark.parametrize("iterations", [1, 3])
def test_dilate_erode_exact(nv, nvd, dtype, iterations):
    if dtype == np.bool_:
        x = RNG.random((21, 30, 27)) > 0.7
    else:
        x = RNG.integers(0, 4, (21, 30, 27)).astype(dtype) << np.asarray(2, dtype)
    d = da.from_array(x, chunks=(7, 11, 5))
    for name in ("dilate", "erode"):
        whole = getattr(nv, name)(x, iterations=iterations)
        chunked = threaded(getattr(nvd, name)(d, iterations=iterations))
        assert chunked.dtype == whole.dtype
        np.testing.assert_array_equal(chunked, whole)


@pytest.mark.parametrize("dtype", [np.int16, np.float32, np.float64])
def test_regional_maxima_exact(nv, nvd, dtype):
    x = (RNG.integers(-2, 6, (57, 43))).astype(dtype)  # few levels: many plateaus across chunk faces
    chunked = threaded(nvd.regional_maxima(da.from_array(x, chunks=(10, 7))))
    np.testing.assert_array_equal(chunked, nv.regional_maxima(x))
    with pytest.raises(ValueError):
        nvd.regional_maxima(da.zeros((4, 4, 4, 4), chunks=2))


GREY_NAMES = ("grey_dilation", "grey_erosion", "grey_opening", "grey_closing")


def grey_volume(shape, dtype, rng, nan=0.0):
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        return rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)
    x = (rng.normal(size=shape) * 50).astype(dtype)
    x[rng.random(shape) < 0.1] = 0.0
    x[rng.random(shape) < 0.1] = -0.0
    x[rng.random(shape) < nan] = np.nan
    return x


def same_bits(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    if got.dtype.kind == "f":
        itype = np.uint32 if got.dtype == np.float32 else np.uint64
        np.testing.assert_array_equal(got.view(itype), want.view(itype))
    else:
        np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.int16, np.float32, np.float64])
@pytest.mark.parametrize("iterations", [1, 2, 3])
def test_grey_exact(nv, nvd, dtype, iterations):
    rng = np.random.default_rng(iterations * 10 + np.dtype(dtype).num)
    x = grey_volume((23, 31, 27), dtype, rng, nan=0.003)
    d = da.from_array(x, chunks=(7, 11, 9))
    for name in GREY_NAMES:
        whole = getattr(nv, name)(x, iterations=iterations)
        lazy = getattr(nvd, name)(d, iterations=iterations)
        assert lazy.dtype == whole.dtype and lazy.shape == x.shape
        same_bits(threaded(lazy), whole)


@pytest.mark.parametrize("shape, chunks", [((57, 43), (10, 7)), ((101,), (13,)), ((1, 29, 33), (1, 5, 9)),
                                           ((19, 1, 21), (4, 1, 6))])
def test_grey_exact_1d_2d_and_thin(nv, nvd, shape, chunks):
    rng = np.random.default_rng(len(shape))
    for dtype in (np.int16, np.float32):
        x = grey_volume(shape, dtype, rng, nan=0.01)
        for name in GREY_NAMES:
            for iterations in (1, 4):
                lazy = getattr(nvd, name)(da.from_array(x, chunks=chunks), iterations=iterations)
                same_bits(threaded(lazy), getattr(nv, name)(x, iterations=iterations))


def test_grey_chunks_thinner_than_the_halo_are_merged(nv, nvd):
    x = grey_volume((30, 31), np.float64, np.random.default_rng(3))
    lazy = nvd.grey_opening(da.from_array(x, chunks=(3, 4)), iterations=3)  # halo 6
    assert all(c >= 6 for axis in lazy.chunks for c in axis)
    same_bits(threaded(lazy), nv.grey_opening(x, iterations=3))


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.int16, np.float32, np.float64])
def test_regional_maxima_volume_exact(nv, nvd, dtype):
    rng = np.random.default_rng(np.dtype(dtype).num)
    x = rng.integers(0 if np.dtype(dtype).kind == "u" else -2, 4, (29, 23, 31)).astype(dtype)
    if np.dtype(dtype).kind == "f":
        x[rng.random(x.shape) < 0.01] = np.nan
    whole = nv.regional_maxima(x)
    for chunks in [(7, 5, 9), (10, 23, 4), (1, 8, 31)]:
        lazy = nvd.regional_maxima(da.from_array(x, chunks=chunks))
        assert lazy.dtype == np.uint8 and lazy.shape == x.shape
        np.testing.assert_array_equal(threaded(lazy), whole)


@settings(max_examples=20, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(shape=st.tuples(st.integers(5, 30), st.integers(5, 30), st.integers(5, 30)),
       split=st.tuples(st.integers(1, 4), st.integers(1, 4), st.integers(1, 4)),
       iterations=st.integers(1, 3), seed=st.integers(0, 2**16))
def test_morphology_and_pyramid_any_chunking(nv, nvd, shape, split, iterations, seed):
    rng = np.random.default_rng(seed)
    x = rng.integers(0, 256, shape).astype(np.uint8)
    chunks = tuple(max(1, n // s) for n, s in zip(shape, split))
    d = da.from_array(x, chunks=chunks)
    np.testing.assert_array_equal(threaded(nvd.dilate(d, iterations=iterations)), nv.dilate(x, iterations=iterations))
    np.testing.assert_array_equal(threaded(nvd.pyramid_down(d)), nv.pyramid_down(x))


@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(shape=st.lists(st.integers(1, 25), min_size=1, max_size=3),
       split=st.lists(st.integers(1, 5), min_size=3, max_size=3),
       name=st.sampled_from(GREY_NAMES), dtype=st.sampled_from([np.uint8, np.uint16, np.int16, np.float32, np.float64]),
       iterations=st.integers(1, 3), seed=st.integers(0, 2**16))
def test_grey_and_maxima_any_chunking(nv, nvd, shape, split, name, dtype, iterations, seed):
    rng = np.random.default_rng(seed)
    x = grey_volume(tuple(shape), dtype, rng, nan=0.02)
    # Uneven chunks: random cut points along every axis.
    chunks = []
    for n, s in zip(shape, split):
        cuts = sorted(set(rng.integers(1, n, s - 1).tolist())) if n > 1 else []
        edges = [0] + cuts + [n]
        chunks.append(tuple(e - b for b, e in zip(edges[:-1], edges[1:])))
    d = da.from_array(x, chunks=tuple(chunks))
    same_bits(threaded(getattr(nvd, name)(d, iterations=iterations)), getattr(nv, name)(x, iterations=iterations))
    if x.ndim >= 2:
        np.testing.assert_array_equal(threaded(nvd.regional_maxima(d)), nv.regional_maxima(x))
