"""The package as installed: what importing it pulls in, the exception type
users catch, the thread count of workers=-1 under a CPU affinity mask, and
(when the tests run against an installed wheel) that the installed package is
the one imported."""

import ast
import os
import shutil
import subprocess
import sys
import sysconfig
import textwrap

import numpy as np
import pytest

import nvfiltering as nvf
from nvfiltering import _checks, _nvfiltering


def run_python(code, prefix=()):
    """``code`` run by this interpreter in a new process that imports the same
    nvfiltering (the directory holding the package goes first on its path)."""
    env = dict(os.environ)
    package_parent = os.path.dirname(os.path.dirname(nvf.__file__))
    env["PYTHONPATH"] = os.pathsep.join([package_parent] + [p for p in env.get("PYTHONPATH", "").split(os.pathsep)
                                                            if p])
    done = subprocess.run([*prefix, sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


class TestImport:
    def test_importing_the_package_leaves_dask_alone(self):
        out = run_python("""
            import sys
            import nvfiltering
            import nvfiltering.fft
            print(sorted(m for m in sys.modules if m.split(".")[0] in ("dask", "distributed", "zarr", "scipy")))
            """)
        assert out.strip() == "[]"

    def test_the_dask_layer_brings_dask_in(self):
        pytest.importorskip("dask")
        out = run_python("""
            import sys
            import nvfiltering.dask
            print("dask" in sys.modules)
            """)
        assert out.split() == ["True"]

    def test_installed_package_is_the_one_imported(self):
        # Set by scripts/test-wheel.sh: the tests must exercise the wheel, not a checkout.
        prefix = os.environ.get("NVF_INSTALLED_PREFIX")
        if not prefix:
            pytest.skip("not run against an installed wheel")
        site = os.path.realpath(sysconfig.get_paths()["purelib"])
        for module in (nvf, _nvfiltering):
            path = os.path.realpath(module.__file__)
            assert path.startswith(os.path.realpath(prefix) + os.sep) and path.startswith(site + os.sep), path
        stable_abi = sys.version_info >= (3, 12) and not sysconfig.get_config_var("Py_GIL_DISABLED")
        assert _nvfiltering.__file__.endswith(".abi3.so") == stable_abi, _nvfiltering.__file__
        for stub in ("__init__.pyi", "fft.pyi", "_nvfiltering.pyi", "py.typed"):
            assert os.path.exists(os.path.join(os.path.dirname(nvf.__file__), stub)), stub


# ast.parse can fail when several threads parse at once ("AST constructor recursion
# depth mismatch" on CPython 3.11): the tests that parse the stubs run in one thread.
AST_PARSE = pytest.mark.thread_unsafe(reason="ast.parse fails when threads parse at once (seen on CPython 3.11)")


class TestStubs:
    @AST_PARSE
    def test_the_extension_stub_declares_exactly_what_the_extension_has(self):
        # stubtest cannot look into nanobind's functions (see stubtest-allowlist.txt):
        # at least the names must match, both ways, overloads counted once.
        stub = os.path.join(os.path.dirname(_nvfiltering.__file__), "_nvfiltering.pyi")
        declared = set()
        for node in ast.parse(open(stub, encoding="utf-8").read()).body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                declared.add(node.name)
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                declared.add(node.target.id)
        public = {n for n in dir(_nvfiltering) if not n.startswith("_")} | {"__version__"}
        assert declared == public

    @AST_PARSE
    def test_the_extension_stub_keeps_the_overloads_of_every_dtype(self):
        stub = os.path.join(os.path.dirname(_nvfiltering.__file__), "_nvfiltering.pyi")
        tree = ast.parse(open(stub, encoding="utf-8").read())
        overloads = {}
        for node in tree.body:
            if isinstance(node, ast.FunctionDef):
                overloads[node.name] = overloads.get(node.name, 0) + 1
        for name, count in overloads.items():
            runtime = getattr(_nvfiltering, name).__nb_signature__
            assert count == len(runtime), name


class TestError:
    def test_the_exception_type(self):
        assert nvf.Error is _nvfiltering.Error
        assert f"{nvf.Error.__module__}.{nvf.Error.__qualname__}" == "nvfiltering.Error"
        assert issubclass(nvf.Error, Exception) and not issubclass(nvf.Error, (TypeError, ValueError))
        assert "class_path" in nvf.Error.__doc__

    @pytest.mark.parametrize("call, message", [
        (lambda: nvf.separable_filter(np.zeros((2, 10), np.uint8), nvf.Kernel([1.0, 2.0, 1.0])),
         "Data smaller than kernel."),
        (lambda: nvf.separable_filter(np.zeros((10, 2), np.float32), nvf.Kernel([1.0, 2.0, 1.0, 2.0, 1.0])),
         "Data smaller than kernel."),
    ])
    def test_library_failures_carry_message_and_class_path(self, call, message):
        with pytest.raises(nvf.Error) as info:
            call()
        e = info.value
        assert type(e) is nvf.Error
        assert str(e) == message and e.args == (message,)
        assert e.class_path == "java/lang/Throwable"
        # Each failure is its own object: nothing of one is left on the next.
        with pytest.raises(nvf.Error) as again:
            call()
        assert again.value is not e and again.value.class_path == e.class_path

    def test_the_repr_names_the_package(self):
        assert repr(nvf.Error("x")) == "Error('x')"
        assert str(nvf.Error) == "<class 'nvfiltering.Error'>"


@pytest.mark.skipif(not hasattr(os, "sched_getaffinity") or shutil.which("taskset") is None,
                    reason="needs CPU affinity masks and taskset")
class TestWorkersUnderAffinity:
    @pytest.mark.parametrize("cpus", [[0], [0, 1], [1]])
    def test_minus_one_counts_the_cpus_this_process_may_run_on(self, cpus):
        available = sorted(os.sched_getaffinity(0))
        if not set(cpus) <= set(available):
            pytest.skip(f"this process may not run on CPUs {cpus}")
        out = run_python("""
            import os
            import numpy as np
            import nvfiltering as nvf
            from nvfiltering import _checks
            n = _checks.workers_count(-1)
            try:
                _checks.workers_count(-n - 1)
                refused = False
            except ValueError:
                refused = True
            a = np.random.default_rng(0).random((33, 35)).astype(np.float32)
            same = bool(np.array_equal(nvf.gaussian_filter(a, 2.0, workers=-1), nvf.gaussian_filter(a, 2.0)))
            print(n, len(os.sched_getaffinity(0)), _checks.workers_count(-n), refused, same)
            """, prefix=["taskset", "-c", ",".join(map(str, cpus))])
        count, mask, last, refused, same = out.split()
        assert int(count) == int(mask) == len(cpus)
        assert int(last) == 1 and refused == "True" and same == "True"

    def test_minus_one_in_this_process(self):
        assert _checks.workers_count(-1) == len(os.sched_getaffinity(0))
