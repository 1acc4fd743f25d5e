"""nvFiltering on Dask arrays: the package's filters, chunk by chunk, lazily.

Every function takes and returns ``dask.array.Array`` objects (anything
``dask.array.asarray`` accepts goes in) and has the name, arguments, dtypes
and meaning of its in-memory counterpart in :mod:`nvfiltering`. Nothing runs
until the result is computed or stored; each chunk task calls the library on
one thread (``workers=1``), so the parallelism is the scheduler's: threads on
a laptop, worker processes of a ``dask.distributed`` cluster elsewhere.
``workers=`` is accepted for the same signatures and does not change that.
``output=`` takes no array: store the result with ``dask.array.store`` or
``to_zarr``; for the resampling filters it may give the output's shape.

What is exact (bit for bit the whole-array result, for any chunking):
:func:`separable_filter`, :func:`pyramid_down`, :func:`dilate`, :func:`erode`,
:func:`regional_maxima` (halos as wide as the footprint, no halo past the
array's edge, chunk boundaries moved onto the resampling grid) and
:func:`label` (same labels, ranking and order of equal sizes). The Gaussian
filters differ from the whole-array result by at most
:func:`gaussian_error_bound` times max|input| (:func:`gradient_error_bound`
for the gradient); :func:`fftn` and friends agree with the whole-array
transform to its rounding (relative RMS error below 5e-7 log2(n) in single
and 1e-15 log2(n) in double precision, for each of the two).

Examples
--------
>>> import dask.array as da, numpy as np
>>> import nvfiltering.dask as nvd
>>> vol = da.from_array(np.random.default_rng(0).integers(0, 255, (64, 64, 64), np.uint8),
...                     chunks=32)
>>> smooth = nvd.gaussian_filter(vol, 2.0)          # lazy float32
>>> labels, count = nvd.label(vol > 200)
>>> smooth.compute().dtype, labels.dtype
(dtype('float32'), dtype('uint32'))
"""

from __future__ import annotations

from . import _fft, _gaussian, _label, _local
from ._gaussian import gaussian_error_bound, gradient_error_bound

__all__ = [
    "dilate", "erode", "fft2", "fftn", "gaussian_error_bound", "gaussian_filter", "gaussian_gradient",
    "gradient_error_bound", "ifft2", "ifftn", "label", "pyramid_down", "regional_maxima", "separable_filter",
]


def gaussian_filter(input, sigma, order=0, *, truncate=4.0, output=None, workers=None):
    """Recursive Gaussian smoothing or derivative of a chunked image or volume.

    Parameters
    ----------
    input : dask array (or array_like), 1, 2 or 3 dimensions
        Dtypes as :func:`nvfiltering.gaussian_filter` (uint8/float32 give
        float32, float64 gives float64).
    sigma, order :
        As :func:`nvfiltering.gaussian_filter`: a scalar or one per axis in
        array-axis order; a derivative (order 1 or 2) along at most one axis.
    truncate : float, optional
        Every chunk is filtered with a halo of ``ceil(truncate * sigma)``
        samples per axis from its neighbours (at least 1 for a derivative).
        There is no halo past the array's own edge, so the outer borders are
        the library's zero continuation, as on the whole array.

    Returns
    -------
    dask array, the input's shape and chunks (small chunks merged to hold a halo).

    Notes
    -----
    The recursive filter's response is infinite: the chunked result misses its
    tail beyond the halo. With h the library's impulse response along an axis
    (measured by filtering a unit impulse with the library), T its absolute
    weight beyond the halo and S its whole absolute weight,
    ``|chunked - whole| <= max|input| * sum_a (T_a + 4 R_a) * prod_{b!=a} S_b``
    (R_a: one pass's rounding in the output dtype). :func:`gaussian_error_bound`
    returns the factor. For smoothing, T is about 1.5e-3 per axis at
    ``truncate=4`` (the recursive filter keeps more weight in its tail than a
    sampled Gaussian); larger ``truncate`` tightens the bound, derivatives scale
    it by about 1/sigma per order.
    """
    return _gaussian.gaussian_filter(input, sigma, order, truncate=truncate, output=output, workers=workers)


def gaussian_gradient(input, sigma, spacing=1.0, *, truncate=4.0, output=None, workers=None):
    """Gradient in physical units of a chunked image or volume, as
    :func:`nvfiltering.gaussian_gradient`: float32 of shape ``input.shape +
    (input.ndim,)``, ``out[..., i]`` the derivative along axis i. The halo is
    ``ceil(truncate * sigma / spacing)`` per axis (at least 1); the chunked
    result differs from the whole-array one by at most
    ``gradient_error_bound(sigma, spacing, truncate=truncate, ndim=input.ndim)
    * max|input|``."""
    return _gaussian.gaussian_gradient(input, sigma, spacing, truncate=truncate, output=output, workers=workers)


def separable_filter(input, kernels, *, output=None, workers=None):
    """Separable convolution with resampling, as :func:`nvfiltering.separable_filter`,
    bit for bit the whole-array result. ``output`` is None (the input's shape)
    or the output's shape as a tuple of the image axes (it sets the whole-factor
    resampling). Chunk boundaries are moved to multiples of the down-sampling
    factor and chunks merged to hold the kernel's halo."""
    return _local.separable_filter(input, kernels, output=output, workers=workers)


def pyramid_down(input, *, output=None, workers=None):
    """One pyramid level of a uint8 image or volume, as
    :func:`nvfiltering.pyramid_down` (default output ``(n + 1) // 2`` per axis,
    or the shape given as ``output``), bit for bit the whole-array result."""
    return _local.pyramid_down(input, output=output, workers=workers)


def dilate(input, *, iterations=1, output=None, workers=None):
    """Bitwise dilation with the cross, as :func:`nvfiltering.dilate`, with a
    halo of ``iterations`` voxels: bit for bit the whole-array result."""
    return _local.dilate(input, iterations=iterations, output=output, workers=workers)


def erode(input, *, iterations=1, output=None, workers=None):
    """Bitwise erosion with the cross, as :func:`nvfiltering.erode`, with a
    halo of ``iterations`` voxels: bit for bit the whole-array result."""
    return _local.erode(input, iterations=iterations, output=output, workers=workers)


def regional_maxima(input, *, output=None, workers=None):
    """uint8 mask of the regional maxima of a 2-D image, as
    :func:`nvfiltering.regional_maxima` (halo 1): bit for bit the whole-array result."""
    return _local.regional_maxima(input, output=output, workers=workers)


def label(input, *, connectivity=None, class_value=1, min_size=0, keep=0, workers=None):
    """Connected components ranked by size, as :func:`nvfiltering.label`.

    Returns ``(labels, count)``: lazy uint32 labels in the input's chunks and
    a lazy 0-d int64 array. The result equals the whole-array labelling
    exactly, equal sizes ordered by the raster order of each component's first
    voxel. Every chunk is labelled on its own, the labels meeting across chunk
    faces are merged in one small task (its memory grows with the number of
    components and face pairs, not with the volume), and every chunk is read
    and labelled a second time to write the final labels, so no task holds
    more than one chunk. ``keep`` larger than the number of components raises
    :class:`nvfiltering.Error` when the result is computed.
    """
    return _label.label(input, connectivity=connectivity, class_value=class_value, min_size=min_size,
                        keep=keep, workers=workers)


def fftn(input, *, workers=None, chunk_bytes=None):
    """Forward FFT over every axis of a 2-D or 3-D array chunked along every axis.

    One pass per axis: a rechunk makes that axis whole in every chunk (the
    other axes split so a chunk holds at most ``chunk_bytes``, by default the
    input's chunk size in the output dtype, at least 1 MiB), then
    :func:`nvfiltering.fft.fft` transforms along it. dtypes and conventions as
    :func:`nvfiltering.fft.fftn`; every length must be 2^p 3^q 5^r.
    """
    return _fft.fftn(input, workers=workers, chunk_bytes=chunk_bytes)


def ifftn(input, *, workers=None, chunk_bytes=None):
    """Inverse of :func:`fftn` (scaled by 1/n, NumPy's convention)."""
    return _fft.ifftn(input, workers=workers, chunk_bytes=chunk_bytes)


def fft2(input, *, workers=None, chunk_bytes=None):
    """Forward FFT over the last two axes (of an image, or of every slice of a volume)."""
    return _fft.fft2(input, workers=workers, chunk_bytes=chunk_bytes)


def ifft2(input, *, workers=None, chunk_bytes=None):
    """Inverse of :func:`fft2`."""
    return _fft.ifft2(input, workers=workers, chunk_bytes=chunk_bytes)
