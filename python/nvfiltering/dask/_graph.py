"""Task graphs written out by hand, for the chunked computations that are not
one function per chunk (the labelling's join on a tree of chunks), built in
time linear in the number of tasks through Dask's public task classes.

A task calls one function. Its arguments are plain values (passed as they
are, lists and tuples included), the results of other tasks (:func:`ref`),
lists of such results (:func:`refs`), and calls computed inside the task
itself (:func:`call`: an inline step that needs no key of its own, so that
cheap steps run where their result is used).

Dask fuses no task of these graphs with another when it optimises a
computation: a key then names the same task in every graph that holds it, so
two results of one graph computed one after the other (on a cluster that
still knows the first one's keys) submit nothing under a key it knows
otherwise."""

from __future__ import annotations

import contextlib
import gc

from dask.task_spec import List, Task, TaskRef

__all__ = ["Graph", "array", "call", "collector_paused", "delayed", "graph_array", "ref", "refs"]


@contextlib.contextmanager
def collector_paused():
    """Python's cycle collector paused (if it ran) while a graph is built: the
    tasks hold no cycles, and a collection now and then would look at every
    task made so far (time quadratic in the number of tasks)."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if gc.get_freeze_count() == 0:
            # What was made since is moved to the oldest generation without
            # being looked at (freezing and thawing only move lists), rather
            # than looked at, all of it, by the next young collection.
            gc.freeze()
            gc.unfreeze()
        if enabled:
            gc.enable()


def graph_array(x):
    """``x`` as an array held as a task graph (``dask.array.core.Array``), which
    this module's graphs can name chunk by chunk. When Dask builds array
    expressions (its query planning), the expression is lowered to its graph
    here, and the results of this module are graph arrays too."""
    import numpy as np
    from dask.array.core import Array
    if isinstance(x, Array):
        return x
    keys = x.__dask_keys__()
    while isinstance(keys, list):
        keys = keys[0]
    name = keys[0] if isinstance(keys, tuple) else x.name
    meta = np.empty((0,) * x.ndim, x.dtype)
    return Array(x.__dask_graph__(), name, x.chunks, dtype=x.dtype, meta=meta)


class Step(Task):
    """A task that Dask's optimisation leaves as it is (never fused)."""

    __slots__ = ()

    @property
    def block_fusion(self):
        return True


def ref(key):
    """The result of the task ``key`` (of this graph or of an input collection)."""
    return TaskRef(key)


def refs(items):
    """A list of results (:func:`ref`, :func:`call`) passed as one argument."""
    return List(*items)


def call(func, *args):
    """``func(*args)`` computed inside the task that takes it as an argument."""
    return Task(None, func, *args)


class Graph:
    """Tasks by key, to become one layer of a high-level graph."""

    def __init__(self):
        self.tasks = {}

    def __len__(self):
        return len(self.tasks)

    def add(self, key, func, *args):
        """The task ``key``: ``func`` called on ``args`` (see :func:`ref`,
        :func:`refs`, :func:`call`; any other argument is passed as it is)."""
        self.tasks[key] = Step(key, func, *args)
        return key

    def layer(self, name, dependencies):
        """The tasks as the layer ``name`` of a high-level graph over ``dependencies``."""
        from dask.highlevelgraph import HighLevelGraph
        return HighLevelGraph.from_collections(name, self.tasks, dependencies=dependencies)


def delayed(graph, key, name, dependencies):
    """A Delayed for the task ``key`` of ``graph``, the graph being the layer ``name``."""
    from dask.delayed import Delayed
    return Delayed(key, graph.layer(name, dependencies), layer=name)


def array(graph, name, chunks, dtype, dependencies):
    """A dask array whose chunk at index i is the task ``(name,) + i`` of ``graph``."""
    import numpy as np
    from dask.array.core import Array
    meta = np.empty((0,) * len(chunks), dtype)
    return Array(graph.layer(name, dependencies), name, chunks=chunks, dtype=dtype, meta=meta)
