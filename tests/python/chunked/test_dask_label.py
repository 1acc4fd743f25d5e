"""Chunked labelling against the whole-array labelling: the same label image
(ranking and order of equal sizes included) and count, for components that
cross chunk faces in every direction, and chunk edges and corners with 8, 18
and 26 neighbours."""

import dask
import dask.callbacks
import dask.array as da
import numpy as np
import pytest

RNG = np.random.default_rng(7)


def run(labels_count):
    labels, count = labels_count
    with dask.config.set(scheduler="threads", num_workers=2):
        return dask.compute(labels, count)


def check(nv, nvd, x, chunks, **kw):
    # The sizes come with every check: they are read from the ranking's
    # histogram, not from the labels, so they can disagree with them.
    whole, whole_count = nv.label(x, **kw)
    labels, count, sizes = nvd.label(da.from_array(x, chunks=chunks), return_sizes=True, **kw)
    with dask.config.set(scheduler="threads", num_workers=2):
        labels, count, sizes = dask.compute(labels, count, sizes)
    assert labels.dtype == np.uint32 and sizes.dtype == np.int64
    np.testing.assert_array_equal(labels, whole)
    assert int(count) == int(whole_count)
    np.testing.assert_array_equal(sizes, np.bincount(whole.ravel(), minlength=int(whole_count) + 1)[1:])
    return whole_count


@pytest.mark.parametrize("density, chunks", [
    (0.2, (9, 10, 11)), (0.45, (4, 31, 5)), (0.45, (9, 10, 11)), (0.6, (30, 7, 40)), (0.3, (4, 31, 5)),
])
def test_label_3d_exact(nv, nvd, density, chunks):
    x = (RNG.random((30, 31, 40)) < density).astype(np.uint8)
    assert check(nv, nvd, x, chunks) > 10


@pytest.mark.parametrize("connectivity", [4, 8])
def test_label_2d_exact(nv, nvd, connectivity):
    x = (RNG.random((83, 71)) < 0.45).astype(np.uint8)
    check(nv, nvd, x, (10, 9), connectivity=connectivity)
    check(nv, nvd, x, (1, 71), connectivity=connectivity)   # one-row chunks: every pair crosses a face


def test_label_8_connected_corners(nv, nvd):
    # Diagonal chains that pass from chunk to chunk only through the point where four chunks meet.
    x = np.zeros((40, 40), np.uint8)
    for k in range(40):
        x[k, k] = 1
        x[k, 39 - k] = 1
    x[::5, ::5] |= 1
    check(nv, nvd, x, (5, 5), connectivity=8)
    check(nv, nvd, x, (4, 6), connectivity=8)


def test_label_ties_ordered_by_first_voxel(nv, nvd):
    # Many components of the same size, most of them cut by chunk faces, placed
    # so that local and global raster orders disagree.
    x = np.zeros((24, 24, 24), np.uint8)
    for z in range(1, 24, 4):
        for y in range(0, 24, 3):
            for xx in range(2 + (y % 5), 22, 6):
                x[z, y, xx - 1:xx + 1] = 1
                x[z - 1, y, xx] = 1
    whole, n = nv.label(x)
    sizes = np.bincount(whole.ravel())[1:]
    assert (sizes == sizes[0]).sum() > 20
    check(nv, nvd, x, (5, 7, 6))
    check(nv, nvd, x[::-1, ::-1].copy(), (5, 7, 6))


@pytest.mark.parametrize("kw", [dict(min_size=5), dict(keep=3), dict(keep=1, min_size=50), dict(min_size=10**6)])
def test_label_min_size_and_keep(nv, nvd, kw):
    x = (RNG.random((20, 25, 30)) < 0.3).astype(np.uint8)
    check(nv, nvd, x, (7, 8, 9), **kw)


def test_label_class_value_and_dtypes(nv, nvd):
    classes = RNG.integers(0, 4, (22, 26, 19))
    for dtype in (np.uint8, np.int16, np.uint32):
        check(nv, nvd, classes.astype(dtype), (6, 7, 8), class_value=2)
    check(nv, nvd, classes == 3, (6, 7, 8))
    check(nv, nvd, (classes[0, 0] == 1).astype(np.uint8), (4,))  # a line


def random_chunks(rng, shape):
    """Uneven chunks along every axis, ones included now and then."""
    return tuple(tuple(np.diff(np.unique(np.concatenate([[0, n], rng.integers(1, n, 4)])))) for n in shape)


@pytest.mark.parametrize("seed", [1, 2])
def test_label_non_zero_is_foreground_on_random_chunks(nv, nvd, seed):
    import scipy.ndimage as ndi

    rng = np.random.default_rng(40 + seed)
    shape3, shape2 = (17, 23, 19), (41, 37)
    for shape, connectivities in ((shape3, (6,)), (shape2, (4, 8))):
        on = rng.random(shape) < 0.45
        masks = {
            "mask255": np.where(on, 255, 0).astype(np.uint8),
            "uint16": np.where(on, rng.integers(1, 2**16, shape), 0).astype(np.uint16),
            "int16": np.where(on, rng.choice([-32768, -5, 1, 999, 32767], shape), 0).astype(np.int16),
            "bool": on,
        }
        for connectivity in connectivities:
            structure = ndi.generate_binary_structure(len(shape), 2 if connectivity == 8 else 1)
            n = ndi.label(on, structure)[1]
            for name, x in masks.items():
                chunks = random_chunks(rng, shape)
                assert check(nv, nvd, x, chunks, connectivity=connectivity) == n, (name, chunks)


def test_label_class_value_on_wide_dtypes(nv, nvd):
    rng = np.random.default_rng(5)
    classes = rng.integers(0, 4, (19, 24, 21))
    for dtype, scale in ((np.uint16, 20000), (np.int16, -9000)):
        x = (classes * scale).astype(dtype)
        for value in (0, 2 * scale):
            count = check(nv, nvd, x, random_chunks(rng, x.shape), class_value=value)
            assert count == nv.label(classes == value // scale)[1] > 10


def test_label_count_beyond_32_bit_labels_is_an_error(nv, nvd):
    from nvfiltering.dask import _label as chunked

    # The size histogram of a volume with 2^32 components (faked: no voxel is
    # allocated): its ranks would wrap in uint32 labels.
    limit = 2**32 - 1
    sizes = np.array([1, 7], np.int64)
    fits = chunked.size_classes((sizes, np.array([limit - 3, 3], np.int64)), 0, 0)
    assert fits["count"] == limit
    with pytest.raises(nv.Error, match="more components than 32-bit labels can number") as info:
        chunked.size_classes((sizes, np.array([limit - 2, 3], np.int64)), 0, 0)
    assert info.value.class_path == "java/lang/Throwable"
    # min_size removes the small ones before they are numbered: no error.
    assert chunked.size_classes((sizes, np.array([limit, 3], np.int64)), 2, 0)["count"] == 3
    # The cast of the ranks refuses on its own too.
    assert chunked.as_labels(np.array([0, limit])).tolist() == [0, limit]
    assert chunked.as_labels(np.array([0, limit])).dtype == np.uint32
    with pytest.raises(nv.Error, match="32-bit"):
        chunked.as_labels(np.array([3, limit + 1]))
    # A chunk's ranks after 2^32 - 1 larger components elsewhere.
    own = {"count": 2, "size": np.array([7, 7], np.int64), "first": np.array([5, 9], np.int64),
           "local": np.array([1, 2]), "groups": np.empty(0, np.int64)}
    classes = {"sizes": np.array([7], np.int64), "larger": np.array([limit - 1], np.int64), "threshold": 0}
    empty = (np.empty(0, np.int64), np.empty(0, np.int64))
    table, _ = chunked.rank_components(dict(own, count=1, size=own["size"][:1], first=own["first"][:1],
                                            local=own["local"][:1]), classes, [1, 10], empty, empty, empty, empty)
    assert table.tolist() == [0, limit]
    with pytest.raises(nv.Error, match="32-bit"):
        chunked.rank_components(own, classes, [1, 10], empty, empty, empty, empty)


def test_label_empty_and_full(nv, nvd):
    assert check(nv, nvd, np.zeros((10, 11, 12), np.uint8), (3, 4, 5)) == 0
    assert check(nv, nvd, np.ones((10, 11, 12), np.uint8), (3, 4, 5)) == 1


def test_label_keep_too_many_fails_on_compute(nv, nvd):
    x = np.zeros((10, 10), np.uint8)
    x[2, 2] = x[7, 7] = 1
    labels, count = nvd.label(da.from_array(x, chunks=5), keep=3)  # lazy: nothing raised yet
    with pytest.raises(nv.Error):
        run((labels, count))
    with pytest.raises(ValueError, match="connectivity"):
        nvd.label(da.from_array(np.zeros((4, 4, 4), np.uint8), chunks=2), connectivity=8)


def test_label_join_sees_only_faces(nvd):
    # The tasks that merge labels depend on boundary summaries, face pairs and
    # each other only: no input or label chunk feeds them.
    x = da.from_array((RNG.random((16, 16, 16)) < 0.5).astype(np.uint8), chunks=8)
    labels, count = nvd.label(x)
    graph = dict(labels.__dask_graph__())
    from dask.core import get_dependencies
    name = lambda k: str(k[0] if isinstance(k, tuple) else k)
    joins = [k for k in graph if name(k).startswith(("join-up", "join-open"))]
    assert len(joins) == 10  # what each of the 2 x 2 x 2 chunks passes up, the node that joins them
    for k in joins:
        for d in get_dependencies(graph, k):
            assert name(d).startswith(("boundary", "join-open", "join-up", "contact_pairs")), d


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_label_ties_on_irregular_chunks(nv, nvd, seed):
    # Sparse speckle: hundreds of components of sizes 1 to 4, most sizes shared
    # by many, on chunks of uneven sizes (ones included) along every axis, so
    # that equal sizes must be ordered across planes, rows and chunks.
    rng = np.random.default_rng(seed)
    x = (rng.random((23, 19, 29)) < 0.08).astype(np.uint8)
    cuts = [tuple(np.diff(np.unique(np.concatenate([[0, n], rng.integers(1, n, 5)])))) for n in x.shape]
    assert check(nv, nvd, x, tuple(cuts)) > 300
    check(nv, nvd, x, tuple(cuts), min_size=2)
    image = (rng.random((57, 43)) < 0.2).astype(np.uint8)
    for connectivity in (4, 8):
        check(nv, nvd, image, ((1, 20, 3, 33), (7, 1, 30, 5)), connectivity=connectivity)


class ResultSizes(dask.callbacks.Callback):
    """Largest and total result, in bytes of its arrays, of the tasks whose name starts with a prefix."""

    def __init__(self, prefixes):
        super().__init__()
        self.largest = dict.fromkeys(prefixes, 0)
        self.total = dict.fromkeys(prefixes, 0)

    @staticmethod
    def nbytes(value):
        if isinstance(value, np.ndarray):
            return value.nbytes
        if isinstance(value, dict):
            value = list(value.values())
        if isinstance(value, (list, tuple)):
            return sum(ResultSizes.nbytes(v) for v in value)
        return 0

    def _posttask(self, key, result, dsk, state, worker_id):
        name = key[0] if isinstance(key, tuple) else key
        for prefix in self.largest:
            if str(name).startswith(prefix):
                size = self.nbytes(result)
                self.largest[prefix] = max(self.largest[prefix], size)
                self.total[prefix] += size


def test_label_joins_and_ranks_without_holding_every_component(nv, nvd):
    # Two volumes with the same components across chunk faces; one also holds
    # 64 single voxels inside each of its 64 chunks. The tasks that see more
    # than one chunk (the join, the size classes, the labels of merged groups)
    # must not grow with those inner components.
    rng = np.random.default_rng(11)
    base = np.zeros((64, 64, 64), np.uint8)
    base[rng.integers(0, 64, 300), rng.integers(0, 64, 300), :] = 1  # rods across every chunk in x
    speckled = base.copy()
    inner = np.zeros_like(base, bool)
    inner[2:-1:4, 2:-1:4, 2:-1:4] = True
    inner[base.astype(bool) | np.roll(base, 1, 0).astype(bool) | np.roll(base, -1, 0).astype(bool)
          | np.roll(base, 1, 1).astype(bool) | np.roll(base, -1, 1).astype(bool)] = False
    speckled[inner] = 1
    prefixes = ("boundary", "join-up", "join-down", "labels-up", "labels-down", "size_classes", "merge_counts")
    sizes, totals = {}, {}
    for name, x in (("base", base), ("speckled", speckled)):
        with ResultSizes(prefixes) as seen:
            check(nv, nvd, x, (16, 16, 16))
        sizes[name], totals[name] = seen.largest, seen.total
    assert nv.label(speckled)[1] > nv.label(base)[1] + 2000
    for task in ("join-up", "join-down", "labels-up", "labels-down"):
        assert sizes["speckled"][task] == sizes["base"][task] > 0, task
    assert sizes["speckled"]["size_classes"] <= sizes["base"]["size_classes"] + 64
    # The largest count table: size classes by row, for one row of chunks.
    assert sizes["speckled"]["merge_counts"] < 16 * 64 * 16 * 2
    # No node of the join holds every boundary component: the root's halves
    # pass up only what touches the plane between them.
    assert sizes["base"]["join-up"] < totals["base"]["boundary"] / 2


@pytest.mark.parametrize("shape, chunks", [
    ((301,), (8,)),                 # 38 chunks on a line
    ((5, 200), (5, 15)),            # one row of chunks
    ((200, 7), (15, 7)),            # one column of chunks
    ((12, 3, 90), (6, 3, 10)),      # 2 x 1 x 9 chunks: the tree cuts only the axes it spans
    ((27, 25, 23), (4, 5, 3)),      # 7 x 5 x 8 chunks: uneven cuts at every level
])
def test_label_grids_of_every_shape(nv, nvd, shape, chunks):
    # Long components that wind through many chunks, among many small ones of
    # equal sizes, so that groups close at every level of the join's tree.
    rng = np.random.default_rng(sum(shape))
    x = (rng.random(shape) < 0.45).astype(np.uint8)
    check(nv, nvd, x, chunks)
    if x.ndim == 2:
        check(nv, nvd, x, chunks, connectivity=8)


# Edge (18) and corner (26) neighbours: voxels that touch across the edges and
# corners where chunks meet must merge too. Densities near each
# neighbourhood's percolation threshold give components through many chunks.
DENSITY = {6: 0.3, 18: 0.16, 26: 0.11}


@pytest.mark.parametrize("connectivity", [6, 18, 26])
@pytest.mark.parametrize("shape, chunks", [
    ((30, 31, 40), (9, 10, 11)),
    ((7, 8, 9), (1, 3, 2)),                    # chunks of one and two voxels: every voxel is on a face
    ((7, 6, 9), (2, 1, 4)),
    ((11, 7, 9), (5, 2, 1)),
    ((13, 11, 17), ((1, 4, 2, 6), (2, 1, 5, 3), (7, 1, 2, 6, 1))),   # uneven, ones and twos among them
    ((1, 23, 29), (1, 4, 5)),                  # one slice: labelled as an image
    ((17, 1, 19), (3, 1, 2)),
])
def test_label_3d_every_connectivity_exact(nv, nvd, connectivity, shape, chunks):
    rng = np.random.default_rng(connectivity + sum(shape))
    for density in (DENSITY[connectivity], DENSITY[connectivity] / 3):
        x = (rng.random(shape) < density).astype(np.uint8)
        check(nv, nvd, x, chunks, connectivity=connectivity)
    check(nv, nvd, x, chunks, connectivity=connectivity, min_size=2)


@pytest.mark.parametrize("chunks", [(3, 3, 3), (2, 3, 4), (1, 4, 5), (4, 1, 3)])
def test_label_chains_through_chunk_edges_and_corners(nv, nvd, chunks):
    # Chains of voxels each one step from the last along two axes (joined with
    # 18 and 26 neighbours) or three (joined with 26 only), many of them
    # crossing from chunk to chunk where only an edge or a corner is shared.
    x = np.zeros((12, 12, 12), np.uint8)
    for k in range(12):
        x[k, k, k] = 1                   # along the main diagonal: corners only
        x[k, 11 - k, 5] = 1              # a diagonal in one plane: edges
        x[3, k, (k + 4) % 12] = 1        # another plane
        x[(2 * k) % 12, 7, (2 * k + 1) % 12] = 1
    x[::4, ::4, ::4] |= 1
    counts = {c: check(nv, nvd, x, chunks, connectivity=c) for c in (6, 18, 26)}
    assert counts[6] > counts[18] > counts[26]
    check(nv, nvd, x, chunks, connectivity=26, keep=3)


def test_label_3d_ties_across_edges_and_corners(nv, nvd):
    # Many components of a few equal sizes, joined only across edges and
    # corners, so the order of equal sizes must come out as in memory.
    rng = np.random.default_rng(26)
    x = (rng.random((19, 21, 23)) < 0.05).astype(np.uint8)
    for connectivity in (18, 26):
        assert check(nv, nvd, x, (4, 5, 3), connectivity=connectivity) > 200
        check(nv, nvd, x, ((1, 6, 12), (2, 9, 10), (23,)), connectivity=connectivity)
