"""pyramid_down and separable_filter: the pyramid level bit for bit against an
integer reference (5-tap binomial kernel, mirrored borders, rounding half up),
Kernel and its printed form, vectors, resampling shapes and errors."""

import numpy as np
import pytest
import scipy.ndimage as ndi
from hypothesis import given, settings
from hypothesis import strategies as st

import nvfiltering as nvf
from conftest import rng


def pyramid_reference(a):
    """[1 4 6 4 1] along every filtered axis on integers, mirrored without
    repeating the edge, every second sample, (sum + half) >> 4d."""
    s = a.astype(np.int64)
    axes = [i for i in range(a.ndim) if not (a.ndim == 3 and i == 0 and a.shape[0] == 1)]
    for axis in axes:
        s = ndi.correlate1d(s, [1, 4, 6, 4, 1], axis=axis, mode="mirror")
        s = s[(slice(None),) * axis + (slice(None, None, 2),)]
    shift = 4 * len(axes)
    return ((s + (1 << (shift - 1))) >> shift).astype(np.uint8)


class TestPyramidDown:
    @pytest.mark.parametrize("shape", [(64,), (9,), (33, 47), (6, 5), (16, 17, 18), (1, 12, 13), (5, 6, 7)])
    def test_equals_the_integer_reference(self, shape):
        a = rng(1).integers(0, 256, shape, dtype=np.uint8)
        got = nvf.pyramid_down(a)
        assert got.shape == tuple((n + 1) // 2 for n in shape)
        np.testing.assert_array_equal(got, pyramid_reference(a))

    def test_output_in_place_and_views(self):
        a = rng(2).integers(0, 256, (40, 50), dtype=np.uint8)
        out = np.empty((20, 25), np.uint8)
        assert nvf.pyramid_down(a, output=out) is out
        np.testing.assert_array_equal(out, pyramid_reference(a))
        view = a[::-1, 3:]
        np.testing.assert_array_equal(nvf.pyramid_down(view), pyramid_reference(view.copy()))

    def test_other_output_shapes_resample(self):
        a = rng(3).integers(0, 256, (40, 60), dtype=np.uint8)
        assert nvf.pyramid_down(a, output=np.empty((10, 15), np.uint8)).shape == (10, 15)
        assert nvf.pyramid_down(a, output=np.empty((80, 60), np.uint8)).shape == (80, 60)
        with pytest.raises(nvf.Error, match="too long"):
            nvf.pyramid_down(a, output=np.empty((40, 200), np.uint8))

    def test_short_axes_zero_size_and_errors(self):
        with pytest.raises(nvf.Error, match="kernel"):
            nvf.pyramid_down(np.zeros((4, 20), np.uint8))
        assert nvf.pyramid_down(np.zeros((0, 8), np.uint8)).shape == (0, 4)
        with pytest.raises(TypeError, match="input"):
            nvf.pyramid_down(np.zeros((8, 8), np.complex64))
        with pytest.raises(ValueError, match="input"):
            nvf.pyramid_down(np.zeros((8, 8, 8, 8), np.uint8))
        with pytest.raises(ValueError, match="output"):
            nvf.pyramid_down(np.zeros((8, 8), np.uint8), output=np.empty((4,), np.uint8))

    @settings(max_examples=40, deadline=None)
    @given(shape=st.lists(st.integers(5, 23), min_size=1, max_size=3), workers=st.sampled_from([None, 2, -1]))
    def test_property_equals_the_reference(self, shape, workers):
        a = rng(sum(shape)).integers(0, 256, shape, dtype=np.uint8)
        np.testing.assert_array_equal(nvf.pyramid_down(a, workers=workers), pyramid_reference(a))


class TestKernel:
    def test_values_center_and_printed_form(self):
        k = nvf.Kernel([1.0, 2.5, 3.0], center=1)
        assert k.values == [1.0, 2.5, 3.0] and k.center == 1 and len(k) == 3
        assert repr(k) == "Kernel:  size:3, center:1\nValues: 1 2.5 3 "
        assert nvf.pyramid_kernel().values == [0.0625, 0.25, 0.375, 0.25, 0.0625]
        assert nvf.pyramid_kernel().center == 2

    def test_bad_kernels(self):
        with pytest.raises(ValueError, match="values"):
            nvf.Kernel([])
        with pytest.raises(ValueError, match="center"):
            nvf.Kernel([1.0, 2.0], center=2)
        with pytest.raises(TypeError):
            nvf.Kernel("abc")


class TestSeparableFilter:
    def test_uint8_with_per_axis_kernels(self):
        a = rng(4).integers(0, 256, (20, 30), dtype=np.uint8)
        ky, kx = nvf.Kernel([0.25, 0.5, 0.25]), nvf.Kernel([1.0])
        got = nvf.separable_filter(a, (ky, kx))
        ref = ndi.correlate1d(a.astype(np.float64), [0.25, 0.5, 0.25], axis=0, mode="mirror")
        np.testing.assert_array_equal(got, np.floor(ref + 0.5).astype(np.uint8))
        np.testing.assert_array_equal(nvf.separable_filter(a, nvf.Kernel([1.0])), a)

    def test_three_vectors_filter_every_component_alike(self):
        v = rng(5).random((7, 8, 9, 3)).astype(np.float32)
        k = nvf.Kernel([0.2, 0.3, 0.5])
        got = nvf.separable_filter(v, k, vectors=True)
        assert got.shape == v.shape and got.dtype == np.float32
        ref = v.astype(np.float64)
        for axis in range(3):
            ref = ndi.correlate1d(ref, [0.2, 0.3, 0.5], axis=axis, mode="mirror")
        np.testing.assert_allclose(got, ref, rtol=1e-5)
        # Halving the output shape resamples every axis.
        half = nvf.separable_filter(v, k, vectors=True, output=np.empty((4, 4, 5, 3), np.float32))
        assert half.shape == (4, 4, 5, 3)

    def test_errors(self):
        a = np.zeros((10, 10), np.uint8)
        with pytest.raises(ValueError, match="kernels"):
            nvf.separable_filter(a, [nvf.Kernel([1.0])] * 3)
        with pytest.raises(TypeError, match="kernels"):
            nvf.separable_filter(a, [[1.0], [1.0]])
        with pytest.raises(ValueError, match="input"):
            nvf.separable_filter(np.zeros((10, 4), np.float32), nvf.Kernel([1.0]), vectors=True)
        with pytest.raises(TypeError, match="input"):
            nvf.separable_filter(np.zeros((10, 3), np.complex64), nvf.Kernel([1.0]))
        with pytest.raises(ValueError, match="output"):
            nvf.separable_filter(np.zeros((4, 3), np.float32), nvf.Kernel([1.0]), output=np.empty((4, 2), np.float32))
        with pytest.raises(nvf.Error, match="kernel"):
            nvf.separable_filter(np.zeros((2, 10), np.uint8), nvf.Kernel([1.0, 1.0, 1.0]))
