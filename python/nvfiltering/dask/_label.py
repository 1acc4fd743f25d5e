"""Chunked connected components that equal the whole-array labelling exactly,
with no task whose memory grows with the number of components or with the
volume: a chunk task holds its chunk and its faces, a join task what touches
the sides of its box of chunks.

1. Every chunk is labelled on its own; its component sizes and the raster
   index in the whole array of each component's first voxel stay with it.
   Only its boundary slabs and the components that touch them travel.
2. Slabs facing each other across a chunk boundary give label pairs. The
   boundary components are merged on a tree of boxes of chunks (below): a
   merged group gets its total size and its smallest first voxel, and is
   owned by the chunk holding that voxel. Components inside a chunk never
   reach the tree.
3. Ranking is by size, ties in the raster order of the first voxel. The rank
   of a component is 1 + the number of components that are larger, + the
   number of equally large ones whose first voxel comes earlier. The first
   term comes from a histogram of sizes (tree-reduced; a volume of V voxels
   has at most sqrt(2V) distinct sizes). For the second, chunk j is compared
   with chunk k at the first axis a where their chunk indices differ: both
   cover the same coordinates on the axes before a, so a component of j comes
   earlier if its coordinates on those axes come before (or, when j lies
   before k along a, are equal to) those of k's component. Each chunk therefore
   counts, per axis a, the components of every size class by their position
   on the axes before a (none for a = 0, the plane for a = 1, the row for
   a = 2), and adds up those counts over the chunks before and after it.
4. The owners' labels of merged groups travel up the tree to where the group
   closed and down to its other chunks; the chunks are read and labelled
   again and mapped through their tables."""

from __future__ import annotations

import itertools

import numpy as np

from .. import _label as _memory
from .._checks import as_array, label_args, workers_count
from .._nvfiltering import Error

__all__ = ["label"]

NO_VOXEL = np.iinfo(np.int64).max
EMPTY = (np.empty(0, np.int64), np.empty(0, np.int64))
# The labels are uint32: 1 .. 2^32 - 1 for the components.
MAX_LABEL = int(np.iinfo(np.uint32).max)
TOO_MANY_COMPONENTS = "label: more components than 32-bit labels can number"


def too_many_components(count):
    """The library's kind of error (a plain Throwable) for ``count`` components
    that 32-bit labels cannot number."""
    error = Error(f"{TOO_MANY_COMPONENTS} ({count} components, at most {MAX_LABEL}).")
    error.class_path = "java/lang/Throwable"
    return error


def as_labels(values):
    """``values`` (final ranks, 0 for removed components) as uint32, never wrapped."""
    values = np.asarray(values)
    if values.size and int(values.max()) > MAX_LABEL:
        raise too_many_components(int(values.max()))
    return values.astype(np.uint32)


def _label_block(block, connectivity, class_value):
    labels, count = _memory.label(block, connectivity=connectivity, class_value=class_value, workers=1)
    return labels, int(count)


def chunk_summary(block, start, shape, connectivity, class_value):
    """Sizes and first voxels (global raster index) of one chunk's components,
    its boundary slabs and the components that touch them."""
    labels, count = _label_block(block, connectivity, class_value)
    flat = labels.reshape(-1)
    where = np.flatnonzero(flat)
    found = flat[where].astype(np.intp)
    sizes = np.bincount(found, minlength=count + 1)[1:].astype(np.int64)
    first_local = np.full(count + 1, NO_VOXEL, np.int64)
    np.minimum.at(first_local, found, where)
    first = np.empty(0, np.int64)
    if count:
        local = np.unravel_index(first_local[1:], labels.shape)
        first = np.ravel_multi_index(tuple(c.astype(np.int64) + s for c, s in zip(local, start)), shape)
        first = first.astype(np.int64)
    faces = []  # per axis the first slab, then the last
    for axis in range(labels.ndim):
        faces.append(np.ascontiguousarray(np.take(labels, 0, axis=axis)))
        faces.append(np.ascontiguousarray(np.take(labels, labels.shape[axis] - 1, axis=axis)))
    ids = np.unique(np.concatenate([f.ravel() for f in faces])).astype(np.int64)
    ids = ids[ids > 0]
    mask = np.zeros(ids.size, np.uint8)  # bit 2 * axis + side: the component touches that face
    for f, face in enumerate(faces):
        on = np.unique(face)
        mask[np.searchsorted(ids, on[on > 0])] |= np.uint8(1 << f)
    return {"count": count, "sizes": sizes, "first": first, "faces": faces,
            "boundary": (ids, sizes[ids - 1], first[ids - 1], mask)}


def _pairs(a, b):
    keep = (a > 0) & (b > 0)
    key = np.unique((a[keep].astype(np.uint64) << np.uint64(32)) | b[keep].astype(np.uint64))
    return (key >> np.uint64(32)).astype(np.int64), (key & np.uint64(0xFFFFFFFF)).astype(np.int64)


# Neighbours differ along at most this many axes, per neighbour count.
NEIGHBOUR_AXES = {2: 1, 4: 1, 6: 1, 8: 2, 18: 2, 26: 3}


def contact(faces, axis, side, steps):
    """The voxels of a chunk that face a neighbouring chunk: its face `side`
    (0 first, 1 last) across `axis`, narrowed along each later axis of `steps`
    (axis, side) to its first or last slab there: a face, an edge or a corner
    of the chunk. `steps` are in increasing order, past `axis`."""
    part = faces[2 * axis + side]
    for a, sd in reversed(steps):  # the face lacks `axis`: the later axes are one lower
        part = np.take(part, -1 if sd else 0, axis=a - 1)
    return np.asarray(part)


def contact_pairs(low, high, ids, free):
    """Label pairs of voxels that touch across where two chunks meet: `low`
    and `high` are the two chunks' facing voxels (a face, an edge or a corner,
    the same coordinates along the axes they span); a voxel of `low` touches
    the one of `high` at the same place and, along up to `free` of the spanned
    axes, those one step away."""
    low, high = np.asarray(low), np.asarray(high)
    la, lb = [], []
    for shift in itertools.product((-1, 0, 1), repeat=low.ndim):
        if sum(1 for t in shift if t) > free:
            continue
        cut_a = tuple(slice(None, -1) if t > 0 else slice(1, None) if t < 0 else slice(None) for t in shift)
        cut_b = tuple(slice(1, None) if t > 0 else slice(None, -1) if t < 0 else slice(None) for t in shift)
        la.append(low[cut_a].ravel())
        lb.append(high[cut_b].ravel())
    a, b = _pairs(np.concatenate(la), np.concatenate(lb))
    return ids[0], ids[1], a, b


# The join runs on a tree of boxes of chunks: a leaf is one chunk, a node's box
# is split in two along every axis it spans (up to eight parts in 3-D).
# Boundary components are named (chunk << 32 | local label). Going up, a node
# merges its parts' open groups along the pairs that cross between them; a
# group stays open while one of its members touches a side of the box with
# another chunk beyond it, and otherwise closes there, as final (named
# node << 32 | group). Going down, every node learns the final
# group of each of its open groups and passes it on. A node holds what touches
# its parts' outsides, never every boundary component of the volume.

def _outer(chunks, mask, lo, hi, grid):
    """Which members touch a side of the box [lo, hi) beyond which lies another chunk."""
    idx = np.unravel_index(chunks, grid)
    out = np.zeros(chunks.size, bool)
    for axis in range(len(grid)):
        if lo[axis] > 0:
            out |= ((mask >> (2 * axis)) & 1).astype(bool) & (idx[axis] == lo[axis])
        if hi[axis] < grid[axis]:
            out |= ((mask >> (2 * axis + 1)) & 1).astype(bool) & (idx[axis] == hi[axis] - 1)
    return out


def _close(node, members, group, mask, size, first, box, comps):
    """A node's open part (for its parent) and its record (for the way down)."""
    outer = _outer(members >> 32, mask, *box)
    is_open = np.zeros(size.size, bool)
    is_open[group[outer]] = True
    open_index = np.full(size.size, -1, np.int64)
    open_index[is_open] = np.arange(int(is_open.sum()))
    order = np.argsort(members[outer], kind="stable")
    up = {"members": members[outer][order], "group": open_index[group[outer]][order],
          "mask": mask[outer][order], "size": size[is_open], "first": first[is_open]}
    return up, {"node": node, "comps": comps, "open": open_index, "size": size, "first": first}


def join_leaf(boundary, chunk, node, box):
    ids, sizes, firsts, mask = boundary
    members = (np.int64(chunk) << 32) | ids
    return _close(node, members, np.arange(ids.size), mask, sizes, firsts, box, ())


def join_up(node, box, parts, *pair_lists):
    """Merges the open groups of a node's parts along the pairs between them."""
    from scipy.sparse import coo_matrix
    from scipy.sparse.csgraph import connected_components

    counts = [p["size"].size for p in parts]
    offsets = np.concatenate([[0], np.cumsum(counts)]).astype(np.int64)
    members = np.concatenate([np.empty(0, np.int64)] + [p["members"] for p in parts])
    group = np.concatenate([np.empty(0, np.int64)] + [o + p["group"] for o, p in zip(offsets, parts)])
    mask = np.concatenate([np.empty(0, np.uint8)] + [p["mask"] for p in parts])
    order = np.argsort(members, kind="stable")
    named = members[order]
    ga, gb = [np.empty(0, np.int64)], [np.empty(0, np.int64)]
    for (ka, kb, a, b) in pair_lists:
        ga.append(group[order[np.searchsorted(named, (np.int64(ka) << 32) | a)]])
        gb.append(group[order[np.searchsorted(named, (np.int64(kb) << 32) | b)]])
    ga, gb = np.concatenate(ga), np.concatenate(gb)
    total = int(offsets[-1])
    graph = coo_matrix((np.ones(ga.size, np.int8), (ga, gb)), shape=(total, total)).tocsr()
    groups, comp = connected_components(graph, directed=False) if total else (0, np.empty(0, np.int64))
    comp = comp.astype(np.int64)
    size = np.zeros(groups, np.int64)
    np.add.at(size, comp, np.concatenate([np.empty(0, np.int64)] + [p["size"] for p in parts]))
    first = np.full(groups, NO_VOXEL, np.int64)
    np.minimum.at(first, comp, np.concatenate([np.empty(0, np.int64)] + [p["first"] for p in parts]))
    return _close(node, members, comp[group], mask, size, first, box,
                  tuple(comp[offsets[i]:offsets[i + 1]] for i in range(len(parts))))


def join_down(record, parent):
    """Final (name, size, first voxel) of each open group of the node's parts
    (of each boundary component at a leaf); `parent` gives those of the node's
    own open groups (None at the root, where none is open)."""
    n = record["size"].size
    name = (np.int64(record["node"]) << 32) | np.arange(n, dtype=np.int64)
    size, first = record["size"].copy(), record["first"].copy()
    at = record["open"]
    inherited = at >= 0
    if parent is not None and inherited.any():
        name[inherited] = parent[0][at[inherited]]
        size[inherited] = parent[1][at[inherited]]
        first[inherited] = parent[2][at[inherited]]
    if not record["comps"]:
        return name, size, first
    return tuple((name[c], size[c], first[c]) for c in record["comps"])


def leaf_joined(boundary, final):
    """Per boundary component of a chunk: its final group, the group's size and
    first voxel, and whether it holds that voxel (then this chunk owns the group)."""
    ids, sizes, firsts, mask = boundary
    name, size, first = final
    return {"ids": ids, "group": name, "size": size, "first": first, "owner": firsts == first}


def labels_up(record, *lists):
    """The labels of the groups that closed at this node, taken from the (name,
    label) lists coming up; the rest goes on up."""
    names = np.concatenate([np.empty(0, np.int64)] + [l[0] for l in lists])
    labels = np.concatenate([np.empty(0, np.uint32)] + [l[1] for l in lists])
    here = (names >> 32) == record["node"]
    closed = np.zeros(record["size"].size, np.uint32)
    closed[names[here] & 0xFFFFFFFF] = labels[here]
    return (names[~here], labels[~here]), closed


def labels_down(record, closed, parent):
    labels = closed.copy()
    at = record["open"]
    inherited = at >= 0
    if parent is not None and inherited.any():
        labels[inherited] = parent[at[inherited]]
    if not record["comps"]:
        return labels
    return tuple(labels[c] for c in record["comps"])


class _Box:
    """A node of the tree: its box of chunks [lo, hi) and its parts."""

    def __init__(self, lo, hi, counter):
        self.lo, self.hi = lo, hi
        self.id = next(counter)
        # Every axis the box spans is cut at its middle.
        self.mid = tuple(l + (h - l) // 2 if h - l > 1 else None for l, h in zip(lo, hi))
        cuts = [((l, m), (m, h)) if m is not None else ((l, h),) for l, h, m in zip(lo, hi, self.mid)]
        self.children = ()
        if any(m is not None for m in self.mid):
            self.children = tuple(_Box(tuple(c[0] for c in part), tuple(c[1] for c in part), counter)
                                  for part in itertools.product(*cuts))

    def part(self, idx):
        """The index in `children` of the part holding chunk idx."""
        k = 0
        for i, m in zip(idx, self.mid):
            if m is not None:
                k = 2 * k + (i >= m)
        return k

    def nodes(self):
        yield self
        for c in self.children:
            yield from c.nodes()

    def meeting(self, a, b):
        """The node where chunks a and b fall into different parts."""
        node = self
        while node.children:
            pa, pb = node.part(a), node.part(b)
            if pa != pb:
                return node
            node = node.children[pa]
        return node


def own_components(summary, joined):
    """The components a chunk ranks: those inside it, then the merged groups
    whose first voxel it holds (their group numbers in `groups`). Every chunk's
    is held until the ranks are known, so it is kept to 20 bytes a component."""
    inside = np.ones(summary["count"], bool)
    inside[joined["ids"] - 1] = False
    owner = joined["owner"]
    return {"count": summary["count"],
            "local": np.concatenate([np.flatnonzero(inside) + 1, joined["ids"][owner]]).astype(np.uint32),
            "size": np.concatenate([summary["sizes"][inside], joined["size"][owner]]),
            "first": np.concatenate([summary["first"][inside], joined["first"][owner]]),
            "groups": joined["group"][owner]}


def size_counts(own):
    keys, counts = np.unique(own["size"], return_counts=True)
    return keys.astype(np.int64), counts.astype(np.int64)


def merge_counts(*tables):
    """Sum of (sorted keys, counts) tables."""
    if not tables:
        return EMPTY
    keys = np.concatenate([t[0] for t in tables])
    counts = np.concatenate([t[1] for t in tables])
    if keys.size == 0:
        return EMPTY
    order = np.argsort(keys, kind="stable")
    keys, counts = keys[order], counts[order]
    starts = np.flatnonzero(np.concatenate([[True], keys[1:] != keys[:-1]]))
    return keys[starts], np.add.reduceat(counts, starts)


def size_classes(histogram, min_size, keep):
    """The distinct sizes (ascending), how many components are larger than each,
    the size threshold that min_size or keep sets, and the final count."""
    sizes, counts = histogram
    at_least = np.cumsum(counts[::-1])[::-1]  # components of this size or larger
    total = int(at_least[0]) if sizes.size else 0
    if keep and total:  # the library ranks nothing, and so keeps nothing, when there is nothing
        if keep > total:
            # The whole-array labelling's own error: asked to keep the second
            # component of a line holding one.
            _memory.label(np.ones(1, np.uint8), keep=2, workers=1)
            raise AssertionError("the library kept a component that does not exist")
        threshold = int(sizes[np.flatnonzero(at_least >= keep)[-1]])
    else:
        threshold = min_size
    count = int(counts[sizes >= threshold].sum())
    if count > MAX_LABEL:
        # The kept components are ranked 1 .. count: refused before any rank is cast.
        raise too_many_components(count)
    larger = np.concatenate([at_least[1:], [0]]).astype(np.int64)
    return {"sizes": sizes, "larger": larger, "threshold": threshold,
            "count": count}


def _strides(shape):
    """Per axis a: the number of positions of the axes before a, and the voxels of the axes from a on."""
    return [(int(np.prod(shape[:a], dtype=np.int64)), int(np.prod(shape[a:], dtype=np.int64)))
            for a in range(len(shape))]


def _keys(own, classes, shape):
    """Per axis: size class and position on the axes before it, one integer per component."""
    sidx = np.searchsorted(classes["sizes"], own["size"]).astype(np.int64)
    return sidx, [sidx * before + own["first"] // inner for before, inner in _strides(shape)]


def position_counts(own, classes, shape):
    """Per axis, the chunk's components counted by size class and position on the axes before it."""
    _, keys = _keys(own, classes, shape)
    out = []
    for key in keys:
        k, c = np.unique(key, return_counts=True)
        out.append((k.astype(np.int64), c.astype(np.int64)))
    return out


def _count_between(table, low, high):
    keys, counts = table
    running = np.concatenate([[0], np.cumsum(counts)])
    return running[np.searchsorted(keys, high, "right")] - running[np.searchsorted(keys, low, "left")]


def rank_components(own, classes, shape, *tables):
    """Final labels of a chunk's own components: the chunk's table from local
    to final label (the groups it does not own still 0), and the labels of the
    groups it owns. `tables` are the counts before this chunk, one per axis,
    then those after it."""
    before, after = tables[:len(shape)], tables[len(shape):]
    sidx, keys = _keys(own, classes, shape)
    rank = classes["larger"][sidx] + 1 if sidx.size else np.empty(0, np.int64)
    order = np.lexsort((own["first"], sidx))
    in_order = sidx[order]
    earlier = np.empty(sidx.size, np.int64)
    earlier[order] = np.arange(sidx.size) - np.searchsorted(in_order, in_order, "left")
    rank = rank + earlier
    for (span, _), key, b, a in zip(_strides(shape), keys, before, after):
        base = sidx * span
        rank += _count_between(b, base, key) + _count_between(a, base, key - 1)
    final = as_labels(np.where(own["size"] >= classes["threshold"], rank, 0))
    table = np.zeros(own["count"] + 1, np.uint32)
    table[own["local"]] = final
    groups = own["groups"]
    return table, (groups, final[final.size - groups.size:])


def leaf_groups(boundary, labels):
    return boundary[0], labels


def count_of(classes):
    return np.int64(classes["count"])


def relabel(block, own_table, groups, connectivity, class_value):
    """The chunk's final labels: its own components' and its merged groups'."""
    table = own_table.copy()
    table[groups[0]] = groups[1]
    labels, _ = _label_block(block, connectivity, class_value)
    return np.take(table, labels)


def pick(value, *path):
    for step in path:
        value = value[step]
    return value


def label(input, *, connectivity=None, class_value=None, min_size=0, keep=0, workers=None):
    """Connected components of the foreground of a chunked image or volume,
    ranked by size.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool.
    connectivity : int, optional
        As in :func:`nvfiltering.label`: 3-d: 6 (default), 18 or 26; 2-d: 4
        (default) or 8; 1-d: 2 (default).
    class_value : int, optional
        As in :func:`nvfiltering.label`: None (default), every non-zero voxel
        is foreground (each chunk is turned into its mask ``chunk != 0`` in
        its task); an int, only the voxels equal to it (it must fit the dtype).
    min_size : int, optional
        Components smaller than this are removed (set to 0).
    keep : int, optional
        If > 0, keep only the ``keep`` largest components (and any others of
        the keep-th size); more than there are raises :class:`nvfiltering.Error`
        when the result is computed.
    workers : int, optional
        Checked as in :func:`nvfiltering.label`; every task runs on one thread
        and the scheduler supplies the parallelism.

    Returns
    -------
    labels : dask array of uint32
        The input's chunks; exactly :func:`nvfiltering.label` of the whole
        array: 0 for the background and removed components, 1 .. count by
        size, 1 the largest, equal sizes ordered by the raster order of each
        component's first voxel.
    count : dask array
        0-d int64: the number of components kept.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.label` refuses (another dtype, 0-d or 4-d
        input, a connectivity the dimension does not have, values out of
        range), with its messages, when the function is called.
    nvfiltering.Error
        ``keep`` larger than the number of components, when computed; so are
        more than 2^32 - 1 components, which uint32 labels cannot number
        (never wrapped). The limit is on the components, not, as for the
        whole-array labelling, on the foreground voxels.

    Notes
    -----
    Every chunk is labelled on its own, the labels meeting across chunk faces
    (and, with 8, 18 or 26 neighbours, across the edges and corners where
    chunks meet) are merged on a tree of boxes of chunks (a task's memory grows with what
    touches the faces of its box, not with the volume or the number of
    components), and every chunk is read and labelled a second time to write
    the final labels, so no task holds more than one chunk.

    Examples
    --------
    >>> import dask, dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> m = da.from_array(np.array([[1, 1, 0, 1, 0, 1, 1, 1]], np.uint8), chunks=(1, 3))
    >>> labels, count = nvd.label(m)
    >>> labels, count = dask.compute(labels, count)
    >>> labels.tolist(), int(count)
    ([[2, 2, 0, 3, 0, 1, 1, 1]], 3)
    """
    import dask.array as da
    from dask.base import tokenize
    from dask.graph_manipulation import bind

    from . import _graph
    from ._graph import Graph, call, ref, refs

    x = as_array(input, "input", convert=da.asarray)
    _, connectivity, class_value, min_size, keep = label_args(x, connectivity, class_value, min_size, keep)
    workers_count(workers)
    if 0 in x.shape:
        # No voxel, no component (whatever keep asks), as in memory.
        return da.zeros(x.shape, dtype=np.uint32, chunks=x.chunks), da.zeros((), dtype=np.int64)
    x = _graph.graph_array(x)
    reach = NEIGHBOUR_AXES[connectivity]
    shape = [int(s) for s in x.shape]
    grid = x.numblocks
    starts = [np.concatenate([[0], np.cumsum(c[:-1])]).astype(np.int64) for c in x.chunks]
    indices = list(itertools.product(*(range(n) for n in grid)))
    number = {idx: k for k, idx in enumerate(indices)}
    token = tokenize(x.name, connectivity, class_value, min_size, keep)

    # The graph is written out directly: one layer of tasks (see ._graph),
    # built in time linear in the number of chunks.
    def key(name, *k):
        return (f"{name}-{token}",) + k if k else f"{name}-{token}"

    def at(name, *k):
        return ref(key(name, *k))

    dsk = Graph()
    for idx, n in number.items():
        dsk.add(key("chunk_summary", n), chunk_summary, ref((x.name,) + idx),
                [int(s[i]) for s, i in zip(starts, idx)], shape, connectivity, class_value)
        dsk.add(key("faces", n), pick, at("chunk_summary", n), "faces")
        dsk.add(key("boundary", n), pick, at("chunk_summary", n), "boundary")
    root = _Box((0,) * x.ndim, tuple(grid), itertools.count())
    nodes = list(root.nodes())
    leaf = {node.lo: node for node in nodes if not node.children}
    crossing = {node.id: [] for node in nodes}  # the pairs each node merges along

    def add_pair(a, b, func, *args):
        crossing[root.meeting(a, b).id].append(ref(dsk.add(key(func.__name__, len(dsk)), func, *args)))

    # Every chunk meets the chunks one step away along up to `reach` axes (its
    # face, edge and corner neighbours, as far as the connectivity joins
    # voxels across them); each pair once, with the step's first axis forward.
    steps = [d for d in itertools.product((-1, 0, 1), repeat=x.ndim)
             if any(d) and d[next(a for a, t in enumerate(d) if t)] > 0 and sum(1 for t in d if t) <= reach]
    for idx, n in number.items():
        for d in steps:
            nxt = tuple(i + t for i, t in zip(idx, d))
            if not all(0 <= i < g for i, g in zip(nxt, grid)):
                continue
            m = number[nxt]
            axes = [a for a, t in enumerate(d) if t]
            first, rest = axes[0], axes[1:]
            add_pair(idx, nxt, contact_pairs,
                     call(contact, at("faces", n), first, 1, [[a, int(d[a] > 0)] for a in rest]),
                     call(contact, at("faces", m), first, 0, [[a, int(d[a] < 0)] for a in rest]),
                     [n, m], reach - len(axes))
    # A leaf's steps are cheap and run inside the chunk's own tasks (computed
    # twice where two need them) rather than as tasks of their own.
    box = lambda node: [list(node.lo), list(node.hi), list(grid)]
    parent = {c.id: (node, i) for node in nodes for i, c in enumerate(node.children)}

    def from_parent(name, node):
        if node.id not in parent:
            return None
        up, i = parent[node.id]
        return call(pick, at(name, up.id), i)

    for node in reversed(nodes):  # parts before their node
        if node.children:
            merged = ref(dsk.add(key("join-up", node.id), join_up, node.id, box(node),
                                 refs([at("join-open", c.id) for c in node.children]), *crossing[node.id]))
        else:
            merged = call(join_leaf, at("boundary", number[node.lo]), number[node.lo], node.id, box(node))
        dsk.add(key("join-open", node.id), pick, merged, 0)
        dsk.add(key("join-record", node.id), pick, merged, 1)
    for node in nodes:
        if node.children:
            dsk.add(key("join-down", node.id), join_down, at("join-record", node.id), from_parent("join-down", node))
    for idx, n in number.items():
        node = leaf[idx]
        dsk.add(key("joined", n), leaf_joined, at("boundary", n),
                call(join_down, at("join-record", node.id), from_parent("join-down", node)))
        dsk.add(key("own", n), own_components, at("chunk_summary", n), at("joined", n))
        dsk.add(key("size_counts", n), size_counts, at("own", n))

    # The histogram of sizes, reduced eight tables at a time.
    level, items = 0, [at("size_counts", n) for n in number.values()]
    while len(items) > 1:
        level += 1
        items = [ref(dsk.add(key("merge_counts-sizes", level, i), merge_counts, *items[i:i + 8]))
                 for i in range(0, len(items), 8)]
    dsk.add(key("size_classes"), size_classes, items[0], min_size, keep)

    # Per axis a: the counts of the slice of chunks at each index along a,
    # among the chunks that share this chunk's indices on the axes before a;
    # then, per such slice, the sums over the slices before and after it.
    slices = {}
    for idx, n in number.items():
        dsk.add(key("position_counts", n), position_counts, at("own", n), at("size_classes"), shape)
        for a in range(x.ndim):
            slices.setdefault((a, idx[:a + 1]), []).append(call(pick, at("position_counts", n), a))
    sums = {}
    for (a, p), tables in slices.items():
        if len(tables) == 1:  # a slice of one chunk (always so on the last axis) needs no task of its own
            sums[(a, p)] = tables[0]
        else:
            sums[(a, p)] = ref(dsk.add(key("merge_counts-slice", a, *p), merge_counts, *tables))
    for (a, p) in slices:
        row = [sums[(a, p[:a] + (i,))] for i in range(grid[a])]
        dsk.add(key("merge_counts-before", a, *p), merge_counts, *row[:p[a]])
        dsk.add(key("merge_counts-after", a, *p), merge_counts, *row[p[a] + 1:])
    for idx, n in number.items():
        dsk.add(key("rank_components", n), rank_components, at("own", n), at("size_classes"), shape,
                *[at("merge_counts-before", a, *idx[:a + 1]) for a in range(x.ndim)],
                *[at("merge_counts-after", a, *idx[:a + 1]) for a in range(x.ndim)])
    # The owners' labels of merged groups go up the tree to the node where the
    # group closed, and from there down to every chunk that holds a part of it.
    def labels_of(node):
        if node.children:
            return at("labels-up", node.id)
        return call(labels_up, at("join-record", node.id), call(pick, at("rank_components", number[node.lo]), 1))

    for node in reversed(nodes):
        if node.children:
            dsk.add(key("labels-up", node.id), labels_up, at("join-record", node.id),
                    *[call(pick, labels_of(c), 0) for c in node.children])
    for node in nodes:
        if node.children:
            dsk.add(key("labels-down", node.id), labels_down, at("join-record", node.id),
                    call(pick, at("labels-up", node.id), 1), from_parent("labels-down", node))
    dsk.add(key("count"), count_of, at("size_classes"))
    # The second pass starts once the root has handed its labels down (with a
    # single chunk, once that chunk is ranked).
    barrier = key("labels-down", root.id) if root.children else key("rank_components", 0)
    tables = _graph.delayed(dsk, barrier, key("label-join"), [x])

    # Read the chunks a second time, only once the tables exist: nothing keeps
    # the whole volume in memory between the two passes.
    again = bind(x, tables)
    name = key("relabel")
    out = Graph()
    for idx, n in number.items():
        groups = call(leaf_groups, at("boundary", n),
                      call(labels_down, at("join-record", leaf[idx].id), call(pick, labels_of(leaf[idx]), 1),
                           from_parent("labels-down", leaf[idx])))
        out.add((name,) + idx, relabel, ref((again.name,) + idx), call(pick, at("rank_components", n), 0), groups,
                connectivity, class_value)
    labels = _graph.array(out, name, x.chunks, np.uint32, [again, tables])
    count_name = key("label-count")
    counted = Graph()
    counted.add((count_name,), pick, at("count"))
    count = _graph.array(counted, count_name, (), np.int64, [tables])
    return labels, count
