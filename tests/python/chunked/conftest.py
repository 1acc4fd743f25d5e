"""Fixtures of the chunked tests: the compiled package, the chunked subpackage
(from the source tree when the package found does not carry it), and a
two-process local Dask cluster."""

from __future__ import annotations

import os
import pathlib
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent
PACKAGE_DIR = str(HERE.parents[2] / "python" / "nvfiltering")
sys.path.insert(0, str(HERE))

import workersetup  # noqa: E402

workersetup.worker_setup(PACKAGE_DIR)


@pytest.fixture(scope="session")
def nv():
    import nvfiltering
    return nvfiltering


@pytest.fixture(scope="session")
def nvd():
    import nvfiltering.dask
    return nvfiltering.dask


@pytest.fixture(scope="module")
def client():
    """Two worker processes of one thread each, started and closed here."""
    distributed = pytest.importorskip("distributed")
    import cloudpickle
    import nvfiltering

    cloudpickle.register_pickle_by_value(workersetup)
    # Workers import the compiled package from where this process found it.
    parent = str(pathlib.Path(nvfiltering.__file__).resolve().parents[1])
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [parent, os.environ.get("PYTHONPATH")]))
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                       memory_limit="1GiB", silence_logs=40)
    c = distributed.Client(cluster)
    try:
        c.register_plugin(workersetup.setup_plugin(PACKAGE_DIR))
        yield c
    finally:
        # A worker killed by a test restarts; on a busy machine closing the
        # cluster after that can take longer than the default allows.
        c.close(timeout=120)
        cluster.close(timeout=120)
