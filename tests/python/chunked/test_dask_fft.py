"""Distributed FFTs of arrays chunked along every axis, against the whole-array
transform within the FFT's accuracy bound (relative RMS error below 5e-7 log2(n)
in single and 1e-15 log2(n) in double precision for each of the two)."""

import dask
import dask.array as da
import numpy as np
import pytest

RNG = np.random.default_rng(11)


def rel_rms(a, b):
    return np.sqrt(np.mean(np.abs(a - b) ** 2) / np.mean(np.abs(b) ** 2))


def bound(dtype, n):
    return 2 * (5e-7 if dtype in (np.complex64, np.float32) else 1e-15) * np.log2(n)


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128, np.float32])
@pytest.mark.parametrize("shape, chunks", [((24, 30, 20), (7, 11, 6)), ((48, 45), (13, 10)), ((16, 9, 25), (16, 3, 5))])
def test_fftn_matches_whole(nv, nvd, dtype, shape, chunks):
    x = RNG.normal(size=shape).astype(dtype)
    if np.iscomplexobj(x):
        x = x + 1j * RNG.normal(size=shape).astype(dtype)
    whole = nv.fft.fftn(x)
    lazy = nvd.fftn(da.from_array(x, chunks=chunks), chunk_bytes=4096)
    assert lazy.dtype == whole.dtype
    # Never one chunk holding every transformed axis: the passes split the array.
    assert max(lazy.numblocks) > 1
    with dask.config.set(scheduler="threads", num_workers=2):
        chunked = lazy.compute()
        back = nvd.ifftn(da.from_array(chunked, chunks=chunks), chunk_bytes=4096).compute()
    assert rel_rms(chunked, whole) <= bound(whole.dtype, x.size)
    assert rel_rms(back, nv.fft.ifftn(whole)) <= 2 * bound(whole.dtype, x.size)
    assert rel_rms(back, x) <= 2 * bound(whole.dtype, x.size)


def test_fft2_of_volume_slices(nv, nvd):
    x = RNG.normal(size=(5, 36, 40)) + 1j * RNG.normal(size=(5, 36, 40))
    lazy = nvd.fft2(da.from_array(x, chunks=(2, 9, 10)), chunk_bytes=8192)
    with dask.config.set(scheduler="threads"):
        chunked = lazy.compute()
    assert rel_rms(chunked, nv.fft.fft2(x)) <= bound(np.complex128, 36 * 40)


def test_fft_takes_any_length_and_rejects_empty_axes_and_dimensions(nv, nvd):
    x = (RNG.normal(size=(13, 14)) + 1j * RNG.normal(size=(13, 14))).astype(np.complex64)
    with dask.config.set(scheduler="threads"):
        chunked = nvd.fftn(da.from_array(x, chunks=4), chunk_bytes=256).compute()
    assert rel_rms(chunked, nv.fft.fftn(x)) <= bound(np.complex64, x.size)
    with pytest.raises(ValueError, match="nothing"):
        nvd.fftn(da.zeros((8, 0), chunks=4, dtype=np.complex64))
    with pytest.raises(ValueError, match="dimensions"):
        nvd.fftn(da.zeros((8,), chunks=4, dtype=np.complex64))
    # output=None as in the in-memory signatures; an array is refused, as by the chunked filters.
    lazy = da.from_array(x, chunks=4)
    for name in ("fft", "ifft", "fft2", "ifft2", "fftn", "ifftn", "irfft", "irfft2", "irfftn"):
        assert getattr(nvd, name)(lazy, output=None).shape[0] == 13
        with pytest.raises(TypeError, match="output"):
            getattr(nvd, name)(lazy, output=np.empty_like(x))
    for name in ("rfft", "rfft2", "rfftn"):
        with pytest.raises(TypeError, match="output"):
            getattr(nvd, name)(lazy.real, output=np.empty_like(x))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("shape, chunks", [((24, 30, 21), (7, 11, 6)), ((48, 45), (13, 10)), ((5, 36, 40), (2, 9, 10))])
def test_real_transforms_match_whole(nv, nvd, dtype, shape, chunks):
    x = RNG.normal(size=shape).astype(dtype)
    whole = nv.fft.rfftn(x)
    lazy = nvd.rfftn(da.from_array(x, chunks=chunks), chunk_bytes=4096)
    assert lazy.dtype == whole.dtype and lazy.shape == whole.shape
    with dask.config.set(scheduler="threads", num_workers=2):
        chunked = lazy.compute()
        back = nvd.irfftn(da.from_array(chunked, chunks=chunks), s=shape, chunk_bytes=4096).compute()
        slices = nvd.rfft2(da.from_array(x, chunks=chunks), chunk_bytes=4096).compute()
    assert rel_rms(chunked, whole) <= bound(whole.dtype, x.size)
    assert back.dtype == x.dtype and back.shape == x.shape
    assert rel_rms(back, x) <= 2 * bound(whole.dtype, x.size)
    assert rel_rms(slices, nv.fft.rfft2(x)) <= bound(whole.dtype, x.size)


@pytest.mark.parametrize("norm", [None, "ortho", "forward"])
def test_one_axis_and_chosen_axes_against_numpy(nvd, norm):
    # Odd lengths, the transformed axes split into several chunks by the chunk
    # budget, batch axes chunked as given; NumPy's transforms are the reference.
    x = RNG.normal(size=(9, 22, 15)) + 1j * RNG.normal(size=(9, 22, 15))
    r = RNG.normal(size=(9, 22, 15)).astype(np.float32)
    lazy, lazy_real = da.from_array(x, chunks=(4, 5, 6)), da.from_array(r, chunks=(4, 5, 6))
    cases = [
        (nvd.fft(lazy, axis=1, n=25, norm=norm, chunk_bytes=2048), np.fft.fft(x, axis=1, n=25, norm=norm)),
        (nvd.ifft(lazy, 0, norm=norm, chunk_bytes=2048), np.fft.ifft(x, axis=0, norm=norm)),
        (nvd.fftn(lazy, axes=(2, 0), s=(12, 11), norm=norm, chunk_bytes=2048),
         np.fft.fftn(x, axes=(2, 0), s=(12, 11), norm=norm)),
        (nvd.rfft(lazy_real, axis=0, norm=norm, chunk_bytes=2048), np.fft.rfft(r, axis=0, norm=norm)),
        (nvd.rfftn(lazy_real, axes=(0, 2), norm=norm, chunk_bytes=2048), np.fft.rfftn(r, axes=(0, 2), norm=norm)),
        (nvd.irfft(lazy, axis=1, n=40, norm=norm, chunk_bytes=2048), np.fft.irfft(x, axis=1, n=40, norm=norm)),
        (nvd.irfftn(lazy, axes=(2, 1), s=(14, 30), norm=norm, chunk_bytes=2048),
         np.fft.irfftn(x, axes=(2, 1), s=(14, 30), norm=norm)),
    ]
    with dask.config.set(scheduler="threads", num_workers=2):
        for lazy_result, expected in cases:
            got = lazy_result.compute()
            assert got.shape == expected.shape
            assert rel_rms(got, expected) <= bound(np.complex64 if got.dtype in (np.complex64, np.float32)
                                                   else np.complex128, expected.size), lazy_result.name
    # The forward and inverse transforms with the same norm undo each other.
    back = nvd.irfftn(nvd.rfftn(lazy_real, axes=(0, 2), norm=norm), axes=(0, 2), s=(9, 15), norm=norm)
    assert rel_rms(back.compute(scheduler="threads"), r) <= 2 * bound(np.complex64, r.size)
