"""Chunked morphology: bitwise dilation and erosion with the cross, grey
dilation, erosion, opening and closing with the cross, and the regional maxima
of 2-d images and 3-d volumes. Each chunk is filtered with a halo as wide as
the reach of the whole filter, so the result equals the whole-array result bit
for bit."""

from __future__ import annotations

import numpy as np

from .. import _morphology as _memory
from .._checks import (as_array, grey_input, iterations_count, morphology_input, no_output_array,
                       regional_maxima_dtype, workers_count)
from . import _blocks

__all__ = ["dilate", "erode", "grey_closing", "grey_dilation", "grey_erosion", "grey_opening", "regional_maxima"]


def _cross(name, input, iterations, output, workers):
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    morphology_input(x)
    iterations = iterations_count(iterations)
    no_output_array(output)
    workers_count(workers)
    run_filter = getattr(_memory, name)

    def run(block, lo, hi, loc):
        out = run_filter(block, iterations=iterations, workers=1)
        return _blocks.trim(out, lo, hi)

    # Each pass reaches one voxel further: a halo of `iterations` voxels.
    return _blocks.with_halo(x, (iterations,) * x.ndim, run, dtype=x.dtype.newbyteorder("="))


def dilate(input, *, iterations=1, output=None, workers=None):
    """Dilation with the cross of face neighbours, bitwise, of a chunked image
    or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1; also the halo each chunk takes from its
        neighbours.
    output : None
        The result is lazy: store it with ``dask.array.store`` or ``to_zarr``.
        An array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.dilate`; every chunk task runs on one
        thread and the scheduler supplies the parallelism.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks (chunks smaller than the halo
        merged with a neighbour), bit for bit :func:`nvfiltering.dilate` of the
        whole array: each value is the bitwise OR of the value and its face
        neighbours inside the array.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.dilate` refuses (another dtype, 0-d or 4-d
        input, iterations < 1), with its messages, when the function is called.

    Notes
    -----
    Borders: neighbours outside the array are left out, as on the whole array.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> m = np.zeros((6, 6), bool); m[2, 3] = True
    >>> int(nvd.dilate(da.from_array(m, chunks=3)).sum().compute())
    5
    """
    return _cross("dilate", input, iterations, output, workers)


def erode(input, *, iterations=1, output=None, workers=None):
    """Erosion with the cross of face neighbours, bitwise, of a chunked image
    or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1; also the halo of every chunk.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.erode`; every chunk task runs on one
        thread.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks, bit for bit
        :func:`nvfiltering.erode` of the whole array: each value is the bitwise
        AND of the value and its face neighbours inside the array.

    Raises
    ------
    TypeError, ValueError
        As :func:`dilate`.

    Notes
    -----
    Borders: neighbours outside the array are left out, so they do not erode.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> m = np.ones((4, 4), np.uint8)
    >>> nvd.erode(da.from_array(m, chunks=2)).compute().tolist()
    [[1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1]]
    """
    return _cross("erode", input, iterations, output, workers)


def _grey(name, input, iterations, output, workers, passes):
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    dtype = grey_input(x)
    iterations = iterations_count(iterations)
    no_output_array(output)
    workers_count(workers)
    run_filter = getattr(_memory, name)

    def run(block, lo, hi, loc):
        out = run_filter(block, iterations=iterations, workers=1)
        return _blocks.trim(out, lo, hi)

    # Every pass reaches one voxel further, and the opening and closing run
    # 2 * iterations passes: beyond that reach from a chunk's cut edge the
    # chunk's result is the whole array's.
    return _blocks.with_halo(x, (passes * iterations,) * x.ndim, run, dtype=dtype)


def grey_dilation(input, *, iterations=1, output=None, workers=None):
    """Grey dilation with the cross of face neighbours (the maximum) of a
    chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Number of passes, >= 1; also the halo each chunk takes from its
        neighbours.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.grey_dilation`; every chunk task runs
        on one thread.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks (chunks smaller than the halo
        merged with a neighbour), bit for bit :func:`nvfiltering.grey_dilation`
        of the whole array, NaN and signed zeros included.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.grey_dilation` refuses (another dtype, 0-d or
        4-d input, iterations < 1), with its messages, when the function is
        called.

    Notes
    -----
    Borders: neighbours outside the array are left out, as on the whole array
    (no halo is added past the array's edge).

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> img = np.zeros((6, 6), np.uint8); img[2, 3] = 9
    >>> int(nvd.grey_dilation(da.from_array(img, chunks=3)).sum().compute())
    45
    """
    return _grey("grey_dilation", input, iterations, output, workers, 1)


def grey_erosion(input, *, iterations=1, output=None, workers=None):
    """Grey erosion with the cross of face neighbours (the minimum) of a
    chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Number of passes, >= 1; also the halo of every chunk.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.grey_erosion`; every chunk task runs
        on one thread.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks, bit for bit
        :func:`nvfiltering.grey_erosion` of the whole array.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----
    Borders: neighbours outside the array are left out, as on the whole array.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> line = np.array([4.0, 2.0, 5.0, 7.0, 1.0, 6.0])
    >>> nvd.grey_erosion(da.from_array(line, chunks=2)).compute().tolist()
    [2.0, 2.0, 2.0, 1.0, 1.0, 1.0]
    """
    return _grey("grey_erosion", input, iterations, output, workers, 1)


def grey_opening(input, *, iterations=1, output=None, workers=None):
    """Grey opening with the cross (``iterations`` erosion passes, then as
    many dilation passes) of a chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Passes of each kind, >= 1; the halo of every chunk is twice as wide.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.grey_opening`; every chunk task runs
        on one thread.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks, bit for bit
        :func:`nvfiltering.grey_opening` of the whole array.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----
    Borders: neighbours outside the array are left out, as on the whole array.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> img = np.full((6, 6), 3, np.uint16); img[3, 2] = 10
    >>> int(nvd.grey_opening(da.from_array(img, chunks=3)).max().compute())
    3
    """
    return _grey("grey_opening", input, iterations, output, workers, 2)


def grey_closing(input, *, iterations=1, output=None, workers=None):
    """Grey closing with the cross (``iterations`` dilation passes, then as
    many erosion passes) of a chunked image or volume.

    Parameters
    ----------
    input : dask array or array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Passes of each kind, >= 1; the halo of every chunk is twice as wide.
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.grey_closing`; every chunk task runs
        on one thread.

    Returns
    -------
    dask array
        The input's shape, dtype and chunks, bit for bit
        :func:`nvfiltering.grey_closing` of the whole array.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----
    Borders: neighbours outside the array are left out, as on the whole array.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> img = np.full((6, 6), 3, np.int16); img[3, 2] = -8
    >>> int(nvd.grey_closing(da.from_array(img, chunks=3)).min().compute())
    3
    """
    return _grey("grey_closing", input, iterations, output, workers, 2)


def regional_maxima(input, *, output=None, workers=None):
    """Mask of the regional maxima of a chunked 2-d image or 3-d volume.

    Parameters
    ----------
    input : dask array or array_like, 2 or 3 dimensions
        uint8, uint16, int16, float32 or float64; int8 is converted to int16
        and bool to uint8 (exactly).
    output : None
        The result is lazy; an array is a TypeError.
    workers : int, optional
        Checked as in :func:`nvfiltering.regional_maxima`; every chunk task
        runs on one thread.

    Returns
    -------
    dask array of uint8
        The input's shape and chunks (halo 1), bit for bit
        :func:`nvfiltering.regional_maxima` of the whole array: 1 where the
        value is > 0 and not smaller than any of its neighbours (8 in an
        image, 26 in a volume; flat tops are marked in full, also across chunk
        boundaries), else 0.

    Raises
    ------
    TypeError, ValueError
        What :func:`nvfiltering.regional_maxima` refuses (another dtype, not
        2-d or 3-d), with its messages, when the function is called.

    Notes
    -----
    NaN never is a maximum, and a value next to a NaN is not one either.

    Examples
    --------
    >>> import dask.array as da, numpy as np, nvfiltering.dask as nvd
    >>> img = np.array([[0, 1, 0], [1, 3, 1], [0, 1, 0]], np.float32)
    >>> nvd.regional_maxima(da.from_array(img, chunks=2)).compute().tolist()
    [[0, 0, 0], [0, 1, 0], [0, 0, 0]]
    >>> vol = np.zeros((4, 4, 4), np.uint8); vol[1, 2, 1] = 2; vol[2, 2, 2] = 1
    >>> int(nvd.regional_maxima(da.from_array(vol, chunks=2)).sum().compute())
    1
    """
    import dask.array as da
    x = as_array(input, "input", convert=da.asarray)
    regional_maxima_dtype(x)
    no_output_array(output)
    workers_count(workers)

    def run(block, lo, hi, loc):
        out = _memory.regional_maxima(block, workers=1)
        return _blocks.trim(out, lo, hi)

    return _blocks.with_halo(x, (1,) * x.ndim, run, dtype=np.uint8)
