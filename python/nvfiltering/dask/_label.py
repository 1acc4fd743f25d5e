"""Chunked connected components that equal the whole-array labelling exactly.

Every chunk is labelled on its own; only its boundary slabs, its component
sizes and the global raster index of each component's first voxel leave the
task. Slabs facing each other across a chunk boundary give label pairs; one
small task merges the pairs (connected components of the pair graph), adds up
sizes, keeps the smallest first voxel of the merged parts, ranks by size (ties
by that first voxel, as the whole-array labelling does), applies min_size/keep
and hands every chunk its lookup table. The chunks are then read and labelled
again, after the tables exist, so that no task ever holds more than a chunk."""

from __future__ import annotations

import itertools
import operator

import numpy as np

NO_VOXEL = np.iinfo(np.int64).max


def _nv():
    import nvfiltering
    return nvfiltering


def _label_block(block, connectivity, class_value):
    labels, count = _nv().label(block, connectivity=connectivity, class_value=class_value, workers=1)
    return labels, int(count)


def chunk_summary(block, start, shape, connectivity, class_value):
    """Sizes, first voxels (global raster index) and boundary slabs of one chunk's components."""
    labels, count = _label_block(block, connectivity, class_value)
    flat = labels.reshape(-1)
    where = np.flatnonzero(flat)
    found = flat[where].astype(np.intp)
    sizes = np.bincount(found, minlength=count + 1)[1:].astype(np.int64)
    first_local = np.full(count + 1, NO_VOXEL, np.int64)
    np.minimum.at(first_local, found, where)
    local = np.unravel_index(first_local[1:], labels.shape) if count else [np.empty(0, np.int64)] * labels.ndim
    first = np.ravel_multi_index(tuple(np.asarray(c, np.int64) + s for c, s in zip(local, start)), shape) \
        if count else np.empty(0, np.int64)
    faces = {}
    for axis in range(labels.ndim):
        faces[(axis, 0)] = np.ascontiguousarray(np.take(labels, 0, axis=axis))
        faces[(axis, 1)] = np.ascontiguousarray(np.take(labels, labels.shape[axis] - 1, axis=axis))
    return {"count": count, "sizes": sizes, "first": np.asarray(first, np.int64), "faces": faces}


def _pairs(a, b):
    keep = (a > 0) & (b > 0)
    key = np.unique((a[keep].astype(np.uint64) << np.uint64(32)) | b[keep].astype(np.uint64))
    return (key >> np.uint64(32)).astype(np.int64), (key & np.uint64(0xFFFFFFFF)).astype(np.int64)


def face_pairs(low, high, ids, diagonal):
    """Label pairs of voxels that touch across one boundary: `low` is the last
    slab of the chunk before it, `high` the first slab of the chunk after it."""
    la, lb = [low], [high]
    if diagonal:  # 8-connected images: the boundary is a line, neighbours one step along it touch too
        la += [low[:-1], low[1:]]
        lb += [high[1:], high[:-1]]
    a, b = _pairs(np.concatenate([v.ravel() for v in la]), np.concatenate([v.ravel() for v in lb]))
    return ids[0], ids[1], a, b


def corner_pairs(top_left, bottom_right, top_right, bottom_left, ids):
    """Diagonal pairs at a point where four chunks of an 8-connected image meet."""
    a = np.array([top_left, top_right], np.int64)
    b = np.array([bottom_right, bottom_left], np.int64)
    keep = (a > 0) & (b > 0)
    return [(ids[0], ids[1], a[:1][keep[:1]], b[:1][keep[:1]]), (ids[2], ids[3], a[1:][keep[1:]], b[1:][keep[1:]])]


def resolve(counts, sizes, firsts, pair_lists, min_size, keep):
    """Per chunk the table from local label to final label, and the final count."""
    from scipy.sparse import coo_matrix
    from scipy.sparse.csgraph import connected_components

    counts = np.asarray(counts, np.int64)
    offsets = np.concatenate([[0], np.cumsum(counts)])
    total = int(offsets[-1])
    size_all = np.concatenate(sizes) if total else np.empty(0, np.int64)
    first_all = np.concatenate(firsts) if total else np.empty(0, np.int64)
    ga, gb = [], []
    for (ka, kb, a, b) in pair_lists:
        ga.append(offsets[ka] + a - 1)
        gb.append(offsets[kb] + b - 1)
    ga = np.concatenate(ga) if ga else np.empty(0, np.int64)
    gb = np.concatenate(gb) if gb else np.empty(0, np.int64)
    graph = coo_matrix((np.ones(ga.size, np.int8), (ga, gb)), shape=(total, total)).tocsr()
    ncomp, comp = connected_components(graph, directed=False) if total else (0, np.empty(0, np.int64))
    gsize = np.zeros(ncomp, np.int64)
    np.add.at(gsize, comp, size_all)
    gfirst = np.full(ncomp, NO_VOXEL, np.int64)
    np.minimum.at(gfirst, comp, first_all)
    order = np.lexsort((gfirst, -gsize))
    rank = np.empty(ncomp, np.int64)
    rank[order] = np.arange(1, ncomp + 1)
    if keep:
        if keep > ncomp:
            return {"error": (keep, ncomp)}
        threshold = gsize[order[keep - 1]]
    else:
        threshold = min_size
    final = np.where(gsize >= threshold, rank, 0).astype(np.uint32)
    per_id = final[comp] if total else np.empty(0, np.uint32)
    tables = [np.concatenate([[0], per_id[offsets[k]:offsets[k + 1]]]).astype(np.uint32)
              for k in range(counts.size)]
    return {"tables": tables, "count": int(np.count_nonzero(final))}


def _join(pairs, corner_groups):
    return list(pairs) + [p for group in corner_groups for p in group]


def table_of(resolved, k):
    if "error" in resolved:
        keep, found = resolved["error"]
        raise _nv().Error(f"keep: component {keep} selected to keep does not exist ({found} components)")
    return resolved["tables"][k]


def count_of(resolved):
    if "error" in resolved:
        table_of(resolved, 0)
    return np.int64(resolved["count"])


def relabel(block, table, connectivity, class_value):
    labels, _ = _label_block(block, connectivity, class_value)
    return table[labels]


def label(input, *, connectivity=None, class_value=1, min_size=0, keep=0, workers=None):
    import dask
    import dask.array as da
    from dask.graph_manipulation import bind

    x = da.asarray(input)
    if x.ndim not in (1, 2, 3):
        raise ValueError(f"input must have 1, 2 or 3 dimensions, got {x.ndim}")
    allowed = {1: (2,), 2: (4, 8), 3: (6,)}[x.ndim]
    if connectivity is None:
        connectivity = allowed[0]
    if connectivity not in allowed:
        raise ValueError(f"connectivity: a {x.ndim}-d array takes {' or '.join(map(str, allowed))}, "
                         f"got {connectivity}")
    for name, v in (("min_size", min_size), ("keep", keep)):
        if isinstance(v, bool) or not isinstance(v, (int, np.integer)) or v < 0:
            raise ValueError(f"{name} must be a non-negative integer, got {v!r}")
    min_size, keep = int(min_size), int(keep)
    diagonal = connectivity == 8
    grid = x.numblocks
    starts = [np.concatenate([[0], np.cumsum(c[:-1])]).astype(np.int64) for c in x.chunks]
    indices = list(itertools.product(*(range(n) for n in grid)))
    number = {idx: k for k, idx in enumerate(indices)}
    blocks = x.to_delayed(optimize_graph=False)
    summary = dask.delayed(chunk_summary, pure=True)
    get = dask.delayed(operator.getitem, pure=True)
    metas = {idx: summary(blocks[idx], tuple(int(s[i]) for s, i in zip(starts, idx)), x.shape,
                          connectivity, class_value) for idx in indices}
    faces = {}

    def face(idx, axis, side):
        if (idx, axis, side) not in faces:
            faces[(idx, axis, side)] = get(get(metas[idx], "faces"), (axis, side))
        return faces[(idx, axis, side)]

    pair_lists = []
    for idx in indices:
        for axis in range(x.ndim):
            if idx[axis] + 1 < grid[axis]:
                nxt = idx[:axis] + (idx[axis] + 1,) + idx[axis + 1:]
                pair_lists.append(dask.delayed(face_pairs, pure=True)(
                    face(idx, axis, 1), face(nxt, axis, 0), (number[idx], number[nxt]), diagonal))
    corners = []
    if diagonal:
        for i, j in itertools.product(range(grid[0] - 1), range(grid[1] - 1)):
            tl, tr, bl, br = (i, j), (i, j + 1), (i + 1, j), (i + 1, j + 1)
            corners.append(dask.delayed(corner_pairs, pure=True)(
                get(face(tl, 0, 1), -1), get(face(br, 0, 0), 0), get(face(tr, 0, 1), 0),
                get(face(bl, 0, 0), -1), (number[tl], number[br], number[tr], number[bl])))
    all_pairs = dask.delayed(_join, pure=True)(pair_lists, corners)
    resolved = dask.delayed(resolve, pure=True)(
        [get(metas[i], "count") for i in indices], [get(metas[i], "sizes") for i in indices],
        [get(metas[i], "first") for i in indices], all_pairs, min_size, keep)
    # Read the chunks a second time, only once the tables exist: nothing keeps
    # the whole volume in memory between the two passes.
    again = bind(x, resolved).to_delayed(optimize_graph=False)
    out = np.empty(grid, dtype=object)
    relabel_d = dask.delayed(relabel, pure=True)
    table_d = dask.delayed(table_of, pure=True)
    for idx in indices:
        shape = tuple(c[i] for c, i in zip(x.chunks, idx))
        out[idx] = da.from_delayed(relabel_d(again[idx], table_d(resolved, number[idx]), connectivity,
                                             class_value), shape=shape, dtype=np.uint32)
    labels = da.block(out.tolist()) if x.ndim else out[()]
    count = da.from_delayed(dask.delayed(count_of, pure=True)(resolved), shape=(), dtype=np.int64)
    return labels, count
