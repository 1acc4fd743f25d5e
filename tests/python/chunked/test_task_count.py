"""Halo filters in two tasks per chunk: the input's own task and one task that
reads the chunk and its neighbours directly, assembles the halo and filters."""

import numpy as np
import pytest

da = pytest.importorskip("dask.array")

import nvfiltering.dask as nvd  # noqa: E402


CALLS = [
    lambda x: nvd.gaussian_filter(x, 2.0),
    lambda x: nvd.grey_closing(x, iterations=2),
    lambda x: nvd.regional_maxima(x),
    lambda x: nvd.dilate(x),
]
IDS = ["gaussian", "grey_closing", "regional_maxima", "dilate"]


@pytest.mark.parametrize("call", CALLS, ids=IDS)
def test_two_tasks_per_chunk(call):
    a = np.random.default_rng(0).integers(0, 200, (24, 30, 36), dtype=np.uint8)
    x = da.from_array(a, chunks=(8, 10, 12))
    result = call(x)
    chunks = int(np.prod(result.numblocks))
    tasks = len(dict(result.__dask_graph__()))
    # from_array: one task per chunk and one for the array itself.
    assert tasks <= 2 * chunks + 1, f"{tasks} tasks for {chunks} chunks"


@pytest.mark.parametrize("call", CALLS + [lambda x: nvd.gaussian_gradient(x, 1.5),
                                          lambda x: nvd.gaussian_filter(x, 1.0, order=(0, 2, 0), mode="reflect")],
                         ids=IDS + ["gradient", "gaussian_reflect"])
def test_rims_one_more_task_per_chunk_same_bits(call):
    # Irregular chunks, some thinner than a halo (merged first), and a chunk
    # grid of one along the last axis (no halo there).
    a = np.random.default_rng(1).integers(0, 200, (37, 45, 11), dtype=np.uint8)
    x = da.from_array(a, chunks=((10, 9, 14, 4), (12, 3, 20, 10), (11,)))
    import dask
    with dask.config.set({"nvfiltering.rims": False}):
        whole = call(x)
    with dask.config.set({"nvfiltering.rims": True}):
        rims = call(x)
    def named(graph, prefix):
        return len([k for k in dict(graph.__dask_graph__()) if isinstance(k, tuple) and str(k[0]).startswith(prefix)])

    halos = named(rims, "nvf-halo-")
    assert 0 < named(rims, "nvf-rims-") <= halos and named(whole, "nvf-rims-") == 0
    assert len(dict(rims.__dask_graph__())) <= len(dict(whole.__dask_graph__())) + halos
    got, want = dask.compute(rims, whole, scheduler="threads")
    np.testing.assert_array_equal(got, want)
