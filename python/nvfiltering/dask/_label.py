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
   a = 2); the sums of those counts over the chunks before and after it come
   from prefix sums along each row of chunks (one step per chunk), the sums
   after it as the row's total less the sum before it and its own counts.
4. The owners' labels of merged groups travel up the tree to where the group
   closed and down to its other chunks; the chunks are read and labelled
   again and mapped through their tables."""

from __future__ import annotations

import itertools
import math

import numpy as np

from .. import _label as _memory
from .. import _nvfiltering as _core
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
    its boundary slabs and the components that touch them, and the components
    inside it (touching no face), which never reach the join."""
    # The labelling gives the sizes and the first voxels (raster index in the
    # chunk) of its components itself.
    labels, count, sizes, first_local = _memory.label_summary(block, connectivity=connectivity,
                                                              class_value=class_value, workers=1)
    count = int(count)
    first = np.empty(0, np.int64)
    if count:
        local = np.unravel_index(first_local, labels.shape)
        first = np.ravel_multi_index(tuple(c.astype(np.int64) + s for c, s in zip(local, start)), shape)
        first = first.astype(np.int64)
    faces = []  # per axis the first slab, then the last
    for axis in range(labels.ndim):
        faces.append(np.ascontiguousarray(np.take(labels, 0, axis=axis)))
        faces.append(np.ascontiguousarray(np.take(labels, labels.shape[axis] - 1, axis=axis)))
    touches = np.zeros(count + 1, np.uint8)  # bit 2 * axis + side: the component touches that face
    for f, face in enumerate(faces):
        touches[face.ravel()] |= np.uint8(1 << f)
    touches[0] = 0
    inside = touches[1:] == 0
    ids = np.flatnonzero(~inside).astype(np.int64) + 1
    mask = touches[ids]
    return {"count": count, "faces": faces,
            "boundary": (ids, sizes[ids - 1], first[ids - 1], mask),
            "inside": (np.flatnonzero(inside) + 1, sizes[inside], first[inside])}


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


def chunk_pairs(summary, chunk, meetings, *others):
    """The label pairs between a chunk and each of its neighbours further on
    (one list per entry of `meetings`: the neighbour, the first axis of the
    step, the narrowing steps of this chunk's and of the neighbour's contact,
    and the axes left free; `others` are the neighbours' summaries)."""
    out = []
    for (other, first, mine, theirs, free), summary_other in zip(meetings, others):
        out.append(contact_pairs(contact(summary["faces"], first, 1, mine),
                                 contact(summary_other["faces"], first, 0, theirs), [chunk, other], free))
    return out


# The join runs on a tree of boxes of chunks: a leaf is one chunk, a node's box
# is cut into about eight parts (along every axis it spans, in two in 3-D, in
# three in 2-D, in eight in 1-D, or one more), so the tree has about N / 7
# nodes for N chunks.
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
                  tuple(comp[offsets[i]:offsets[i + 1]].copy() for i in range(len(parts))))


def join_node(node, box, parts, sources, which):
    """:func:`join_up` on the pair lists ``sources[k][j]`` for every (k, j) in
    ``which``; a part that is a leaf (a tuple) gives its open part."""
    parts = [p[0] if isinstance(p, tuple) else p for p in parts]
    return join_up(node, box, parts, *[sources[k][j] for k, j in which])


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


def join_leaf(summary, chunk, node, box):
    """A chunk's leaf of the join: its open part (for its parent), its record
    (for the way down) and what its ranking needs (its components inside)."""
    ids, sizes, firsts, mask = summary["boundary"]
    members = (np.int64(chunk) << 32) | ids
    up, record = _close(node, members, np.arange(ids.size), mask, sizes, firsts, box, ())
    return up, record, {"count": summary["count"], "boundary": summary["boundary"], "inside": summary["inside"]}


def labels_up(record, *lists):
    """The labels of the groups that closed at this node, taken from the (name,
    label) lists coming up; the rest goes on up."""
    names = np.concatenate([np.empty(0, np.int64)] + [l[0] for l in lists])
    labels = np.concatenate([np.empty(0, np.uint32)] + [l[1] for l in lists])
    here = (names >> 32) == record["node"]
    closed = np.zeros(record["size"].size, np.uint32)
    closed[names[here] & 0xFFFFFFFF] = labels[here]
    return (names[~here], labels[~here]), closed


def labels_node(record, *parts):
    """:func:`labels_up` at a node, from its parts' results: a node's
    (passing on, closed) pair, or a leaf's ranking (see :func:`leaf_labels`)."""
    return labels_up(record, *[leaf_labels(p)[0] if len(p) == 3 else p[0] for p in parts])


def labels_down(record, closed, parent):
    labels = closed.copy()
    at = record["open"]
    inherited = at >= 0
    if parent is not None and inherited.any():
        labels[inherited] = parent[at[inherited]]
    if not record["comps"]:
        return labels
    return tuple(labels[c] for c in record["comps"])


# Parts per spanned axis, by the number of axes a box spans.
CUTS = {1: 8, 2: 3, 3: 2}


class _Box:
    """A node of the tree: its box of chunks [lo, hi) and its parts."""

    def __init__(self, lo, hi, counter, nodes):
        self.lo, self.hi = lo, hi
        self.id = next(counter)
        nodes.append(self)
        spanned = sum(1 for l, h in zip(lo, hi) if h - l > 1)
        # Every axis the box spans is cut into pieces of k^j chunks (k from
        # CUTS, j the least that leaves at most k + 1 pieces), so that the
        # boxes below are whole k-ary trees and none holds only a few chunks.
        # A box of at most (k + 1)^d chunks (spanning d axes) is cut into its chunks.
        k = CUTS.get(spanned, 2)
        small = math.prod(h - l for l, h in zip(lo, hi)) <= (k + 1) ** spanned
        self.bounds = tuple(tuple(range(l + 1, h)) if small else self._bounds(l, h, k) if h - l > 1 else ()
                            for l, h in zip(lo, hi))
        cuts = [tuple(zip((l,) + b, b + (h,))) for l, h, b in zip(lo, hi, self.bounds)]
        self.children = ()
        if spanned:
            self.children = tuple(_Box(tuple(c[0] for c in part), tuple(c[1] for c in part), counter, nodes)
                                  for part in itertools.product(*cuts))

    @staticmethod
    def _bounds(lo, hi, k):
        size = 1
        while hi - lo > size * (k + 1):
            size *= k
        return tuple(range(lo + size, hi, size))


def leaf_joined(boundary, final):
    """Per boundary component of a chunk: its final group, the group's size and
    first voxel, and whether it holds that voxel (then this chunk owns the group)."""
    ids, sizes, firsts, mask = boundary
    name, size, first = final
    return {"ids": ids, "group": name, "size": size, "first": first, "owner": firsts == first}


def own_components(leaf, final):
    """The components a chunk ranks: those inside it, then the merged groups
    whose first voxel it holds (their group numbers in `groups`), from its leaf
    of the join and the final groups of its boundary components. Held until
    the chunk is ranked: 20 bytes a component, and the leaf's record."""
    _, record, chunk = leaf
    joined = leaf_joined(chunk["boundary"], join_down(record, final))
    local, size, first = chunk["inside"]
    owner = joined["owner"]
    return {"count": chunk["count"],
            "local": np.concatenate([local, joined["ids"][owner]]).astype(np.uint32),
            "size": np.concatenate([size, joined["size"][owner]]),
            "first": np.concatenate([first, joined["first"][owner]]),
            "groups": joined["group"][owner], "record": record, "ids": joined["ids"]}


def size_counts(own):
    keys, counts = np.unique(own["size"], return_counts=True)
    return keys.astype(np.int64), counts.astype(np.int64)


def _final(parent, i):
    return None if parent is None else parent[i]


def leaf_sizes(which, *leaves_and_parents):
    """The histogram of the sizes of the own components of some chunks: their
    leaves, then the results of the nodes above them, each chunk's place
    among its node's parts in ``which``."""
    n = len(which)
    leaves, parents = leaves_and_parents[:n], leaves_and_parents[n:]
    return merge_counts(*[size_counts(own_components(leaf, _final(parent, i)))
                          for leaf, parent, i in zip(leaves, parents, which)])


def chunk_positions(leaf, parent, i, classes, shape):
    """A chunk's own components and their counts by size class and position
    (:func:`position_counts`), which its ranking reads."""
    own = own_components(leaf, _final(parent, i))
    return own, position_counts(own, classes, shape)


def add_counts(first, first_axis, second, second_axis):
    """The sum of two tables of counts; each may be a chunk's
    :func:`chunk_positions` with an axis (then its table of that axis)."""
    return merge_counts(*[t if a is None else t[1][a] for t, a in ((first, first_axis), (second, second_axis))])


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
    return {"sizes": sizes, "counts": counts, "larger": larger, "threshold": threshold,
            "count": count}


def _strides(shape):
    """Per axis a: the number of positions of the axes before a, and the voxels of the axes from a on."""
    return [(math.prod(shape[:a]), math.prod(shape[a:])) for a in range(len(shape))]


def _keys(own, classes, shape):
    """Per axis: size class and position on the axes before it, one integer per component."""
    sidx = np.searchsorted(classes["sizes"], own["size"]).astype(np.int64)
    return sidx, [sidx * before + own["first"] // inner for before, inner in _strides(shape)]


def position_counts(own, classes, shape):
    """Per axis, the chunk's components counted by size class and position on the axes before it."""
    _, keys = _keys(own, classes, shape)
    # The keys of an axis are those of the next one divided by its length:
    # sorted once, on the last axis.
    key = np.sort(keys[-1])
    out = []
    for a in reversed(range(len(shape))):
        if a < len(shape) - 1:
            key = key // shape[a]
        starts = np.flatnonzero(np.concatenate([[True], key[1:] != key[:-1]])) if key.size else np.empty(0, np.intp)
        out.append((key[starts].astype(np.int64), np.diff(np.append(starts, key.size)).astype(np.int64)))
    return out[::-1]


def coarser(table, factor):
    """A table of one axis as the table of the axis before it (positions on one axis fewer)."""
    keys, counts = table
    return merge_counts((keys // factor, counts))


def difference(total, *parts):
    """``total`` less ``parts`` (tables of counts; entries that fall to 0 stay)."""
    return merge_counts(total, *[(k, -c) for k, c in parts])


def _runs(values):
    """The starts of the runs of equal values in ``values`` and their lengths."""
    starts = np.flatnonzero(np.concatenate([[True], values[1:] != values[:-1]])) if values.size else np.empty(0, np.intp)
    return starts, np.diff(np.append(starts, values.size))


def _count_between(table, low, high):
    """The counts of ``table`` whose keys lie in [low, high], per entry of
    ``low`` and ``high``."""
    if isinstance(table, list):  # a total less some parts (see rank_chunk): counted in each, not merged
        return _count_between(table[0], low, high) - sum(_count_between(t, low, high) for t in table[1:])
    keys, counts = table
    if keys.size == 0:
        return 0
    running = np.concatenate([[0], np.cumsum(counts)])
    return running[np.searchsorted(keys, high, "right")] - running[np.searchsorted(keys, low, "left")]


def rank_components(own, classes, shape, *tables):
    """Final labels of a chunk's own components: the chunk's table from local
    to final label (the groups it does not own still 0), and the labels of the
    groups it owns. `tables` are the counts before this chunk, one per axis,
    then those after it."""
    before, after = tables[:len(shape)], tables[len(shape):]
    sidx, keys = _keys(own, classes, shape)
    # Counted in the order of size class and first voxel, in which every
    # axis's keys are sorted too: the components come in runs of equal keys,
    # and each distinct key is looked up once.
    order = np.lexsort((own["first"], sidx))
    in_order = sidx[order]
    # A component's equally large ones before it in the chunk: its place in its size class's run.
    starts, runs = _runs(in_order)
    ranked = classes["larger"][in_order] + 1 + np.arange(sidx.size) - np.repeat(starts, runs)
    for (span, _), key, b, a in zip(_strides(shape), keys, before, after):
        key = key[order]
        starts, runs = _runs(key)
        distinct = key[starts]
        base = distinct // span * span  # the key's size class at position 0
        counted = _count_between(b, base, distinct) + _count_between(a, base, distinct - 1)
        if not np.isscalar(counted):
            ranked += np.repeat(counted, runs)
    rank = np.empty(sidx.size, np.int64)
    rank[order] = ranked
    final = as_labels(np.where(own["size"] >= classes["threshold"], rank, 0))
    table = np.zeros(own["count"] + 1, np.uint32)
    table[own["local"]] = final
    groups = own["groups"]
    return table, (groups, final[final.size - groups.size:].copy())  # not a view of every rank


def rank_from(position, classes, shape, axes, *tables):
    """:func:`rank_chunk` from the chunk's :func:`chunk_positions`; a table
    whose entry in ``axes`` is an axis is a chunk's positions (its table of that
    axis), one in a list [total, part, ...] likewise (see :func:`rank_chunk`)."""
    def table(t, a):
        if isinstance(t, list):
            return [table(u, b) for u, b in zip(t, a)]
        return t if a is None else t[1][a]
    return rank_chunk(position[0], classes, shape, *[table(t, a) for t, a in zip(tables, axes)])


def rank_chunk(own, classes, shape, *tables):
    """The chunk's table (local to final label), the labels of the groups it
    owns, and its leaf record with its boundary components, which the second
    pass reads (the chunk's own components are not kept past this task).
    A table given as a list [total, part, ...] counts as the total less the
    parts (the counts after a chunk on the last axis: its row's total, less
    the counts before it and its own)."""
    table, owned = rank_components(own, classes, shape, *tables)
    return table, owned, (own["record"], own["ids"])


def count_of(classes):
    return np.int64(classes["count"])


def sizes_of(classes):
    """The kept components' sizes in label order (largest first), from the
    histogram of sizes: no chunk is read for them."""
    kept = classes["sizes"] >= classes["threshold"]
    return np.repeat(classes["sizes"][kept][::-1], classes["counts"][kept][::-1]).astype(np.int64)


def relabel(block, ranked, parent, i, connectivity, class_value):
    """The chunk's final labels: its own components' and its merged groups'
    (the groups closed at its leaf and those handed down, part ``i`` of
    ``parent``, the labels-down of the node above)."""
    table, _, (record, ids) = ranked
    table = table.copy()
    table[ids] = labels_down(record, leaf_labels(ranked)[1], _final(parent, i))
    labels, _ = _label_block(block, connectivity, class_value)
    _core.map_labels(labels, table)  # in place: no index array, no second array of labels
    return labels


def leaf_labels(ranked):
    """The labels of the groups a chunk owns, as they start up the tree from its leaf."""
    _, owned, (record, _) = ranked
    return labels_up(record, owned)


def pick(value, *path):
    for step in path:
        value = value[step]
    return value


def label(input, *, connectivity=None, class_value=None, min_size=0, keep=0, workers=None, return_sizes=False):
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
    return_sizes : bool, optional
        Also return the components' sizes, as :func:`nvfiltering.label` does.
        With batch axes (``axes=``) the sizes are nested lists of the batch
        shape holding each item's lazy array (``sizes[i][j]`` goes with
        ``count[i, j]``), which ``dask.compute`` computes with the rest.

    Returns
    -------
    labels : dask array of uint32
        The input's chunks; exactly :func:`nvfiltering.label` of the whole
        array: 0 for the background and removed components, 1 .. count by
        size, 1 the largest, equal sizes ordered by the raster order of each
        component's first voxel.
    count : dask array
        0-d int64: the number of components kept.
    sizes : dask array, only with ``return_sizes=True``
        1-d int64 of unknown length (count): ``sizes[i]`` is the number of
        voxels labelled ``i + 1``. It comes from the histogram of component
        sizes the ranking computes anyway; computed with the labels and the
        count (``dask.compute(labels, count, sizes)``) it costs nothing more.

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
    the final labels, so no task holds more than one chunk. The graph has
    about 10 tasks per chunk (the input's included) and is built in time
    linear in the number of chunks.

    Compute the labels and the count together, ``dask.compute(labels,
    count)``: the join runs once for both. Computed one after the other,
    the count repeats the first pass and the join; on a cluster that is
    quiet too (no task is fused, so every key keeps its definition).

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

    from . import _graph

    x = as_array(input, "input", convert=da.asarray)
    if not isinstance(return_sizes, (bool, np.bool_)):
        raise TypeError(f"return_sizes: expected True or False, got {type(return_sizes).__name__}")
    _, connectivity, class_value, min_size, keep = label_args(x, connectivity, class_value, min_size, keep)
    workers_count(workers)
    if 0 in x.shape:
        # No voxel, no component (whatever keep asks), as in memory.
        empty = (da.zeros(x.shape, dtype=np.uint32, chunks=x.chunks), da.zeros((), dtype=np.int64),
                 da.zeros((0,), dtype=np.int64))
        return empty if return_sizes else empty[:2]
    # The graph's tasks hold no reference cycles: the collector, which would
    # look at every one of them again and again as they are made, waits.
    with _graph.collector_paused():
        labels, count, sizes = _label_graph(_graph.graph_array(x), connectivity, class_value, min_size, keep)
    return (labels, count, sizes) if return_sizes else (labels, count)


def _label_graph(x, connectivity, class_value, min_size, keep):
    from dask.base import tokenize
    from dask.graph_manipulation import bind

    from . import _graph
    from ._graph import Graph, call, ref, refs

    reach = NEIGHBOUR_AXES[connectivity]
    shape = [int(s) for s in x.shape]
    grid = tuple(x.numblocks)
    ndim = x.ndim
    starts = [np.concatenate([[0], np.cumsum(c[:-1])]).astype(np.int64) for c in x.chunks]
    indices = list(itertools.product(*(range(n) for n in grid)))
    number = {idx: k for k, idx in enumerate(indices)}
    token = tokenize(x.name, connectivity, class_value, min_size, keep)

    # The graph is written out directly: one layer of tasks (see ._graph),
    # built in time linear in the number of chunks. No task is fused with
    # another when a result is computed, so every key names the same task
    # whichever of the results is asked for: the labels and the count may be
    # computed one after the other on a cluster.
    names = {}

    def key(name, *k):
        full = names.get(name)
        if full is None:
            full = names[name] = f"{name}-{token}"
        return (full,) + k if k else full

    def at(name, *k):
        return ref(key(name, *k))

    dsk = Graph()
    nodes = []
    root = _Box((0,) * ndim, grid, itertools.count(), nodes)
    leaf = {node.lo: node for node in nodes if not node.children}
    parent = {c.id: (node, i) for node in nodes for i, c in enumerate(node.children)}
    box = lambda node: [list(node.lo), list(node.hi), list(grid)]

    def from_parent(name, node):
        if node.id not in parent:
            return None
        up, i = parent[node.id]
        return call(pick, at(name, up.id), i)

    def above(name, node):
        """The result of the node above (None at the root) and the place of `node` among its parts."""
        if node.id not in parent:
            return None, 0
        up, i = parent[node.id]
        return at(name, up.id), i

    # 1. Every chunk labelled on its own: its summary ("boundary": what the
    # join and the ranking read; the chunk's labels do not outlive the task),
    # and its leaf of the join.
    for idx, n in number.items():
        dsk.add(key("boundary", n), chunk_summary, ref((x.name,) + idx),
                [int(s[i]) for s, i in zip(starts, idx)], shape, connectivity, class_value)
        dsk.add(key("join-open", leaf[idx].id), join_leaf, at("boundary", n), n, leaf[idx].id, box(leaf[idx]))

    # 2. The pairs between every chunk and its neighbours one step further on
    # along up to `reach` axes (face, edge and corner neighbours, as far as the
    # connectivity joins voxels across them), in one task per chunk; each list
    # goes to the node of the tree where the two chunks meet.
    crossing = {node.id: [] for node in nodes}
    steps = [d for d in itertools.product((-1, 0, 1), repeat=ndim)
             if any(d) and d[next(a for a, t in enumerate(d) if t)] > 0 and sum(1 for t in d if t) <= reach]
    for idx, n in number.items():
        meetings, others, meet = [], [], []
        for d in steps:
            nxt = tuple(i + t for i, t in zip(idx, d))
            if not all(0 <= i < g for i, g in zip(nxt, grid)):
                continue
            m = number[nxt]
            axes = [a for a, t in enumerate(d) if t]
            first, rest = axes[0], axes[1:]
            meetings.append([m, first, [[a, int(d[a] > 0)] for a in rest], [[a, int(d[a] < 0)] for a in rest],
                             reach - len(axes)])
            others.append(at("boundary", m))
            node = parent[leaf[idx].id][0]  # the first box above the chunk's leaf that holds both
            while not all(l <= i < h for l, i, h in zip(node.lo, nxt, node.hi)):
                node = parent[node.id][0]
            meet.append(node.id)
        if meetings:
            dsk.add(key("contact_pairs", n), chunk_pairs, at("boundary", n), n, meetings, *others)
            for j, node in enumerate(meet):
                crossing[node].append((n, j))

    # 3. The join: up the tree (open groups), then down (final groups).
    def record(node):
        return call(pick, at("join-open", node.id), 1) if not node.children else at("join-record", node.id)

    for node in reversed(nodes):  # parts before their node
        if node.children:
            sources = sorted({n for n, _ in crossing[node.id]})
            where = {n: k for k, n in enumerate(sources)}
            dsk.add(key("join-up", node.id), join_node, node.id, box(node),
                    refs([at("join-open", c.id) for c in node.children]),
                    refs([at("contact_pairs", n) for n in sources]),
                    [[where[n], j] for n, j in crossing[node.id]])
            dsk.add(key("join-open", node.id), pick, at("join-up", node.id), 0)
            dsk.add(key("join-record", node.id), pick, at("join-up", node.id), 1)
    for node in nodes:
        if node.children:
            dsk.add(key("join-down", node.id), join_down, record(node), from_parent("join-down", node))

    # 4. Each chunk's own components (those inside it, the merged groups whose
    # first voxel it holds) and the histogram of their sizes, eight tables at a
    # time (the first level finds the chunks' own components in its task).
    final = {idx: above("join-down", leaf[idx]) for idx in number}
    items = []
    for i in range(0, len(indices), 8):
        group = indices[i:i + 8]
        items.append(ref(dsk.add(key("merge_counts-sizes", 1, i // 8), leaf_sizes, [final[idx][1] for idx in group],
                                 *[at("join-open", leaf[idx].id) for idx in group],
                                 *[final[idx][0] for idx in group])))
    level = 1
    while len(items) > 1:
        level += 1
        items = [ref(dsk.add(key("merge_counts-sizes", level, i), merge_counts, *items[i:i + 8]))
                 for i in range(0, len(items), 8)]
    dsk.add(key("size_classes"), size_classes, items[0], min_size, keep)

    # 5. The counts before and after each chunk, per axis a, among the chunks
    # that share its indices on the axes before a: prefix sums along a of the
    # counts of each slice of chunks (one step, one task per slice), and the
    # row's total, from which the chunk's own slice and the prefix are taken
    # away for the counts after it. A slice's counts on axis a are its row's
    # total on axis a + 1 on coarser positions (one task per slice); on the
    # last axis the slice is the chunk.
    for idx, n in number.items():
        dsk.add(key("position_counts", n), chunk_positions, at("join-open", leaf[idx].id), *final[idx],
                at("size_classes"), shape)
    before, after, total = {}, {}, {}
    for a in reversed(range(ndim)):
        for p in itertools.product(*(range(g) for g in grid[:a])):
            # Each entry: a table, or a chunk's positions and the axis whose table it is.
            if a == ndim - 1:
                row = [(at("position_counts", number[p + (i,)]), a) for i in range(grid[a])]
            else:
                row = []
                for i in range(grid[a]):
                    s = total[(a + 1, p + (i,))][0]
                    if grid[a + 1] > 1:
                        s = ref(dsk.add(key("merge_counts-slice", a, *p, i), coarser, s, shape[a]))
                    else:
                        s = call(coarser, s, shape[a])
                    row.append((s, None))
            prefix = None
            for i in range(grid[a]):
                if i == 0:
                    before[(a, p + (i,))] = (EMPTY, None)
                elif i == 1:
                    before[(a, p + (i,))] = prefix = row[0]
                else:
                    prefix = (ref(dsk.add(key("merge_counts-before", a, *p, i), add_counts, *prefix, *row[i - 1])),
                              None)
                    before[(a, p + (i,))] = prefix
            if grid[a] == 1:
                total[(a, p)] = row[0] if row[0][1] is None else (call(pick, row[0][0], 1, a), None)
            else:
                total[(a, p)] = (ref(dsk.add(key("merge_counts-row", a, *p), add_counts, *prefix, *row[-1])), None)
            for i in range(grid[a]):
                if i == grid[a] - 1:
                    after[(a, p + (i,))] = (EMPTY, None)
                elif a == ndim - 1:  # read by one chunk: looked up in the three tables in its task
                    parts = [total[(a, p)], before[(a, p + (i,))], row[i]]
                    after[(a, p + (i,))] = (refs([t for t, _ in parts]), [ax for _, ax in parts])
                else:
                    after[(a, p + (i,))] = (ref(dsk.add(key("merge_counts-after", a, *p, i), difference,
                                                        total[(a, p)][0], before[(a, p + (i,))][0], row[i][0])), None)
    for idx, n in number.items():
        tables = [before[(a, idx[:a + 1])] for a in range(ndim)] + [after[(a, idx[:a + 1])] for a in range(ndim)]
        dsk.add(key("rank_components", n), rank_from, at("position_counts", n), at("size_classes"), shape,
                [ax for _, ax in tables], *[t for t, _ in tables])

    # 6. The owners' labels of merged groups go up the tree to the node where
    # the group closed, and from there down to every chunk that holds a part of it.
    def labels_of(node):
        return at("labels-up", node.id) if node.children else at("rank_components", number[node.lo])

    for node in reversed(nodes):
        if node.children:
            dsk.add(key("labels-up", node.id), labels_node, record(node), *[labels_of(c) for c in node.children])
    for node in nodes:
        if node.children:
            dsk.add(key("labels-down", node.id), labels_down, record(node),
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
        out.add((name,) + idx, relabel, ref((again.name,) + idx), at("rank_components", n),
                *above("labels-down", leaf[idx]), connectivity, class_value)
    labels = _graph.array(out, name, x.chunks, np.uint32, [again, tables])
    count_name = key("label-count")
    counted = Graph()
    counted.add((count_name,), pick, at("count"))
    count = _graph.array(counted, count_name, (), np.int64, [tables])
    sizes_name = key("label-sizes")
    sized = Graph()
    sized.add((sizes_name, 0), sizes_of, at("size_classes"))
    sizes = _graph.array(sized, sizes_name, ((np.nan,),), np.int64, [tables])
    return labels, count, sizes
