"""The labelling's hand-built graph when Dask builds array expressions (its query
planning): it takes its input's lowered graph and gives the in-memory result. The
mode is read when dask.array is first imported, so the check runs in a fresh
interpreter."""

import os
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("dask.array")

SCRIPT = textwrap.dedent("""
    import dask
    import dask.array as da
    import numpy as np
    import nvfiltering as nvf
    import nvfiltering.dask as nd

    assert dask.config.get("array.query-planning") is True
    assert not isinstance(da.from_array(np.zeros(3)), da.core.Array), "not in expression mode"
    rng = np.random.default_rng(7)
    volume = rng.random((23, 31, 17)) > 0.6
    plane = rng.random((41, 37)) > 0.55
    for mask, chunks, connectivity in ((volume, (9, 12, 7), 6), (plane, (13, 10), 8)):
        d = da.from_array(mask, chunks=chunks)
        labels, count = nd.label(d, connectivity=connectivity, min_size=2)
        ref, n = nvf.label(mask, connectivity=connectivity, min_size=2)
        assert int(count.compute()) == n
        assert (labels.compute() == ref).all()
    print("ok")
""")


def test_label_under_array_expressions():
    env = dict(os.environ, DASK_ARRAY__QUERY_PLANNING="True")
    done = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stdout.strip().endswith("ok")
