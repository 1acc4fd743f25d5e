"""The chunked filters on a real two-process cluster: Zarr stores on disk read
and written by the workers, and a worker killed in the middle of a computation."""

import os
import signal
import time

import dask.array as da
import numpy as np
import pytest

zarr = pytest.importorskip("zarr")

RNG = np.random.default_rng(3)


def test_zarr_in_zarr_out(nv, nvd, client, tmp_path):
    x = (RNG.random((40, 36, 44)) < 0.4).astype(np.uint8) * 200
    da.from_array(x, chunks=(10, 12, 11)).to_zarr(str(tmp_path / "in.zarr"))
    source = da.from_zarr(str(tmp_path / "in.zarr"))
    smooth = nvd.gaussian_filter(source, 2.0)
    labels, count = nvd.label(source, class_value=200, min_size=2)
    stored = da.to_zarr(smooth, str(tmp_path / "smooth.zarr"), compute=False)
    stored_labels = da.to_zarr(labels, str(tmp_path / "labels.zarr"), compute=False)
    client.compute([stored, stored_labels], sync=True)
    written = zarr.open_array(str(tmp_path / "smooth.zarr"), mode="r")[...]
    assert written.dtype == np.float32
    assert np.abs(written - nv.gaussian_filter(x, 2.0)).max() <= nvd.gaussian_error_bound(2.0, ndim=3) * 200
    whole, whole_count = nv.label(x, class_value=200, min_size=2)
    np.testing.assert_array_equal(zarr.open_array(str(tmp_path / "labels.zarr"), mode="r")[...], whole)
    assert int(client.compute(count, sync=True)) == whole_count


def _slow(block):
    time.sleep(0.3)
    return block


def test_worker_killed_mid_computation(nv, nvd, client):
    x = (RNG.random((48, 40, 40)) < 0.5).astype(np.uint8)
    source = da.from_array(x, chunks=(12, 20, 20)).map_blocks(_slow, dtype=np.uint8)
    labels, count = nvd.label(source)
    eroded = nvd.erode(source, iterations=2)
    futures = client.compute([labels, count, eroded])
    # Wait until the workers are busy, then kill one of them outright; its
    # nanny starts it again and the scheduler reruns what was lost.
    deadline = time.time() + 60
    while not any(client.processing().values()) and time.time() < deadline:
        time.sleep(0.05)
    time.sleep(0.5)
    assert not all(f.done() for f in futures)
    pids = client.run(os.getpid)
    os.kill(next(iter(pids.values())), signal.SIGKILL)
    got_labels, got_count, got_eroded = client.gather(futures)
    whole, whole_count = nv.label(x)
    np.testing.assert_array_equal(got_labels, whole)
    assert int(got_count) == whole_count
    np.testing.assert_array_equal(got_eroded, nv.erode(x, iterations=2))


def test_halos_travel_as_rims_between_workers(nv, nvd, client):
    # Rims asked for: the halo filters' tasks on two worker processes read
    # their neighbours' rims, and the result is the whole-array filter's.
    import dask
    x = RNG.integers(0, 255, (30, 33, 28), dtype=np.uint8)
    with dask.config.set({"nvfiltering.rims": True}):
        closed = nvd.grey_closing(da.from_array(x, chunks=(10, 11, 14)), iterations=2)
    assert any(str(k[0]).startswith("nvf-rims-") for k in dict(closed.__dask_graph__()) if isinstance(k, tuple))
    np.testing.assert_array_equal(client.compute(closed, sync=True), nv.grey_closing(x, iterations=2))
