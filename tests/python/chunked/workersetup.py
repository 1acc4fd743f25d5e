"""Run on every worker process of the test cluster: the chunked subpackage is
found where the test process found it (the source tree, when the compiled
package in the build tree does not carry it)."""


def worker_setup(package_dir):
    import nvfiltering
    if package_dir not in list(nvfiltering.__path__):
        try:
            import nvfiltering.dask  # noqa: F401
        except ImportError:
            nvfiltering.__path__.append(package_dir)


def setup_plugin(package_dir):
    """A worker plugin running `worker_setup` on every worker, also on those
    started again after a failure."""
    from distributed.diagnostics.plugin import WorkerPlugin

    class Setup(WorkerPlugin):
        name = "nvfiltering-test-setup"

        def setup(self, worker):
            worker_setup(package_dir)

    return Setup()


def under_address_sanitizer():
    """Whether this interpreter runs with AddressSanitizer preloaded (the
    sanitizer build's test runs): every allocation then carries shadow memory
    and a quarantine, so a worker's resident memory says nothing about the
    library's and tests of workers' memory limits cannot hold."""
    import os
    return "asan" in os.environ.get("LD_PRELOAD", "")


def compute_within_memory_limit(collections, limit, package_dir):
    """Compute `collections` (a list) on two worker processes of one thread,
    each limited to `limit` bytes, and check that no worker was restarted,
    paused or warned about its memory on the way; return the results."""
    import logging
    import os
    import pathlib
    import time

    import cloudpickle
    import distributed
    import nvfiltering

    cloudpickle.register_pickle_by_value(__import__(__name__))
    parent = str(pathlib.Path(nvfiltering.__file__).resolve().parents[1])
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [parent, os.environ.get("PYTHONPATH")]))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  memory_limit=limit, silence_logs=logging.WARNING) as cluster, \
            distributed.Client(cluster) as client:
        client.register_plugin(setup_plugin(package_dir))
        pids = client.run(os.getpid)
        statuses = set()

        def watch(dask_worker):
            return str(dask_worker.status)

        futures = client.compute(collections)
        while not all(f.done() for f in futures):
            statuses.update(client.run(watch).values())
            time.sleep(0.2)
        results = [f.result() for f in futures]
        assert client.run(os.getpid) == pids, "a worker was restarted"
        assert statuses <= {"Status.running"}, f"worker states seen: {statuses}"
        logged = [message for records in client.get_worker_logs().values() for level, message in records
                  if level in ("WARNING", "ERROR", "CRITICAL")]
        assert not [m for m in logged if "paus" in m.lower() or "memory" in m.lower()], logged
    return results
