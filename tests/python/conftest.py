"""Shared helpers of the Python tests: random inputs, canonical label numbering,
and the C++ API's own results (through the reference program the CMake build
makes; tests that need it are skipped without it)."""

import os
import subprocess
import tempfile

import numpy as np
import pytest

REFERENCE = os.environ.get("NVF_PYTHON_REFERENCE")


def rng(seed=0):
    return np.random.default_rng(seed)


def random_mask(shape, density=0.5, seed=0, dtype=np.uint8):
    return (rng(seed).random(shape) < density).astype(dtype)


def canonical(labels):
    """Labels renumbered by size (largest first), ties by the raster index of
    the component's first voxel; 0 stays the background."""
    flat = labels.ravel()
    ids, first, sizes = np.unique(flat, return_index=True, return_counts=True)
    keep = ids != 0
    ids, first, sizes = ids[keep], first[keep], sizes[keep]
    order = np.lexsort((first, -sizes))
    mapping = np.zeros(int(flat.max(initial=0)) + 1, np.int64)
    mapping[ids[order]] = np.arange(1, len(ids) + 1)
    return mapping[labels]


def library_dims(shape):
    """(x, y, z) sizes of a C-order array."""
    lib = [1, 1, 1]
    for i, n in enumerate(reversed(shape)):
        lib[i] = n
    return lib


needs_reference = pytest.mark.skipif(REFERENCE is None, reason="the C++ reference program is built by CMake only")


def reference_gaussian(a, lib_sigma, derivative):
    """The C++ CnRecursiveFilter's result for ``a`` (uint8, float32, float64)."""
    kind = {np.dtype(np.uint8): "u8", np.dtype(np.float32): "f32", np.dtype(np.float64): "f64"}[a.dtype]
    out_dtype = np.float64 if a.dtype == np.float64 else np.float32
    return _run(["gaussian", kind, *map(str, library_dims(a.shape)), *map(repr, lib_sigma), str(derivative)],
                a, out_dtype, a.shape)


def reference_gradient(a, sigma, lib_spacing):
    """The C++ CnImageGradient's (x, y, z) vectors for a uint8 array."""
    return _run(["gradient", *map(str, library_dims(a.shape)), repr(sigma), *map(repr, lib_spacing)],
                a, np.float32, a.shape + (3,))


def _run(args, a, out_dtype, out_shape):
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "in.raw"), os.path.join(tmp, "out.raw")
        np.ascontiguousarray(a).tofile(src)
        subprocess.run([REFERENCE, *args, src, dst], check=True)
        return np.fromfile(dst, out_dtype).reshape(out_shape)
