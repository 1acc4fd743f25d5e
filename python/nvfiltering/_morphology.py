"""Morphology on NumPy arrays: bitwise dilation and erosion with the cross of
face neighbours, grey dilation, erosion, opening and closing with the same
cross, and the regional maxima of 2-d images and 3-d volumes.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. The arguments are checked in :mod:`._checks` (shared with
the chunked functions); the extension gets C-contiguous arrays of a native
dtype and releases the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._batch import Batch, deliver
from ._checks import (as_array, check_output, grey_input, iterations_count, morphology_input, native,
                      regional_maxima_dtype, workers_count)

__all__ = ["dilate", "erode", "grey_closing", "grey_dilation", "grey_erosion", "grey_opening", "regional_maxima"]


def _batched(again, a, axes, output, workers):
    """``again(item, workers)`` over the items of ``a`` split by ``axes``; None
    when ``axes`` leaves no batch axis (the call goes on as it is)."""
    b = Batch(a, axes)
    if not b.batch:
        return None
    return deliver(b.run(again, a, workers_count(workers)), output)


def _cross(run, input, iterations, output, workers, axes=None):
    a = as_array(input, "input")
    if axes is not None:
        again = {_core.dilate: dilate, _core.erode: erode}[run]
        done = _batched(lambda item, n: again(item, iterations=iterations, workers=n), a, axes, output, workers)
        if done is not None:
            return done
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


def dilate(input, *, iterations=1, output=None, workers=None, axes=None):
    """Dilation with the cross of face neighbours, bitwise.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

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
    return _cross(_core.dilate, input, iterations, output, workers, axes)


def erode(input, *, iterations=1, output=None, workers=None, axes=None):
    """Erosion with the cross of face neighbours, bitwise.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool (bool comes back as bool).
    iterations : int, optional
        Number of repetitions, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

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
    return _cross(_core.erode, input, iterations, output, workers, axes)


def _grey(run, input, iterations, output, workers, axes=None):
    a = as_array(input, "input")
    if axes is not None:
        again = {_core.grey_dilation: grey_dilation, _core.grey_erosion: grey_erosion,
                 _core.grey_opening: grey_opening, _core.grey_closing: grey_closing}[run]
        done = _batched(lambda item, n: again(item, iterations=iterations, workers=n), a, axes, output, workers)
        if done is not None:
            return done
    dt = grey_input(a)
    iterations = iterations_count(iterations)
    out = check_output(output, a.shape, dt)
    if dt == np.bool_:
        # A mask is filtered as uint8 (a view, no copy) and comes back as bool.
        result = run(native(a, np.uint8), iterations, None if out is None else out.view(np.uint8),
                     workers_count(workers))
        return out if out is not None else result.view(np.bool_)
    return run(native(a, dt), iterations, out, workers_count(workers))


_GREY_NOTES = """
    Borders: neighbours outside the array are left out, which for the maximum
    and minimum is the same as repeating the edge value (scipy's
    ``mode='nearest'``). Floating-point values are ordered numerically with
    -0 below +0, and a NaN anywhere in the cross gives NaN, so one NaN spreads
    one face step per pass. Zero-size input gives an empty result."""


def grey_dilation(input, *, iterations=1, output=None, workers=None, axes=None):
    """Grey dilation with the cross of face neighbours: the maximum.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Number of passes, >= 1, each on the result of the one before: the
        maximum over the values at most ``iterations`` face steps away.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        The input's dtype: each value the maximum of the value and its face
        neighbours inside the array (3, 5 or 7 values in 1, 2 or 3 dimensions).

    Raises
    ------
    TypeError
        Another dtype (bool included: masks go to :func:`dilate`).
    ValueError
        0-d or 4-d input, iterations < 1, a wrong output.

    Notes
    -----{notes}

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.zeros((3, 4), np.uint16); img[1, 1] = 7
    >>> nvf.grey_dilation(img).tolist()
    [[0, 7, 0, 0], [7, 7, 7, 0], [0, 7, 0, 0]]
    """
    return _grey(_core.grey_dilation, input, iterations, output, workers, axes)


def grey_erosion(input, *, iterations=1, output=None, workers=None, axes=None):
    """Grey erosion with the cross of face neighbours: the minimum.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Number of passes, >= 1: the minimum over the values at most
        ``iterations`` face steps away.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        The input's dtype: each value the minimum of the value and its face
        neighbours inside the array.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----{notes}

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> line = np.array([5.0, 3.0, 4.0, -0.0, 0.0, 2.0])
    >>> nvf.grey_erosion(line).tolist()
    [3.0, 3.0, -0.0, -0.0, -0.0, 0.0]
    """
    return _grey(_core.grey_erosion, input, iterations, output, workers, axes)


def grey_opening(input, *, iterations=1, output=None, workers=None, axes=None):
    """Grey opening with the cross: ``iterations`` erosion passes, then as
    many dilation passes.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Passes of each kind, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        The input's dtype: never above the input (NaN aside); bright details
        into which the cross (grown ``iterations`` times) does not fit are
        removed.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----{notes}

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.full((5, 5), 2, np.int16); img[2, 2] = 9
    >>> int(nvf.grey_opening(img).max())
    2
    """
    return _grey(_core.grey_opening, input, iterations, output, workers, axes)


def grey_closing(input, *, iterations=1, output=None, workers=None, axes=None):
    """Grey closing with the cross: ``iterations`` dilation passes, then as
    many erosion passes.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask, returned as
        bool); other real dtypes are converted once (see the dtype table).
    iterations : int, optional
        Passes of each kind, >= 1.
    output : ndarray, optional
        The input's shape and dtype, C-contiguous, writable; may be the input.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        The input's dtype: never below the input (NaN aside); dark details
        into which the cross (grown ``iterations`` times) does not fit are
        filled.

    Raises
    ------
    TypeError, ValueError
        As :func:`grey_dilation`.

    Notes
    -----{notes}

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.full((5, 5), 2.0, np.float32); img[2, 2] = -1.0
    >>> float(nvf.grey_closing(img).min())
    2.0
    """
    return _grey(_core.grey_closing, input, iterations, output, workers, axes)


# The four share their notes (docstrings are absent under python -OO).
for _f in (grey_dilation, grey_erosion, grey_opening, grey_closing):
    if _f.__doc__:
        _f.__doc__ = _f.__doc__.replace("{notes}", _GREY_NOTES)
del _f


def regional_maxima(input, *, output=None, workers=None, axes=None):
    """Mask of the regional maxima of a 2-d image or a 3-d volume.

    Parameters
    ----------
    input : array_like, 2 or 3 dimensions
        uint8, uint16, int16, float32 or float64; int8 is converted to int16
        and bool to uint8 (exactly).
    output : ndarray of uint8, optional
        The input's shape, C-contiguous, writable.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray of uint8
        1 where the value is > 0 and not smaller than any of its neighbours
        inside the array (8 in an image, 26 in a volume; flat tops are marked
        in full), else 0.

    Raises
    ------
    TypeError
        Another dtype.
    ValueError
        Not 2-d or 3-d, a wrong output.

    Notes
    -----
    NaN never is a maximum, and a value next to a NaN is not one either.
    +inf is a maximum (if no neighbour is NaN). A volume of one slice gives
    the mask of that slice as an image.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.array([[0, 1, 0], [1, 3, 1], [0, 1, 0]], np.float32)
    >>> nvf.regional_maxima(img).tolist()
    [[0, 0, 0], [0, 1, 0], [0, 0, 0]]
    >>> vol = np.zeros((3, 3, 3), np.uint16); vol[1, 1, 1] = 5; vol[0, 0, 0] = 5
    >>> [tuple(map(int, p)) for p in np.argwhere(nvf.regional_maxima(vol))]
    [(0, 0, 0), (1, 1, 1)]
    """
    a = as_array(input, "input")
    if axes is not None:
        done = _batched(lambda item, n: regional_maxima(item, workers=n), a, axes, output, workers)
        if done is not None:
            return done
    a = native(a, regional_maxima_dtype(a))
    out = check_output(output, a.shape, np.uint8)
    return _core.regional_maxima(a, out, workers_count(workers))
