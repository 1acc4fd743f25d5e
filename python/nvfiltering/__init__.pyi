# Type stubs of the package: the public functions and classes.
from typing import Literal, Sequence, Tuple, Union

from typing_extensions import disjoint_base

import numpy as np
import numpy.typing as npt

from . import fft as fft

__all__ = [
    "Error", "Kernel", "__version__", "dilate", "erode", "fft", "gaussian_filter", "gaussian_gradient",
    "grey_closing", "grey_dilation", "grey_erosion", "grey_opening", "label", "pyramid_down", "pyramid_kernel",
    "regional_maxima", "separable_filter",
]

__version__: str

_Array = npt.ArrayLike
_PerAxis = Union[float, Sequence[float]]
_Axes = Union[int, Sequence[int], None]

class Error(Exception):
    class_path: str

@disjoint_base
class Kernel:
    def __init__(self, values: Sequence[float], center: int = 0) -> None: ...
    @property
    def values(self) -> list[float]: ...
    @property
    def center(self) -> int: ...
    def __len__(self) -> int: ...

_BorderMode = Literal["constant", "nearest", "reflect", "mirror", "wrap"]

def gaussian_filter(input: _Array, sigma: _PerAxis, order: Union[int, Sequence[int]] = 0, *,
                    mode: _BorderMode = "constant", cval: float = 0.0, output: np.ndarray | None = None,
                    workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def gaussian_gradient(input: _Array, sigma: float, spacing: _PerAxis = 1.0, *, mode: _BorderMode = "constant",
                      cval: float = 0.0, output: np.ndarray | None = None, workers: int | None = None,
                      axes: _Axes = None) -> np.ndarray: ...
def pyramid_down(input: _Array, *, output: np.ndarray | None = None, workers: int | None = None,
                 axes: _Axes = None) -> np.ndarray: ...
def pyramid_kernel() -> Kernel: ...
def separable_filter(input: _Array, kernels: Union[Kernel, Sequence[Kernel]], *, output: np.ndarray | None = None,
                     workers: int | None = None, vectors: bool | None = None,
                     axes: _Axes = None) -> np.ndarray: ...
def dilate(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
           workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def erode(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
          workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def grey_dilation(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
                  workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def grey_erosion(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
                 workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def grey_opening(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
                 workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def grey_closing(input: _Array, *, iterations: int = 1, output: np.ndarray | None = None,
                 workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
def label(input: _Array, *, connectivity: int | None = None, class_value: int | None = None, min_size: int = 0,
          keep: int = 0, workers: int | None = None, axes: _Axes = None,
          return_sizes: bool = False) -> Union[Tuple[np.ndarray, int], Tuple[np.ndarray, np.ndarray],
                                               Tuple[np.ndarray, int, np.ndarray],
                                               Tuple[np.ndarray, np.ndarray, np.ndarray]]: ...
def regional_maxima(input: _Array, *, output: np.ndarray | None = None,
                    workers: int | None = None, axes: _Axes = None) -> np.ndarray: ...
