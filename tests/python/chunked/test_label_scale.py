"""Chunked labelling at scale: the size of its graph per chunk, the work of
building it, what its tasks keep alive, and the labels and the count computed
one after the other on a cluster without a word from Dask."""

import logging
import warnings

import dask
import dask.callbacks
import dask.array as da
import numpy as np
import pytest
from dask.core import get_dependencies


def prefix(key):
    name = key[0] if isinstance(key, tuple) else key
    return str(name).rsplit("-", 1)[0]


def graph_of(labels, count):
    graph = dict(labels.__dask_graph__())
    graph.update(count.__dask_graph__())
    return graph


def dependents_of(graph):
    out = {k: set() for k in graph}
    for k in graph:
        for d in get_dependencies(graph, k):
            if d in out:
                out[d].add(k)
    return out


# Grids of many small chunks, the input's own tasks (one per chunk and the
# array) and the second reading of them counted.
GRIDS = [
    ((12, 12, 12), 6), ((12, 12, 12), 26), ((9, 13, 10), 18), ((5, 7, 9), 6),
    ((60, 60), 4), ((37, 81), 8), ((3000,), 2),
]


@pytest.mark.parametrize("grid, connectivity", GRIDS)
def test_label_at_most_12_tasks_per_chunk(nvd, grid, connectivity):
    x = da.from_array(np.zeros(grid, np.uint8), chunks=1)
    graph = graph_of(*nvd.label(x, connectivity=connectivity))
    chunks = int(np.prod(grid))
    assert len(graph) <= 12 * chunks, f"{len(graph) / chunks:.2f} tasks per chunk"
    # The tree of the join: about one node per seven chunks, five tasks each.
    nodes = sum(1 for k in graph if prefix(k) == "join-up")
    assert nodes <= chunks / 4


def edges(grid, nvd):
    """Dependencies per chunk, and the most a task other than the join's nodes
    has (a node reads the pairs of every chunk on the planes that cut its box)."""
    x = da.from_array(np.zeros(grid, np.uint8), chunks=1)
    graph = graph_of(*nvd.label(x))
    counts = {k: len(get_dependencies(graph, k)) for k in graph}
    return (sum(counts.values()) / int(np.prod(grid)),
            max(c for k, c in counts.items() if prefix(k) not in ("join-up", "checkpoint")))


@pytest.mark.parametrize("small, large", [((4, 4, 4), (16, 16, 16)), ((8, 8), (64, 64)), ((64,), (4096,))])
def test_label_graph_grows_linearly(nvd, small, large):
    # Every chunk's counts before and after it come from a prefix sum (a step
    # of two tables), not from the tables of every chunk before it: the
    # dependencies per chunk stay the same however many chunks there are
    # along an axis, and no task but the join's nodes reads more than a few
    # dozen others (a node of the tree: its parts and their parents).
    per_small, most_small = edges(small, nvd)
    per_large, most_large = edges(large, nvd)
    assert per_large <= per_small * 1.15 + 1
    assert max(most_small, most_large) <= 2 * 27 + 2


def test_label_graph_built_without_quadratic_work(nvd, monkeypatch):
    # The tasks made (and their inline steps), counted as the graph is built
    # for N and for 8 N chunks.
    from nvfiltering.dask import _graph

    made = {"n": 0}
    step_init = _graph.Step.__init__

    def counted(self, *args, **kwargs):
        made["n"] += 1
        step_init(self, *args, **kwargs)

    monkeypatch.setattr(_graph.Step, "__init__", counted)
    calls = []
    for grid in ((6, 6, 6), (12, 12, 12)):
        made["n"] = 0
        x = da.from_array(np.zeros(grid, np.uint8), chunks=1)
        nvd.label(x, connectivity=26)
        calls.append(made["n"] / int(np.prod(grid)))
    assert calls[1] <= calls[0] * 1.1


def test_label_faces_released_before_the_join_answers(nvd):
    # A chunk's summary (which holds its faces) is read only by the tasks that
    # pair it with its neighbours and by its leaf of the join; the leaf (its
    # components inside and its boundary) only by the join above it, the size
    # histogram and its counts by position. Nothing that waits for the root
    # of the join keeps either alive.
    x = da.from_array((np.random.default_rng(3).random((12, 15, 16)) < 0.3).astype(np.uint8), chunks=(4, 5, 4))
    graph = graph_of(*nvd.label(x, connectivity=26))
    after = dependents_of(graph)
    summaries = [k for k in graph if prefix(k) == "boundary"]
    assert len(summaries) == 3 * 3 * 4
    leaves = set()
    for k in summaries:
        names = {prefix(d) for d in after[k]}
        assert names <= {"contact_pairs", "join-open"}, names
        leaves |= {d for d in after[k] if prefix(d) == "join-open"}
    assert len(leaves) == len(summaries)
    for k in leaves:
        assert {prefix(d) for d in after[k]} <= {"join-up", "merge_counts-sizes", "position_counts"}
    # The ranking's own components are read by the ranking only.
    for k in graph:
        if prefix(k) == "position_counts":
            assert {prefix(d) for d in after[k]} <= {"rank_components", "merge_counts-before",
                                                     "merge_counts-row"}


@pytest.mark.parametrize("shape, chunks", [((5, 6, 60), (5, 3, 2)), ((60, 6, 5), (2, 6, 1)), ((6, 60, 5), (3, 2, 5)),
                                           ((3, 40, 41), (1, 1, 41)), ((37, 53), (1, 53))])
def test_label_long_rows_of_chunks(nv, nvd, shape, chunks):
    # Long prefix sums along every axis in turn, with many ties of sizes.
    rng = np.random.default_rng(sum(shape))
    x = (rng.random(shape) < 0.07).astype(np.uint8)
    for kw in ({}, {"min_size": 2}, {"connectivity": 26 if x.ndim == 3 else 8}):
        whole, whole_count = nv.label(x, **kw)
        with dask.config.set(scheduler="sync"):
            labels, count = dask.compute(*nvd.label(da.from_array(x, chunks=chunks), **kw))
        np.testing.assert_array_equal(labels, whole)
        assert int(count) == int(whole_count) > 5


def test_label_more_components_than_labels_is_an_error(nv, nvd, monkeypatch):
    # The count decides whether the labels can number the components: the
    # limit lowered to 40 here, where 2^32 - 1 needs a volume of 2^32 voxels.
    from nvfiltering.dask import _label as chunked

    x = np.zeros((8, 9, 10), np.uint8)
    x[::2, ::2, ::2] = 1  # 4 * 5 * 5 = 100 single voxels
    x[0, :, 0] = 1  # and one line of 9
    monkeypatch.setattr(chunked, "MAX_LABEL", 40)
    labels, count = nvd.label(da.from_array(x, chunks=(3, 4, 5)))
    with dask.config.set(scheduler="sync"), pytest.raises(nv.Error, match="more components than 32-bit labels"):
        dask.compute(labels, count)
    kept, count = nvd.label(da.from_array(x, chunks=(3, 4, 5)), keep=1)
    with dask.config.set(scheduler="sync"):
        kept, count = dask.compute(kept, count)
    assert int(count) == 1
    np.testing.assert_array_equal(kept, nv.label(x, keep=1)[0])


class Records(logging.Handler):
    def __init__(self):
        super().__init__(logging.DEBUG)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def test_label_then_count_on_a_cluster_is_quiet(nv, nvd):
    # As a user writes it: the labels computed, then the count, then both at
    # once, on a cluster of two workers. The scheduler logs a task submitted
    # again under a key it knows with another definition; nothing may be
    # logged at warning level or warned.
    distributed = pytest.importorskip("distributed")
    rng = np.random.default_rng(5)
    x = (rng.random((21, 26, 23)) < 0.3).astype(np.uint8)
    whole, whole_count = nv.label(x)
    records = Records()
    logger = logging.getLogger("distributed")
    logger.addHandler(records)
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                          dashboard_address=":0") as cluster, distributed.Client(cluster):
                labels, count = nvd.label(da.from_array(x, chunks=(7, 9, 8)))
                first = labels.compute()
                n = count.compute()
                both, n_both = dask.compute(labels, count)
                # The other way round, on a graph of its own.
                labels, count = nvd.label(da.from_array(x, chunks=(7, 9, 8)), connectivity=26)
                n26 = count.compute()
                labels26 = labels.compute()
    finally:
        logger.removeHandler(records)
    np.testing.assert_array_equal(first, whole)
    np.testing.assert_array_equal(both, whole)
    assert int(n) == int(n_both) == int(whole_count)
    np.testing.assert_array_equal(labels26, nv.label(x, connectivity=26)[0])
    assert int(n26) == int(nv.label(x, connectivity=26)[1])
    assert not [m for m in records.messages if m.startswith("Detected different")], records.messages
    assert not [str(w.message) for w in caught if issubclass(w.category, (UserWarning, FutureWarning,
                                                                           DeprecationWarning))]


class Views(dask.callbacks.Callback):
    """Arrays in the labelling's task results that are views of a larger
    array (which they would keep alive, unseen by Dask's accounting)."""

    def __init__(self, token):
        super().__init__()
        self.token, self.views, self.seen = token, [], 0

    def arrays(self, value):
        if isinstance(value, np.ndarray):
            yield value
        elif isinstance(value, dict):
            for v in value.values():
                yield from self.arrays(v)
        elif isinstance(value, (list, tuple)):
            for v in value:
                yield from self.arrays(v)

    def _posttask(self, key, result, dsk, state, worker_id):
        name = str(key[0] if isinstance(key, tuple) else key)
        if self.token not in name:
            return
        for a in self.arrays(result):
            self.seen += 1
            base = a
            while isinstance(base.base, np.ndarray):
                base = base.base
            if base is not a and base.nbytes > a.nbytes:
                self.views.append((prefix(key), a.shape, base.shape))


def test_label_results_hold_no_views_of_larger_arrays(nv, nvd):
    # What a task returns is what it holds: no face, table or list is a view
    # that keeps a chunk's labels (or any larger array) alive.
    rng = np.random.default_rng(9)
    x = (rng.random((20, 23, 26)) < 0.2).astype(np.uint8)
    for connectivity in (6, 26):
        labels, count = nvd.label(da.from_array(x, chunks=(7, 8, 9)), connectivity=connectivity, min_size=2)
        token = labels.name.rsplit("-", 1)[1]
        with dask.config.set(scheduler="sync"), Views(token) as seen:
            result, n = dask.compute(labels, count)
        np.testing.assert_array_equal(result, nv.label(x, connectivity=connectivity, min_size=2)[0])
        assert seen.seen > 500
        assert not seen.views, seen.views[:5]


def test_label_larger_than_memory_without_pausing(nv, nvd, tmp_path):
    """A speckled volume that with its uint32 labels is larger than the
    workers' memory together, Zarr in and out, labelled by two workers of
    384 MiB: none pauses, none is restarted, and the stored labels are the
    whole-array labelling's."""
    pytest.importorskip("distributed")
    zarr = pytest.importorskip("zarr")
    import pathlib

    import workersetup

    if workersetup.under_address_sanitizer():
        pytest.skip("workers' memory under AddressSanitizer is not the library's")
    shape, chunks = (640, 512, 512), (128, 128, 128)

    def block(block_info=None):
        (z0, z1), (y0, y1), (x0, x1) = block_info[None]["array-location"]
        rng = np.random.default_rng(z0 * 7919 + y0 * 104729 + x0)
        return (rng.random((z1 - z0, y1 - y0, x1 - x0), np.float32) < 0.03).astype(np.uint8)

    source = da.map_blocks(block, dtype=np.uint8, chunks=da.core.normalize_chunks(chunks, shape),
                           meta=np.empty((0, 0, 0), np.uint8))
    source.to_zarr(str(tmp_path / "in.zarr"))
    limit = 384 * 2**20
    assert np.prod(shape) * (1 + 4) > 2 * limit

    labels, count = nvd.label(da.from_zarr(str(tmp_path / "in.zarr")))
    # The output array is made here and written chunk for chunk: how to_zarr passes creation options
    # differs between Dask releases, and given an existing array it may rechunk to larger writes.
    target = zarr.create_array(str(tmp_path / "out.zarr"), shape=shape, chunks=chunks, dtype=labels.dtype,
                               compressors=None)
    stored = da.store(labels, target, lock=False, compute=False)
    _, n = workersetup.compute_within_memory_limit([stored, count], limit,
                                                   str(pathlib.Path(__file__).parents[3] / "python" / "nvfiltering"))

    out = zarr.open_array(str(tmp_path / "out.zarr"), mode="r")
    assert out.shape == shape and out.dtype == np.uint32
    whole, whole_count = nv.label(zarr.open_array(str(tmp_path / "in.zarr"), mode="r")[:])
    assert int(n) == int(whole_count) > 10**6
    for z in range(0, shape[0], 128):  # compared a slab at a time
        np.testing.assert_array_equal(out[z:z + 128], whole[z:z + 128])
