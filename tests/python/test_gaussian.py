"""gaussian_filter and gaussian_gradient: exactly the C++ API's results, the
dtype table, per-axis arguments in array order, borders and odd shapes, and
argument errors."""

import numpy as np
import pytest
import scipy.ndimage as ndi
from hypothesis import given, settings
from hypothesis import strategies as st

import nvfiltering as nvf
from conftest import needs_reference, reference_gaussian, reference_gradient, rng


def volume(shape, dtype, seed=0):
    r = rng(seed)
    if dtype == np.uint8:
        return r.integers(0, 256, shape, dtype=np.uint8)
    return (r.random(shape) * 100).astype(dtype)


class TestGaussianFilter:
    @needs_reference
    @pytest.mark.parametrize("dtype", [np.uint8, np.float32, np.float64])
    @pytest.mark.parametrize("shape", [(37,), (11, 23), (7, 9, 13), (1, 6, 5), (5, 1, 8)])
    def test_smoothing_equals_the_library(self, dtype, shape):
        a = volume(shape, dtype)
        sigma = (1.5, 2.0, 0.7)[-len(shape):]
        got = nvf.gaussian_filter(a, sigma)
        lib_sigma = list(reversed(sigma)) + [0.0] * (3 - len(shape))
        np.testing.assert_array_equal(got, reference_gaussian(a, lib_sigma, 0))

    @needs_reference
    @pytest.mark.parametrize("axis", [0, 1, 2])
    @pytest.mark.parametrize("order", [1, 2])
    def test_derivative_along_an_array_axis_is_the_library_axis(self, axis, order):
        a = volume((9, 10, 12), np.float32, seed=3)
        orders = [0, 0, 0]
        orders[axis] = order
        got = nvf.gaussian_filter(a, (1.0, 2.0, 3.0), order=orders)
        derivative = (1 if order == 1 else 4) + (2 - axis)
        np.testing.assert_array_equal(got, reference_gaussian(a, [3.0, 2.0, 1.0], derivative))

    def test_dtype_table(self):
        for dtype, expected in [(np.uint8, np.float32), (np.float32, np.float32), (np.float64, np.float64),
                                (np.int16, np.float32), (np.uint16, np.float32), (np.bool_, np.float32),
                                (np.float16, np.float32), (np.int64, np.float32)]:
            assert nvf.gaussian_filter(np.ones((4, 5), dtype), 1.0).dtype == expected, dtype

    def test_converted_dtypes_equal_the_float32_result(self):
        a = rng(1).integers(-1000, 1000, (8, 9, 10)).astype(np.int16)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, 1.2), nvf.gaussian_filter(a.astype(np.float32), 1.2))

    def test_uint8_equals_float32_of_the_same_values(self):
        a = volume((6, 7, 30), np.uint8)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, 2.0), nvf.gaussian_filter(a.astype(np.float32), 2.0))

    def test_close_to_scipy_with_zero_borders(self):
        a = volume((24, 30, 28), np.float64, seed=2) / 100
        for order in [(0, 0, 0), (0, 1, 0), (0, 0, 2)]:
            got = nvf.gaussian_filter(a, 3.0, order=order)
            ref = ndi.gaussian_filter(a, 3.0, order=order, mode="constant", truncate=10)
            # The recursive filter approximates the Gaussian (and its derivatives
            # less closely): a sanity check of axes, signs and scale, not of exactness.
            bound = 0.15 if 2 in order else 0.1
            assert np.linalg.norm(got - ref) < bound * np.linalg.norm(ref), order

    def test_sigma_zero_is_the_identity(self):
        a = volume((5, 6, 7), np.float64)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, 0.0), a)
        # Zero along one axis leaves exactly that axis alone: a 2-d smoothing of every slice.
        b = nvf.gaussian_filter(a, (0.0, 1.5, 2.5))
        for z in range(a.shape[0]):
            np.testing.assert_array_equal(b[z], nvf.gaussian_filter(a[z], (1.5, 2.5)))

    def test_per_axis_sigma_is_in_array_order(self):
        a = np.zeros((41, 41), np.float64)
        a[20, 20] = 1
        g = nvf.gaussian_filter(a, (1.0, 4.0))
        # Wider along the last axis: the tail along axis 1 is heavier.
        assert g[20, 26] > 10 * g[26, 20]

    def test_output_is_written_in_place_and_may_be_the_input(self):
        a = volume((8, 9, 10), np.float32)
        expected = nvf.gaussian_filter(a, 1.0)
        out = np.full_like(a, np.nan)
        assert nvf.gaussian_filter(a, 1.0, output=out) is out
        np.testing.assert_array_equal(out, expected)
        b = a.copy()
        assert nvf.gaussian_filter(b, 1.0, output=b) is b
        np.testing.assert_array_equal(b, expected)

    def test_bad_outputs(self):
        a = volume((8, 9), np.uint8)
        with pytest.raises(TypeError, match="output"):
            nvf.gaussian_filter(a, 1.0, output=np.empty((8, 9), np.float64))
        with pytest.raises(ValueError, match="output"):
            nvf.gaussian_filter(a, 1.0, output=np.empty((9, 8), np.float32))
        with pytest.raises(ValueError, match="output"):
            nvf.gaussian_filter(a, 1.0, output=np.empty((8, 18), np.float32)[:, ::2])
        ro = np.empty((8, 9), np.float32)
        ro.flags.writeable = False
        with pytest.raises(ValueError, match="output"):
            nvf.gaussian_filter(a, 1.0, output=ro)
        with pytest.raises(TypeError, match="output"):
            nvf.gaussian_filter(a, 1.0, output=[[0.0] * 9] * 8)

    def test_strided_reversed_and_read_only_inputs(self):
        a = volume((10, 12, 14), np.float32)
        view = a[::2, ::-1, 1::3]
        np.testing.assert_array_equal(nvf.gaussian_filter(view, 1.3), nvf.gaussian_filter(view.copy(), 1.3))
        ro = a.copy()
        ro.flags.writeable = False
        np.testing.assert_array_equal(nvf.gaussian_filter(ro, 1.3), nvf.gaussian_filter(a, 1.3))
        swapped = a.astype(a.dtype.newbyteorder())
        np.testing.assert_array_equal(nvf.gaussian_filter(swapped, 1.3), nvf.gaussian_filter(a, 1.3))
        assert nvf.gaussian_filter(a.tolist(), 1.3).dtype == np.float64

    def test_zero_size_and_single_samples(self):
        for shape in [(0,), (0, 5), (3, 0, 4)]:
            out = nvf.gaussian_filter(np.zeros(shape, np.float32), 2.0)
            assert out.shape == shape and out.dtype == np.float32
        # A line of one sample: the zero-continued Gaussian's weight at 0, less than 1.
        one = nvf.gaussian_filter(np.array([10.0]), 2.0)
        assert 0 < one[0] < 10
        # The first axis of a 3-d array of length 1 is not filtered: the 2-d result.
        a = volume((1, 6, 7), np.float64)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, 2.0)[0], nvf.gaussian_filter(a[0], 2.0))
        assert not nvf.gaussian_filter(a, 2.0, order=(1, 0, 0)).any()

    @pytest.mark.parametrize("value", [np.nan, np.inf, -np.inf])
    @pytest.mark.parametrize("sigma", [0.0, 1.5])
    def test_nan_and_inf_make_the_whole_result_nan(self, value, sigma):
        # Every pass spreads a non-finite sample over its whole line (the
        # zero-continued borders depend on every sample), X, then Y, then Z.
        a = np.zeros((6, 7, 8), np.float32)
        a[3, 2, 5] = value
        assert np.isnan(nvf.gaussian_filter(a, sigma)).all()
        assert np.isnan(nvf.gaussian_gradient(a, sigma)).all()

    @pytest.mark.parametrize("bad, error", [
        (dict(input=np.float32(1.0)), ValueError),
        (dict(input=np.zeros((2, 2, 2, 2), np.float32)), ValueError),
        (dict(input=np.zeros((4, 4), np.complex64)), TypeError),
        (dict(input=np.array(["a", "b"])), TypeError),
        (dict(sigma=-1.0), ValueError),
        (dict(sigma=float("nan")), ValueError),
        (dict(sigma=(1.0, 2.0, 3.0)), ValueError),
        (dict(sigma="1"), TypeError),
        (dict(order=(1, 1)), ValueError),
        (dict(order=3), ValueError),
        (dict(order=1.0), TypeError),
        (dict(workers=0), ValueError),
        (dict(workers=1.5), TypeError),
        (dict(workers=-100000), ValueError),
    ])
    def test_bad_arguments_name_the_argument(self, bad, error):
        args = dict(input=np.zeros((5, 6), np.float32), sigma=1.0)
        args.update(bad)
        name = next(iter(bad))
        with pytest.raises(error, match=name):
            nvf.gaussian_filter(**args)

    def test_library_failures_are_nvfiltering_errors(self):
        with pytest.raises(nvf.Error, match="converge") as info:
            nvf.gaussian_filter(np.zeros((4, 300), np.float32), 150.0)
        assert info.value.class_path == "java/lang/Throwable"
        assert isinstance(info.value, Exception)

    @settings(max_examples=30, deadline=None)
    @given(shape=st.lists(st.integers(1, 12), min_size=1, max_size=3),
           dtype=st.sampled_from([np.uint8, np.float32, np.float64]),
           sigma=st.floats(0.0, 6.0), axis=st.integers(0, 2), order=st.integers(0, 2),
           workers=st.sampled_from([None, 2, -1]))
    def test_property_workers_and_views_do_not_change_the_result(self, shape, dtype, sigma, axis, order, workers):
        a = volume(tuple(shape), dtype, seed=len(shape))
        orders = [0] * len(shape)
        orders[axis % len(shape)] = order
        base = nvf.gaussian_filter(a, sigma, orders)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, sigma, orders, workers=workers), base)
        wide = np.zeros(a.shape[:-1] + (2 * a.shape[-1],), a.dtype)
        wide[..., ::2] = a
        np.testing.assert_array_equal(nvf.gaussian_filter(wide[..., ::2], sigma, orders), base)
        assert np.isfinite(base).all()


PAD_MODES = {"constant": "constant", "nearest": "edge", "reflect": "symmetric", "mirror": "reflect", "wrap": "wrap"}
BORDERS = [("constant", 0.0), ("constant", -7.5), ("nearest", 0.0), ("reflect", 0.0), ("mirror", 0.0),
           ("wrap", 0.0)]


def padded_reference(a, sigma, order, mode, cval, pad):
    """The default (zero-continued) filter on ``a`` padded by ``pad`` samples per
    axis with numpy's matching mode, cropped back to ``a``'s place."""
    kwargs = dict(constant_values=cval) if mode == "constant" else {}
    wide = np.pad(a, pad, mode=PAD_MODES[mode], **kwargs)
    out = nvf.gaussian_filter(wide, sigma, order)
    return out[tuple(slice(pad, pad + n) for n in a.shape)]


class TestBorderModes:
    @pytest.mark.parametrize("mode, cval", BORDERS)
    @pytest.mark.parametrize("shape, sigma, order", [
        ((1,), 2.0, 0), ((2,), 1.3, 1), ((3,), 0.8, 2), ((53,), 3.0, 0), ((53,), 2.2, 1), ((41,), 1.7, 2),
        ((13, 2), (1.2, 2.5), (0, 1)), ((9, 14), (2.0, 0.9), (2, 0)),
        ((5, 7, 6), (0.7, 1.1, 0.9), (0, 0, 0)), ((5, 3, 6), (0.9, 0.8, 1.0), (1, 0, 0)),
    ])
    def test_equals_the_filter_on_the_padded_array(self, mode, cval, shape, sigma, order):
        a = volume(shape, np.float64, seed=len(shape)) - 50
        got = nvf.gaussian_filter(a, sigma, order, mode=mode, cval=cval)
        pad = int(np.ceil(25 * np.max(sigma))) + 25
        ref = padded_reference(a, sigma, order, mode, cval, pad)
        scale = max(np.abs(a).max(), abs(cval))
        np.testing.assert_allclose(got, ref, rtol=0, atol=1e-10 * scale)

    @pytest.mark.parametrize("mode, cval", BORDERS)
    @pytest.mark.parametrize("dtype", [np.uint8, np.float32])
    def test_float32_within_rounding_of_the_padded_array(self, mode, cval, dtype):
        a = volume((6, 11, 9), dtype, seed=3)
        got = nvf.gaussian_filter(a, (1.0, 1.5, 0.8), (0, 0, 1), mode=mode, cval=cval)
        assert got.dtype == np.float32
        ref = padded_reference(a.astype(np.float64), (1.0, 1.5, 0.8), (0, 0, 1), mode, cval, 45)
        np.testing.assert_allclose(got, ref, rtol=0, atol=1e-5 * max(np.abs(ref).max(), abs(cval)))

    @pytest.mark.parametrize("mode, cval", BORDERS[1:])
    def test_close_to_scipy_with_the_same_mode(self, mode, cval):
        # Smooth data: on white noise the recursive derivatives differ from
        # sampled ones mostly at high frequencies, whatever the border.
        a = ndi.gaussian_filter(volume((24, 30, 28), np.float64, seed=2) / 100, 1.5, mode="wrap")
        # scipy continues the input of each 1-d pass by cval, also after a
        # derivative pass; here the input itself is continued (the derivative
        # of the constant is 0), so a non-zero cval is compared when smoothing.
        orders = [(0, 0, 0)] if cval else [(0, 0, 0), (1, 0, 0), (0, 0, 2)]
        for order in orders:
            got = nvf.gaussian_filter(a, 3.0, order=order, mode=mode, cval=cval)
            ref = ndi.gaussian_filter(a, 3.0, order=order, mode=mode, cval=cval, truncate=10)
            bound = 0.15 if 2 in order else 0.1
            assert np.linalg.norm(got - ref) < bound * np.linalg.norm(ref), order

    @pytest.mark.parametrize("mode, cval", BORDERS[1:])
    def test_batches_continue_each_item(self, mode, cval):
        # The mode applies along the filtered axes of every item, not across items.
        a = volume((4, 9, 11), np.float32, seed=6)
        got = nvf.gaussian_filter(a, (1.5, 0.8), (0, 1), mode=mode, cval=cval, axes=(1, 2))
        for i in range(a.shape[0]):
            np.testing.assert_array_equal(got[i], nvf.gaussian_filter(a[i], (1.5, 0.8), (0, 1), mode=mode, cval=cval))
        g = nvf.gaussian_gradient(a, 1.2, mode=mode, cval=cval, axes=(2, 0))
        for j in range(a.shape[1]):
            # Components in the order of axes: along axis 2, then along axis 0.
            item = nvf.gaussian_gradient(a[:, j], 1.2, mode=mode, cval=cval)
            np.testing.assert_array_equal(g[:, j], item[..., ::-1])

    def test_constant_zero_is_the_default(self):
        a = volume((7, 8, 9), np.float32, seed=4)
        np.testing.assert_array_equal(nvf.gaussian_filter(a, 1.5, mode="constant", cval=0), nvf.gaussian_filter(a, 1.5))

    @pytest.mark.parametrize("mode, cval", BORDERS)
    @pytest.mark.parametrize("shape, dtype", [((10, 11, 12), np.uint8), ((16, 17), np.uint16), ((9, 8, 7), np.int16),
                                              ((25,), np.uint8)])
    def test_gradient_with_a_mode(self, mode, cval, shape, dtype):
        a = volume(shape, dtype, seed=5)
        spacing = (0.5, 1.0, 2.0)[-len(shape):]
        got = nvf.gaussian_gradient(a, 1.5, spacing, mode=mode, cval=cval)
        assert got.dtype == np.float32 and got.shape == shape + (len(shape),)
        # Integers run the recursive filter like float32 of the same values.
        np.testing.assert_array_equal(got, nvf.gaussian_gradient(a.astype(np.float32), 1.5, spacing, mode=mode,
                                                                 cval=cval))
        f = a.astype(np.float64)
        g = nvf.gaussian_gradient(f, 1.5, spacing, mode=mode, cval=cval)
        for axis, h in enumerate(spacing):
            order = [0] * len(shape)
            order[axis] = 1
            sigma = [1.5 / s for s in spacing]
            np.testing.assert_allclose(g[..., axis], nvf.gaussian_filter(f, sigma, order, mode=mode, cval=cval) / h,
                                       rtol=1e-12, atol=1e-12)

    @pytest.mark.parametrize("bad, error", [
        (dict(mode="reflect101"), ValueError),
        (dict(mode="Constant"), ValueError),
        (dict(mode=2), ValueError),
        (dict(mode=None), ValueError),
        (dict(cval=float("nan")), ValueError),
        (dict(cval=float("inf")), ValueError),
        (dict(cval="1"), TypeError),
        (dict(cval=(1.0,)), TypeError),
    ])
    def test_bad_modes_name_the_argument(self, bad, error):
        name = next(iter(bad))
        for function in (nvf.gaussian_filter, nvf.gaussian_gradient):
            with pytest.raises(error, match=name):
                function(np.zeros((5, 6), np.uint8), 1.0, **bad)


class TestGaussianGradient:
    @needs_reference
    @pytest.mark.parametrize("shape", [(10, 11, 12), (3, 8, 9), (16, 17)])
    def test_uint8_equals_the_library_gradient(self, shape):
        a = volume(shape, np.uint8, seed=4)
        spacing = (0.5, 1.0, 2.0)[-len(shape):]
        got = nvf.gaussian_gradient(a, 1.5, spacing)
        lib_spacing = list(reversed(spacing)) + [1.0] * (3 - len(shape))
        ref = reference_gradient(a, 1.5, lib_spacing)
        # Array axis i holds the library component ndim - 1 - i.
        np.testing.assert_array_equal(got, ref[..., :len(shape)][..., ::-1])

    @pytest.mark.parametrize("shape", [(10, 11, 12), (3, 8, 9), (16, 17), (2, 3, 3)])
    def test_float32_runs_the_same_computation(self, shape):
        a = volume(shape, np.uint8, seed=5)
        np.testing.assert_array_equal(nvf.gaussian_gradient(a.astype(np.float32), 2.0, (1.0, 0.5)[-1]),
                                      nvf.gaussian_gradient(a, 2.0, (1.0, 0.5)[-1]))

    def test_components_are_derivatives_in_physical_units(self):
        a = volume((12, 13, 14), np.float64, seed=6)
        g = nvf.gaussian_gradient(a, 2.0, spacing=(2.0, 1.0, 0.5))
        assert g.shape == (12, 13, 14, 3) and g.dtype == np.float64
        for axis, h in enumerate((2.0, 1.0, 0.5)):
            order = [0, 0, 0]
            order[axis] = 1
            sigma = [2.0 / 2.0, 2.0 / 1.0, 2.0 / 0.5]
            np.testing.assert_allclose(g[..., axis], nvf.gaussian_filter(a, sigma, order) / h, rtol=1e-12)

    def test_sigma_zero_is_the_central_difference(self):
        a = rng(7).random(20)
        g = nvf.gaussian_gradient(a, 0.0, spacing=0.5)[:, 0]
        padded = np.pad(a, 1)
        np.testing.assert_allclose(g, (padded[2:] - padded[:-2]) / (2 * 0.5), rtol=1e-12, atol=1e-14)

    def test_one_dimensional_uint8_is_not_scaled_by_missing_axes(self):
        a = volume((30,), np.uint8)
        np.testing.assert_array_equal(nvf.gaussian_gradient(a, 1.0), nvf.gaussian_gradient(a.astype(np.float32), 1.0))

    def test_output_zero_size_and_errors(self):
        for shape in [(6, 7), (5, 6, 7)]:
            a = volume(shape, np.uint8)
            out = np.empty(shape + (len(shape),), np.float32)
            assert nvf.gaussian_gradient(a, 1.0, output=out) is out
            np.testing.assert_array_equal(out, nvf.gaussian_gradient(a, 1.0))
        assert nvf.gaussian_gradient(np.zeros((0, 4), np.uint8), 1.0).shape == (0, 4, 2)
        with pytest.raises(ValueError, match="output"):
            nvf.gaussian_gradient(a, 1.0, output=np.empty((6, 7, 3), np.float32))
        with pytest.raises(ValueError, match="spacing"):
            nvf.gaussian_gradient(a, 1.0, spacing=(1.0, 0.0))
        with pytest.raises(TypeError, match="sigma"):
            nvf.gaussian_gradient(a, (1.0, 2.0))
        with pytest.raises(nvf.Error):
            nvf.gaussian_gradient(a, 10.0, spacing=0.05)
