"""Recursive Gaussian filters on NumPy arrays: smoothing, first and second
derivatives along one axis, and the gradient in physical units.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. The arguments are checked in :mod:`._checks` (shared with
the chunked functions); the extension gets C-contiguous arrays of a native
dtype and releases the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._batch import Batch, deliver
from ._checks import (as_array, border_args, check_output, gaussian_filter_args, gaussian_gradient_args, native,
                      to_library, workers_count)

__all__ = ["gaussian_filter", "gaussian_gradient"]


def gaussian_filter(input, sigma, order=0, *, mode="constant", cval=0.0, output=None, workers=None, axes=None):
    """Recursive Gaussian smoothing, or one first or second Gaussian derivative.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16 (read as integers, every value exact: the result
        equals that of the same values in float32 bit for bit), float32 or
        float64, without a conversion; bool is read as uint8 and int8 as
        int16. Every other real dtype (other integers, float16) is converted
        to float32 first.
    sigma : float or sequence of float
        Standard deviation in samples, one per array axis or one for all;
        finite and >= 0. 0 leaves an axis unfiltered. About 107 or more
        raises :class:`nvfiltering.Error` (the filter's series does not converge).
    order : int or sequence of int, optional
        0 (smoothing), 1 or 2 (derivative) per axis; at most one axis may have
        a non-zero order.
    mode : str, optional
        How the array is continued beyond each face, as in
        ``scipy.ndimage``: ``'constant'`` (by ``cval``; the default, with
        cval 0 the fastest path), ``'nearest'`` (the edge value),
        ``'reflect'`` (d c b a | a b c d | d c b a), ``'mirror'``
        (d c b | a b c d | c b a) or ``'wrap'`` (periodic). Every mode is
        exact: the result is that of the infinitely continued array.
    cval : float, optional
        The constant of ``mode='constant'`` (finite); ignored otherwise.
    output : ndarray, optional
        Array of the input's shape and the output dtype, C-contiguous and
        writable; the result is written into it and it is returned. It may be
        the input itself (float32 / float64).
    workers : int, optional
        Threads: None or 1 one thread, n threads, -1 all cores, -2 all but one.
        The result is the same for every value.
    axes : int or sequence of int, optional
        The axes to filter (1 to 3 of them, in any order; per-axis arguments
        follow that order); every other axis is a batch axis and each item
        (an index along every batch axis) is filtered on its own, bit for bit
        as alone (arrays of up to 5 dimensions; items run side by side under
        ``workers``). Default: every axis (at most 3).

    Returns
    -------
    ndarray
        float32 for integer, bool, float32 and converted input; float64 for
        float64.

    Raises
    ------
    TypeError
        Complex or non-numeric input, a wrong output dtype or bad argument types.
    ValueError
        0-d or 4-d input, bad sigma / order values, a wrong output shape or
        layout, an unknown ``mode``, a ``cval`` that is not finite.
    nvfiltering.Error
        The library rejected the call (sigma too large).

    Notes
    -----
    Borders: by default the image is continued by zeros along each axis, so
    values near the faces are pulled towards 0 (scipy's ``mode='constant'``);
    ``mode`` and ``cval`` choose another continuation. With a non-zero cval
    the input is continued by it (scipy instead continues every 1-d pass by
    cval, which differs after a derivative pass). Modes other than constant
    0 run line by line in double precision, a few times slower. The
    recursive filter has infinite support (no truncation), so the result
    differs from scipy's truncated kernel by the truncated tail. An axis of
    length 1 gives the exact result for a line of one sample, except the first
    axis of a 3-d array (a single slice is not filtered along it, whatever the
    mode; its derivative along that axis is 0). NaN and inf: every pass
    spreads a non-finite sample over the whole line it lies on (the exact
    borders depend on every sample), even with sigma 0, so one NaN or inf
    makes the whole result NaN.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> vol = np.zeros((32, 32, 32), np.float32); vol[16, 16, 16] = 1
    >>> smooth = nvf.gaussian_filter(vol, 2.0)
    >>> dz = nvf.gaussian_filter(vol, 2.0, order=(1, 0, 0))
    >>> edges = nvf.gaussian_filter(vol, 2.0, mode="reflect")
    """
    a = as_array(input, "input")
    border, value = border_args(mode, cval)
    if axes is not None:
        b = Batch(a, axes)
        sigma, order = b.per_axis(sigma, "sigma"), b.per_axis(order, "order")
        if b.batch:
            w = workers_count(workers)
            return deliver(b.run(lambda item, n: gaussian_filter(item, sigma, order, mode=mode, cval=cval, workers=n),
                                 a, w), output)
    sig, orders, work, out_dtype = gaussian_filter_args(a, sigma, order)
    derivative = 0
    for axis, o in enumerate(orders):
        if o:
            # The library numbers its derivatives 1 .. 3 (first, along X, Y, Z)
            # and 4 .. 6 (second).
            derivative = (1 if o == 1 else 4) + (a.ndim - 1 - axis)
    a = native(a, work)
    out = check_output(output, a.shape, out_dtype)
    return _core.gaussian(a, to_library(sig, 0.0), derivative, border, value, out, workers_count(workers))


def gaussian_gradient(input, sigma, spacing=1.0, *, mode="constant", cval=0.0, output=None, workers=None, axes=None):
    """Gradient in physical units by first recursive Gaussian derivatives.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16 (the library's gradient of integer volumes; bool
        is read as uint8, int8 as int16), float32 or float64 (the same
        computation on the recursive filter of that type); other real dtypes
        are converted to float32.
    sigma : float
        Standard deviation in the unit of ``spacing`` (one value for every
        axis, as the library's gradient); finite and >= 0. With 0 every
        component is the central difference ``(f[i+1] - f[i-1]) / (2 spacing)``.
    spacing : float or sequence of float, optional
        Sample distance along each array axis; finite and > 0.
    mode, cval : optional
        Border continuation, as in :func:`gaussian_filter` (every derivative
        run continues the array the same way).
    output : ndarray, optional
        C-contiguous writable array of shape ``input.shape + (input.ndim,)``
        and the output dtype.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in
        :func:`gaussian_filter`; ``out[..., i]`` is the derivative along
        ``axes[i]``.

    Returns
    -------
    ndarray
        Shape ``input.shape + (input.ndim,)``; ``out[..., i]`` is the
        derivative along array axis i divided by ``spacing[i]``. float32 for
        uint8, float32 and converted input; float64 for float64 (the
        computation keeps the precision the caller chose).

    Raises
    ------
    TypeError, ValueError
        As :func:`gaussian_filter`; spacing not finite and > 0.
    nvfiltering.Error
        sigma / spacing too large for the filter's series.

    Notes
    -----
    Borders as :func:`gaussian_filter` (zero continuation by default).
    Integer input with the default border runs the library's gradient; with
    another border it runs the same computation on the recursive filter
    (float32 result either way). A zero-size input
    gives an empty result. One NaN or inf makes the whole result NaN.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> vol = (np.random.default_rng(0).random((16, 16, 16)) * 255).astype(np.uint8)
    >>> g = nvf.gaussian_gradient(vol, 1.5, spacing=(2.0, 1.0, 1.0))
    >>> g.shape
    (16, 16, 16, 3)
    """
    a = as_array(input, "input")
    border, value = border_args(mode, cval)
    if axes is not None:
        b = Batch(a, axes)
        spacing = b.per_axis(spacing, "spacing")
        # The items' components come in array order; out[..., i] is along axes[i].
        components = [b.filtered.index(ax) for ax in b.given]
        w = workers_count(workers)
        if b.batch:
            result = b.run(lambda item, n: gaussian_gradient(item, sigma, spacing, mode=mode, cval=cval, workers=n),
                           a, w)
        else:
            result = gaussian_gradient(a, sigma, spacing, mode=mode, cval=cval, workers=w)
        if components != sorted(components):
            result = np.ascontiguousarray(result[..., components])
        return deliver(result, output)
    sigma, space, work, out_dtype = gaussian_gradient_args(a, sigma, spacing)
    a = native(a, work)
    shape = a.shape + (a.ndim,)
    out = check_output(output, shape, out_dtype)
    w = workers_count(workers)
    if a.size == 0:
        return out if out is not None else np.empty(shape, out_dtype)
    lib_spacing = to_library(space, 1.0)
    if a.dtype.kind in "iu" and a.ndim >= 2 and border == 0 and value == 0.0:
        return _core.gradient_integer(a, sigma, lib_spacing, out, w)
    return _core.gradient(a, sigma, lib_spacing, border, value, out, w)
