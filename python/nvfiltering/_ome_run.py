"""Running chunk writes with a progress bar, and writing a folder beside its
final name so that only a finished one ever appears there."""

import functools
import os
import shutil
import sys
import threading
import time
import uuid

import numpy as np

_WRITE = "nvf-write-"


def _write_block(block, target, block_info=None):
    """Store one block where it belongs in ``target``; returns a one-element
    placeholder so that the write is a task of its own."""
    loc = block_info[0]["array-location"]
    target[tuple(slice(a, b) for a, b in loc)] = block
    return np.zeros((1,) * block.ndim, dtype=np.uint8)


def write_blocks(x, target, blocks):
    """A lazy array of one tiny block per write: ``x`` rechunked to ``blocks``
    (whole chunks or shards of ``target``), each block stored by its own task.
    Computing it writes ``x`` into ``target``."""
    x = x.rechunk(blocks)
    name = _WRITE + uuid.uuid4().hex
    return x.map_blocks(functools.partial(_write_block, target=target), dtype=np.uint8, chunks=(1,) * x.ndim, name=name,
                        meta=np.empty((0,) * x.ndim, np.uint8))


def _is_write(key):
    name = key[0] if isinstance(key, tuple) else key
    return isinstance(name, str) and name.startswith(_WRITE)


class _Bar:
    """Chunks done out of chunks total, redrawn on one line of stderr."""

    def __init__(self, total, label, stream=None):
        self.total, self.label, self.done = total, label, 0
        self.stream = stream or sys.stderr
        self.lock = threading.Lock()
        self.last = 0.0
        self.start = time.monotonic()

    def step(self):
        with self.lock:
            self.done += 1
            now = time.monotonic()
            if now - self.last >= 0.1 or self.done == self.total:
                self.last = now
                self.draw()

    def draw(self):
        width = 30
        filled = width * self.done // max(self.total, 1)
        seconds = time.monotonic() - self.start
        self.stream.write(f"\r{self.label} [{'#' * filled}{'.' * (width - filled)}] "
                          f"{self.done}/{self.total} chunks {seconds:5.1f} s")
        self.stream.flush()

    def close(self):
        self.draw()
        self.stream.write("\n")
        self.stream.flush()


def _distributed_client():
    try:
        from distributed import default_client
        return default_client()
    except (ImportError, ValueError):
        return None


def run(writes, progress=False, label="writing"):
    """Compute ``writes`` (from :func:`write_blocks`): on the ``dask.distributed``
    client in use if there is one (its own progress bar), else on Dask's
    default scheduler with a bar counting the written chunks."""
    import dask
    client = _distributed_client()
    if client is not None:
        future = client.compute(writes)
        if progress:
            from distributed import progress as show
            show(future)
            sys.stderr.write("\n")
        future.result()
        return
    if not progress:
        dask.compute(writes)
        return
    from dask.callbacks import Callback
    bar = _Bar(writes.npartitions, label)

    class Count(Callback):
        def _posttask(self, key, result, dsk, state, id):
            if _is_write(key):
                bar.step()

    bar.draw()
    try:
        with Count():
            dask.compute(writes)
    finally:
        bar.close()


class Staging:
    """A folder written beside ``final`` under a hidden name and moved into
    place by :meth:`commit`. ``overwrite=False`` refuses an existing ``final``
    (``FileExistsError``); with ``overwrite=True`` the old one stays until the
    new one is moved in. On an exception the staged folder is removed; a killed
    process leaves at most the hidden folder, never anything under ``final``."""

    def __init__(self, final, overwrite=False):
        self.final = os.path.abspath(os.fspath(final))
        self.overwrite = overwrite
        parent, base = os.path.split(self.final)
        if not base:
            raise ValueError(f"not a folder name: {final!r}")
        if os.path.lexists(self.final) and not overwrite:
            raise FileExistsError(f"{final} exists (overwrite it with overwrite=True)")
        if not os.path.isdir(parent):
            raise FileNotFoundError(f"no folder {parent} to write {base} in")
        self.path = os.path.join(parent, f".{base}.part-{uuid.uuid4().hex[:12]}")

    def __enter__(self):
        os.mkdir(self.path)
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            shutil.rmtree(self.path, ignore_errors=True)
        return False

    def commit(self):
        old = None
        if os.path.lexists(self.final):
            if not self.overwrite:
                raise FileExistsError(f"{self.final} exists (overwrite it with overwrite=True)")
            old = self.path + ".old"
            os.rename(self.final, old)
        try:
            os.rename(self.path, self.final)
        except BaseException:
            if old is not None:
                os.rename(old, self.final)
            raise
        if old is not None:
            if os.path.isdir(old) and not os.path.islink(old):
                shutil.rmtree(old, ignore_errors=True)
            else:
                os.remove(old)
