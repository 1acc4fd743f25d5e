"""nvFiltering on NumPy arrays: recursive Gaussian filters and gradients,
separable convolution and pyramids, bitwise and grey morphology, connected
components, regional maxima and FFTs.

Arrays are in C order with 1, 2 or 3 dimensions: the last axis is the
library's X, the one before it Y, the first of three Z. Every function
releases the GIL while it runs and takes ``workers=`` (threads for the call)
and, where it returns an array, ``output=``.
"""

from . import fft
from ._convolution import Kernel, pyramid_down, pyramid_kernel, separable_filter
from ._gaussian import gaussian_filter, gaussian_gradient
from ._label import label
from ._morphology import (dilate, erode, grey_closing, grey_dilation, grey_erosion, grey_opening,
                          regional_maxima)
from ._nvfiltering import Error, __version__

__all__ = [
    "Error", "Kernel", "__version__", "dilate", "erode", "fft", "gaussian_filter", "gaussian_gradient",
    "grey_closing", "grey_dilation", "grey_erosion", "grey_opening", "label", "pyramid_down", "pyramid_kernel",
    "regional_maxima", "separable_filter",
]
