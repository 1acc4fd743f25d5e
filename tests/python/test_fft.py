"""nvfiltering.fft against numpy.fft within the library's documented accuracy
(relative RMS 5e-7 log2 n in single, 1e-15 log2 n in double precision), dtypes,
batches and axes, any length, the real transforms, the normalisations, the
split in-place form and errors."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import nvfiltering as nvf
from nvfiltering import fft as nfft
from conftest import rng


def random_complex(shape, dtype=np.complex128, seed=0):
    r = rng(seed)
    return (r.standard_normal(shape) + 1j * r.standard_normal(shape)).astype(dtype)


def assert_close(got, ref, n, single):
    bound = (5e-7 if single else 1e-15) * max(1.0, math.log2(n)) * 4
    err = np.linalg.norm(got - ref) / max(np.linalg.norm(ref), 1e-300)
    assert err < bound, (err, bound)


PAIRS = [(nfft.fft, np.fft.fft), (nfft.ifft, np.fft.ifft), (nfft.fft2, np.fft.fft2), (nfft.ifft2, np.fft.ifft2),
         (nfft.fftn, np.fft.fftn), (nfft.ifftn, np.fft.ifftn)]


class TestTransforms:
    @pytest.mark.parametrize("ours, ref", PAIRS)
    @pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
    @pytest.mark.parametrize("shape", [(2, 12, 30), (8, 16, 9), (1, 5, 1)])
    def test_equal_numpy_within_the_bound(self, ours, ref, dtype, shape):
        x = random_complex(shape, dtype)
        got = ours(x)
        assert got.dtype == dtype and got.shape == shape
        assert_close(got, ref(x.astype(np.complex128)), max(shape), dtype == np.complex64)

    def test_real_and_integer_inputs_become_complex_of_their_precision(self):
        for dtype, expected in [(np.float32, np.complex64), (np.float64, np.complex128), (np.int16, np.complex128),
                                (np.uint8, np.complex128), (np.bool_, np.complex128), (np.float16, np.complex64)]:
            x = (rng(1).random((6, 10)) * 5).astype(dtype)
            got = nfft.fftn(x)
            assert got.dtype == expected, dtype
            assert_close(got, np.fft.fftn(x.astype(np.float64)), 10, expected == np.complex64)

    def test_axis_batches_views_and_round_trip(self):
        x = random_complex((6, 10, 12), seed=2)
        for axis in (0, 1, -1, -3):
            assert_close(nfft.fft(x, axis=axis), np.fft.fft(x, axis=axis), 12, False)
        assert_close(nfft.fftn(x[::-1, ::2]), np.fft.fftn(x[::-1, ::2]), 12, False)
        assert_close(nfft.ifftn(nfft.fftn(x)), x, 12, False)
        four = random_complex((2, 3, 4, 5), seed=3)
        assert_close(nfft.fft2(four), np.fft.fft2(four), 5, False)

    def test_output_in_place_and_zero_size_batches(self):
        x = random_complex((4, 8), seed=4)
        out = np.empty_like(x)
        assert nfft.fft(x, output=out) is out
        assert_close(out, np.fft.fft(x), 8, False)
        assert nfft.fft2(x, output=out) is out
        assert nfft.fft(np.zeros((0, 8), np.complex64)).shape == (0, 8)
        with pytest.raises(TypeError, match="output"):
            nfft.fft(x, output=np.empty((4, 8), np.complex64))
        with pytest.raises(ValueError, match="output"):
            nfft.fft(x, output=np.empty((8, 4), np.complex128))

    def test_lengths_and_errors(self):
        assert [nfft.next_fast_len(n) for n in (1, 7, 11, 13, 97, 1001, 2**20 + 1)] == \
            [1, 8, 12, 15, 100, 1024, 1049760]
        with pytest.raises(ValueError, match="length 0|nothing"):
            nfft.fft(np.zeros(0))
        with pytest.raises(ValueError):
            nfft.fftn(np.zeros((2, 2, 2, 2)))
        with pytest.raises(ValueError):
            nfft.fft2(np.zeros(4))
        with pytest.raises(ValueError):
            nfft.fft(np.complex64(1))
        with pytest.raises(ValueError, match="axis"):
            nfft.fft(np.zeros((4, 4)), axis=2)
        with pytest.raises(TypeError):
            nfft.fft(np.array(["a"]))
        with pytest.raises(ValueError, match="n"):
            nfft.next_fast_len(0)
        with pytest.raises(ValueError, match="workers"):
            nfft.fft(np.zeros(4), workers=0)

    @settings(max_examples=40, deadline=None)
    @given(shape=st.lists(st.sampled_from([1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 15, 16, 25, 27, 32]), min_size=1,
                          max_size=3),
           single=st.booleans(), workers=st.sampled_from([None, 2, -1]))
    def test_property_equals_numpy_and_workers_do_not_change_it(self, shape, single, workers):
        x = random_complex(tuple(shape), np.complex64 if single else np.complex128, seed=len(shape))
        got = nfft.fftn(x, workers=workers)
        np.testing.assert_array_equal(got, nfft.fftn(x))
        assert_close(got, np.fft.fftn(x.astype(np.complex128)), max(shape), single)


class TestSplit:
    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    @pytest.mark.parametrize("shape", [(30,), (12, 20), (4, 6, 10)])
    def test_in_place_without_copies(self, dtype, shape):
        x = random_complex(shape, seed=5)
        re, im = x.real.astype(dtype), x.imag.astype(dtype)
        addresses = re.ctypes.data, im.ctypes.data
        r2, i2 = nfft.fftn_split(re, im)
        assert r2 is re and i2 is im and (re.ctypes.data, im.ctypes.data) == addresses
        assert_close(re + 1j * im, nfft.fftn(x.astype(np.complex64 if dtype == np.float32 else np.complex128)),
                     max(shape), dtype == np.float32)
        nfft.fftn_split(re, im, inverse=True)
        assert_close(re + 1j * im, x, max(shape), dtype == np.float32)

    def test_errors(self):
        a = np.zeros((4, 4))
        with pytest.raises(TypeError, match="imag"):
            nfft.fftn_split(a, np.zeros((4, 4), np.float32))
        with pytest.raises(ValueError, match="imag"):
            nfft.fftn_split(a, np.zeros((4, 2)))
        with pytest.raises(ValueError, match="overlaps"):
            nfft.fftn_split(a, a)
        with pytest.raises(ValueError, match="real"):
            nfft.fftn_split(np.zeros((4, 8))[:, ::2], np.zeros((4, 4)))
        with pytest.raises(TypeError, match="real"):
            nfft.fftn_split([1.0, 2.0], np.zeros(2))
        with pytest.raises(ValueError, match="7"):
            nfft.fftn_split(np.zeros(7), np.zeros(7))


# ---------------------------------------------------------------- any length, the real transforms, norms

ODD_LENGTHS = [1, 7, 13, 17, 97, 101, 210, 1009]
NORMS = [None, "backward", "ortho", "forward"]


class TestAnyLength:
    @pytest.mark.parametrize("n", ODD_LENGTHS)
    @pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
    @pytest.mark.parametrize("norm", NORMS)
    def test_complex_equal_numpy(self, n, dtype, norm):
        x = random_complex((3, n), dtype, seed=n)
        ref = x.astype(np.complex128)
        for ours, theirs in ((nfft.fft, np.fft.fft), (nfft.ifft, np.fft.ifft)):
            got = ours(x, norm=norm)
            assert got.dtype == dtype
            assert_close(got, theirs(ref, norm=norm), n, dtype == np.complex64)

    @pytest.mark.parametrize("n", ODD_LENGTHS + [2, 64, 100])
    @pytest.mark.parametrize("dtype", [np.float32, np.float64])
    @pytest.mark.parametrize("norm", NORMS)
    def test_real_equal_numpy(self, n, dtype, norm):
        x = rng(n).standard_normal((2, n)).astype(dtype)
        single = dtype == np.float32
        got = nfft.rfft(x, norm=norm)
        assert got.dtype == (np.complex64 if single else np.complex128) and got.shape == (2, n // 2 + 1)
        assert_close(got, np.fft.rfft(x.astype(np.float64), norm=norm), n, single)
        back = nfft.irfft(got, n=n, norm=norm)
        assert back.dtype == dtype and back.shape == (2, n)
        assert_close(back, np.fft.irfft(got.astype(np.complex128), n=n, norm=norm), n, single)
        assert_close(back, x, n, single)

    @pytest.mark.parametrize("shape, axes", [((5, 6, 7), None), ((5, 6, 7), (0, 2)), ((5, 6, 7), (2, 0)),
                                             ((9, 11), (1, 0)), ((4, 3, 13), (-1,)), ((2, 3, 4, 5), (1, 3))])
    @pytest.mark.parametrize("single", [False, True])
    def test_several_axes_and_permutations(self, shape, axes, single):
        ct = np.complex64 if single else np.complex128
        x = random_complex(shape, ct, seed=len(shape))
        n = max(shape)
        assert_close(nfft.fftn(x, axes=axes), np.fft.fftn(x.astype(np.complex128), axes=axes), n, single)
        assert_close(nfft.ifftn(x, axes=axes, norm="ortho"),
                     np.fft.ifftn(x.astype(np.complex128), axes=axes, norm="ortho"), n, single)
        r = x.real.copy()
        spectrum = nfft.rfftn(r, axes=axes)
        ref = np.fft.rfftn(r.astype(np.float64), axes=axes)
        assert spectrum.shape == ref.shape
        assert_close(spectrum, ref, n, single)
        s = [shape[a] for a in (axes if axes is not None else range(len(shape)))]
        back = nfft.irfftn(spectrum, s=s, axes=axes)
        assert_close(back, r, n, single)
        assert_close(back, np.fft.irfftn(ref, s=s, axes=axes if axes is not None else range(len(shape))), n,
                     single)

    def test_two_dimensional_and_sizes(self):
        x = random_complex((3, 10, 7), seed=9)
        assert_close(nfft.fft2(x, s=(12, 5)), np.fft.fft2(x, s=(12, 5)), 12, False)
        assert_close(nfft.ifft2(x, axes=(0, 2)), np.fft.ifft2(x, axes=(0, 2)), 10, False)
        assert_close(nfft.fft(x, n=17, axis=1), np.fft.fft(x, n=17, axis=1), 17, False)
        r = x.real
        assert_close(nfft.rfft2(r, s=(9, 8)), np.fft.rfft2(r, s=(9, 8)), 9, False)
        spectrum = np.fft.rfft2(r)
        assert_close(nfft.irfft2(spectrum, s=(10, 7)), np.fft.irfft2(spectrum, s=(10, 7)), 10, False)
        assert_close(nfft.irfft(spectrum, n=11), np.fft.irfft(spectrum, n=11), 11, False)
        assert_close(nfft.irfftn(spectrum), np.fft.irfftn(spectrum), 12, False)

    def test_real_equals_the_first_half_of_the_complex_transform(self):
        for n in (1, 2, 9, 16, 31):
            r = rng(n).standard_normal((4, n))
            assert_close(nfft.rfft(r), nfft.fft(r)[:, : n // 2 + 1], n, False)

    def test_workers_in_place_and_output(self):
        x = random_complex((30, 41, 19), seed=12)
        one = nfft.fftn(x)
        np.testing.assert_array_equal(nfft.fftn(x, workers=3), one)
        y = x.copy()
        assert nfft.fftn(y, output=y) is y
        np.testing.assert_array_equal(y, one)
        r = x.real.copy()
        spectrum = nfft.rfftn(r)
        np.testing.assert_array_equal(nfft.rfftn(r, workers=-1), spectrum)
        np.testing.assert_array_equal(nfft.irfftn(spectrum, s=r.shape, workers=2), nfft.irfftn(spectrum, s=r.shape))
        out = np.empty(spectrum.shape, spectrum.dtype)
        assert nfft.rfftn(r, output=out) is out
        np.testing.assert_array_equal(out, spectrum)
        # The inverse leaves its input unchanged.
        kept = spectrum.copy()
        nfft.irfftn(spectrum, s=r.shape)
        np.testing.assert_array_equal(spectrum, kept)

    def test_errors(self):
        with pytest.raises(TypeError, match="complex"):
            nfft.rfft(np.zeros(4, np.complex64))
        with pytest.raises(ValueError, match="norm"):
            nfft.fft(np.zeros(4), norm="none")
        with pytest.raises(TypeError, match="norm"):
            nfft.fft(np.zeros(4), norm=1)
        with pytest.raises(ValueError, match="twice"):
            nfft.fftn(np.zeros((4, 4)), axes=(0, 0))
        with pytest.raises(ValueError, match="axis"):
            nfft.rfftn(np.zeros((4, 4)), axes=(0, 2))
        with pytest.raises(ValueError, match="s"):
            nfft.fftn(np.zeros((4, 4)), s=(4, 4, 4), axes=(0, 1))
        with pytest.raises(ValueError, match="n"):
            nfft.rfft(np.zeros(4), n=0)
        with pytest.raises(ValueError, match="nothing"):
            nfft.irfft(np.zeros(1))
        with pytest.raises(TypeError, match="n"):
            nfft.irfft(np.zeros(3), n=2.5)
        assert nfft.rfft(np.zeros((0, 5))).shape == (0, 3)
        assert nfft.irfft(np.zeros((0, 5))).shape == (0, 8)


def test_axis_orders_agree_on_fast_lengths():
    # Planes and volumes of lengths 2^p 3^q 5^r, every axis at once and the
    # same transform in another axis order (other blocks of lines, other passes
    # first): both within the accuracy bound of NumPy.
    rng = np.random.default_rng(12)
    for shape, dtype, tol in [((12, 10, 16), np.complex64, 2e-6), ((3, 30, 18), np.complex128, 1e-13)]:
        x = (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)
        ref = np.fft.fftn(x.astype(np.complex128))
        for got in (nvf.fft.fftn(x), nvf.fft.fftn(x, axes=(2, 1, 0)), nvf.fft.fft2(x), nvf.fft.ifftn(nvf.fft.fftn(x))):
            assert got.dtype == dtype
        scale = np.abs(ref).max()
        np.testing.assert_allclose(nvf.fft.fftn(x), ref, rtol=0, atol=tol * scale)
        np.testing.assert_allclose(nvf.fft.fftn(x, axes=(2, 1, 0)), ref, rtol=0, atol=tol * scale)
        plane = np.fft.fft2(x.astype(np.complex128))
        np.testing.assert_allclose(nvf.fft.fft2(x), plane, rtol=0, atol=tol * np.abs(plane).max())
        np.testing.assert_allclose(nvf.fft.ifftn(nvf.fft.fftn(x)), x, rtol=0, atol=tol * np.abs(x).max() * 4)


# fft ... ifftn of real input along axes that include the last one take the real
# transform and fill the other half by conjugate symmetry; the same transform
# along other axes only (or of the same data as complex) takes the complex path:
# both against NumPy.
@pytest.mark.parametrize("dtype, single", [(np.float32, True), (np.float64, False), (np.int16, False)])
@pytest.mark.parametrize("n", [1, 2, 3, 4, 7, 16, 45, 97, 100])
@pytest.mark.parametrize("norm", [None, "ortho", "forward"])
@pytest.mark.parametrize("ours, ref", [(nfft.fft, np.fft.fft), (nfft.ifft, np.fft.ifft)])
def test_real_lines_through_the_half_spectrum(dtype, single, n, norm, ours, ref):
    x = (rng(n).standard_normal((5, n)) * 20).astype(dtype)
    want = ref(x.astype(np.float64), norm=norm)
    got = ours(x, norm=norm)
    assert got.dtype == (np.complex64 if single else np.complex128) and got.shape == x.shape
    assert_close(got, want, n, single)
    assert_close(ours(x.astype(got.dtype), norm=norm), want, n, single)
    assert_close(ours(np.ascontiguousarray(x.T), axis=0, norm=norm).T, want, n, single)
    out = np.empty(x.shape, got.dtype)
    assert ours(x, norm=norm, output=out) is out
    assert_close(out, want, n, single)
    padded = ours(x, n=n + 3, norm=norm)
    assert_close(padded, ref(x.astype(np.float64), n=n + 3, norm=norm), n + 3, single)


@pytest.mark.parametrize("shape, axes", [((5, 6, 7), None), ((5, 6, 7), (0, 2)), ((5, 6, 7), (2, 1)),
                                         ((6, 5, 8), (1, 0, 2)), ((1, 9), None), ((9, 1, 5), None),
                                         ((3, 1, 6), (1, 2)), ((1, 1, 3), None), ((2, 3, 4, 5), (0, 3))])
@pytest.mark.parametrize("dtype, single", [(np.float32, True), (np.float64, False)])
@pytest.mark.parametrize("norm", [None, "ortho", "forward"])
def test_real_volumes_through_the_half_spectrum(shape, axes, dtype, single, norm):
    x = rng(len(shape)).standard_normal(shape).astype(dtype)
    n = max(shape)
    for ours, ref in ((nfft.fftn, np.fft.fftn), (nfft.ifftn, np.fft.ifftn)):
        want = ref(x.astype(np.float64), axes=axes, norm=norm)
        got = ours(x, axes=axes, norm=norm)
        assert got.dtype == (np.complex64 if single else np.complex128) and got.shape == x.shape
        assert_close(got, want, n, single)
        assert_close(got, ours(x.astype(got.dtype), axes=axes, norm=norm), n, single)
        out = np.empty(x.shape, got.dtype)
        assert ours(x, axes=axes, norm=norm, output=out) is out
        np.testing.assert_array_equal(out, got)
    if axes is None and len(shape) >= 2:
        s = tuple(shape[:-2]) + (shape[-2] + 2, shape[-1] + 3)
        for ours, ref in ((nfft.fft2, np.fft.fft2), (nfft.ifft2, np.fft.ifft2)):
            assert_close(ours(x, s=s[-2:], norm=norm), ref(x.astype(np.float64), s=s[-2:], norm=norm), n + 3,
                         single)


# Real input along trailing axes (batch axes folded): the library writes the whole
# spectrum itself. Bit for bit the half spectrum of rfftn and its mirror image,
# conjugated as (re, 0 - im); the inverse is the conjugate of the forward
# transform with the inverse's scaling.
@pytest.mark.parametrize("shape, axes", [((5, 9), None), ((4, 6, 10), None), ((3, 4, 5, 8), (2, 3)),
                                         ((3, 4, 8), (2,)), ((6, 5, 7), (1, 2)), ((2, 3), None),
                                         ((7, 33, 2, 11), (3,)), ((3, 2, 4, 6), (1, 2, 3)), ((40, 37), (1,))])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("norm", [None, "ortho", "forward"])
def test_real_input_gives_the_half_spectrum_and_its_mirror_bit_for_bit(shape, axes, dtype, norm):
    x = rng(sum(shape)).standard_normal(shape).astype(dtype)
    ndim, n = len(shape), shape[-1]
    trailing = tuple(range(ndim))[-(len(axes) if axes else ndim):]
    h = n // 2 + 1
    swap = {None: "forward", "ortho": "ortho", "forward": None}
    for ours, half_norm, inverse in ((nfft.fftn, norm, False), (nfft.ifftn, swap[norm], True)):
        half = nfft.rfftn(x, axes=trailing, norm=half_norm)
        mirror = half
        for ax in trailing[:-1]:
            mirror = np.roll(np.flip(mirror, ax), 1, ax)
        tail = mirror[..., n - h:0:-1]
        want = np.empty(shape, half.dtype)
        want.real[..., :h], want.real[..., h:] = half.real, tail.real
        if inverse:
            want.imag[..., :h], want.imag[..., h:] = np.subtract(0, half.imag), tail.imag
        else:
            want.imag[..., :h], want.imag[..., h:] = half.imag, np.subtract(0, tail.imag)
        for workers in (1, 3):
            got = ours(x, axes=axes, norm=norm, workers=workers)
            np.testing.assert_array_equal(got.view(x.dtype), want.view(x.dtype))
            np.testing.assert_array_equal(np.signbit(got.view(x.dtype)), np.signbit(want.view(x.dtype)))


# Whole-volume transforms run two axes of a slab while it is in cache (volumes
# of 4 slices or more): bit for bit the same as one axis after the other over
# the whole array, last axis first, on any number of threads; the inverse real
# transform of a volume against NumPy and its own result on threads.
@pytest.mark.parametrize("shape", [(4, 6, 10), (5, 7, 9), (3, 8, 8), (6, 1, 5), (9, 12, 15), (4, 5, 1)])
@pytest.mark.parametrize("single", [True, False])
@pytest.mark.parametrize("norm", [None, "ortho", "forward"])
def test_volumes_by_slabs_equal_axis_by_axis(shape, single, norm):
    x = random_complex(shape, np.complex64 if single else np.complex128, seed=sum(shape))
    r = x.real.copy()
    h = shape[2] // 2 + 1
    for whole, one in ((nfft.fftn, nfft.fft), (nfft.ifftn, nfft.ifft)):
        want = x
        for ax in (2, 1, 0):
            want = one(want, axis=ax, norm=norm)
        for workers in (1, 3):
            np.testing.assert_array_equal(whole(x, norm=norm, workers=workers), want)
        # Two of the axes: the slab pair alone, and an axis of the slab with axis 0.
        for axes in ((1, 2), (0, 2)):
            want = x
            for ax in reversed(axes):
                want = one(want, axis=ax, norm=norm)
            np.testing.assert_array_equal(whole(x, axes=axes, norm=norm, workers=3), want)
    half = nfft.rfft(r, norm=norm)
    for ax in (1, 0):
        half = nfft.fft(half, axis=ax, norm=norm)
    for workers in (1, 3):
        np.testing.assert_array_equal(nfft.rfftn(r, norm=norm, workers=workers), half)
        np.testing.assert_array_equal(nfft.fftn(r, norm=norm, workers=workers)[..., :h], half)
    back = nfft.irfftn(half, s=shape, norm=norm)
    assert_close(back, np.fft.irfftn(half.astype(np.complex128), s=shape, axes=(0, 1, 2), norm=norm), max(shape),
                 single)
    np.testing.assert_array_equal(nfft.irfftn(half, s=shape, norm=norm, workers=3), back)


def test_real_lines_give_positive_zero_imaginary_parts_like_the_complex_path():
    # Conjugation through the half spectrum must not turn an exact zero into -0.
    for n in (6, 7, 8):
        for f in (nfft.fft, nfft.ifft, nfft.fftn, nfft.ifftn):
            got = f(np.ones((2, n)))
            same = f(np.ones((2, n), np.complex128))
            assert not np.signbit(got.imag[got.imag == 0]).any(), (f.__name__, n)
            np.testing.assert_array_equal(np.signbit(got.imag) & (got.imag == 0),
                                          np.signbit(same.imag) & (same.imag == 0))


def test_inverse_real_lines_read_the_spectrum_where_it_is():
    # One axis: the spectrum is read in place (a read-only one too) and left as it
    # was; an output sharing its memory still gets the transform of the input.
    x = rng(3).standard_normal((6, 10))
    spectrum = np.fft.rfft(x)
    spectrum.flags.writeable = False
    kept = spectrum.copy()
    np.testing.assert_allclose(nfft.irfft(spectrum), x, rtol=0, atol=1e-14)
    np.testing.assert_array_equal(spectrum, kept)
    buffer = np.zeros(72, np.float64)
    shared = buffer.view(np.complex128).reshape(6, 6)
    shared[...] = kept
    out = buffer[:60].reshape(6, 10)
    assert nfft.irfft(shared, n=10, output=out) is out
    np.testing.assert_allclose(out, x, rtol=0, atol=1e-14)
