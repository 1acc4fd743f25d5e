"""nvFiltering on Dask arrays: the package's filters, chunk by chunk, lazily.

Every function takes and returns ``dask.array.Array`` objects (anything
``dask.array.asarray`` accepts goes in) and has the name, arguments, dtypes
and meaning of its in-memory counterpart in :mod:`nvfiltering`. Its arguments
are checked when it is called, by the same checks as the in-memory function:
it refuses what that refuses, with the same exception and message, before any
task exists (what the library refuses for the whole array's lengths or sigma
is asked of the library on a stand-in of a few samples). Nothing runs until
the result is computed or stored; each chunk task calls the library on one
thread (``workers=1``), so the parallelism is the scheduler's: threads on a
laptop, worker processes of a ``dask.distributed`` cluster elsewhere.
``workers=`` is accepted (and checked) for the same signatures and does not
change that. ``output=`` takes no array: store the result with
``dask.array.store`` or ``to_zarr``; for the resampling filters it may give
the output's shape. ``axes=`` (every filter) names the axes to filter, as in
:mod:`nvfiltering`: the other axes are batch axes, each item is filtered on
its own (no halo along a batch axis), and the result equals the in-memory
function's on the whole array.

What is exact (bit for bit the whole-array result, for any chunking):
:func:`separable_filter`, :func:`pyramid_down`, :func:`dilate`, :func:`erode`,
:func:`grey_dilation`, :func:`grey_erosion`, :func:`grey_opening`,
:func:`grey_closing`, :func:`regional_maxima` (halos as wide as the reach of
the filter, no halo past the array's edge, chunk boundaries moved onto the
resampling grid) and
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

from . import _convolution, _gaussian, _label, _morphology
from ._batch import batched
from ._fft import fft, fft2, fftn, ifft, ifft2, ifftn, irfft, irfft2, irfftn, rfft, rfft2, rfftn
from ._gaussian import gaussian_error_bound, gradient_error_bound

# Every filter takes axes= (batches of images: see _batch).
gaussian_filter = batched(_gaussian.gaussian_filter, per_axis=("sigma", "order"))
gaussian_gradient = batched(_gaussian.gaussian_gradient, per_axis=("spacing",), components=True)
separable_filter = batched(_convolution.separable_filter, per_axis=("kernels",), output_shape=True, vectors=True)
pyramid_down = batched(_convolution.pyramid_down, output_shape=True)
dilate = batched(_morphology.dilate)
erode = batched(_morphology.erode)
grey_dilation = batched(_morphology.grey_dilation)
grey_erosion = batched(_morphology.grey_erosion)
grey_opening = batched(_morphology.grey_opening)
grey_closing = batched(_morphology.grey_closing)
regional_maxima = batched(_morphology.regional_maxima)
label = batched(_label.label, pair=True)

__all__ = [
    "dilate", "erode", "fft", "fft2", "fftn", "gaussian_error_bound", "gaussian_filter", "gaussian_gradient",
    "gradient_error_bound", "grey_closing", "grey_dilation", "grey_erosion", "grey_opening", "ifft", "ifft2",
    "ifftn", "irfft", "irfft2", "irfftn", "rfft", "rfft2", "rfftn",
    "label", "pyramid_down", "regional_maxima", "separable_filter",
]
