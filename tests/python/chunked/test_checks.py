"""The chunked functions check their arguments with the in-memory functions'
own checks: one table of bad arguments, each refused by both with the same
exception and message, the chunked one when it is called (no task runs); a
table of unusual but good arguments that both accept; and the examples of the
chunked modules' docstrings."""

import doctest

import dask
import dask.array as da
import numpy as np
import pytest

U8_1D = np.zeros(16, np.uint8)
U8_2D = np.zeros((12, 10), np.uint8)
U8_3D = np.zeros((6, 8, 10), np.uint8)
U8_4D = np.zeros((2, 3, 4, 5), np.uint8)
BOOL_2D = np.zeros((12, 10), bool)
I16_2D = np.zeros((12, 10), np.int16)
U32_3D = np.zeros((6, 8, 10), np.uint32)
U16_3D = np.zeros((6, 8, 10), np.uint16)
F32_2D = np.zeros((12, 10), np.float32)
F32_VEC = np.zeros((12, 10, 3), np.float32)
F64_3D = np.zeros((6, 8, 10))
C64_2D = np.zeros((12, 10), np.complex64)
C64_3D = np.zeros((4, 6, 8), np.complex64)
C64_4D = np.zeros((2, 2, 2, 2), np.complex64)
TEXT_2D = np.full((4, 4), "a")
SCALAR = np.array(1.0, np.float32)


def kernel(n=3):
    import nvfiltering
    return nvfiltering.Kernel([1.0 / n] * n)


# (function, input, positional arguments, keyword arguments): every row is a
# call that both the in-memory and the chunked function refuse.
REFUSED = [
    # Gaussian smoothing and derivatives
    ("gaussian_filter", U8_2D, (-1.0,), {}),
    ("gaussian_filter", U8_2D, (float("nan"),), {}),
    ("gaussian_filter", U8_2D, ((1.0, 2.0, 3.0),), {}),
    ("gaussian_filter", U8_2D, ("1",), {}),
    ("gaussian_filter", U8_2D, (True,), {}),
    ("gaussian_filter", U8_2D, ((1.0, None),), {}),
    ("gaussian_filter", U8_2D, (1.0, 3), {}),
    ("gaussian_filter", U8_2D, (1.0, (1, 1)), {}),
    ("gaussian_filter", U8_2D, (1.0, 1.5), {}),
    ("gaussian_filter", U8_2D, (1.0, (0, 0, 1)), {}),
    ("gaussian_filter", U8_4D, (1.0,), {}),
    ("gaussian_filter", SCALAR, (1.0,), {}),
    ("gaussian_filter", C64_2D, (1.0,), {}),
    ("gaussian_filter", TEXT_2D, (1.0,), {}),
    ("gaussian_filter", U8_2D, (1.0,), {"workers": 0}),
    ("gaussian_filter", U8_2D, (1.0,), {"workers": 2.0}),
    ("gaussian_filter", U8_2D, (1.0,), {"workers": -100000}),
    ("gaussian_filter", F64_3D, (200.0,), {}),  # the library's own refusal
    ("gaussian_gradient", U8_3D, ((1.0, 2.0, 3.0),), {}),
    ("gaussian_gradient", U8_3D, (-1.0,), {}),
    ("gaussian_gradient", U8_3D, (float("inf"),), {}),
    ("gaussian_gradient", U8_3D, (1.0, 0.0), {}),
    ("gaussian_gradient", U8_3D, (1.0, (1.0, 2.0)), {}),
    ("gaussian_gradient", U8_3D, (1.0, (1.0, -2.0, 1.0)), {}),
    ("gaussian_gradient", U8_4D, (1.0,), {}),
    ("gaussian_gradient", C64_2D, (1.0,), {}),
    ("gaussian_gradient", U8_3D, (1.0,), {"workers": True}),
    ("gaussian_gradient", U8_3D, (500.0,), {}),  # the library's own refusal
    # Separable convolution and pyramids
    ("separable_filter", U8_2D, (5,), {}),
    ("separable_filter", U8_2D, ([1.0, 2.0],), {}),
    ("separable_filter", U8_2D, ("ab",), {}),
    ("separable_filter", U8_2D, (lambda: [kernel()] * 3,), {}),
    ("separable_filter", U8_4D, (kernel,), {}),
    ("separable_filter", C64_2D, (kernel,), {}),
    ("separable_filter", U8_2D, (kernel,), {"workers": 0}),
    ("pyramid_down", U8_4D, (), {}),
    ("pyramid_down", SCALAR, (), {}),
    ("pyramid_down", TEXT_2D, (), {}),
    ("pyramid_down", U8_2D, (), {"workers": "2"}),
    # Morphology
    ("dilate", U8_3D, (), {"iterations": 0}),
    ("dilate", U8_3D, (), {"iterations": -1}),
    ("dilate", U8_3D, (), {"iterations": 1.5}),
    ("dilate", U8_3D, (), {"iterations": True}),
    ("dilate", U8_3D, (), {"iterations": 2**31}),
    ("dilate", F32_2D, (), {}),
    ("dilate", U8_4D, (), {}),
    ("dilate", C64_2D, (), {}),
    ("dilate", U8_3D, (), {"workers": 0}),
    ("erode", BOOL_2D, (), {"iterations": 0}),
    ("erode", I16_2D, (), {"iterations": "1"}),
    ("erode", F64_3D, (), {}),
    ("erode", SCALAR, (), {}),
    ("grey_dilation", U16_3D, (), {"iterations": 0}),
    ("grey_dilation", F32_2D, (), {"iterations": 2**31}),
    ("grey_dilation", U8_4D, (), {}),
    ("grey_dilation", C64_2D, (), {}),
    ("grey_dilation", TEXT_2D, (), {}),
    ("grey_erosion", F64_3D, (), {"iterations": 1.0}),
    ("grey_erosion", SCALAR, (), {}),
    ("grey_erosion", I16_2D, (), {"workers": 0}),
    ("grey_opening", U8_3D, (), {"iterations": True}),
    ("grey_opening", U8_1D, (), {"workers": "1"}),
    ("grey_closing", F32_2D, (), {"iterations": -3}),
    ("grey_closing", U8_4D, (), {}),
    ("regional_maxima", U8_4D, (), {}),
    ("regional_maxima", U8_1D, (), {}),
    ("regional_maxima", C64_2D, (), {}),
    ("regional_maxima", F32_2D, (), {"workers": 1.0}),
    # Labelling
    ("label", U8_3D, (), {"connectivity": 8}),
    ("label", U8_3D, (), {"connectivity": 4}),
    ("label", U8_3D, (), {"connectivity": 27}),
    ("label", U8_3D, (), {"connectivity": 10}),
    ("label", U8_2D, (), {"connectivity": 18}),
    ("label", U8_2D, (), {"connectivity": 26}),
    ("label", U8_1D, (), {"connectivity": 26}),
    ("label", U8_2D, (), {"connectivity": 6}),
    ("label", U8_2D, (), {"connectivity": 27}),
    ("label", U8_2D, (), {"connectivity": 4.0}),
    ("label", U8_1D, (), {"connectivity": 4}),
    ("label", U8_2D, (), {"class_value": 256}),
    ("label", U8_2D, (), {"class_value": -1}),
    ("label", BOOL_2D, (), {"class_value": True}),
    ("label", BOOL_2D, (), {"class_value": 2}),
    ("label", I16_2D, (), {"class_value": 40000}),
    ("label", U32_3D, (), {"class_value": 1.0}),
    ("label", U8_2D, (), {"min_size": -1}),
    ("label", U8_2D, (), {"min_size": 2**32}),
    ("label", U8_2D, (), {"min_size": "5"}),
    ("label", U8_2D, (), {"keep": -1}),
    ("label", U8_2D, (), {"keep": 1.5}),
    ("label", F32_2D, (), {}),
    ("label", U8_4D, (), {}),
    ("label", C64_2D, (), {}),
    ("label", U8_2D, (), {"workers": 0}),
    # FFTs (the message names each function's own argument: x in memory, input chunked)
    ("fft.fftn", np.zeros((8, 0), np.complex64), (), {}),
    ("fft.fftn", np.zeros((0, 8), np.float32), (), {}),
    ("fft.fftn", C64_4D, (), {}),
    ("fft.fftn", TEXT_2D, (), {}),
    ("fft.fftn", C64_3D, (), {"workers": 0}),
    ("fft.ifftn", np.zeros((10, 0, 22)), (), {}),
    ("fft.fft2", np.zeros(16, np.complex64), (), {}),
    ("fft.fft2", np.zeros((3, 8, 0), np.complex64), (), {}),
    ("fft.ifft2", C64_2D, (), {"workers": 1.5}),
    ("fft.rfftn", np.zeros((8, 6), np.complex64), (), {}),
    ("fft.rfft2", np.zeros((3, 8, 0), np.float32), (), {}),
    ("fft.irfftn", np.zeros((8, 1), np.complex64), (), {}),
    ("fft.fft", C64_2D, (), {"norm": "sideways"}),
    ("fft.ifft", C64_2D, (), {"axis": 2}),
    ("fft.fft", C64_2D, (), {"n": 0}),
    ("fft.fftn", C64_3D, (), {"axes": (0, -3)}),
    ("fft.fft2", C64_3D, (), {"s": (4, 4, 4, 4)}),
    ("fft.rfft", C64_2D, (), {}),
    ("fft.irfft", np.zeros((4, 1), np.complex64), (), {}),
    ("fft.rfftn", F32_2D, (), {"s": (4, 0)}),
    ("fft.irfft2", C64_3D, (), {"axes": (0, 1), "s": (4,)}),
]


def _name(row):
    name, data, args, kw = row
    text = ", ".join([f"{data.dtype}{list(data.shape)}"] + [repr(a) for a in args]
                     + [f"{k}={v!r}" for k, v in kw.items()])
    return f"{name}({text})"


def _no_compute(*args, **kwargs):
    raise AssertionError("a chunked function computed something while checking its arguments")


def _resolve(args):
    return tuple(a() if callable(a) else a for a in args)


@pytest.mark.parametrize("row", REFUSED, ids=_name)
def test_chunked_refuses_what_in_memory_refuses_on_call(nv, nvd, row):
    name, data, args, kw = row
    memory = nv
    for part in name.split("."):
        memory = getattr(memory, part)
    chunked = getattr(nvd, name.split(".")[-1])
    args = _resolve(args)
    with pytest.raises((TypeError, ValueError, nv.Error)) as whole:
        memory(data, *args, **kw)
    lazy = da.from_array(data, chunks=4 if data.ndim else ())
    with dask.config.set(scheduler=_no_compute):
        with pytest.raises(Exception) as chunked_error:
            chunked(lazy, *args, **kw)
    expected = str(whole.value)
    if name.startswith("fft.") and expected.startswith("x:"):
        expected = "input:" + expected[2:]
    assert type(chunked_error.value) is type(whole.value)
    assert str(chunked_error.value) == expected
    if isinstance(whole.value, nv.Error):
        assert chunked_error.value.class_path == whole.value.class_path


# Good but unusual arguments: both accept them, and the chunked result equals
# the whole-array one (the Gaussian filters within their bound).
ACCEPTED = [
    ("gaussian_filter", np.arange(120, dtype=np.int16).reshape(12, 10), ((0.0, 1.5),), {"workers": -1}),
    ("gaussian_filter", np.arange(120, dtype=np.float64).reshape(12, 10), (np.float32(1.0), (np.int64(2), 0)), {}),
    ("gaussian_filter", (np.arange(120) % 7 == 0).reshape(12, 10), (1.0, [0, 1]), {}),
    ("gaussian_gradient", np.arange(480, dtype=np.float64).reshape(6, 8, 10) % 11, (np.int64(1), [2, 1, 0.5]), {}),
    ("separable_filter", np.arange(120, dtype=np.uint8).reshape(12, 10), (lambda: [kernel(3), kernel(5)],), {}),
    ("separable_filter", np.arange(360, dtype=np.float32).reshape(12, 10, 3), (kernel,), {"workers": 2}),
    ("pyramid_down", (np.arange(480) % 251).astype(np.uint8).reshape(6, 8, 10), (), {}),
    ("dilate", (np.arange(120) % 9 == 0).reshape(12, 10), (), {"iterations": np.int32(2)}),
    ("erode", (np.arange(480) % 5).astype(np.uint32).reshape(6, 8, 10), (), {"iterations": 3}),
    ("regional_maxima", (np.arange(120) % 13).astype(np.uint8).reshape(12, 10), (), {}),
    ("regional_maxima", (np.arange(480) % 13).astype(np.uint16).reshape(6, 8, 10), (), {}),
    ("regional_maxima", (np.arange(480) % 7 - 3).astype(np.int8).reshape(6, 8, 10), (), {"workers": -1}),
    ("regional_maxima", (np.arange(480) % 11 == 0).reshape(6, 8, 10), (), {}),
    ("grey_dilation", (np.arange(480) * 37 % 65536).astype(np.uint16).reshape(6, 8, 10), (), {"iterations": 2}),
    ("grey_erosion", (np.arange(120) * 0.37).astype(">f8").reshape(12, 10), (), {"iterations": np.int64(3)}),
    ("grey_opening", (np.arange(16) * 7 % 5).astype(np.int16), (), {"workers": 2}),
    ("grey_closing", (np.arange(480) % 7).astype(np.float32).reshape(6, 8, 10), (), {"iterations": 100}),
    ("grey_closing", np.zeros((0, 3, 4), np.uint8), (), {}),
    ("label", (np.arange(120) % 3 == 0).reshape(12, 10), (), {"connectivity": np.int64(8), "class_value": np.uint8(1)}),
    ("label", (np.arange(480) % 4).astype(np.int16).reshape(6, 8, 10), (), {"class_value": 0, "min_size": 2}),
    ("label", np.zeros((0, 8), np.uint8), (), {"keep": 3}),
    ("label", np.zeros((12, 10), np.uint8), (), {"keep": 3}),      # no component: nothing to keep
    ("pyramid_down", np.zeros((0, 8), np.uint8), (), {}),
    ("separable_filter", np.zeros((4, 0, 3), np.float32), (kernel,), {}),
    ("dilate", np.zeros((0, 3, 4), bool), (), {}),
    ("gaussian_gradient", np.zeros((5, 0), np.uint8), (1.0,), {}),
    ("fft.fftn", np.arange(48, dtype=np.int32).reshape(6, 8), (), {"workers": -1}),
    ("fft.fft2", np.arange(96, dtype=np.float32).reshape(2, 6, 8), (), {}),
    ("fft.rfftn", np.arange(63, dtype=np.float32).reshape(7, 9), (), {}),
    ("fft.irfftn", (np.arange(30) + 1j * np.arange(30)[::-1]).reshape(6, 5), (), {}),
    ("fft.rfft2", np.arange(105, dtype=np.float64).reshape(3, 5, 7), (), {}),
    ("fft.irfft2", (np.arange(60) + 0.5j).astype(np.complex64).reshape(3, 4, 5), (), {"s": (4, 9)}),
    # One axis, axes, s (cut and padded) and norm, as the in-memory transforms take them.
    ("fft.fft", (np.arange(210) * (1 - 0.3j)).reshape(3, 7, 10), (), {"axis": 1, "n": 9, "norm": "ortho"}),
    ("fft.ifft", (np.arange(60) % 7).astype(np.float32).reshape(6, 10), (0,), {"n": 4, "norm": "forward"}),
    ("fft.fft", np.arange(13, dtype=np.float64), (), {}),
    ("fft.fft", np.zeros((3, 0), np.complex64), (), {"n": 5}),
    ("fft.rfft", (np.arange(270) % 11).astype(np.float64).reshape(5, 9, 6), (), {"axis": 1, "norm": "ortho"}),
    ("fft.rfft", np.zeros((0, 6), np.float32), (), {}),
    ("fft.irfft", (np.arange(30) - 2j * np.arange(30)[::-1]).reshape(6, 5), (), {"n": 11}),
    ("fft.irfft", (np.arange(84) + 1j).astype(np.complex64).reshape(4, 7, 3), (1,), {"norm": "forward"}),
    ("fft.fftn", (np.arange(360) % 13 + 1j).reshape(4, 6, 5, 3), (), {"axes": (0, 2, 3), "s": (5, 4, 3)}),
    ("fft.ifftn", (np.arange(48) % 5).astype(np.float32).reshape(6, 8), (), {"s": (7, 5), "norm": "ortho"}),
    ("fft.fft2", (np.arange(210) % 9 - 1j).astype(np.complex64).reshape(5, 6, 7), (), {"axes": (2, 0)}),
    ("fft.rfftn", (np.arange(336) % 17).astype(np.float32).reshape(6, 7, 8), (), {"axes": (2, 0), "s": (10, 5)}),
    ("fft.irfftn", (np.arange(120) * (1 + 1j)).reshape(6, 5, 4), (), {"axes": (0, 1), "s": (8, 7)}),
    ("fft.irfft2", (np.arange(60) - 0.5j).reshape(3, 4, 5), (), {"axes": (1, 0), "norm": "ortho"}),
]


@pytest.mark.parametrize("row", ACCEPTED, ids=_name)
def test_chunked_accepts_what_in_memory_accepts(nv, nvd, row):
    name, data, args, kw = row
    memory = nv
    for part in name.split("."):
        memory = getattr(memory, part)
    args = _resolve(args)
    whole = memory(data, *args, **kw)
    chunked = getattr(nvd, name.split(".")[-1])(da.from_array(data, chunks=4), *args, **kw)
    if name == "label":
        whole, count = whole
        chunked, chunked_count = chunked
        assert int(chunked_count.compute(scheduler="threads")) == count
    got = chunked.compute(scheduler="threads")
    assert got.dtype == whole.dtype and got.shape == whole.shape
    scale = float(np.abs(data).max(initial=0))
    if name == "gaussian_filter":
        bound = nvd.gaussian_error_bound(*args, ndim=data.ndim, dtype=data.dtype) * scale
        assert np.abs(got.astype(np.float64) - whole).max(initial=0) <= bound
    elif name == "gaussian_gradient":
        bound = nvd.gradient_error_bound(*args, ndim=data.ndim) * scale
        assert np.abs(got.astype(np.float64) - whole).max(initial=0) <= bound
    elif name.startswith("fft"):
        np.testing.assert_allclose(got, whole, rtol=0, atol=1e-5 * float(np.abs(whole).max(initial=0)))
    else:
        np.testing.assert_array_equal(got, whole)


def test_examples_in_the_chunked_docstrings_run():
    from nvfiltering.dask import _convolution, _fft, _gaussian, _label, _morphology
    for module in (_convolution, _fft, _gaussian, _label, _morphology):
        with dask.config.set(scheduler="threads"):
            failures, tried = doctest.testmod(module, optionflags=doctest.NORMALIZE_WHITESPACE)
        assert tried >= 2 and failures == 0, module.__name__


# Lengths the library itself judges for the resampling filters: (input shape,
# kernel lengths per image axis or None for pyramid_down, output shape). The
# chunked functions raise the library's own error for the refused ones when
# they are called, and give the whole-array result for the others.
RESAMPLING = [
    ((4, 20), None, None),                   # Y shorter than the kernel
    ((20, 3), None, None),                   # X shorter than the kernel
    ((3, 20, 20), None, None),               # Z shorter than the kernel
    ((20, 20), None, (29, 20)),              # Y too long for its input
    ((20, 20), None, (20, 29)),              # X too long
    ((6, 20, 20), None, (8, 10, 10)),        # Z too long
    ((20, 20), None, (29, 29)),              # both too long: X is named
    ((3, 20), None, (3, 29)),                # Y short, X too long: X is checked first
    ((20, 3), None, (29, 3)),                # X short, Y too long
    ((12, 10), (3, 11), None),               # a kernel longer than its axis
    ((12, 10), (13, 3), (6, 10)),
    ((12, 10, 3), (3, 11), None),            # vectors
    ((9, 10, 3), (3, 3), (13, 10)),
]
RESAMPLED = [
    ((1, 20, 20), None, None),               # a single slice is not filtered along Z
    ((5, 5), None, None),                    # axes as long as the kernel
    ((20, 20), None, (31, 20)),
    ((20, 20), None, (50, 7)),
    ((12, 10), (12, 10), (12, 10)),
    ((12, 10, 3), (3, 5), (23, 10)),
]


def _resampling_call(nv, nvd, shape, taps, out_shape):
    vector = len(shape) == 3 and taps is not None
    data = (np.arange(np.prod(shape)) % 251).astype(np.float32 if vector else np.uint8).reshape(shape)
    if taps is None:
        memory = lambda output: nv.pyramid_down(data, output=output)
        chunked = lambda output: nvd.pyramid_down(da.from_array(data, chunks=4), output=output)
        default = tuple((n + 1) // 2 for n in shape)
    else:
        kernels = [nv.Kernel([1.0 / k] * k) for k in taps]
        memory = lambda output: nv.separable_filter(data, kernels, output=output, vectors=vector)
        chunked = lambda output: nvd.separable_filter(da.from_array(data, chunks=4), kernels, output=output, vectors=vector)
        default = shape[:2] if vector else shape
    out = None if out_shape is None else np.empty(out_shape + ((3,) if vector else ()), data.dtype)
    return memory, chunked, out, out_shape, default


@pytest.mark.parametrize("shape, taps, out_shape", RESAMPLING)
def test_chunked_resampling_refuses_what_the_library_refuses_on_call(nv, nvd, shape, taps, out_shape):
    memory, chunked, out, out_shape, _ = _resampling_call(nv, nvd, shape, taps, out_shape)
    with pytest.raises(nv.Error) as whole:
        memory(out)
    with dask.config.set(scheduler=_no_compute):
        with pytest.raises(nv.Error) as chunked_error:
            chunked(out_shape)
    assert str(chunked_error.value) == str(whole.value)
    assert chunked_error.value.class_path == whole.value.class_path


@pytest.mark.parametrize("shape, taps, out_shape", RESAMPLED)
def test_chunked_resampling_accepts_what_the_library_accepts(nv, nvd, shape, taps, out_shape):
    memory, chunked, out, out_shape, _ = _resampling_call(nv, nvd, shape, taps, out_shape)
    np.testing.assert_array_equal(chunked(out_shape).compute(scheduler="threads"), memory(out))


def test_chunked_label_keep_beyond_the_components_fails_as_in_memory_when_computed(nv, nvd):
    x = np.zeros((10, 10), np.uint8)
    x[2, 2] = x[7, 7] = 1
    with pytest.raises(nv.Error) as whole:
        nv.label(x, keep=3)
    labels, count = nvd.label(da.from_array(x, chunks=5), keep=3)  # depends on the data: lazy
    with pytest.raises(nv.Error) as chunked_error:
        dask.compute(labels, count, scheduler="threads")
    assert str(chunked_error.value) == str(whole.value)
    assert chunked_error.value.class_path == whole.value.class_path
