"""The package as a whole: the stubs declare what exists, every function has
its numpydoc sections and working examples, errors, versions, workers, the GIL
(threads give the serial results) and results handed over without copies."""

import ast
import doctest
import inspect
import os
import pathlib
import threading

import numpy as np
import pytest

import nvfiltering as nvf
from nvfiltering import _checks, _convolution, _gaussian, _label, _morphology
from nvfiltering import fft as nfft

PACKAGE = pathlib.Path(nvf.__file__).parent


def stub_names(path):
    names = set()
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names


class TestStubsAndDocs:
    # ast.parse can fail when several threads parse at once (CPython 3.11).
    @pytest.mark.thread_unsafe(reason="ast.parse fails when threads parse at once (seen on CPython 3.11)")
    def test_every_name_the_stubs_declare_exists(self):
        assert (PACKAGE / "py.typed").exists()
        top = stub_names(PACKAGE / "__init__.pyi")
        sub = stub_names(PACKAGE / "fft.pyi")
        assert {"gaussian_filter", "label", "Error", "Kernel", "__version__"} <= top
        for name in top:
            assert hasattr(nvf, name), name
        for name in sub:
            assert hasattr(nfft, name), name
        # And the other way round: every public name is declared.
        assert set(nvf.__all__) - {"fft"} <= top
        assert set(nfft.__all__) <= sub

    @pytest.mark.parametrize("name", [n for n in nvf.__all__ if callable(getattr(nvf, n)) and n not in ("Error",)]
                             + ["fft." + n for n in nfft.__all__])
    def test_numpydoc_sections(self, name):
        obj = nvf
        for part in name.split("."):
            obj = getattr(obj, part)
        if isinstance(obj, type):
            pytest.skip("classes are documented in docs/python.md")
        # Python 3.13 strips the docstrings' indentation when it compiles them:
        # compare them without it on every version.
        doc = inspect.cleandoc(obj.__doc__ or "")
        sections = ["Returns", "Examples"]
        if inspect.signature(obj).parameters:
            sections.append("Parameters")
        for section in sections:
            assert f"\n{section}\n---" in doc, (name, section)

    # doctest swaps sys.stdout while it runs the examples: one thread at a time.
    @pytest.mark.thread_unsafe(reason="doctest redirects sys.stdout")
    def test_examples_in_the_docstrings_run(self):
        tried_in_all = 0
        for module in (_gaussian, _convolution, _morphology, _label, nfft):
            failures, tried = doctest.testmod(module, optionflags=doctest.NORMALIZE_WHITESPACE)
            assert tried > 0 and failures == 0, module.__name__
            tried_in_all += tried
        assert tried_in_all > 10


class TestErrorsAndVersion:
    def test_error_carries_message_and_class_path(self):
        with pytest.raises(nvf.Error) as info:
            nvf.separable_filter(np.zeros((2, 10), np.uint8), nvf.Kernel([1.0, 2.0, 1.0]))
        assert str(info.value) == "Data smaller than kernel."
        assert info.value.class_path == "java/lang/Throwable"
        assert issubclass(nvf.Error, Exception) and not issubclass(nvf.Error, (TypeError, ValueError))
        assert f"{nvf.Error.__module__}.{nvf.Error.__qualname__}" == "nvfiltering.Error"

    def test_version(self):
        parts = nvf.__version__.split(".")
        assert len(parts) == 3 and all(p.isdigit() for p in parts)


class TestWorkers:
    def test_meaning_of_workers(self):
        # -1: every CPU this process may run on (tests/python/test_packaging.py
        # checks that under taskset).
        if hasattr(os, "process_cpu_count"):
            cores = os.process_cpu_count() or 1
        elif hasattr(os, "sched_getaffinity"):
            cores = len(os.sched_getaffinity(0))
        else:
            cores = os.cpu_count() or 1
        assert _checks.workers_count(None) == 1
        assert _checks.workers_count(3) == 3
        assert _checks.workers_count(-1) == cores
        assert _checks.workers_count(np.int64(-1)) == cores
        if cores > 1:
            assert _checks.workers_count(-2) == cores - 1
        for bad in (0, -cores - 1):
            with pytest.raises(ValueError, match="workers"):
                _checks.workers_count(bad)
        for bad in (True, 2.0, "2"):
            with pytest.raises(TypeError, match="workers"):
                _checks.workers_count(bad)

    def test_every_function_gives_the_same_result_for_every_workers_value(self):
        r = np.random.default_rng(0)
        vol = r.integers(0, 256, (20, 21, 22), dtype=np.uint8)
        calls = [
            lambda w: nvf.gaussian_filter(vol, 2.0, workers=w),
            lambda w: nvf.gaussian_gradient(vol, 1.0, workers=w),
            lambda w: nvf.pyramid_down(vol, workers=w),
            lambda w: nvf.dilate(vol > 128, workers=w),
            lambda w: nvf.erode(vol, workers=w),
            lambda w: nvf.label(vol > 100, workers=w)[0],
            lambda w: nvf.regional_maxima(vol[0].astype(np.float32), workers=w),
            lambda w: nvf.regional_maxima(vol // 32, workers=w),
            lambda w: nvf.grey_dilation(vol.astype(np.uint16) * 251, iterations=2, workers=w),
            lambda w: nvf.grey_erosion(vol.astype(np.int16) - 128, workers=w),
            lambda w: nvf.grey_opening(vol.astype(np.float32) / 7, iterations=3, workers=w),
            lambda w: nvf.grey_closing(vol.astype(np.float64) / 3, workers=w),
            lambda w: nfft.fftn(vol[:, :20, :20], workers=w),
        ]
        for call in calls:
            base = call(None)
            for w in (2, 3, -1):
                np.testing.assert_array_equal(call(w), base)


class TestThreadsAndCopies:
    def test_threads_give_the_serial_results(self):
        r = np.random.default_rng(1)
        arrays = [r.random((24, 25, 26)).astype(np.float32) for _ in range(6)]
        masks = [a > 0.5 for a in arrays]
        serial = [(nvf.gaussian_filter(a, 1.5), nvf.label(m)[0], nfft.fftn(a[:, :24, :25])) for a, m in
                  zip(arrays, masks)]
        results = [None] * len(arrays)
        barrier = threading.Barrier(len(arrays))

        def work(i):
            barrier.wait()
            a = arrays[i]
            results[i] = (nvf.gaussian_filter(a, 1.5), nvf.label(masks[i])[0], nfft.fftn(a[:, :24, :25]))

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(arrays))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for got, want in zip(results, serial):
            for g, w in zip(got, want):
                np.testing.assert_array_equal(g, w)

    def test_results_are_handed_over_and_outputs_written_in_place(self):
        a = np.random.default_rng(2).random((16, 17)).astype(np.float32)
        out = np.empty_like(a)
        res = nvf.gaussian_filter(a, 1.0, output=out)
        assert res is out and np.shares_memory(res, out)
        fresh = nvf.gaussian_filter(a, 1.0)
        assert fresh.flags.c_contiguous and fresh.flags.writeable and not np.shares_memory(fresh, a)
        # Two results never share a buffer (each call owns its own).
        assert not np.shares_memory(fresh, nvf.gaussian_filter(a, 1.0))
        mask = a > 0.5
        assert nvf.dilate(mask).base is not None  # a bool view of the library's own uint8 result

    def test_native_inputs_are_taken_as_they_are(self):
        a = np.zeros((8, 8), np.float32)
        assert _checks.native(a, np.float32) is a
        strided = np.zeros((8, 16), np.float32)[:, ::2]
        copy = _checks.native(strided, np.float32)
        assert copy.flags.c_contiguous and not np.shares_memory(copy, strided)
        swapped = a.astype(a.dtype.newbyteorder())
        assert _checks.native(swapped, np.float32).dtype.isnative


class TestLimits:
    def test_axes_beyond_the_library_limit_are_rejected_before_any_copy(self):
        # Zero-stride views: no memory is used, and the check comes before the
        # copy that would make them contiguous.
        huge = np.broadcast_to(np.uint8(0), (2**32,))
        for call in (nvf.dilate, nvf.grey_dilation, nvf.pyramid_down, lambda a: nvf.gaussian_filter(a, 1.0),
                     lambda a: nvf.label(a)):
            with pytest.raises(ValueError, match="input"):
                call(huge)
