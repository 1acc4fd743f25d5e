"""The library reads a C-contiguous input array where it lies and writes into
``output=`` where it lies: the peak memory of a call shows no copy of either;
an output that shares memory with the input still gets the right result, and
an input is never written."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import nvfiltering as nvf

PEAK_SCRIPT = textwrap.dedent("""
    import resource, sys
    import numpy as np
    import nvfiltering as nvf
    kind = sys.argv[1]
    n = 256
    dtype = np.float32 if kind == "gaussian" else np.uint8
    a = np.ones((n, n, n), dtype)
    out = np.ones((n, n, n), np.float32 if kind == "gaussian" else dtype)  # touched: resident before the call
    call = {
        "gaussian": lambda: nvf.gaussian_filter(a, 2.0, output=out),
        "dilate": lambda: nvf.dilate(a, output=out),
        "grey": lambda: nvf.grey_dilation(a, output=out),
        "maxima": lambda: nvf.regional_maxima(a, output=out),
    }[kind]
    small = np.ones((8, 8, 8), dtype)  # what the first call of a kind loads, loaded on a small array
    {"gaussian": lambda: nvf.gaussian_filter(small, 2.0), "dilate": lambda: nvf.dilate(small),
     "grey": lambda: nvf.grey_dilation(small), "maxima": lambda: nvf.regional_maxima(small)}[kind]()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    call()
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print((after - before) * 1024, a.nbytes)
""")


@pytest.mark.parametrize("kind", ["gaussian", "dilate", "grey", "maxima"])
def test_no_copy_of_input_or_output(kind):
    # The call's growth of the peak resident memory (everything else is in
    # memory before it): a copy of the input or a result image beside
    # `output` would add a whole array.
    done = subprocess.run([sys.executable, "-c", PEAK_SCRIPT, kind], capture_output=True, text=True, check=True)
    grown, size = map(int, done.stdout.split())
    assert grown < size // 4, f"{kind}: the peak grew by {grown} bytes for an input of {size}"


def test_output_sharing_the_input_is_still_right():
    rng = np.random.default_rng(3)
    f = rng.standard_normal((9, 10, 11)).astype(np.float32)
    expected = nvf.gaussian_filter(f, 1.5)
    same = f.copy()
    assert nvf.gaussian_filter(same, 1.5, output=same) is same
    np.testing.assert_array_equal(same, expected)
    g = rng.integers(0, 9, (12, 13), dtype=np.uint16)
    for iterations in (1, 2, 3):
        for fn in (nvf.dilate, nvf.erode, nvf.grey_dilation, nvf.grey_opening):
            want = fn(g, iterations=iterations)
            inplace = g.copy()
            fn(inplace, iterations=iterations, output=inplace)
            np.testing.assert_array_equal(inplace, want)
    # A gradient whose output shares the input's memory (the input as a view
    # of the output's buffer) reads the input before it is overwritten.
    buffer = np.zeros((8, 9, 2), np.float32)
    image = buffer[..., 0]
    image[...] = rng.standard_normal((8, 9))
    want = nvf.gaussian_gradient(image.copy(), 1.0)
    flat = np.ascontiguousarray(image)
    got = nvf.gaussian_gradient(flat, 1.0, output=buffer)
    np.testing.assert_array_equal(got, want)


def test_inputs_are_never_written():
    rng = np.random.default_rng(4)
    cases = [
        (nvf.dilate, rng.integers(0, 255, (7, 8, 9), dtype=np.uint8), {"iterations": 4}),
        (nvf.erode, rng.random((9, 10)) < 0.5, {"iterations": 3}),
        (nvf.grey_closing, rng.standard_normal((6, 7, 8)), {"iterations": 2}),
        (nvf.regional_maxima, rng.integers(0, 4, (6, 7, 8), dtype=np.int16), {}),
        (nvf.pyramid_down, rng.integers(0, 65535, (9, 10), dtype=np.uint16), {}),
        (lambda a, **k: nvf.gaussian_filter(a, 2.0, **k), rng.standard_normal((5, 6, 7)).astype(np.float32), {}),
        (lambda a, **k: nvf.label(a, **k)[0], rng.random((9, 9)) < 0.4, {}),
    ]
    for fn, a, kw in cases:
        before = a.copy()
        a.flags.writeable = False  # a write through the library would not be stopped by this
        fn(a, **kw)
        np.testing.assert_array_equal(a, before)


FAULT_SCRIPT = textwrap.dedent("""
    import resource
    import numpy as np
    import nvfiltering as nvf
    a = np.ones((256, 256, 256), np.float32)
    calls = {
        "numpy": lambda: np.multiply(a, 2.0),
        "gaussian": lambda: nvf.gaussian_filter(a, 2.0, workers=1),
        "grey": lambda: nvf.grey_dilation(a, workers=1),
    }
    small = np.ones((8, 8, 8), np.float32)
    nvf.gaussian_filter(small, 2.0); nvf.grey_dilation(small)
    for name, call in calls.items():
        before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        result = call()
        print(name, resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before, int(result.sum() > 0))
        del result
""")


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's allocator takes neither glibc's settings nor its way with fresh pages")
def test_results_without_output_are_allocated_as_numpy_allocates():
    # With the allocator setting Dask gives its workers (every large block
    # mapped fresh, nothing reused), a result the library allocates costs no
    # more page faults than NumPy's own result of that size: no pass that
    # zero-fills it before the filter writes it, and large pages where NumPy
    # gets them. A labelling's result must still come zeroed (the background
    # is never written), also after the heap held other values.
    env = dict(os.environ, MALLOC_TRIM_THRESHOLD_="65536")
    done = subprocess.run([sys.executable, "-c", FAULT_SCRIPT], capture_output=True, text=True, check=True, env=env)
    faults = {name: (int(n), int(ok)) for name, n, ok in (line.split() for line in done.stdout.splitlines())}
    numpy_faults = faults.pop("numpy")[0]
    for name, (n, ok) in faults.items():
        assert ok, name
        assert n <= 1.25 * numpy_faults + 2000, f"{name}: {n} page faults, NumPy's result {numpy_faults}"
    np.full((3, 300, 300), 7, np.uint32)
    labels, count = nvf.label(np.eye(300, dtype=bool)[None].repeat(3, 0), connectivity=6)
    assert count == 300 and np.count_nonzero(labels) == 900
