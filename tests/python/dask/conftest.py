"""Fixtures of the chunked tests: the in-memory package (the compiled one, or
NumPy/SciPy stand-ins while it cannot be imported), the chunked subpackage from
the source tree, and a two-process local Dask cluster."""

from __future__ import annotations

import os
import pathlib
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent
PACKAGE_DIR = HERE.parents[2] / "python" / "nvfiltering"
sys.path.insert(0, str(HERE))

import standins  # noqa: E402

try:
    import nvfiltering
    USE_STANDINS = not hasattr(nvfiltering, "gaussian_filter")
except ImportError:
    USE_STANDINS = True
if USE_STANDINS:
    for name in [m for m in sys.modules if m == "nvfiltering" or m.startswith("nvfiltering.")]:
        del sys.modules[name]
    nvfiltering = standins.install(PACKAGE_DIR)
elif str(PACKAGE_DIR) not in list(nvfiltering.__path__):
    # The build tree holds the compiled package; the chunked subpackage is read from the sources.
    try:
        import nvfiltering.dask  # noqa: F401
    except ImportError:
        nvfiltering.__path__.append(str(PACKAGE_DIR))


@pytest.fixture(scope="session")
def nv():
    import nvfiltering as module
    return module


@pytest.fixture(scope="session")
def nvd():
    import nvfiltering.dask as module
    return module


@pytest.fixture(scope="module")
def client():
    """Two worker processes of one thread each, started and closed here."""
    distributed = pytest.importorskip("distributed")
    import cloudpickle

    cloudpickle.register_pickle_by_value(standins)
    # Workers import the compiled package from where this process found it.
    parent = str(pathlib.Path(nvfiltering.__file__).resolve().parents[1]) if getattr(nvfiltering, "__file__", None) \
        else None
    if parent:
        os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [parent, os.environ.get("PYTHONPATH")]))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  memory_limit="1GiB", silence_logs=40) as cluster, \
            distributed.Client(cluster) as c:
        c.register_plugin(standins.setup_plugin(str(PACKAGE_DIR), USE_STANDINS))
        yield c

