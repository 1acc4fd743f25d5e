"""Memory as Dask sees it: every chunk a halo filter returns owns exactly the
bytes Dask counts for it (no view that keeps a grown block alive), and a
volume larger than the workers' memory runs through workers with a memory
limit without any of them pausing or being restarted."""

import pathlib

import numpy as np
import pytest

da = pytest.importorskip("dask.array")

import nvfiltering.dask as nvd  # noqa: E402


def nvd_kernel():
    import nvfiltering
    return nvfiltering.Kernel([0.25, 0.5, 0.25])


def held_root(array):
    """The buffer at the root of an array's views."""
    while isinstance(array, np.ndarray) and array.base is not None:
        array = array.base
    return array


def held(array):
    """The bytes an array keeps alive: those of the buffer at the root of its views."""
    root = held_root(array)
    return root.nbytes if isinstance(root, np.ndarray) else memoryview(root).nbytes


CALLS = {
    "gaussian": lambda x: nvd.gaussian_filter(x, 1.5),
    "gaussian_nearest": lambda x: nvd.gaussian_filter(x, 1.5, mode="nearest"),
    "gradient": lambda x: nvd.gaussian_gradient(x, 1.0),
    "dilate": lambda x: nvd.dilate(x > 100, iterations=2),
    "grey_closing": lambda x: nvd.grey_closing(x, iterations=2),
    "regional_maxima": lambda x: nvd.regional_maxima(x),
    "separable": lambda x: nvd.separable_filter(x, [nvd_kernel()] * 3, vectors=False),
    "pyramid": lambda x: nvd.pyramid_down(x),
}


@pytest.mark.parametrize("name", sorted(CALLS))
def test_chunks_own_their_memory(name):
    from dask.callbacks import Callback

    a = np.random.default_rng(1).integers(0, 200, (27, 31, 33), dtype=np.uint8)
    result = CALLS[name](da.from_array(a, chunks=(9, 11, 10)))
    seen = []

    def check(key, value, dsk, state, id):
        # The input's own tasks (slices of the source array) are Dask's; the
        # library's tasks carry its prefix.
        name_of = key[0] if isinstance(key, tuple) else key
        if str(name_of).startswith("nvf-") and isinstance(value, np.ndarray):
            seen.append(str(name_of))
            assert held(value) <= value.nbytes, f"{key}: {value.shape} keeps {held(value)} bytes alive"

    with Callback(posttask=check):
        result.compute(scheduler="sync")
    assert seen, "no task of the library was checked"


def test_larger_than_memory_without_pausing(tmp_path):
    """A volume that with its float32 result is larger than the workers'
    memory together, Zarr in and out, through two workers of 384 MiB: none
    pauses, none is restarted, and the stored result is the in-memory one."""
    pytest.importorskip("distributed")
    zarr = pytest.importorskip("zarr")
    import nvfiltering
    import workersetup

    if workersetup.under_address_sanitizer():
        pytest.skip("workers' memory under AddressSanitizer is not the library's")
    shape, chunks = (768, 512, 512), (128, 128, 128)

    def block(block_info=None):
        (z0, z1), (y0, y1), (x0, x1) = block_info[None]["array-location"]
        rng = np.random.default_rng(z0 * 7919 + y0 * 104729 + x0)
        return rng.integers(0, 256, (z1 - z0, y1 - y0, x1 - x0), dtype=np.uint8)

    source = da.map_blocks(block, dtype=np.uint8, chunks=da.core.normalize_chunks(chunks, shape),
                           meta=np.empty((0, 0, 0), np.uint8))
    source.to_zarr(str(tmp_path / "in.zarr"))
    limit = 384 * 2**20
    assert np.prod(shape) * (1 + 4) > 2 * limit

    # The output array is made here and written chunk for chunk: how to_zarr passes creation options
    # differs between Dask releases, and given an existing array it may rechunk to larger writes.
    target = zarr.create_array(str(tmp_path / "out.zarr"), shape=shape, chunks=chunks, dtype=np.float32,
                               compressors=None)
    stored = da.store(nvd.gaussian_filter(da.from_zarr(str(tmp_path / "in.zarr")), 2.0), target,
                      lock=False, compute=False)
    workersetup.compute_within_memory_limit([stored], limit,
                                             str(pathlib.Path(__file__).parents[3] / "python" / "nvfiltering"))

    out = zarr.open_array(str(tmp_path / "out.zarr"), mode="r")
    assert out.shape == shape and out.dtype == np.float32
    # One chunk away from every edge against the whole-array filter of its neighbourhood.
    region = tuple(slice(128, 256) for _ in shape)
    around = tuple(slice(0, 384) for _ in shape)
    src = zarr.open_array(str(tmp_path / "in.zarr"), mode="r")[around]
    whole = nvfiltering.gaussian_filter(src, 2.0)[region]
    bound = nvd.gaussian_error_bound(2.0, ndim=3) * 255
    assert np.abs(out[region] - whole).max() <= bound


@pytest.mark.parametrize("name", ["gaussian", "gradient"])
def test_reused_buffers_bit_for_bit_on_threads(name):
    # The Gaussians assemble and filter in buffers each thread reuses; chunks
    # of different shapes in turn on three threads give what one thread gives,
    # and every chunk is its own array.
    a = np.random.default_rng(2).integers(0, 250, (29, 23, 37), dtype=np.uint8)
    x = da.from_array(a, chunks=(7, 9, 16))
    result = CALLS[name](x)
    one = result.compute(scheduler="sync")
    three = result.compute(scheduler="threads", num_workers=3)
    np.testing.assert_array_equal(one, three)
    blocks = [b.compute(scheduler="threads", num_workers=3) for b in result.to_delayed().ravel()]
    assert len({id(held_root(b)) for b in blocks}) == len(blocks)
