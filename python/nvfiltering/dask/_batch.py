"""``axes=`` of the chunked filters: batches of images.

The axes that are not filtered are batch axes. Their items are independent:
each is filtered by the chunked filter on its own (a lazy slice of the array),
so no chunk ever needs a halo along a batch axis, and the results are stacked
back in the input's axis order. Per-axis arguments follow the order of
``axes``, as in :mod:`nvfiltering`.
"""

import functools
import inspect

import numpy as np

from .._batch import Batch
from .._checks import as_array, separable_input
from .._nvfiltering import Kernel


def batched(fn, *, per_axis=(), output_shape=False, components=False, pair=False, vectors=False):
    """``fn`` with an ``axes=`` keyword. ``per_axis`` names the arguments that
    hold one value per filtered axis; ``output_shape``: ``output=`` is the
    lazy result's shape; ``components``: the last result axis holds one value
    per filtered axis (the gradient); ``pair``: ``fn`` returns labels and a
    count (and possibly more: the sizes, returned as nested lists of the
    batch shape holding each item's); ``vectors``: ``fn`` reads three-vectors as ``separable_filter``."""
    signature = inspect.signature(fn)

    @functools.wraps(fn)
    def wrapper(input, *args, axes=None, **kwargs):
        if axes is None:
            return fn(input, *args, **kwargs)
        import dask.array as da
        x = as_array(input, "input", convert=da.asarray)
        bound = signature.bind(x, *args, **kwargs)
        bound.apply_defaults()
        tail = 0
        if vectors:
            vector, _ = separable_input(x, bound.arguments["vectors"], batch=True)
            bound.arguments["vectors"] = vector
            tail = 1 if vector else 0
        b = Batch(x, axes, tail=tail)
        for name in per_axis:
            value = bound.arguments[name]
            if not isinstance(value, Kernel):
                bound.arguments[name] = b.per_axis(value, name)
        if output_shape and bound.arguments.get("output") is not None:
            bound.arguments["output"] = b.item_shape(tuple(bound.arguments["output"]))
        nb, nf = len(b.batch), len(b.filtered)
        moved = da.moveaxis(x, b.filtered, range(nb, nb + nf))

        def one(item):
            bound.arguments["input"] = item
            return fn(*bound.args, **bound.kwargs)

        def build(prefix):
            if len(prefix) == nb:
                return one(moved[prefix])
            parts = [build(prefix + (i,)) for i in range(b.batch_shape[len(prefix)])]
            if pair:
                # Labels and counts stacked; anything after them (the sizes)
                # as nested lists of the batch shape.
                return (da.stack([p[0] for p in parts]), da.stack([p[1] for p in parts]),
                        *[[p[k] for p in parts] for k in range(2, len(parts[0]))])
            return da.stack(parts)

        extras = []
        if b.items == 0:
            probe = one(da.zeros(moved.shape[nb:], dtype=moved.dtype, chunks=-1))
            first = probe[0] if pair else probe
            stacked = da.empty(b.batch_shape + first.shape, dtype=first.dtype)
            counts = da.zeros(b.batch_shape, dtype=np.int64)
            if pair:
                def empty(shape):
                    return [empty(shape[1:]) for _ in range(shape[0])] if shape else None
                extras = [empty(b.batch_shape) for _ in probe[2:]]
        else:
            stacked = build(())
            if pair:
                stacked, counts, *extras = stacked
        result = da.moveaxis(stacked, range(nb, nb + nf), b.filtered)
        if components:
            order = [b.filtered.index(ax) for ax in b.given]
            if order != sorted(order):
                result = result[..., order]
        return (result, counts, *extras) if pair else result

    wrapper.__signature__ = signature.replace(parameters=list(signature.parameters.values()) + [
        inspect.Parameter("axes", inspect.Parameter.KEYWORD_ONLY, default=None)])
    return wrapper
