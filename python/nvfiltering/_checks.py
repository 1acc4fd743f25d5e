"""Argument checks shared by every function of the package, in memory and chunked.

Bad arguments are turned into TypeError / ValueError naming the argument here,
so that the extension only ever sees C-contiguous arrays of a native dtype, and
so that a function of :mod:`nvfiltering.dask` refuses exactly what its
in-memory counterpart refuses, with the same message, when it is called
(before any task graph exists). The checks look at an array's dtype, ndim and
shape only, which a lazy array knows as well as a NumPy one; converting the
values is left to the in-memory functions.
"""

import math
import numbers
import os

import numpy as np

from ._nvfiltering import Kernel

# The library's image sizes are unsigned 32-bit values.
MAX_AXIS = 2**32 - 1
# The library's FFTs count lengths and vectors in signed 32 bits.
MAX_FFT_ELEMENTS = 2**31 - 1


# ---------------------------------------------------------------- arguments of every function

def workers_count(workers):
    """Threads for one call, with scipy.fft's meaning of ``workers``: -1 is
    every CPU this process may run on (its affinity mask, as ``taskset`` or a
    container's CPU set leave it), -2 one fewer, and so on."""
    if workers is None:
        return 1
    if isinstance(workers, (bool, np.bool_)) or not isinstance(workers, numbers.Integral):
        raise TypeError(f"workers: expected None or an int, got {type(workers).__name__}")
    w = int(workers)
    if w > 0:
        return w
    if w == 0:
        raise ValueError("workers: 0 is not a thread count (None or 1: one thread, -1: all cores)")
    cores = _usable_cpus()
    n = cores + 1 + w
    if n < 1:
        raise ValueError(f"workers: {w} counts back past the {cores} CPUs this process may run on")
    return n


def _usable_cpus():
    """The CPUs this process may run on (asked at every call: the affinity
    mask can change while the process runs)."""
    count = getattr(os, "process_cpu_count", None)  # Python 3.13 and later
    if count is not None:
        return count() or 1
    try:
        return len(os.sched_getaffinity(0)) or 1
    except (AttributeError, OSError):  # no affinity masks on this platform
        return os.cpu_count() or 1


def as_array(x, name, convert=None):
    """``x`` as an array of a real numeric dtype: a NumPy array (no copy when it
    is one), or what ``convert`` makes of it (``dask.array.asarray``)."""
    if convert is None and isinstance(x, np.ndarray):
        a = x
    else:
        try:
            a = (convert or np.asarray)(x)
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
    if a.dtype == np.bool_ and want == np.uint8 and a.flags.c_contiguous:
        return a.view(np.uint8)  # the same bytes: no copy
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


def one_number(value, name):
    """One real number (not a bool, not a sequence), as a float."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{name}: expected one number, got {type(value).__name__}")
    return float(value)


def check_sigmas(sigmas, name="sigma"):
    if not all(np.isfinite(s) and s >= 0 for s in sigmas):
        raise ValueError(f"{name}: every value must be finite and >= 0, got {sigmas}")


def check_spacings(spacings, name="spacing"):
    if not all(np.isfinite(s) and s > 0 for s in spacings):
        raise ValueError(f"{name}: every value must be finite and > 0, got {spacings}")


# ---------------------------------------------------------------- Gaussian filters

# The integer dtypes the recursive filters read as they are (each value exact
# in float); bool is read as uint8.
GAUSSIAN_INTEGER_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16))


def gaussian_dtypes(dtype):
    """The dtype the recursive filters work in for an input dtype, and the one
    they return: bool, uint8, uint16, int16 and int8 (as int16) are read as
    integers into float32 results, float64 stays float64, everything else is
    converted to float32 first."""
    dtype = np.dtype(dtype).newbyteorder("=")
    if dtype == np.bool_:
        return np.dtype(np.uint8), np.dtype(np.float32)
    if dtype == np.int8:
        return np.dtype(np.int16), np.dtype(np.float32)
    if dtype in GAUSSIAN_INTEGER_DTYPES:
        return dtype, np.dtype(np.float32)
    if dtype == np.float64:
        return np.dtype(np.float64), np.dtype(np.float64)
    return np.dtype(np.float32), np.dtype(np.float32)


# Border modes of the recursive filters, numbered as the library's
# CnRecursiveFilter::EnBorderMode.
BORDER_MODES = {"constant": 0, "nearest": 1, "reflect": 2, "mirror": 3, "wrap": 4}

# np.pad's name of each border mode (the same continuation of the array).
NUMPY_PAD_MODES = {"constant": "constant", "nearest": "edge", "reflect": "symmetric", "mirror": "reflect",
                   "wrap": "wrap"}


def border_args(mode, cval):
    """The library's border mode number and constant for ``mode`` and ``cval``."""
    if not isinstance(mode, str) or mode not in BORDER_MODES:
        raise ValueError(f"mode: expected one of {', '.join(repr(m) for m in BORDER_MODES)}, got {mode!r}")
    value = one_number(cval, "cval")
    if not np.isfinite(value):
        raise ValueError(f"cval: must be finite, got {value}")
    return BORDER_MODES[mode], value


def gaussian_filter_args(a, sigma, order):
    """sigma and order of ``gaussian_filter`` per axis of ``a``, and the dtypes
    it works in and returns; ``a`` has passed :func:`as_array`."""
    check_ndim(a, "input")
    sig = per_axis(sigma, a.ndim, "sigma")
    check_sigmas(sig)
    orders = per_axis(order, a.ndim, "order", integral=True)
    if any(o not in (0, 1, 2) for o in orders):
        raise ValueError(f"order: every value must be 0, 1 or 2, got {orders}")
    if sum(1 for o in orders if o) > 1:
        raise ValueError(f"order: at most one axis may have a derivative, got {orders}")
    return (sig, orders) + gaussian_dtypes(a.dtype)


def gaussian_gradient_args(a, sigma, spacing):
    """sigma (one value), spacing per axis of ``a``, and the dtypes
    ``gaussian_gradient`` works in and returns."""
    check_ndim(a, "input")
    sigma = one_number(sigma, "sigma")
    if not (np.isfinite(sigma) and sigma >= 0):
        raise ValueError(f"sigma: must be finite and >= 0, got {sigma}")
    space = per_axis(spacing, a.ndim, "spacing")
    check_spacings(space)
    return (sigma, space) + gaussian_dtypes(a.dtype)


# ---------------------------------------------------------------- separable convolution

def kernels_per_axis(kernels, ndim):
    """One Kernel per image axis (array-axis order), from one or a sequence."""
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
    return kernels


# The dtypes the separable filter and the pyramid filter in as they are.
CONVOLUTION_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16), np.dtype(np.float32),
                      np.dtype(np.float64))


def convolution_dtype(a):
    """The dtype the separable filter works in and returns for the scalar image
    ``a``: uint8, uint16, int16, float32 and float64 as they are; bool as
    uint8, int8 as int16, float16 as float32, every other integer as float64
    (exact up to 2**53; one conversion)."""
    dt = a.dtype.newbyteorder("=")
    if dt in CONVOLUTION_DTYPES:
        return dt
    if dt == np.bool_:
        return np.dtype(np.uint8)
    if dt == np.int8:
        return np.dtype(np.int16)
    if dt == np.float16:
        return np.dtype(np.float32)
    return np.dtype(np.float64)


def _caller_level():
    """The stack level of the first frame outside this package, for warnings
    that name the caller's line whichever function of the package it called."""
    import sys
    frame, level = sys._getframe(1), 1
    while frame is not None and frame.f_globals.get("__name__", "").startswith("nvfiltering"):
        frame, level = frame.f_back, level + 1
    return level


def separable_input(a, vectors=None, batch=False):
    """Whether ``a`` holds float32 three-vectors (else scalar samples), and the
    dtype the filter takes. ``vectors`` None keeps the reading of earlier
    releases (a float32 array of 2 to 4 dimensions whose last axis has length
    3 is vectors), with a DeprecationWarning when it reads vectors. ``batch``:
    ``a`` is a batch of images (``axes=``), whose dimensions are checked there."""
    if vectors is not None and not isinstance(vectors, (bool, np.bool_)):
        raise TypeError(f"vectors: expected None, True or False, got {type(vectors).__name__}")
    is_f32 = a.dtype.newbyteorder("=") == np.float32
    if vectors is None:
        vectors = is_f32 and (a.ndim >= 2 if batch else a.ndim in (2, 3, 4)) and a.shape[-1] == 3
        if vectors:
            import warnings
            warnings.warn("separable_filter: a float32 array whose last axis has length 3 is read as three-vectors; "
                          "pass vectors=True to keep this reading, vectors=False for a scalar image (the default "
                          "in a future release)", DeprecationWarning, stacklevel=_caller_level())
    if vectors:
        if not is_f32:
            raise TypeError(f"input: vectors=True takes float32 three-vectors, got {a.dtype}")
        if not batch:
            check_ndim(a, "input", (2, 3, 4))
        if a.shape[-1] != 3:
            raise ValueError(f"input: float32 input holds three-vectors (last axis 3), got shape {a.shape}")
        return True, np.dtype(np.float32)
    if not batch:
        check_ndim(a, "input")
    return False, convolution_dtype(a)


def pyramid_input(a, batch=False):
    """The dtype ``pyramid_down`` works in for ``a``, as :func:`convolution_dtype`."""
    if not batch:
        check_ndim(a, "input")
    return convolution_dtype(a)


def output_shape(output, default, ndim, name="output"):
    """The output array's shape when one is given (it sets the resampling), else ``default``."""
    if output is None:
        return tuple(default)
    if not isinstance(output, np.ndarray):
        raise TypeError(f"{name}: expected a NumPy array or None, got {type(output).__name__}")
    if output.ndim != ndim:
        raise ValueError(f"{name}: expected {ndim} dimensions, got {output.ndim}")
    return output.shape


def check_vector_output(shape):
    if shape[-1] != 3:
        raise ValueError(f"output: the last axis must have length 3, got shape {tuple(shape)}")


def nothing_to_resample(in_shape, out_shape):
    """True when input and output are both empty; an error when only one is."""
    if 0 not in in_shape and 0 not in out_shape:
        return False
    if 0 in in_shape and 0 in out_shape:
        return True
    raise ValueError(f"output: shape {tuple(out_shape)} cannot be computed from input of shape {tuple(in_shape)}")


# ---------------------------------------------------------------- morphology, labelling, maxima

MORPHOLOGY_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16), np.dtype(np.uint32))


def morphology_input(a, name="input"):
    """Whether ``a`` is bool (taken as uint8); any dtype but uint8, uint16,
    int16, uint32 and bool is an error (the bitwise filters combine bits, which
    floats do not have: grey_dilation and grey_erosion take them)."""
    check_ndim(a, name)
    if a.dtype == np.bool_:
        return True
    if a.dtype.newbyteorder("=") not in MORPHOLOGY_DTYPES:
        raise TypeError(f"{name}: expected uint8, uint16, int16, uint32 or bool, got {a.dtype} "
                        "(grey_dilation and grey_erosion take every numeric dtype)")
    return False


def iterations_count(iterations):
    return integer(iterations, "iterations", 1, 2**31 - 1)


LABEL_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16), np.dtype(np.uint32))


def label_args(a, connectivity, class_value, min_size, keep):
    """(was bool, connectivity, class_value, min_size, keep) of ``label`` on
    ``a``; class_value stays None (every non-zero voxel is foreground)."""
    check_ndim(a, "input")
    was_bool = a.dtype == np.bool_
    if not was_bool and a.dtype.newbyteorder("=") not in LABEL_DTYPES:
        raise TypeError(f"input: expected uint8, uint16, int16, uint32 or bool, got {a.dtype}")
    # Neighbour counts: face neighbours first (the default), then edges, then corners.
    allowed = {1: (2,), 2: (4, 8), 3: (6, 18, 26)}[a.ndim]
    if connectivity is None:
        connectivity = allowed[0]
    connectivity = integer(connectivity, "connectivity", 0, 26)
    if connectivity not in allowed:
        raise ValueError(f"connectivity: a {a.ndim}-d array takes {' or '.join(map(str, allowed))}, "
                         f"got {connectivity}")
    info = np.iinfo(np.uint8 if was_bool else a.dtype)
    high = 1 if was_bool else info.max
    if class_value is not None:
        class_value = integer(class_value, "class_value", int(info.min), int(high))
    min_size = integer(min_size, "min_size", 0, 2**32 - 1)
    keep = integer(keep, "keep", 0, 2**31 - 1)
    return was_bool, connectivity, class_value, min_size, keep


GREY_DTYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int16), np.dtype(np.float32),
               np.dtype(np.float64))


def _ordered_dtype(dt):
    """The dtype, among uint8, uint16, int16, float32 and float64, that holds
    every value of ``dt`` in the same order: itself, int16 for int8, float32
    for float16, float64 for the other integers (exact up to 2**53)."""
    if dt in GREY_DTYPES:
        return dt
    if dt == np.int8:
        return np.dtype(np.int16)
    if dt == np.float16:
        return np.dtype(np.float32)
    return np.dtype(np.float64)


def grey_input(a, name="input"):
    """The dtype (native byte order) the grey filters return for ``a``: uint8,
    uint16, int16, float32, float64 and bool (a mask, filtered as uint8: its
    dilation is the binary one) as they are; other dtypes as
    :func:`_ordered_dtype` converts them."""
    check_ndim(a, name)
    dt = a.dtype.newbyteorder("=")
    if dt == np.bool_:
        return dt
    return _ordered_dtype(dt)


def regional_maxima_dtype(a):
    """The dtype ``regional_maxima`` works in for the 2-d or 3-d ``a`` (bool
    as uint8, others as :func:`_ordered_dtype`: the same order of values)."""
    check_ndim(a, "input", (2, 3))
    dt = a.dtype.newbyteorder("=")
    if dt == np.dtype(np.bool_):
        return np.dtype(np.uint8)
    return _ordered_dtype(dt)


# ---------------------------------------------------------------- FFTs

def is_fast_length(n):
    for p in (2, 3, 5):
        while n % p == 0:
            n //= p
    return n == 1


def fast_length_at_least(n):
    m = n
    while not is_fast_length(m):
        m += 1
    return m


def length_arg(n, name="n"):
    if isinstance(n, (bool, np.bool_)) or not isinstance(n, numbers.Integral):
        raise TypeError(f"{name}: expected an int, got {type(n).__name__}")
    n = int(n)
    if n < 1:
        raise ValueError(f"{name}: must be at least 1, got {n}")
    return n


def fft_input(x, name, convert=np.asarray):
    """``x`` as an array, whether it is complex, and the complex and real dtypes of the result."""
    a = convert(x)
    kind = a.dtype.kind
    if kind == "c":
        real_type = np.float32 if a.dtype.itemsize == 8 else np.float64
    elif kind == "f":
        real_type = np.float32 if a.dtype.itemsize <= 4 else np.float64
    elif kind in "biu":
        real_type = np.float64
    else:
        raise TypeError(f"{name}: expected a numeric array, got dtype {a.dtype}")
    if a.ndim == 0:
        raise ValueError(f"{name}: a 0-d array has no axis to transform")
    complex_type = np.complex64 if real_type == np.float32 else np.complex128
    return a, kind == "c", np.dtype(complex_type), np.dtype(real_type)


def fft_axis(axis, ndim):
    if isinstance(axis, (bool, np.bool_)) or not isinstance(axis, numbers.Integral):
        raise TypeError(f"axis: expected an int, got {type(axis).__name__}")
    if not -ndim <= axis < ndim:
        raise ValueError(f"axis: {axis} is out of range for an array of {ndim} dimensions")
    return int(axis) % ndim


def fft_ndim(ndim, two_d, name):
    """The dimensions a 2-d transform (``two_d``) or one over every axis takes."""
    if two_d and ndim < 2:
        raise ValueError(f"{name}: a 2-d transform needs at least 2 dimensions, got {ndim}")
    if not two_d and ndim > 3:
        raise ValueError(f"{name}: at most 3 dimensions, got {ndim}")


def fft_length(n, name):
    """A transformed length: any length of at least 1."""
    if n < 1:
        raise ValueError(f"{name}: an axis of length {n} has nothing to transform")


def fft_fast_length(n, name):
    """A length the split transforms take: 2^p 3^q 5^r."""
    fft_length(n, name)
    if not is_fast_length(n):
        raise ValueError(f"{name}: length {n} is not of the form 2^p 3^q 5^r; "
                         f"the next such length is {fast_length_at_least(n)}")


def fft_norm(norm):
    """scipy.fft's ``norm``: the code the extension takes (0 backward, 1 ortho, 2 forward)."""
    if norm is None:
        return 0
    if not isinstance(norm, str):
        raise TypeError(f"norm: expected None or a str, got {type(norm).__name__}")
    codes = {"backward": 0, "ortho": 1, "forward": 2}
    if norm not in codes:
        raise ValueError(f'norm: expected "backward", "ortho" or "forward", got {norm!r}')
    return codes[norm]


def fft_axes(axes, ndim, default):
    """The transformed axes as distinct non-negative ints (``default`` when None)."""
    if axes is None:
        return list(default)
    if isinstance(axes, (bool, np.bool_)) or isinstance(axes, numbers.Integral):
        axes = (axes,)
    try:
        axes = list(axes)
    except TypeError:
        raise TypeError(f"axes: expected a sequence of ints, got {type(axes).__name__}") from None
    if not axes:
        raise ValueError("axes: at least one axis")
    out = [fft_axis(a, ndim) for a in axes]
    if len(set(out)) != len(out):
        raise ValueError(f"axes: {tuple(axes)} names an axis twice")
    return out


def fft_sizes(s, count, name="s"):
    """``n`` (count 1) or ``s``: None or one positive int per transformed axis."""
    if s is None:
        return None
    if count == 1 and name == "n":
        return [length_arg(s, "n")]
    if isinstance(s, numbers.Integral) and not isinstance(s, (bool, np.bool_)):
        s = (s,)
    try:
        s = list(s)
    except TypeError:
        raise TypeError(f"{name}: expected a sequence of ints, got {type(s).__name__}") from None
    if len(s) != count:
        raise ValueError(f"{name}: {len(s)} lengths for {count} transformed axes")
    return [length_arg(n, name) for n in s]


def fft_size(count, name):
    if count > MAX_FFT_ELEMENTS:
        raise ValueError(f"{name}: {count} elements exceed the library's limit of {MAX_FFT_ELEMENTS} per call")


def split_arrays(real, imag, inverse):
    """The arrays of ``fftn_split``: the same shape and float dtype, C-contiguous,
    writable and apart."""
    for name, a in (("real", real), ("imag", imag)):
        if not isinstance(a, np.ndarray):
            raise TypeError(f"{name}: expected a NumPy array, got {type(a).__name__}")
        if a.dtype not in (np.dtype(np.float32), np.dtype(np.float64)):
            raise TypeError(f"{name}: expected float32 or float64 in native byte order, got {a.dtype}")
        if not 1 <= a.ndim <= 3:
            raise ValueError(f"{name}: expected 1, 2 or 3 dimensions, got {a.ndim}")
        if not a.flags.c_contiguous:
            raise ValueError(f"{name}: must be C-contiguous")
        if not a.flags.writeable:
            raise ValueError(f"{name}: is read-only")
    if real.dtype != imag.dtype:
        raise TypeError(f"imag: dtype {imag.dtype} differs from real's {real.dtype}")
    if real.shape != imag.shape:
        raise ValueError(f"imag: shape {imag.shape} differs from real's {real.shape}")
    if np.shares_memory(real, imag):
        raise ValueError("imag: overlaps real")
    if not isinstance(inverse, (bool, np.bool_)):
        raise TypeError(f"inverse: expected a bool, got {type(inverse).__name__}")


# ---------------------------------------------------------------- chunked functions only

def no_output_array(output):
    if output is not None:
        raise TypeError("output: the chunked filters return a lazy dask array; store it with dask.array.store or to_zarr")


def lazy_output_shape(output, default):
    """The chunked resampling filters' ``output``: None (``default``) or the
    output's shape as a tuple of positive lengths."""
    if output is None:
        return tuple(int(n) for n in default)
    if isinstance(output, tuple) and all(isinstance(n, (int, np.integer)) for n in output):
        if len(output) != len(default) or any(n < 1 for n in output):
            raise ValueError(f"output: a shape of {len(default)} positive lengths, got {output}")
        return tuple(int(n) for n in output)
    raise TypeError("output: None or the output's shape as a tuple (the chunked filters return a lazy dask array)")


def resampling_factors(n, m):
    """Whole-factor resampling (up, down) the line filter derives from n inputs, m outputs."""
    r = m / n
    if r > 1:
        return int(math.floor(r + 0.5)), 1
    if r < 1:
        return 1, int(math.floor(1.0 / r + 0.5))
    return 1, 1


def truncate_arg(truncate):
    truncate = one_number(truncate, "truncate")
    if not (np.isfinite(truncate) and truncate > 0):
        raise ValueError(f"truncate: must be finite and > 0, got {truncate}")
    return truncate


def chunk_bytes_arg(chunk_bytes):
    if chunk_bytes is None:
        return None
    return integer(chunk_bytes, "chunk_bytes", 1, 2**63 - 1)


def lazy_fft_ndim(ndim, name):
    """The chunked FFTs transform images and volumes (and the slices of a volume)."""
    if ndim not in (2, 3):
        raise ValueError(f"{name}: the chunked transforms take 2 or 3 dimensions, got {ndim}")
