"""Separable convolution with whole-factor resampling on NumPy arrays, and
the pyramid level built on it.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. The arguments are checked in :mod:`._checks` (shared with
the chunked functions); the extension gets C-contiguous arrays of a native
dtype and releases the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._batch import Batch, deliver
from ._checks import (as_array, check_output, check_vector_output, kernels_per_axis, native, nothing_to_resample,
                      output_shape, pyramid_input, separable_input, to_library, workers_count)

__all__ = ["Kernel", "pyramid_down", "pyramid_kernel", "separable_filter"]

Kernel = _core.Kernel


def _target(shape, dtype):
    """A fresh output of ``shape`` for one item (it sets the resampling), or None."""
    return None if shape is None else np.empty(shape, dtype)


def _separable(a, vector, kernels, output, workers, default_shape):
    """The checked input ``a`` (native, C-contiguous) filtered with one kernel
    per image axis into ``output`` or a new array of ``default_shape``."""
    lib = to_library(kernels, Kernel([1.0]))
    dtype = np.float32 if vector else a.dtype
    shape = output_shape(output, default_shape, a.ndim)
    if vector:
        check_vector_output(shape)
    out = check_output(output, shape, dtype)
    w = workers_count(workers)
    if nothing_to_resample(a.shape, shape):
        return out if out is not None else np.empty(shape, dtype)
    run = _core.separable_vectors if vector else _core.separable
    return run(a, lib[0], lib[1], lib[2], list(shape), out, w)


def pyramid_down(input, *, output=None, workers=None, axes=None):
    """One level of an image pyramid: smoothing with the five-tap kernel, then
    every second sample along every axis.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, float32, float64 or bool (a mask: every value of
        the level is 0 or 1 again, returned as bool); int8 is read as int16,
        float16 as float32, other integers as float64. Every axis that is
        filtered must be at least 5 long (the first axis of a 3-d array of
        length 1 is not filtered).
    output : ndarray, optional
        C-contiguous writable array; its shape sets the output size (default
        ``(n + 1) // 2`` per axis; other sizes resample by the whole factor
        nearest to n / m).
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.

    Returns
    -------
    ndarray
        The dtype the input is read as. Integer levels are the weighted sum
        rounded half up and clamped to the dtype's range after the last pass
        (uint8 keeps float intermediates, which are exact for it; 16-bit data
        keeps double intermediates, so every level value is the exact sum
        rounded once); float levels are rounded to their dtype after each
        pass.

    Raises
    ------
    TypeError
        A complex or non-numeric dtype.
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
    if axes is not None:
        b = Batch(a, axes)
        if b.batch:
            target = None if output is None else b.item_shape(output.shape)
            work = np.bool_ if a.dtype == np.bool_ else pyramid_input(a, batch=True)
            return deliver(b.run(lambda item, n: pyramid_down(item, output=_target(target, work), workers=n), a,
                                 workers_count(workers)), output)
    work = pyramid_input(a)
    kernels = kernels_per_axis(_core.pyramid_kernel(), a.ndim)
    shape = tuple((n + 1) // 2 for n in a.shape)
    if a.dtype == np.bool_:
        # A mask is smoothed as uint8 (a view, no copy): every level value is
        # 0 or 1 again (a weighted mean, rounded half up), returned as bool.
        out = check_output(output, output_shape(output, shape, a.ndim), np.bool_)
        result = _separable(native(a, np.uint8), False, kernels, None if out is None else out.view(np.uint8),
                            workers, shape)
        return out if out is not None else result.view(np.bool_)
    return _separable(native(a, work), False, kernels, output, workers, shape)


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


def separable_filter(input, kernels, *, output=None, workers=None, vectors=None, axes=None):
    """Separable convolution with one kernel per axis, resampled to the output's shape.

    Parameters
    ----------
    input : array_like
        A scalar image of 1, 2 or 3 dimensions: uint8, uint16, int16, float32,
        float64 (bool read as uint8, int8 as int16, float16 as float32, other
        integers as float64); or, with ``vectors=True``, float32
        three-vectors: an array of 2, 3 or 4 dimensions whose last axis has
        length 3 (each component filtered alike).
    kernels : Kernel or sequence of Kernel
        One for every image axis (array-axis order) or one for all. Tap
        ``len // 2`` is aligned with the output sample (the kernel's
        ``center`` is kept for printing and does not move it).
    output : ndarray, optional
        Input dtype, C-contiguous, writable; its shape sets the output size
        along every axis (default: the input's shape, no resampling).
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to filter, the others batch axes, as in :func:`gaussian_filter`.
    vectors : bool, optional
        True: the last axis holds three-vector components (float32 only).
        False: a scalar image. None (default): the reading of earlier
        releases, vectors for a float32 array of 2 to 4 dimensions whose last
        axis has length 3, with a DeprecationWarning when that reading is
        taken; pass the flag to choose.

    Returns
    -------
    ndarray
        The dtype the input is read as; integers rounded half up and clamped
        to the dtype's range after the last pass.

    Raises
    ------
    TypeError
        A complex or non-numeric dtype, vectors=True on another dtype than
        float32, kernels that are not Kernel objects.
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
    if axes is not None:
        vector, work = separable_input(a, vectors, batch=True)
        b = Batch(a, axes, tail=1 if vector else 0)
        kernels = b.per_axis(kernels, "kernels") if not isinstance(kernels, Kernel) else kernels
        if b.batch:
            target = None if output is None else b.item_shape(output.shape)
            return deliver(b.run(lambda item, n: separable_filter(item, kernels, output=_target(target, work),
                                                                  workers=n, vectors=vector), a,
                                 workers_count(workers)), output)
        vectors = vector  # read once: no second warning
    vector, work = separable_input(a, vectors)
    kernels = kernels_per_axis(kernels, a.ndim - 1 if vector else a.ndim)
    a = native(a, work)
    return _separable(a, vector, kernels, output, workers, a.shape)
