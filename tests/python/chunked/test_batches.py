"""``axes=`` of the chunked filters: batch axes chunked anyhow, no halo along
them, the result equal to the in-memory function's on the whole array (the
Gaussians: to the chunked function on each item)."""

import numpy as np
import pytest

da = pytest.importorskip("dask.array")

import nvfiltering as nvf  # noqa: E402
import nvfiltering.dask as nvd  # noqa: E402

RNG = np.random.default_rng(1209)

EXACT = [
    # name, in-memory, chunked, array, chunks, axes
    ("pyramid", nvf.pyramid_down, nvd.pyramid_down,
     RNG.integers(0, 65536, (3, 2, 11, 14), dtype=np.uint16), (2, 1, 6, 7), (2, 3)),
    ("separable", lambda a, **kw: nvf.separable_filter(a, nvf.Kernel([0.25, 0.5, 0.25], center=1), **kw),
     lambda a, **kw: nvd.separable_filter(a, nvf.Kernel([0.25, 0.5, 0.25], center=1), **kw),
     RNG.standard_normal((9, 3, 8)).astype(np.float32), (4, 2, 3), (0, 2)),
    ("dilate", nvf.dilate, nvd.dilate, RNG.random((2, 3, 9, 7)) < 0.2, (1, 2, 4, 3), (1, 2, 3)),
    ("grey", lambda a, **kw: nvf.grey_closing(a, iterations=2, **kw),
     lambda a, **kw: nvd.grey_closing(a, iterations=2, **kw),
     RNG.integers(-999, 999, (4, 10, 9), dtype=np.int16), (3, 4, 5), (-2, -1)),
    ("maxima", nvf.regional_maxima, nvd.regional_maxima,
     RNG.integers(0, 5, (2, 7, 8, 9), dtype=np.uint8), (1, 3, 4, 5), (1, 2, 3)),
]


@pytest.mark.parametrize("name, memory, chunked, array, chunks, axes", EXACT, ids=[c[0] for c in EXACT])
def test_chunked_batches_equal_the_whole_array(name, memory, chunked, array, chunks, axes):
    lazy = chunked(da.from_array(array, chunks=chunks), axes=axes)
    np.testing.assert_array_equal(lazy.compute(), memory(array, axes=axes))


def test_chunked_batched_label_counts_and_sizes():
    import dask
    a = RNG.random((2, 3, 9, 10)) < 0.4
    labels, counts = nvd.label(da.from_array(a, chunks=(1, 2, 4, 5)), axes=(2, 3))
    whole, whole_counts, whole_sizes = nvf.label(a, axes=(2, 3), return_sizes=True)
    np.testing.assert_array_equal(labels.compute(), whole)
    np.testing.assert_array_equal(counts.compute(), whole_counts)
    # The sizes: nested lists of the batch shape, item (i, j) going with count (i, j).
    lazy = nvd.label(da.from_array(a, chunks=(1, 2, 4, 5)), axes=(2, 3), return_sizes=True)
    _, got_counts, got_sizes = dask.compute(*lazy)
    assert len(got_sizes) == 2 and all(len(row) == 3 for row in got_sizes)
    for i in range(2):
        for j in range(3):
            assert len(got_sizes[i][j]) == got_counts[i, j]
            np.testing.assert_array_equal(got_sizes[i][j], whole_sizes[i, j])
    no_voxels = dask.compute(*nvd.label(da.zeros((2, 0, 4), dtype=bool), axes=(1, 2), return_sizes=True))
    assert [len(s) for s in no_voxels[2]] == [0, 0] and no_voxels[1].tolist() == [0, 0]
    no_items = nvd.label(da.zeros((0, 3, 4), dtype=bool), axes=(1, 2), return_sizes=True)
    assert no_items[2] == [] and no_items[1].shape == (0,)
    with pytest.raises(TypeError, match="return_sizes"):
        nvd.label(da.zeros((4, 4), dtype=bool), return_sizes=1)


def test_chunked_batched_gaussians_are_the_chunked_filter_per_item():
    a = RNG.standard_normal((2, 12, 13)).astype(np.float32)
    x = da.from_array(a, chunks=(1, 5, 6))
    got = nvd.gaussian_filter(x, (2.0, 1.0), (0, 1), axes=(2, 1)).compute()
    for i in range(2):
        item = nvd.gaussian_filter(da.from_array(a[i], chunks=(5, 6)), (1.0, 2.0), (1, 0)).compute()
        np.testing.assert_array_equal(got[i], item)
    g = nvd.gaussian_gradient(x, 1.0, spacing=(2.0, 0.5), axes=(2, 1)).compute()
    item = nvd.gaussian_gradient(da.from_array(a[1], chunks=(5, 6)), 1.0, spacing=(0.5, 2.0)).compute()
    np.testing.assert_array_equal(g[1, ..., 0], item[..., 1])
    np.testing.assert_array_equal(g[1, ..., 1], item[..., 0])


def test_chunked_batches_refuse_what_in_memory_refuses():
    x = da.zeros((2, 3, 4, 5), chunks=2, dtype=np.uint8)
    for bad, error in [((0, 0), ValueError), ((4,), ValueError), ((0, 1, 2, 3), ValueError), ((1.5,), TypeError)]:
        with pytest.raises(error):
            nvd.dilate(x, axes=bad)
        with pytest.raises(error):
            nvf.dilate(np.zeros((2, 3, 4, 5), np.uint8), axes=bad)
