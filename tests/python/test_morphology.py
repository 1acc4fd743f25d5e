"""dilate, erode, label and regional_maxima against scipy.ndimage (exactly;
labels after canonical renumbering), with their dtypes, odd shapes, outputs
and argument errors."""

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
                                    (dict(class_value=256), ValueError, "class_value"),
                                    (dict(min_size=-1), ValueError, "min_size"),
                                    (dict(keep=1.0), TypeError, "keep")]:
            with pytest.raises(error, match=name):
                nvf.label(m, **kwargs)
        with pytest.raises(nvf.Error):
            nvf.label(np.array([[1, 0, 1]], np.uint8), keep=3)
        with pytest.raises(TypeError, match="input"):
            nvf.label(m.astype(np.float32))

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


def maxima_reference(a):
    """Value > 0 and >= every existing 8-neighbour; NaN never qualifies."""
    padded = np.pad(a.astype(np.float64), 1, constant_values=-np.inf)
    keep = (a > 0) & ~np.isnan(a)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            n = padded[1 + dy:1 + dy + a.shape[0], 1 + dx:1 + dx + a.shape[1]]
            keep &= (a >= n) & ~np.isnan(n)
    return keep.astype(np.uint8)


class TestRegionalMaxima:
    @pytest.mark.parametrize("dtype", [np.int16, np.float32, np.float64, np.uint8])
    @pytest.mark.parametrize("shape", [(1, 1), (1, 9), (9, 1), (31, 37)])
    def test_equals_the_definition(self, dtype, shape):
        a = rng(5).integers(-3, 5, shape).astype(dtype) if dtype != np.uint8 else \
            rng(5).integers(0, 5, shape).astype(dtype)
        np.testing.assert_array_equal(nvf.regional_maxima(a), maxima_reference(a))

    def test_nan_inf_output_and_errors(self):
        a = rng(6).random((20, 21)).astype(np.float32)
        a[4, 5] = np.nan
        a[10, 10] = np.inf
        got = nvf.regional_maxima(a)
        np.testing.assert_array_equal(got, maxima_reference(a))
        assert got[10, 10] == 1 and got[4, 5] == 0
        out = np.empty(a.shape, np.uint8)
        assert nvf.regional_maxima(a, output=out) is out
        with pytest.raises(ValueError, match="input"):
            nvf.regional_maxima(np.zeros((3, 3, 3), np.float32))
        with pytest.raises(TypeError, match="input"):
            nvf.regional_maxima(np.zeros((3, 3), np.int32))
        with pytest.raises(TypeError, match="output"):
            nvf.regional_maxima(a, output=np.empty(a.shape, np.bool_))

    @settings(max_examples=40, deadline=None)
    @given(h=st.integers(1, 12), w=st.integers(1, 12), levels=st.integers(1, 4), workers=st.sampled_from([None, 2]))
    def test_property_equals_the_definition(self, h, w, levels, workers):
        a = rng(h * 13 + w).integers(-1, levels, (h, w)).astype(np.float64)
        np.testing.assert_array_equal(nvf.regional_maxima(a, workers=workers), maxima_reference(a))
