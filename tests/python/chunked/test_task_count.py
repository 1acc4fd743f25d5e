"""Halo filters in two tasks per chunk: the input's own task and one task that
reads the chunk and its neighbours directly, assembles the halo and filters."""

import numpy as np
import pytest

da = pytest.importorskip("dask.array")

import nvfiltering.dask as nvd  # noqa: E402


@pytest.mark.parametrize("call", [
    lambda x: nvd.gaussian_filter(x, 2.0),
    lambda x: nvd.grey_closing(x, iterations=2),
    lambda x: nvd.regional_maxima(x),
    lambda x: nvd.dilate(x),
], ids=["gaussian", "grey_closing", "regional_maxima", "dilate"])
def test_two_tasks_per_chunk(call):
    a = np.random.default_rng(0).integers(0, 200, (24, 30, 36), dtype=np.uint8)
    x = da.from_array(a, chunks=(8, 10, 12))
    result = call(x)
    chunks = int(np.prod(result.numblocks))
    tasks = len(dict(result.__dask_graph__()))
    # from_array: one task per chunk and one for the array itself.
    assert tasks <= 2 * chunks + 1, f"{tasks} tasks for {chunks} chunks"
