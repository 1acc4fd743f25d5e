"""Morphology on NumPy arrays: bitwise dilation and erosion with the cross of
face neighbours, and the regional maxima of 2-d images.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. The arguments are checked in :mod:`._checks` (shared with
the chunked functions); the extension gets C-contiguous arrays of a native
dtype and releases the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._checks import (as_array, check_output, iterations_count, morphology_input, native, regional_maxima_dtype,
                      workers_count)

__all__ = ["dilate", "erode", "regional_maxima"]


def _cross(run, input, iterations, output, workers):
    a = as_array(input, "input")
    was_bool = morphology_input(a)
    iterations = iterations_count(iterations)
    # bool is taken as uint8 (a view, no copy) and comes back as bool.
    a = native(a, np.bool_).view(np.uint8) if was_bool else native(a, a.dtype)
    out = check_output(output, a.shape, np.bool_ if was_bool else a.dtype)
    w = workers_count(workers)
    result = run(a, iterations, None if out is None else (out.view(np.uint8) if was_bool else out), w)
    if was_bool:
        return out if out is not None else result.view(np.bool_)
    return result


def dilate(input, *, iterations=1, output=None, workers=None):
    """Dilation with the cross of face neighbours, bitwise.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        Each value is the bitwise OR of the value and its face neighbours
        inside the array (on a 0/1 mask, binary dilation with the cross).

    Raises
    ------
    TypeError
        Another dtype (complex included).
    ValueError
        0-d or 4-d input, iterations < 1, a wrong output.

    Notes
    -----
    Borders: neighbours outside the array are left out (scipy's
    ``binary_dilation`` with ``border_value=0``). Zero-size input gives an
    empty result.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> m = np.zeros((5, 5), bool); m[2, 2] = True
    >>> int(nvf.dilate(m).sum())
    5
    """
    return _cross(_core.dilate, input, iterations, output, workers)


def erode(input, *, iterations=1, output=None, workers=None):
    """Erosion with the cross of face neighbours, bitwise.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        Each value is the bitwise AND of the value and its face neighbours
        inside the array.

    Raises
    ------
    TypeError, ValueError
        As :func:`dilate`.

    Notes
    -----
    Borders: neighbours outside the array are left out, so they do not erode
    (scipy's ``binary_erosion`` with ``border_value=1``).

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> m = np.ones((3, 3), np.uint8)
    >>> nvf.erode(m).tolist()
    [[1, 1, 1], [1, 1, 1], [1, 1, 1]]
    """
    return _cross(_core.erode, input, iterations, output, workers)


def regional_maxima(input, *, output=None, workers=None):
    """Mask of the regional maxima of a 2-d image.

    Parameters
    ----------
    input : array_like, 2 dimensions
        int16, float32 or float64; uint8, int8 and bool are converted to int16
        (exactly).
    output : ndarray of uint8, optional
        The input's shape, C-contiguous, writable.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray of uint8
        1 where the value is > 0 and not smaller than any of its eight
        neighbours inside the image (flat tops are marked in full), else 0.

    Raises
    ------
    TypeError
        Another dtype.
    ValueError
        Not 2-d, a wrong output.

    Notes
    -----
    NaN never is a maximum, and a pixel next to a NaN is not one either.
    +inf is a maximum (if no neighbour is NaN).

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.array([[0, 1, 0], [1, 3, 1], [0, 1, 0]], np.float32)
    >>> nvf.regional_maxima(img).tolist()
    [[0, 0, 0], [0, 1, 0], [0, 0, 0]]
    """
    a = as_array(input, "input")
    a = native(a, regional_maxima_dtype(a))
    out = check_output(output, a.shape, np.uint8)
    return _core.regional_maxima(a, out, workers_count(workers))
