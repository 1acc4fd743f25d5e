"""Stand-ins for the in-memory package, used by the chunked tests only while the
compiled extension is not importable: the same signatures and dtypes, built on
NumPy and SciPy, following the library's documented borders (zero continuation
for the Gaussian, mirrored lines with whole-factor resampling for the separable
filter, neighbours outside left out for morphology, ranking by size with ties in
raster order of the first voxel for labelling)."""

from __future__ import annotations

import math
import sys
import types

import numpy as np
from scipy import ndimage


class Error(Exception):
    pass


class Kernel:
    def __init__(self, values, center=0):
        self.values = [float(v) for v in values]
        self.center = center


def pyramid_kernel():
    return Kernel([0.0625, 0.25, 0.375, 0.25, 0.0625], 2)


def _axes_sigma(sigma, ndim):
    return (float(sigma),) * ndim if np.ndim(sigma) == 0 else tuple(float(s) for s in sigma)


def gaussian_filter(input, sigma, order=0, *, output=None, workers=None):
    a = np.asarray(input)
    dtype = np.float64 if a.dtype == np.float64 else np.float32
    sigma = _axes_sigma(sigma, a.ndim)
    order = (int(order),) * a.ndim if np.ndim(order) == 0 else tuple(int(o) for o in order)
    out = a.astype(np.float64)
    for axis, (s, o) in enumerate(zip(sigma, order)):
        if s == 0:
            if o:
                p = np.moveaxis(np.pad(np.moveaxis(out, axis, 0), [(1, 1)] + [(0, 0)] * (a.ndim - 1)), 0, axis)
                lo, mid, hi = (np.take(p, np.arange(k, k + a.shape[axis]), axis) for k in range(3))
                out = (hi - lo) / 2 if o == 1 else hi - 2 * mid + lo
            continue
        # A long tail (truncate 8) stands for the recursive filter's infinite one.
        out = ndimage.gaussian_filter1d(out, s, axis=axis, order=o, mode="constant", truncate=8.0)
    return out.astype(dtype)


def gaussian_gradient(input, sigma, spacing=1.0, *, output=None, workers=None):
    a = np.asarray(input)
    spacing = (float(spacing),) * a.ndim if np.ndim(spacing) == 0 else tuple(spacing)
    sigma = _axes_sigma(sigma, a.ndim)
    voxel = tuple(s / h for s, h in zip(sigma, spacing))
    parts = []
    for i in range(a.ndim):
        order = [0] * a.ndim
        order[i] = 1
        parts.append(gaussian_filter(a.astype(np.float64), voxel, order).astype(np.float64) / spacing[i])
    return np.stack(parts, axis=-1).astype(np.float32)


def _line_filter(line, taps, m):
    """The documented line filter along axis 0: mirrored ends, tap len//2 on the
    output sample, whole-factor resampling."""
    n = line.shape[0]
    r = m / n
    up = int(math.floor(r + 0.5)) if r > 1 else 1
    down = int(math.floor(1.0 / r + 0.5)) if r < 1 else 1
    if (m - 1) * down > n * up or n < len(taps):
        raise Error("Cn1dSpatialFilter: output length too long for the input length and resampling factor.")
    length = n * up
    upsampled = np.zeros((length,) + line.shape[1:])
    upsampled[::up] = line
    h = len(taps) // 2
    out = np.zeros((m,) + line.shape[1:])
    for j in range(m):
        p = j * down
        for t, w in enumerate(taps):
            q = p + t - h
            while q < 0 or q > length - 1:
                q = -q if q < 0 else 2 * (length - 1) - q
            out[j] += w * upsampled[q]
    return out * up


def separable_filter(input, kernels, *, output=None, workers=None):
    a = np.asarray(input)
    vector = a.dtype == np.float32 and a.ndim >= 2 and a.shape[-1] == 3
    spatial = a.ndim - 1 if vector else a.ndim
    kernels = (kernels,) * spatial if isinstance(kernels, Kernel) else tuple(kernels)
    shape = output.shape if output is not None else a.shape
    data = a.astype(np.float64)
    for axis in reversed(range(spatial)):  # X, then Y, then Z
        if axis == 0 and spatial == 3 and a.shape[0] == 1:
            continue
        moved = np.moveaxis(data, axis, 0)
        data = np.moveaxis(_line_filter(moved, kernels[axis].values, shape[axis]), 0, axis)
    if vector:
        result = data.astype(np.float32)
    else:
        result = np.clip(np.floor(data + 0.5), 0, 255).astype(np.uint8)
    if output is not None:
        output[...] = result
        return output
    return result


def pyramid_down(input, *, output=None, workers=None):
    a = np.asarray(input)
    if output is None:
        output = np.empty(tuple((n + 1) // 2 for n in a.shape), np.uint8)
    return separable_filter(a, pyramid_kernel(), output=output)


def _cross(a, combine):
    out = a.copy()
    for axis in range(a.ndim):
        src = np.moveaxis(a, axis, 0)
        dst = np.moveaxis(out, axis, 0)
        dst[1:] = combine(dst[1:], src[:-1])
        dst[:-1] = combine(dst[:-1], src[1:])
    return out


def _bits(a):
    if a.dtype == np.bool_:
        return a.astype(np.uint8), True
    return a.view(np.uint16) if a.dtype == np.int16 else a, False


def _morph(input, iterations, combine):
    a = np.asarray(input)
    data, was_bool = _bits(a)
    for _ in range(iterations):
        data = _cross(data, combine)
    data = data.view(a.dtype) if a.dtype == np.int16 else data
    return data.astype(bool) if was_bool else data


def dilate(input, *, iterations=1, output=None, workers=None):
    return _morph(input, iterations, np.bitwise_or)


def erode(input, *, iterations=1, output=None, workers=None):
    return _morph(input, iterations, np.bitwise_and)


def regional_maxima(input, *, output=None, workers=None):
    a = np.asarray(input).astype(np.float64)
    low = ndimage.maximum_filter(np.where(np.isnan(a), np.inf, a), size=3, mode="constant", cval=-np.inf)
    return ((a > 0) & (a >= low)).astype(np.uint8)


def label(input, *, connectivity=None, class_value=1, min_size=0, keep=0, workers=None):
    a = np.asarray(input)
    full = connectivity == 8
    structure = ndimage.generate_binary_structure(a.ndim, a.ndim if full else 1)
    raw, n = ndimage.label(a == class_value, structure)
    sizes = np.bincount(raw.ravel(), minlength=n + 1)[1:]
    # scipy numbers in raster order of the first voxel: a stable sort by size keeps it for ties.
    order = np.argsort(-sizes, kind="stable")
    if keep:
        if keep > n:
            raise Error("CnConnectedComponentFilter: component selected to keep does not exist.")
        min_size = sizes[order[keep - 1]]
    rank = np.zeros(n + 1, np.uint32)
    rank[order + 1] = np.arange(1, n + 1)
    rank[1:][sizes < min_size] = 0
    return rank[raw].astype(np.uint32), int(np.count_nonzero(sizes >= min_size))


def _fft_module():
    fft = types.ModuleType("nvfiltering.fft")

    def typed(f):
        def run(x, *args, output=None, workers=None, **kw):
            x = np.asarray(x)
            single = x.dtype in (np.float32, np.complex64, np.uint8)
            y = f(x, *args, **kw)
            return y.astype(np.complex64 if single else np.complex128)
        return run

    fft.fft = typed(np.fft.fft)
    fft.ifft = typed(np.fft.ifft)
    fft.fft2 = typed(np.fft.fft2)
    fft.ifft2 = typed(np.fft.ifft2)
    fft.fftn = typed(np.fft.fftn)
    fft.ifftn = typed(np.fft.ifftn)

    def next_fast_len(n):
        m = max(int(n), 1)
        while True:
            k = m
            for p in (2, 3, 5):
                while k % p == 0:
                    k //= p
            if k == 1:
                return m
            m += 1

    fft.next_fast_len = next_fast_len
    return fft


def install(package_dir):
    """Make `import nvfiltering` give these stand-ins, with the chunked
    subpackage found in the source tree."""
    module = types.ModuleType("nvfiltering")
    module.__path__ = [str(package_dir)]
    for f in (Error, Kernel, pyramid_kernel, gaussian_filter, gaussian_gradient, separable_filter, pyramid_down,
              dilate, erode, regional_maxima, label):
        setattr(module, f.__name__, f)
    module.fft = _fft_module()
    module.STANDIN = True
    sys.modules["nvfiltering"] = module
    sys.modules["nvfiltering.fft"] = module.fft
    return module


def worker_setup(package_dir, use_standins):
    """Run on every worker process: the same `nvfiltering` the test process sees."""
    if use_standins:
        install(package_dir)
        return
    import nvfiltering
    if str(package_dir) not in list(nvfiltering.__path__):
        nvfiltering.__path__.append(str(package_dir))


def setup_plugin(package_dir, use_standins):
    """A worker plugin running `worker_setup` on every worker, also on those
    started again after a failure."""
    from distributed.diagnostics.plugin import WorkerPlugin

    class Setup(WorkerPlugin):
        name = "nvfiltering-test-setup"

        def setup(self, worker):
            worker_setup(package_dir, use_standins)

    return Setup()
