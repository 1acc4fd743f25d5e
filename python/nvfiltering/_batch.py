"""Batches: ``axes=`` of every filter.

``axes`` names the axes to filter, in array order or any other (the meaning
SciPy gives it); the other axes are batch axes, and each item (one index along
every batch axis) is filtered on its own, exactly as the call on that item
alone would. The filtered axes are moved behind the batch axes (one copy when
they are not there already), the items are filtered one by one or, when there
are at least as many items as threads, side by side with one thread each, and
the results are put back where the filtered axes were. The results do not
depend on ``workers``: every item gets the same bits either way.
"""

import numbers
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from ._checks import MAX_AXIS, check_output

# The largest array a batch takes, and the most axes one item may have.
MAX_BATCH_NDIM = 5
MAX_FILTER_AXES = 3


class Batch:
    """The split of an array's axes into filtered and batch axes."""

    def __init__(self, a, axes, name="axes", tail=0):
        # The last `tail` axes of `a` are not image axes (three-vector
        # components): they are neither filtered nor batch axes.
        shape = a.shape[:a.ndim - tail]
        if len(shape) > MAX_BATCH_NDIM:
            raise ValueError(f"input: at most {MAX_BATCH_NDIM} image dimensions, got {len(shape)} (shape {a.shape})")
        if isinstance(axes, (numbers.Integral, np.integer)) and not isinstance(axes, (bool, np.bool_)):
            axes = (axes,)
        try:
            axes = tuple(axes)
        except TypeError:
            raise TypeError(f"{name}: expected an int or a sequence of ints, got {type(axes).__name__}") from None
        given = []
        for ax in axes:
            if isinstance(ax, (bool, np.bool_)) or not isinstance(ax, (numbers.Integral, np.integer)):
                raise TypeError(f"{name}: expected ints, got {type(ax).__name__}")
            ax = int(ax)
            if not -len(shape) <= ax < len(shape):
                raise ValueError(f"{name}: axis {ax} is out of range for {len(shape)} image dimensions")
            given.append(ax % len(shape))
        if not 1 <= len(given) <= MAX_FILTER_AXES:
            raise ValueError(f"{name}: expected 1 to {MAX_FILTER_AXES} axes, got {len(given)}")
        if len(set(given)) != len(given):
            raise ValueError(f"{name}: an axis is named twice in {tuple(axes)}")
        for n in shape:
            if n > MAX_AXIS:
                raise ValueError(f"input: an axis of length {n} is longer than the library's limit {MAX_AXIS}")
        self.ndim = len(shape)
        self.given = tuple(given)
        self.filtered = tuple(sorted(given))
        self.batch = tuple(ax for ax in range(self.ndim) if ax not in self.given)
        self.batch_shape = tuple(shape[ax] for ax in self.batch)
        self.items = int(np.prod(self.batch_shape, dtype=np.int64))

    def item_shape(self, shape):
        """The filtered axes of ``shape`` (an output's), in array order, and
        its trailing non-image axes; the batch axes must match the input's."""
        batch = tuple(shape[ax] for ax in self.batch)
        if batch != self.batch_shape:
            raise ValueError(f"output: the batch axes {self.batch} must have the input's lengths "
                             f"{self.batch_shape}, got {batch}")
        return tuple(shape[ax] for ax in self.filtered) + tuple(shape[self.ndim:])

    def per_axis(self, value, name):
        """A per-axis argument given in the order of ``axes`` as a list in the
        items' axis order (array order); a single value as it is."""
        if isinstance(value, (str, bytes)) or np.ndim(value) == 0:
            return value
        seq = list(value)
        if len(seq) != len(self.given):
            raise ValueError(f"{name}: expected one value per axis of axes={self.given} ({len(self.given)}), "
                             f"got {len(seq)}")
        by_axis = dict(zip(self.given, seq))
        return [by_axis[ax] for ax in self.filtered]

    def items_of(self, a):
        """``a`` as a C-contiguous array of shape (items,) + the filtered shape."""
        moved = np.moveaxis(a, self.filtered, range(len(self.batch), self.ndim))
        moved = np.ascontiguousarray(moved)
        return moved.reshape((self.items,) + moved.shape[len(self.batch):])

    def put_back(self, stacked):
        """Item results (items,) + item shape (+ trailing axes that are not
        image axes, which stay last) in the input's axis order."""
        res = stacked.reshape(self.batch_shape + stacked.shape[1:])
        nb = len(self.batch)
        res = np.moveaxis(res, range(nb, nb + len(self.filtered)), self.filtered)
        return np.ascontiguousarray(res)

    def run(self, one, a, workers):
        """Every item of ``a`` through ``one(item, workers)``, which returns an
        array (the same shape and dtype for every item), or a tuple of such an
        array, a number and possibly arrays of any length (``label``: the
        labels, the count and the sizes); the results stacked and put back, the
        numbers as an int64 array of the batch shape, and each further entry as
        an object array of the batch shape holding every item's array. Items
        run side by side, one thread each, when there are at least as many as
        threads."""
        items = self.items_of(a)
        if self.items == 0:
            # No item to ask for the result's shape: an item of zeros gives it.
            probe = one(np.zeros(items.shape[1:], items.dtype), 1)
            results = []
        elif workers > 1 and self.items >= workers:
            with ThreadPoolExecutor(max_workers=workers) as pool:
                results = list(pool.map(lambda item: one(item, 1), items))
            probe = results[0]
        else:
            results = [one(items[i], workers) for i in range(self.items)]
            probe = results[0]
        pair = isinstance(probe, tuple)
        arrays = [r[0] for r in results] if pair else results
        first = probe[0] if pair else probe
        stacked = np.stack(arrays) if arrays else np.empty((0,) + first.shape, first.dtype)
        out = self.put_back(stacked)
        if not pair:
            return out
        counts = np.array([r[1] for r in results], dtype=np.int64).reshape(self.batch_shape)
        extras = []
        for k in range(2, len(probe)):
            held = np.empty(self.items, dtype=object)
            for i, r in enumerate(results):
                held[i] = r[k]  # one by one: NumPy would otherwise stack arrays of equal length
            extras.append(held.reshape(self.batch_shape))
        return (out, counts, *extras)


def deliver(result, output, name="output"):
    """``result`` copied into ``output`` (checked) and ``output`` returned, or
    ``result`` itself without an ``output``."""
    if output is None:
        return result
    check_output(output, result.shape, result.dtype, name)
    output[...] = result
    return output
