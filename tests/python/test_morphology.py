"""dilate, erode, the grey filters, label and regional_maxima against
scipy.ndimage and NumPy definitions (exactly; labels after canonical
renumbering), with their dtypes, odd shapes, outputs and argument errors."""

import itertools

import numpy as np
import pytest
import scipy.ndimage as ndi
from hypothesis import given, settings
from hypothesis import strategies as st

import nvfiltering as nvf
from conftest import canonical, random_mask, rng

SHAPES = [(1,), (17,), (1, 1), (1, 9), (9, 1), (13, 17), (1, 5, 6), (5, 1, 6), (7, 8, 9)]


def cross(ndim):
    return ndi.generate_binary_structure(ndim, 1)


class TestDilateErode:
    @pytest.mark.parametrize("shape", SHAPES)
    @pytest.mark.parametrize("iterations", [1, 3])
    def test_binary_masks_equal_scipy(self, shape, iterations):
        m = random_mask(shape, 0.3, seed=len(shape))
        d = ndi.binary_dilation(m, cross(len(shape)), iterations=iterations, border_value=0)
        e = ndi.binary_erosion(m, cross(len(shape)), iterations=iterations, border_value=1)
        np.testing.assert_array_equal(nvf.dilate(m, iterations=iterations), d.astype(np.uint8))
        np.testing.assert_array_equal(nvf.erode(m, iterations=iterations), e.astype(np.uint8))

    @pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32])
    def test_other_values_are_combined_bitwise(self, dtype):
        info = np.iinfo(dtype)
        a = rng(2).integers(info.min, info.max, (6, 7, 8), dtype=dtype, endpoint=True)
        padded_or = np.pad(a, 1, constant_values=0)
        padded_and = np.pad(a, 1, constant_values=-1 if info.min < 0 else info.max)
        want_or, want_and = a.copy(), a.copy()
        for axis in range(3):
            for shift in (-1, 1):
                want_or |= np.roll(padded_or, shift, axis)[1:-1, 1:-1, 1:-1]
                want_and &= np.roll(padded_and, shift, axis)[1:-1, 1:-1, 1:-1]
        np.testing.assert_array_equal(nvf.dilate(a), want_or)
        np.testing.assert_array_equal(nvf.erode(a), want_and)

    def test_bool_comes_back_as_bool_and_output_in_place(self):
        m = random_mask((20, 30), 0.2, dtype=np.bool_)
        d = nvf.dilate(m)
        assert d.dtype == np.bool_
        np.testing.assert_array_equal(d, ndi.binary_dilation(m, cross(2)))
        out = np.empty_like(m)
        assert nvf.dilate(m, output=out) is out
        np.testing.assert_array_equal(out, d)
        same = m.copy()
        assert nvf.erode(same, output=same) is same
        np.testing.assert_array_equal(same, ndi.binary_erosion(m, cross(2), border_value=1))

    def test_views_zero_size_and_errors(self):
        m = random_mask((10, 12, 14), 0.4)
        view = m[::-1, 1::2, ::3]
        np.testing.assert_array_equal(nvf.dilate(view), nvf.dilate(view.copy()))
        assert nvf.erode(np.zeros((0, 3), np.uint8)).shape == (0, 3)
        for bad, error in [(np.zeros((2, 2), np.float32), TypeError), (np.zeros((2, 2), np.int32), TypeError),
                           (np.zeros((2, 2, 2, 2), np.uint8), ValueError), (np.uint8(1), ValueError),
                           (np.zeros((2, 2), np.complex64), TypeError)]:
            with pytest.raises(error, match="input"):
                nvf.dilate(bad)
        with pytest.raises(ValueError, match="iterations"):
            nvf.erode(m, iterations=0)
        with pytest.raises(TypeError, match="output"):
            nvf.dilate(m, output=np.empty(m.shape, np.int16))

    @settings(max_examples=40, deadline=None)
    @given(shape=st.lists(st.integers(1, 9), min_size=1, max_size=3), density=st.floats(0, 1),
           workers=st.sampled_from([None, 2, -1]))
    def test_property_equals_scipy(self, shape, density, workers):
        m = random_mask(tuple(shape), density, seed=sum(shape))
        np.testing.assert_array_equal(nvf.dilate(m, workers=workers),
                                      ndi.binary_dilation(m, cross(len(shape))).astype(np.uint8))
        np.testing.assert_array_equal(nvf.erode(m, workers=workers),
                                      ndi.binary_erosion(m, cross(len(shape)), border_value=1).astype(np.uint8))


GREY_DTYPES = [np.uint8, np.uint16, np.int16, np.float32, np.float64]
GREY_NAMES = ["grey_dilation", "grey_erosion", "grey_opening", "grey_closing"]
# The kinds of pass every grey function runs, in order (``iterations`` of each).
PASS_KINDS = {"grey_dilation": ("dilation",), "grey_erosion": ("erosion",),
              "grey_opening": ("erosion", "dilation"), "grey_closing": ("dilation", "erosion")}


def grey_values(shape, dtype, seed):
    """Random values over the whole range of an integer type; normal floats
    with some repeated values (ties) for the float types."""
    r = rng(seed)
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        return r.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)
    a = (r.normal(size=shape) * 100).astype(dtype)
    a[r.random(shape) < 0.2] = dtype(1.5)
    return a


def scipy_grey(name, a, iterations):
    """``iterations`` passes of scipy's single-pass operation(s) with the cross
    and mode='nearest', in the order the function runs them."""
    fp = cross(a.ndim)
    kinds = PASS_KINDS[name]
    out = a
    for kind in kinds:
        op = ndi.grey_dilation if kind == "dilation" else ndi.grey_erosion
        for _ in range(iterations):
            out = op(out, footprint=fp, mode="nearest")
    return out


def passes(name):
    return len(PASS_KINDS[name])


def ordered_keys(a):
    """int64 keys whose order is the library's order of non-NaN floats, -0 below +0."""
    itype, magnitude = (np.int32, 2**31 - 1) if a.dtype == np.float32 else (np.int64, 2**63 - 1)
    bits = a.view(itype).astype(np.int64)
    return np.where(bits < 0, -(bits & magnitude) - 1, bits)


def from_keys(keys, dtype):
    itype, sign = (np.int32, -2**31) if np.dtype(dtype) == np.float32 else (np.int64, -2**63)
    bits = np.where(keys < 0, (-(keys + 1)) | np.int64(sign), keys).astype(itype)
    return bits.view(dtype)


def numpy_cross_pass(a, op):
    """One pass of ``op`` (np.maximum or np.minimum) over the face cross, the
    neighbours outside the array left out (exact for int64, unlike scipy's
    filters, which go through double)."""
    padded = np.pad(a, 1, mode="edge")
    out = a.copy()
    for axis in range(a.ndim):
        for start in (0, 2):
            index = tuple(slice(start, start + n) if ax == axis else slice(1, 1 + n)
                          for ax, n in enumerate(a.shape))
            out = op(out, padded[index])
    return out


def numpy_grey(name, a, iterations):
    kinds = PASS_KINDS[name]
    out = a
    for kind in kinds:
        for _ in range(iterations):
            out = numpy_cross_pass(out, np.maximum if kind == "dilation" else np.minimum)
    return out


def float_reference(name, a, iterations):
    """The grey filters on floats by definition: NaN where a NaN lies within
    reach (one face step per pass), elsewhere the extreme in the order with -0
    below +0, computed exactly on integer keys."""
    nan = np.isnan(a)
    keys = ordered_keys(np.where(nan, a.dtype.type(0), a))
    value = from_keys(numpy_grey(name, keys, iterations), a.dtype)
    reach = passes(name) * iterations
    if nan.any():
        spread = ndi.binary_dilation(nan, cross(a.ndim), iterations=reach)
        value = np.where(spread, a.dtype.type(np.nan), value)
    return value


def same_bits(got, want):
    assert got.dtype == want.dtype and got.shape == want.shape
    np.testing.assert_array_equal(np.isnan(got), np.isnan(want))
    ok = ~np.isnan(want)
    np.testing.assert_array_equal(np.signbit(got[ok]), np.signbit(want[ok]))
    np.testing.assert_array_equal(got[ok], want[ok])


class TestGreyMorphology:
    @pytest.mark.parametrize("name", GREY_NAMES)
    @pytest.mark.parametrize("dtype", GREY_DTYPES)
    @pytest.mark.parametrize("shape", SHAPES)
    def test_equals_scipy(self, name, dtype, shape):
        a = grey_values(shape, dtype, sum(shape) + len(name))
        got = getattr(nvf, name)(a)
        assert got.dtype == np.dtype(dtype) and got.shape == a.shape
        np.testing.assert_array_equal(got, scipy_grey(name, a, 1))
        if np.dtype(dtype).kind != "f":
            np.testing.assert_array_equal(got, numpy_grey(name, a, 1))

    @pytest.mark.parametrize("name", GREY_NAMES)
    @pytest.mark.parametrize("dtype", GREY_DTYPES)
    @pytest.mark.parametrize("iterations", [2, 3, 5])
    def test_iterations_are_repeated_passes(self, name, dtype, iterations):
        a = grey_values((11, 13, 9), dtype, iterations)
        got = getattr(nvf, name)(a, iterations=iterations)
        np.testing.assert_array_equal(got, scipy_grey(name, a, iterations))
        if name in ("grey_dilation", "grey_erosion"):
            repeated = a
            for _ in range(iterations):
                repeated = getattr(nvf, name)(repeated)
        else:
            first, second = ((nvf.grey_erosion, nvf.grey_dilation) if name == "grey_opening"
                             else (nvf.grey_dilation, nvf.grey_erosion))
            repeated = second(first(a, iterations=iterations), iterations=iterations)
        np.testing.assert_array_equal(got, repeated)

    @pytest.mark.parametrize("name", GREY_NAMES)
    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    @pytest.mark.parametrize("shape", [(19,), (9, 14), (7, 10, 9)])
    @pytest.mark.parametrize("iterations", [1, 2])
    def test_nan_spreads_over_the_cross(self, name, dtype, shape, iterations):
        a = grey_values(shape, dtype, 31 + len(shape))
        a[rng(32).random(shape) < 0.04] = np.nan
        a.flat[len(a.flat) // 2] = np.nan  # at least one
        want = float_reference(name, a, iterations)
        same_bits(getattr(nvf, name)(a, iterations=iterations), want)
        assert np.isnan(want).sum() > np.isnan(a).sum() or np.isnan(a).all()

    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    def test_nan_result_is_the_quiet_nan(self, dtype):
        itype = np.uint32 if dtype == np.float32 else np.uint64
        quiet = np.array(np.nan, dtype).view(itype)
        a = np.ones((5, 6), dtype)
        odd_nan = (np.array(0xFFC00123, np.uint32).view(np.float32) if dtype == np.float32
                   else np.array(0xFFF8000000000123, np.uint64).view(np.float64))
        a[2, 3] = odd_nan  # negative, with a payload
        for name in GREY_NAMES:
            got = getattr(nvf, name)(a)
            assert np.isnan(got).any()
            assert (got[np.isnan(got)].view(itype) == quiet).all(), name

    @pytest.mark.parametrize("name", GREY_NAMES)
    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    def test_signed_zero_below_positive_zero(self, name, dtype):
        r = rng(40)
        a = np.where(r.random((9, 11, 8)) < 0.5, dtype(-0.0), dtype(0.0)).astype(dtype)
        a[r.random(a.shape) < 0.1] = dtype(-1.0)
        a[r.random(a.shape) < 0.1] = dtype(np.inf)
        for iterations in (1, 2):
            same_bits(getattr(nvf, name)(a, iterations=iterations), float_reference(name, a, iterations))
        same_bits(nvf.grey_dilation(np.array([-0.0, -0.0, -0.0, 0.0, -0.0, -0.0], dtype)),
                  np.array([-0.0, -0.0, 0.0, 0.0, 0.0, -0.0], dtype))
        same_bits(nvf.grey_erosion(np.array([0.0, 0.0, -0.0, 0.0, 0.0, 0.0], dtype)),
                  np.array([0.0, -0.0, -0.0, -0.0, 0.0, 0.0], dtype))

    @pytest.mark.parametrize("dtype", GREY_DTYPES)
    def test_many_iterations_reach_the_extremes(self, dtype):
        a = grey_values((6, 7, 8), dtype, 50)
        for name, extreme in (("grey_dilation", a.max()), ("grey_erosion", a.min())):
            got = getattr(nvf, name)(a, iterations=2**31 - 1)
            assert (got == extreme).all()
        np.testing.assert_array_equal(nvf.grey_opening(a, iterations=1000), np.full(a.shape, a.min()))
        np.testing.assert_array_equal(nvf.grey_closing(a, iterations=1000), np.full(a.shape, a.max()))

    def test_output_in_place_views_and_byte_order(self):
        a = grey_values((10, 12, 14), np.float32, 60)
        want = nvf.grey_closing(a, iterations=2)
        out = np.empty_like(a)
        assert nvf.grey_closing(a, iterations=2, output=out) is out
        np.testing.assert_array_equal(out, want)
        same = a.copy()
        assert nvf.grey_closing(same, iterations=2, output=same) is same
        np.testing.assert_array_equal(same, want)
        view = a[::-1, 1::2, ::3]
        np.testing.assert_array_equal(nvf.grey_dilation(view), scipy_grey("grey_dilation", view.copy(), 1))
        swapped = a.astype(a.dtype.newbyteorder())
        got = nvf.grey_erosion(swapped)
        assert got.dtype == np.float32 and got.dtype.isnative
        np.testing.assert_array_equal(got, nvf.grey_erosion(a))
        assert nvf.grey_opening(np.zeros((0, 3), np.uint16)).shape == (0, 3)
        # Python lists are taken as NumPy takes them (int64 is refused, float64 not).
        np.testing.assert_array_equal(nvf.grey_dilation([1.0, 3.0, 2.0]), [3.0, 3.0, 3.0])

    @pytest.mark.parametrize("name", GREY_NAMES)
    def test_errors(self, name):
        f = getattr(nvf, name)
        for bad, error in [(np.zeros((2, 2), np.complex64), TypeError), (np.zeros((2, 2), "U1"), TypeError),
                           (np.zeros((2, 2, 2, 2), np.uint8), ValueError), (np.uint8(1), ValueError)]:
            with pytest.raises(error, match="input"):
                f(bad)
        a = np.zeros((4, 5), np.int16)
        for iterations, error in [(0, ValueError), (-1, ValueError), (1.0, TypeError), (True, TypeError),
                                  (2**31, ValueError)]:
            with pytest.raises(error, match="iterations"):
                f(a, iterations=iterations)
        with pytest.raises(TypeError, match="output"):
            f(a, output=np.empty(a.shape, np.uint16))
        with pytest.raises(ValueError, match="output"):
            f(a, output=np.empty((5, 4), np.int16))
        with pytest.raises(ValueError, match="output"):
            f(a, output=np.empty((4, 10), np.int16)[:, ::2])
        with pytest.raises(ValueError, match="workers"):
            f(a, workers=0)

    def test_threads_on_a_volume_of_several_bands(self):
        # Large enough for several bands of rows per pass.
        a = grey_values((41, 67, 95), np.float32, 70)
        a[rng(71).random(a.shape) < 0.001] = np.nan
        for name in GREY_NAMES:
            want = float_reference(name, a, 2)
            for workers in (None, 2, 3, -1):
                same_bits(getattr(nvf, name)(a, iterations=2, workers=workers), want)
        levels = few_levels(a.shape, np.uint16, 72)
        for workers in (None, 2, 3):
            np.testing.assert_array_equal(nvf.regional_maxima(levels, workers=workers), maxima_reference(levels))

    @settings(max_examples=60, deadline=None)
    @given(shape=st.lists(st.integers(1, 9), min_size=1, max_size=3), dtype=st.sampled_from(GREY_DTYPES),
           name=st.sampled_from(GREY_NAMES), iterations=st.integers(1, 4), seed=st.integers(0, 2**16),
           workers=st.sampled_from([None, 2, -1]))
    def test_property_equals_scipy(self, shape, dtype, name, iterations, seed, workers):
        a = grey_values(tuple(shape), dtype, seed)
        got = getattr(nvf, name)(a, iterations=iterations, workers=workers)
        np.testing.assert_array_equal(got, scipy_grey(name, a, iterations))


class TestLabel:
    @pytest.mark.parametrize("shape, connectivity", [((40,), None), ((30, 31), 4), ((30, 31), 8), ((12, 13, 14), 6),
                                                     ((1, 20, 21), None), ((9, 1), 8)])
    def test_partition_and_ranking_equal_scipy(self, shape, connectivity):
        m = random_mask(shape, 0.45, seed=3)
        structure = (ndi.generate_binary_structure(len(shape), len(shape)) if connectivity == 8
                     else cross(len(shape)))
        ref, n = ndi.label(m, structure)
        labels, count = nvf.label(m, connectivity=connectivity)
        assert labels.dtype == np.uint32 and count == n
        np.testing.assert_array_equal(canonical(labels), canonical(ref))
        sizes = np.bincount(labels.ravel())[1:]
        assert (np.diff(sizes) <= 0).all()

    @pytest.mark.parametrize("connectivity, rank", [(6, 1), (18, 2), (26, 3)])
    @pytest.mark.parametrize("shape", [(12, 13, 14), (1, 20, 21), (19, 1, 17), (15, 16, 1), (2, 3, 2), (9, 31, 5)])
    @pytest.mark.parametrize("density", [0.1, 0.25, 0.45])
    def test_volume_connectivities_equal_scipy(self, connectivity, rank, shape, density):
        # The labels of the structure generate_binary_structure(3, rank), ranked
        # by size with ties in raster order: the partition, the sizes and the
        # numbers themselves, on both the serial and the threaded paths.
        m = random_mask(shape, density, seed=connectivity + sum(shape) + int(100 * density))
        ref, n = ndi.label(m, ndi.generate_binary_structure(3, rank))
        for workers in (None, 3):
            labels, count = nvf.label(m, connectivity=connectivity, workers=workers)
            assert labels.dtype == np.uint32 and count == n
            assert_same_partition(labels, ref)
            np.testing.assert_array_equal(np.bincount(labels.ravel(), minlength=n + 1)[1:],
                                          np.sort(np.bincount(ref.ravel(), minlength=n + 1)[1:])[::-1])
            np.testing.assert_array_equal(labels, canonical(ref))

    @pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.int16, np.uint32, np.bool_])
    def test_volume_connectivities_with_every_dtype_and_setting(self, dtype):
        values = rng(18).integers(0, 8, (21, 17, 19))
        # The class is one value in eight: many components with either connectivity.
        a = (values == 2) if dtype == np.bool_ else values.astype(dtype)
        value = 1 if dtype == np.bool_ else 2
        for connectivity, rank in ((18, 2), (26, 3)):
            structure = ndi.generate_binary_structure(3, rank)
            ref, n = ndi.label(a == value, structure)
            labels, count = nvf.label(a, connectivity=connectivity, class_value=value)
            assert count == n > 10
            np.testing.assert_array_equal(labels, canonical(ref))
            sizes = np.sort(np.bincount(ref.ravel())[1:])[::-1]
            big, big_count = nvf.label(a, connectivity=connectivity, class_value=value, min_size=3)
            assert big_count == (sizes >= 3).sum()
            np.testing.assert_array_equal(big, np.where(labels <= big_count, labels, 0))
            top, top_count = nvf.label(a, connectivity=connectivity, class_value=value, keep=2)
            assert top_count == (sizes >= sizes[1]).sum()
            np.testing.assert_array_equal(top, np.where(labels <= top_count, labels, 0))
            # Every non-zero voxel by default.
            ref, n = ndi.label(a != 0, structure)
            np.testing.assert_array_equal(nvf.label(a, connectivity=connectivity)[0], canonical(ref))

    def test_volume_neighbours_by_offset(self):
        # Two voxels one step apart along one, two or three axes: joined with
        # as many neighbours as reach that far.
        for offset in itertools.product((-1, 0, 1), repeat=3):
            apart = sum(1 for d in offset if d)
            if apart == 0:
                continue
            m = np.zeros((3, 3, 3), np.uint8)
            m[1, 1, 1] = 1
            m[tuple(1 + d for d in offset)] = 1
            for connectivity, rank in ((6, 1), (18, 2), (26, 3)):
                assert nvf.label(m, connectivity=connectivity)[1] == (1 if apart <= rank else 2), (offset, connectivity)

    @pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32, np.bool_])
    def test_dtypes_class_value_min_size_and_keep(self, dtype):
        a = rng(4).integers(0, 2 if dtype == np.bool_ else 3, (25, 26)).astype(dtype)
        value = 1 if dtype == np.bool_ else 2
        ref, n = ndi.label(a == value)
        sizes = np.bincount(ref.ravel())[1:]
        labels, count = nvf.label(a, class_value=value)
        np.testing.assert_array_equal(canonical(labels), canonical(ref))
        big = nvf.label(a, class_value=value, min_size=3)
        assert big[1] == (sizes >= 3).sum()
        np.testing.assert_array_equal(big[0] > 0, np.isin(ref, 1 + np.flatnonzero(sizes >= 3)))
        top = nvf.label(a, class_value=value, keep=2)
        assert top[1] >= 2 and set(np.unique(top[0])) == set(range(top[1] + 1))

    def test_empty_and_errors(self):
        labels, count = nvf.label(np.zeros((0, 4), np.uint8))
        assert labels.shape == (0, 4) and count == 0
        assert nvf.label(np.zeros((3, 3), np.uint8))[1] == 0
        m = random_mask((5, 6, 7))
        for kwargs, error, name in [(dict(connectivity=8), ValueError, "connectivity"),
                                    (dict(connectivity=4), ValueError, "connectivity"),
                                    (dict(connectivity=27), ValueError, "connectivity"),
                                    (dict(connectivity=12), ValueError, "connectivity"),
                                    (dict(connectivity=18.0), TypeError, "connectivity"),
                                    (dict(class_value=256), ValueError, "class_value"),
                                    (dict(min_size=-1), ValueError, "min_size"),
                                    (dict(keep=1.0), TypeError, "keep")]:
            with pytest.raises(error, match=name):
                nvf.label(m, **kwargs)
        for shape, bad in (((4, 5), 18), ((4, 5), 26), ((4, 5), 6), ((7,), 4), ((7,), 26)):
            with pytest.raises(ValueError, match="connectivity"):
                nvf.label(np.ones(shape, np.uint8), connectivity=bad)
        with pytest.raises(nvf.Error):
            nvf.label(np.array([[1, 0, 1]], np.uint8), keep=3)
        with pytest.raises(TypeError, match="input"):
            nvf.label(m.astype(np.float32))

    def test_labels_mapped_through_a_table_in_place(self):
        # The chunked labelling's last step: every label replaced by its
        # table entry, in the labels' own memory.
        from nvfiltering import _nvfiltering as core
        g = rng(5)
        labels = g.integers(0, 50, (7, 9, 11)).astype(np.uint32)
        table = g.integers(0, 2**32, 50, dtype=np.uint64).astype(np.uint32)
        expected = table[labels]
        core.map_labels(labels, table)
        np.testing.assert_array_equal(labels, expected)
        # A label without an entry is refused before anything is written.
        labels = np.array([[3, 1], [0, 4]], np.uint32)
        with pytest.raises(IndexError, match="no entry"):
            core.map_labels(labels, np.arange(4, dtype=np.uint32))
        np.testing.assert_array_equal(labels, [[3, 1], [0, 4]])
        # A table sharing the labels' memory is read as it was before the call.
        shared = np.array([2, 0, 1, 2], np.uint32)
        core.map_labels(shared, shared)
        np.testing.assert_array_equal(shared, [1, 2, 0, 1])
        core.map_labels(np.empty((0, 3), np.uint32), np.empty(0, np.uint32))

    @pytest.mark.parametrize("dtype", ["mask255", np.uint16, np.int16, np.bool_])
    @pytest.mark.parametrize("shape, connectivity", [((37, 29), 4), ((37, 29), 8), ((11, 13, 15), 6)])
    def test_every_non_zero_voxel_is_foreground_by_default(self, dtype, shape, connectivity):
        seed = 20 + len(shape) + connectivity
        values = nonzero_values(shape, dtype, seed)
        foreground = values != 0
        structure = ndi.generate_binary_structure(len(shape), len(shape) if connectivity == 8 else 1)
        ref, n = ndi.label(foreground, structure)
        labels, count = nvf.label(values, connectivity=connectivity)
        assert labels.dtype == np.uint32 and count == n > 10
        assert_same_partition(labels, ref)
        # Ranked by size, equal sizes in the raster order of their first voxels.
        np.testing.assert_array_equal(labels, canonical(ref))
        np.testing.assert_array_equal(nvf.label(values, connectivity=connectivity, class_value=None)[0], labels)
        # Non-contiguous and byte-swapped views are converted like the array itself.
        if len(shape) == 2:
            swapped = values.astype(values.dtype.newbyteorder())
            np.testing.assert_array_equal(nvf.label(swapped, connectivity=connectivity)[0], labels)
            np.testing.assert_array_equal(nvf.label(values.T, connectivity=connectivity)[0],
                                          canonical(ndi.label(foreground.T, structure)[0]))

    @pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.int16, np.uint32, np.bool_])
    def test_class_value_keeps_the_equal_to_meaning(self, dtype):
        top = 2 if dtype == np.bool_ else 5
        a = rng(31).integers(0, top, (23, 19, 17)).astype(dtype)
        values = [0, 1] if dtype == np.bool_ else [0, 1, 3, 4]
        for value in values:
            # The labels of the mask a == value alone: the class value picks the
            # voxels and nothing else, 0 included.
            mask = a == np.asarray(value).astype(dtype)
            ref, n = ndi.label(mask)
            for kwargs in (dict(), dict(min_size=3), dict(keep=2)):
                labels, count = nvf.label(a, class_value=value, **kwargs)
                want, want_count = nvf.label(mask, **kwargs)
                np.testing.assert_array_equal(labels, want)
                assert count == want_count
            labels, count = nvf.label(a, class_value=value)
            assert count == n
            assert_same_partition(labels, ref)
            np.testing.assert_array_equal(labels, canonical(ref))

    def test_wide_values_go_in_as_they_are(self):
        a = np.array([[0, 65535, 65535, 1, 65535], [300, 0, 0, 0, 65535]], np.uint16)
        assert nvf.label(a, class_value=65535)[0].tolist() == [[0, 1, 1, 0, 2], [0, 0, 0, 0, 2]]
        assert nvf.label(a)[0].tolist() == [[0, 1, 1, 1, 1], [2, 0, 0, 0, 1]]
        s = np.array([[-7, -7, 0, 7, -32768]], np.int16)
        assert nvf.label(s, class_value=-7)[0].tolist() == [[1, 1, 0, 0, 0]]
        assert nvf.label(s)[0].tolist() == [[1, 1, 0, 2, 2]]
        for dtype, bad in ((np.uint16, 65536), (np.uint16, -1), (np.int16, 32768), (np.bool_, 2)):
            with pytest.raises(ValueError, match="class_value"):
                nvf.label(np.zeros((3, 3), dtype), class_value=bad)
        for dtype in (np.int32, np.int8, np.float64):
            with pytest.raises(TypeError, match="uint16"):
                nvf.label(np.ones((3, 3), dtype))

    @pytest.mark.parametrize("shape, connectivity", [((0, 4), None), ((41,), None), ((37, 29), 4), ((37, 29), 8),
                                                     ((13, 11, 15), 6), ((13, 11, 15), 18), ((13, 11, 15), 26),
                                                     ((3, 5, 1301), 26)])
    def test_sizes_equal_bincount_and_first_voxels_the_raster_order(self, shape, connectivity):
        # return_sizes leaves the labels and the count as they are; the sizes,
        # and the first voxels the chunked labelling takes from label_summary,
        # are those the labels imply; with min_size and keep only the kept ones.
        from nvfiltering._label import label_summary
        m = random_mask(shape, 0.55, seed=sum(shape))
        found = nvf.label(m, connectivity=connectivity)[1]
        for kwargs in (dict(), dict(min_size=3), dict(keep=min(found, 3)), dict(workers=2)):
            labels, count = nvf.label(m, connectivity=connectivity, **kwargs)
            got, got_count, sizes = nvf.label(m, connectivity=connectivity, return_sizes=True, **kwargs)
            np.testing.assert_array_equal(got, labels)
            assert got_count == count and sizes.dtype == np.int64 and sizes.shape == (count,)
            np.testing.assert_array_equal(sizes, np.bincount(labels.ravel(), minlength=count + 1)[1:])
            _, _, same, first = label_summary(m, connectivity=connectivity, **kwargs)
            ids, index = np.unique(labels.ravel(), return_index=True)
            np.testing.assert_array_equal(same, sizes)
            np.testing.assert_array_equal(first, index[ids != 0])
            assert first.dtype == np.int64

    def test_sizes_of_a_batch_are_one_array_per_item(self):
        a = random_mask((3, 2, 17, 19), 0.5, seed=9).astype(bool)
        for workers in (1, 2):
            labels, counts, sizes = nvf.label(a, axes=(2, 3), workers=workers, min_size=2, return_sizes=True)
            assert counts.shape == sizes.shape == (3, 2) and sizes.dtype == object
            for i, j in itertools.product(range(3), range(2)):
                np.testing.assert_array_equal(labels[i, j], nvf.label(a[i, j], min_size=2)[0])
                np.testing.assert_array_equal(sizes[i, j],
                                              np.bincount(labels[i, j].ravel(), minlength=counts[i, j] + 1)[1:])
        _, counts, sizes = nvf.label(np.zeros((0, 4, 4), bool), axes=(1, 2), return_sizes=True)
        assert counts.shape == sizes.shape == (0,)
        # A batch whose items all have components of the same number keeps one array per item.
        _, _, sizes = nvf.label(np.ones((2, 3, 3), np.uint8), axes=(1, 2), return_sizes=True)
        assert sizes.shape == (2,) and [s.tolist() for s in sizes] == [[9], [9]]
        for bad in (1, None, "yes"):
            with pytest.raises(TypeError, match="return_sizes"):
                nvf.label(a[0, 0], return_sizes=bad)

    @settings(max_examples=40, deadline=None)
    @given(shape=st.lists(st.integers(1, 10), min_size=1, max_size=3), density=st.floats(0, 1),
           eight=st.booleans(), workers=st.sampled_from([None, 2]))
    def test_property_equals_scipy(self, shape, density, eight, workers):
        m = random_mask(tuple(shape), density, seed=sum(shape) + 7)
        eight = eight and len(shape) == 2
        structure = ndi.generate_binary_structure(len(shape), len(shape) if eight else 1)
        ref, n = ndi.label(m, structure)
        labels, count = nvf.label(m, connectivity=8 if eight else None, workers=workers)
        assert count == n
        np.testing.assert_array_equal(canonical(labels), canonical(ref))


def nonzero_values(shape, kind, seed):
    """A random mask whose foreground holds arbitrary non-zero values of the dtype
    ("mask255": uint8 0 / 255)."""
    g = rng(seed)
    on = g.random(shape) < 0.45
    if kind == "mask255":
        return np.where(on, 255, 0).astype(np.uint8)
    if kind == np.bool_:
        return on
    info = np.iinfo(kind)
    values = g.integers(int(info.min), int(info.max) + 1, shape).astype(kind)
    values[values == 0] = 1
    return np.where(on, values, 0).astype(kind)


def assert_same_partition(labels, ref):
    """The same foreground and, label for label, the same components: a
    bijection between the non-zero labels of the two arrays."""
    np.testing.assert_array_equal(labels != 0, ref != 0)
    fg = ref != 0
    pairs = np.unique(np.stack([labels[fg].astype(np.int64), ref[fg].astype(np.int64)]), axis=1)
    assert np.unique(pairs[0]).size == pairs.shape[1] == np.unique(pairs[1]).size


def maxima_reference(a):
    """Value > 0 and >= every existing neighbour (8 in 2-d, 26 in 3-d); NaN
    never qualifies, nor does a value next to one."""
    padded = np.pad(a.astype(np.float64), 1, constant_values=-np.inf)
    keep = (a > 0) & ~np.isnan(a)
    for offset in itertools.product((-1, 0, 1), repeat=a.ndim):
        n = padded[tuple(slice(1 + o, 1 + o + size) for o, size in zip(offset, a.shape))]
        keep &= (a >= n) & ~np.isnan(n)
    return keep.astype(np.uint8)


def few_levels(shape, dtype, seed, low=-3, high=5):
    """Few distinct values (plateaus everywhere), non-negative for unsigned types."""
    if np.dtype(dtype).kind == "u":
        low = 0
    return rng(seed).integers(low, high, shape).astype(dtype)


MAXIMA_DTYPES = [np.uint8, np.uint16, np.int16, np.float32, np.float64]


class TestRegionalMaxima:
    @pytest.mark.parametrize("dtype", MAXIMA_DTYPES + [np.int8, np.bool_])
    @pytest.mark.parametrize("shape", [(1, 1), (1, 9), (9, 1), (31, 37)])
    def test_equals_the_definition(self, dtype, shape):
        a = few_levels(shape, dtype, 5)
        np.testing.assert_array_equal(nvf.regional_maxima(a), maxima_reference(a))

    def test_full_range_values(self):
        for dtype in (np.uint8, np.uint16, np.int16):
            info = np.iinfo(dtype)
            a = rng(11).integers(info.min, info.max, (23, 29, 19), dtype=dtype, endpoint=True)
            a[3:6, 4:8, 2:5] = info.max  # a plateau at the top of the range
            for x in (a, a[7]):
                np.testing.assert_array_equal(nvf.regional_maxima(x), maxima_reference(x))

    def test_nan_inf_output_and_errors(self):
        a = rng(6).random((20, 21)).astype(np.float32)
        a[4, 5] = np.nan
        a[10, 10] = np.inf
        got = nvf.regional_maxima(a)
        np.testing.assert_array_equal(got, maxima_reference(a))
        assert got[10, 10] == 1 and got[4, 5] == 0
        out = np.empty(a.shape, np.uint8)
        assert nvf.regional_maxima(a, output=out) is out
        np.testing.assert_array_equal(out, got)
        for bad in (np.zeros((3, 3, 3, 3), np.float32), np.zeros(9, np.float32), np.float32(1)):
            with pytest.raises(ValueError, match="input"):
                nvf.regional_maxima(bad)
        for bad_dtype in (np.complex64, "U1"):
            with pytest.raises(TypeError, match="input"):
                nvf.regional_maxima(np.zeros((3, 3), bad_dtype))
        with pytest.raises(TypeError, match="output"):
            nvf.regional_maxima(a, output=np.empty(a.shape, np.bool_))
        with pytest.raises(ValueError, match="output"):
            nvf.regional_maxima(a, output=np.empty((20, 20), np.uint8))

    @settings(max_examples=40, deadline=None)
    @given(h=st.integers(1, 12), w=st.integers(1, 12), levels=st.integers(1, 4), workers=st.sampled_from([None, 2]))
    def test_property_equals_the_definition(self, h, w, levels, workers):
        a = rng(h * 13 + w).integers(-1, levels, (h, w)).astype(np.float64)
        np.testing.assert_array_equal(nvf.regional_maxima(a, workers=workers), maxima_reference(a))


class TestRegionalMaximaVolume:
    @pytest.mark.parametrize("dtype", MAXIMA_DTYPES + [np.int8, np.bool_])
    @pytest.mark.parametrize("shape", [(1, 1, 1), (1, 7, 9), (5, 1, 7), (6, 5, 1), (9, 1, 1), (13, 11, 15)])
    def test_equals_the_definition(self, dtype, shape):
        a = few_levels(shape, dtype, sum(shape))
        got = nvf.regional_maxima(a)
        assert got.dtype == np.uint8 and got.shape == a.shape
        np.testing.assert_array_equal(got, maxima_reference(a))

    @pytest.mark.parametrize("dtype", MAXIMA_DTYPES)
    def test_one_slice_is_the_image(self, dtype):
        a = few_levels((17, 19), dtype, 8)
        np.testing.assert_array_equal(nvf.regional_maxima(a[np.newaxis])[0], nvf.regional_maxima(a))

    def test_diagonal_neighbours_across_slices_count(self):
        # Only the corner-to-corner neighbour in the next slice is higher.
        a = np.zeros((2, 3, 3), np.float32)
        a[0, 1, 1] = 2.0
        a[1, 2, 2] = 3.0
        got = nvf.regional_maxima(a)
        assert got[0, 1, 1] == 0 and got[1, 2, 2] == 1
        a[1, 2, 2] = 2.0  # a plateau across slices: both marked
        got = nvf.regional_maxima(a)
        assert got[0, 1, 1] == 1 and got[1, 2, 2] == 1 and got.sum() == 2

    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    def test_nan_and_inf(self, dtype):
        a = few_levels((9, 10, 11), dtype, 12)
        a[rng(13).random(a.shape) < 0.03] = np.nan
        a[4, 5, 6] = np.inf
        a[0, 0, 0] = -np.inf
        got = nvf.regional_maxima(a)
        np.testing.assert_array_equal(got, maxima_reference(a))
        assert not got[np.isnan(a)].any()
        near_nan = ndi.binary_dilation(np.isnan(a), ndi.generate_binary_structure(3, 3))
        assert not got[near_nan].any()

    def test_output_views_and_empty(self):
        a = few_levels((8, 9, 10), np.int16, 14)
        out = np.empty(a.shape, np.uint8)
        assert nvf.regional_maxima(a, output=out) is out
        np.testing.assert_array_equal(out, maxima_reference(a))
        view = a[::-1, 1::2, ::3]
        np.testing.assert_array_equal(nvf.regional_maxima(view), maxima_reference(view))
        swapped = a.astype(a.dtype.newbyteorder())
        np.testing.assert_array_equal(nvf.regional_maxima(swapped), maxima_reference(a))
        assert nvf.regional_maxima(np.zeros((0, 3, 4), np.float32)).shape == (0, 3, 4)

    @settings(max_examples=40, deadline=None)
    @given(shape=st.tuples(st.integers(1, 8), st.integers(1, 8), st.integers(1, 8)), levels=st.integers(1, 4),
           dtype=st.sampled_from(MAXIMA_DTYPES), workers=st.sampled_from([None, 2, 3]))
    def test_property_equals_the_definition(self, shape, levels, dtype, workers):
        a = few_levels(shape, dtype, sum(shape) * levels, high=levels)
        np.testing.assert_array_equal(nvf.regional_maxima(a, workers=workers), maxima_reference(a))
