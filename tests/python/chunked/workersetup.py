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
