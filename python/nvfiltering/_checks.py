"""Argument checks shared by every function of the package.

Bad arguments are turned into TypeError / ValueError naming the argument here,
so that the extension only ever sees C-contiguous arrays of a native dtype.
"""

import numbers
import os

import numpy as np

# The library's image sizes are unsigned 32-bit values.
MAX_AXIS = 2**32 - 1


def workers_count(workers):
    """Threads for one call, with scipy.fft's meaning of ``workers``."""
    if workers is None:
        return 1
    if isinstance(workers, (bool, np.bool_)) or not isinstance(workers, numbers.Integral):
        raise TypeError(f"workers: expected None or an int, got {type(workers).__name__}")
    w = int(workers)
    if w > 0:
        return w
    if w == 0:
        raise ValueError("workers: 0 is not a thread count (None or 1: one thread, -1: all cores)")
    cores = os.cpu_count() or 1
    n = cores + 1 + w
    if n < 1:
        raise ValueError(f"workers: {w} counts back past the {cores} cores of this machine")
    return n


def as_array(x, name):
    """``x`` as a NumPy array of a real numeric dtype (no copy when it is one)."""
    if isinstance(x, np.ndarray):
        a = x
    else:
        try:
            a = np.asarray(x)
        except Exception as e:  # any failure of the conversion means "not an array"
            raise TypeError(f"{name}: expected an array, got {type(x).__name__}") from e
    if a.dtype.kind == "c":
        raise TypeError(f"{name}: complex input (dtype {a.dtype}) to a real filter; "
                        "filter the real and imaginary parts separately")
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name}: expected a real numeric array, got dtype {a.dtype}")
    return a


def check_ndim(a, name, allowed=(1, 2, 3)):
    if a.ndim not in allowed:
        wanted = " or ".join(str(n) for n in allowed)
        raise ValueError(f"{name}: expected an array of {wanted} dimensions, got {a.ndim} (shape {a.shape})")
    for n in a.shape:
        if n > MAX_AXIS:
            raise ValueError(f"{name}: an axis of length {n} is longer than the library's limit {MAX_AXIS}")


def native(a, dtype):
    """``a`` as a C-contiguous array of ``dtype`` in native byte order: the
    array itself when it already is one, otherwise one copy."""
    want = np.dtype(dtype).newbyteorder("=")
    if a.dtype == want and a.flags.c_contiguous:
        return a
    return np.ascontiguousarray(a, dtype=want)


def check_output(output, shape, dtype, name="output"):
    """``output`` itself when it can take the result in place, else an error."""
    if output is None:
        return None
    if not isinstance(output, np.ndarray):
        raise TypeError(f"{name}: expected a NumPy array or None, got {type(output).__name__}")
    dtype = np.dtype(dtype).newbyteorder("=")
    if output.dtype != dtype:
        raise TypeError(f"{name}: dtype must be {dtype}, got {output.dtype}")
    if output.shape != tuple(shape):
        raise ValueError(f"{name}: shape must be {tuple(shape)}, got {output.shape}")
    if not output.flags.c_contiguous:
        raise ValueError(f"{name}: must be C-contiguous")
    if not output.flags.writeable:
        raise ValueError(f"{name}: is read-only")
    return output


def per_axis(value, ndim, name, *, integral=False):
    """A scalar or one value per array axis, as a tuple of ``ndim`` numbers."""
    kind = numbers.Integral if integral else numbers.Real
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name}: expected a number or one per axis, got bool")
    if isinstance(value, kind):
        values = (value,) * ndim
    elif isinstance(value, (str, bytes)):
        raise TypeError(f"{name}: expected a number or one per axis, got {type(value).__name__}")
    else:
        try:
            values = tuple(value)
        except TypeError:
            raise TypeError(f"{name}: expected a number or one per axis, got {type(value).__name__}") from None
        if len(values) != ndim:
            raise ValueError(f"{name}: expected one value per axis ({ndim}), got {len(values)}")
        for v in values:
            if isinstance(v, (bool, np.bool_)) or not isinstance(v, kind):
                raise TypeError(f"{name}: expected numbers, got {type(v).__name__}")
    return tuple(int(v) if integral else float(v) for v in values)


def to_library(values, fill):
    """Array-axis values (last axis first in the library) as (x, y, z)."""
    lib = [fill, fill, fill]
    for i, v in enumerate(reversed(values)):
        lib[i] = v
    return lib


def integer(value, name, low, high):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name}: expected an int, got {type(value).__name__}")
    v = int(value)
    if not low <= v <= high:
        raise ValueError(f"{name}: must lie in {low} ... {high}, got {v}")
    return v
