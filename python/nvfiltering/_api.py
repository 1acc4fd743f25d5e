"""The filters of the package on NumPy arrays.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. Every function checks its arguments here and calls the
extension with C-contiguous arrays of a native dtype; the extension releases
the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._checks import (as_array, check_ndim, check_output, integer, native, per_axis, to_library,
                      workers_count)

Kernel = _core.Kernel


def gaussian_filter(input, sigma, order=0, *, output=None, workers=None):
    """Recursive Gaussian smoothing, or one first or second Gaussian derivative.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, float32 or float64. Every other real dtype (bool, other
        integers, float16) is converted to float32 first.
    sigma : float or sequence of float
        Standard deviation in samples, one per array axis or one for all;
        finite and >= 0. 0 leaves an axis unfiltered. About 107 or more
        raises :class:`nvfiltering.Error` (the filter's series does not converge).
    order : int or sequence of int, optional
        0 (smoothing), 1 or 2 (derivative) per axis; at most one axis may have
        a non-zero order.
    output : ndarray, optional
        Array of the input's shape and the output dtype, C-contiguous and
        writable; the result is written into it and it is returned. It may be
        the input itself (float32 / float64).
    workers : int, optional
        Threads: None or 1 one thread, n threads, -1 all cores, -2 all but one.
        The result is the same for every value.

    Returns
    -------
    ndarray
        float32 for uint8, float32 and converted input; float64 for float64.

    Raises
    ------
    TypeError
        Complex or non-numeric input, a wrong output dtype or bad argument types.
    ValueError
        0-d or 4-d input, bad sigma / order values, a wrong output shape or layout.
    nvfiltering.Error
        The library rejected the call (sigma too large).

    Notes
    -----
    Borders: the image is continued by zeros along each axis, so values near
    the faces are pulled towards 0 (scipy's ``mode='constant'``). The
    recursive filter has infinite support (no truncation). An axis of length
    1 gives the exact result for a line of one sample, except the first axis of
    a 3-d array (a single slice is not filtered along it; its derivative along
    that axis is 0). NaN and inf: every pass spreads a non-finite sample over
    the whole line it lies on (the exact zero-continued borders depend on every
    sample), even with sigma 0, so one NaN or inf makes the whole result NaN.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> vol = np.zeros((32, 32, 32), np.float32); vol[16, 16, 16] = 1
    >>> smooth = nvf.gaussian_filter(vol, 2.0)
    >>> dz = nvf.gaussian_filter(vol, 2.0, order=(1, 0, 0))
    """
    a = as_array(input, "input")
    check_ndim(a, "input")
    sig = per_axis(sigma, a.ndim, "sigma")
    if not all(np.isfinite(s) and s >= 0 for s in sig):
        raise ValueError(f"sigma: every value must be finite and >= 0, got {sig}")
    orders = per_axis(order, a.ndim, "order", integral=True)
    if any(o not in (0, 1, 2) for o in orders):
        raise ValueError(f"order: every value must be 0, 1 or 2, got {orders}")
    nonzero = [i for i, o in enumerate(orders) if o]
    if len(nonzero) > 1:
        raise ValueError(f"order: at most one axis may have a derivative, got {orders}")
    derivative = 0
    if nonzero:
        axis = nonzero[0]
        derivative = (1 if orders[axis] == 1 else 4) + (a.ndim - 1 - axis)
    if a.dtype == np.uint8:
        a, out_dtype = native(a, np.uint8), np.float32
    elif a.dtype == np.float64:
        a, out_dtype = native(a, np.float64), np.float64
    else:
        a, out_dtype = native(a, np.float32), np.float32
    out = check_output(output, a.shape, out_dtype)
    return _core.gaussian(a, to_library(sig, 0.0), derivative, out, workers_count(workers))


def gaussian_gradient(input, sigma, spacing=1.0, *, output=None, workers=None):
    """Gradient in physical units by first recursive Gaussian derivatives.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8 (the library's gradient), float32 or float64 (the same
        computation on the recursive filter of that type); other real dtypes
        are converted to float32.
    sigma : float
        Standard deviation in the unit of ``spacing`` (one value for every
        axis, as the library's gradient); finite and >= 0. With 0 every
        component is the central difference ``(f[i+1] - f[i-1]) / (2 spacing)``.
    spacing : float or sequence of float, optional
        Sample distance along each array axis; finite and > 0.
    output : ndarray, optional
        C-contiguous writable array of shape ``input.shape + (input.ndim,)``
        and the output dtype.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

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
    Borders as :func:`gaussian_filter` (zero continuation). A zero-size input
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
    check_ndim(a, "input")
    if isinstance(sigma, (bool, np.bool_)) or not isinstance(sigma, (int, float, np.integer, np.floating)):
        raise TypeError(f"sigma: expected one number, got {type(sigma).__name__}")
    sigma = float(sigma)
    if not (np.isfinite(sigma) and sigma >= 0):
        raise ValueError(f"sigma: must be finite and >= 0, got {sigma}")
    space = per_axis(spacing, a.ndim, "spacing")
    if not all(np.isfinite(s) and s > 0 for s in space):
        raise ValueError(f"spacing: every value must be finite and > 0, got {space}")
    if a.dtype == np.uint8:
        a, out_dtype = native(a, np.uint8), np.float32
    elif a.dtype == np.float64:
        a, out_dtype = native(a, np.float64), np.float64
    else:
        a, out_dtype = native(a, np.float32), np.float32
    shape = a.shape + (a.ndim,)
    out = check_output(output, shape, out_dtype)
    w = workers_count(workers)
    if a.size == 0:
        return out if out is not None else np.empty(shape, out_dtype)
    lib_spacing = to_library(space, 1.0)
    if a.dtype == np.uint8 and a.ndim >= 2:
        return _core.gradient_u8(a, sigma, lib_spacing, out, w)
    return _core.gradient(a, sigma, lib_spacing, out, w)


def _kernels(kernels, ndim):
    if isinstance(kernels, Kernel):
        kernels = (kernels,) * ndim
    try:
        kernels = tuple(kernels)
    except TypeError:
        raise TypeError(f"kernels: expected a Kernel or one per axis, got {type(kernels).__name__}") from None
    if len(kernels) != ndim:
        raise ValueError(f"kernels: expected one Kernel per image axis ({ndim}), got {len(kernels)}")
    for k in kernels:
        if not isinstance(k, Kernel):
            raise TypeError(f"kernels: expected Kernel objects, got {type(k).__name__}")
    return to_library(kernels, Kernel([1.0]))


def _out_shape(output, default, ndim, name="output"):
    """The output's shape when one is given (it sets the resampling), else ``default``."""
    if output is None:
        return tuple(default)
    if not isinstance(output, np.ndarray):
        raise TypeError(f"{name}: expected a NumPy array or None, got {type(output).__name__}")
    if output.ndim != ndim:
        raise ValueError(f"{name}: expected {ndim} dimensions, got {output.ndim}")
    return output.shape


def _separable(a, vector, kernels, output, workers, default_shape):
    ndim = a.ndim - 1 if vector else a.ndim
    lib = _kernels(kernels, ndim)
    dtype = np.float32 if vector else np.uint8
    shape = _out_shape(output, default_shape, a.ndim)
    if vector and shape[-1] != 3:
        raise ValueError(f"output: the last axis must have length 3, got shape {shape}")
    out = check_output(output, shape, dtype)
    w = workers_count(workers)
    if a.size == 0 or 0 in shape:
        if a.size == 0 and 0 in shape:
            return out if out is not None else np.empty(shape, dtype)
        raise ValueError(f"output: shape {tuple(shape)} cannot be computed from input of shape {a.shape}")
    return _core.separable(a, lib[0], lib[1], lib[2], list(shape), out, w)


def pyramid_down(input, *, output=None, workers=None):
    """One level of an image pyramid: smoothing with the five-tap kernel, then
    every second sample along every axis.

    Parameters
    ----------
    input : array_like of uint8, 1, 2 or 3 dimensions
        Every axis that is filtered must be at least 5 long (the first axis of a
        3-d array of length 1 is not filtered).
    output : ndarray of uint8, optional
        C-contiguous writable array; its shape sets the output size (default
        ``(n + 1) // 2`` per axis; other sizes resample by the whole factor
        nearest to n / m).
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray of uint8
        Rounded and clamped after the last pass (intermediate values are float).

    Raises
    ------
    TypeError
        A dtype other than uint8.
    ValueError
        0-d or 4-d input, a wrong output.
    nvfiltering.Error
        An axis shorter than the kernel, or an output too long for its input.

    Notes
    -----
    Borders: mirrored without repeating the edge sample (2 1 0 1 2 ...). The
    kernel is ``[1, 4, 6, 4, 1] / 16`` (``pyramid_kernel()``).

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.arange(64 * 64, dtype=np.uint8).reshape(64, 64)
    >>> nvf.pyramid_down(img).shape
    (32, 32)
    """
    a = as_array(input, "input")
    check_ndim(a, "input")
    if a.dtype != np.uint8:
        raise TypeError(f"input: pyramid_down takes uint8, got {a.dtype}")
    a = native(a, np.uint8)
    k = _core.pyramid_kernel()
    return _separable(a, False, k, output, workers, tuple((n + 1) // 2 for n in a.shape))


def pyramid_kernel():
    """The five-tap smoothing kernel of :func:`pyramid_down` (centre 2).

    Returns
    -------
    Kernel
        ``[1, 4, 6, 4, 1] / 16`` with centre 2, printed in the library's format
        by ``repr``.

    Examples
    --------
    >>> import nvfiltering as nvf
    >>> nvf.pyramid_kernel().values
    [0.0625, 0.25, 0.375, 0.25, 0.0625]
    """
    return _core.pyramid_kernel()


def separable_filter(input, kernels, *, output=None, workers=None):
    """Separable convolution with one kernel per axis, resampled to the output's shape.

    Parameters
    ----------
    input : array_like
        uint8 of 1, 2 or 3 dimensions, or float32 three-vectors: an array of 2,
        3 or 4 dimensions whose last axis has length 3 (each component filtered
        alike).
    kernels : Kernel or sequence of Kernel
        One for every image axis (array-axis order) or one for all. Tap
        ``len // 2`` is aligned with the output sample (the kernel's
        ``center`` is kept for printing and does not move it).
    output : ndarray, optional
        Input dtype, C-contiguous, writable; its shape sets the output size
        along every axis (default: the input's shape, no resampling).
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        uint8 (rounded and clamped after the last pass) or float32 vectors.

    Raises
    ------
    TypeError
        Another dtype, kernels that are not Kernel objects.
    ValueError
        Wrong dimensions, a vector axis that is not 3, a wrong output.
    nvfiltering.Error
        An axis shorter than its kernel, or an output too long for its input.

    Notes
    -----
    Borders are mirrored without repeating the edge sample. A 3-d image with a
    first axis of length 1 is filtered along the other two axes only.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> img = np.full((8, 8), 100, np.uint8)
    >>> box = nvf.Kernel([1 / 3, 1 / 3, 1 / 3], center=1)
    >>> int(nvf.separable_filter(img, box)[4, 4])
    100
    """
    a = as_array(input, "input")
    if a.dtype == np.uint8:
        check_ndim(a, "input")
        a = native(a, np.uint8)
        return _separable(a, False, kernels, output, workers, a.shape)
    if a.dtype == np.float32 or a.dtype == np.dtype(np.float32).newbyteorder():
        check_ndim(a, "input", (2, 3, 4))
        if a.shape[-1] != 3:
            raise ValueError(f"input: float32 input holds three-vectors (last axis 3), got shape {a.shape}")
        a = native(a, np.float32)
        return _separable(a, True, kernels, output, workers, a.shape)
    raise TypeError(f"input: separable_filter takes uint8 or float32 three-vectors, got {a.dtype}")


_MORPHOLOGY_DTYPES = (np.dtype(np.uint8), np.dtype(np.int16), np.dtype(np.uint32))


def _morphology_input(input, name="input"):
    """The input as uint8 / int16 / uint32 (bool viewed as uint8), and whether it was bool."""
    a = as_array(input, name)
    check_ndim(a, name)
    if a.dtype == np.bool_:
        return native(a, np.bool_).view(np.uint8), True
    if a.dtype.newbyteorder("=") not in _MORPHOLOGY_DTYPES:
        raise TypeError(f"{name}: expected uint8, int16, uint32 or bool, got {a.dtype}")
    return native(a, a.dtype), False


def _cross(run, input, iterations, output, workers):
    a, was_bool = _morphology_input(input)
    iterations = integer(iterations, "iterations", 1, 2**31 - 1)
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


def label(input, *, connectivity=None, class_value=1, min_size=0, keep=0, workers=None):
    """Connected components of the voxels equal to ``class_value``, ranked by size.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, int16, uint32 or bool.
    connectivity : int, optional
        3-d: 6 (default); 2-d: 4 (default) or 8; 1-d: 2 (default).
    class_value : int, optional
        The value of the voxels to label (default 1); must fit the dtype.
    min_size : int, optional
        Components smaller than this are removed (set to 0).
    keep : int, optional
        If > 0, keep only the ``keep`` largest components (and any others of
        the keep-th size); more than there are raises :class:`nvfiltering.Error`.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.

    Returns
    -------
    labels : ndarray of uint32
        0 for the background and removed components, 1 .. count by size,
        1 the largest (components of equal size in no defined order).
    count : int
        The number of components kept.

    Raises
    ------
    TypeError
        Another dtype.
    ValueError
        0-d or 4-d input, a connectivity the dimension does not have, values
        out of range.
    nvfiltering.Error
        ``keep`` larger than the number of components.

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> m = np.array([[1, 1, 0, 1]], np.uint8)
    >>> labels, n = nvf.label(m)
    >>> labels.tolist(), n
    ([[1, 1, 0, 2]], 2)
    """
    a, was_bool = _morphology_input(input)
    defaults = {1: (2,), 2: (4, 8), 3: (6,)}
    allowed = defaults[a.ndim]
    if connectivity is None:
        connectivity = allowed[0]
    connectivity = integer(connectivity, "connectivity", 0, 26)
    if connectivity not in allowed:
        raise ValueError(f"connectivity: a {a.ndim}-d array takes {' or '.join(map(str, allowed))}, "
                         f"got {connectivity}")
    info = np.iinfo(np.uint8 if was_bool else a.dtype)
    high = 1 if was_bool else info.max
    class_value = integer(class_value, "class_value", int(info.min), int(high))
    min_size = integer(min_size, "min_size", 0, 2**32 - 1)
    keep = integer(keep, "keep", 0, 2**31 - 1)
    w = workers_count(workers)
    return _core.label(a, class_value, connectivity == 8, min_size, keep, w)


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
    check_ndim(a, "input", (2,))
    dt = a.dtype.newbyteorder("=")
    if dt in (np.dtype(np.uint8), np.dtype(np.int8), np.dtype(np.bool_)):
        dt = np.dtype(np.int16)
    if dt not in (np.dtype(np.int16), np.dtype(np.float32), np.dtype(np.float64)):
        raise TypeError(f"input: expected int16, float32 or float64, got {a.dtype}")
    a = native(a, dt)
    out = check_output(output, a.shape, np.uint8)
    return _core.regional_maxima(a, out, workers_count(workers))
