"""The nvfiltering command, run in a subprocess on small TIFF, Zarr, .npy and
OME-Zarr inputs: outputs compared with the Python functions, every bad input
one line on stderr with its exit status, and a killed run leaves nothing
under the output's name."""

import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

dask_array = pytest.importorskip("dask.array")
zarr = pytest.importorskip("zarr")
tifffile = pytest.importorskip("tifffile")

import nvfiltering as nvf  # noqa: E402
import nvfiltering.dask as nvd  # noqa: E402
from nvfiltering import ome  # noqa: E402
from nvfiltering._cli import main  # noqa: E402


def cli(*args, timeout=120):
    env = dict(os.environ)
    return subprocess.run([sys.executable, "-m", "nvfiltering", *map(str, args)], capture_output=True,
                          text=True, timeout=timeout, env=env)


@pytest.fixture(scope="module")
def volume():
    g = np.random.default_rng(7)
    # Sparse, so that the labelling finds many components.
    return (g.integers(0, 255, (11, 30, 27)) * (g.random((11, 30, 27)) < 0.15)).astype(np.uint8)


@pytest.fixture(scope="module", params=["tif", "zarr"])
def source(request, tmp_path_factory, volume):
    """The same volume as a TIFF and as a Zarr array."""
    folder = tmp_path_factory.mktemp("in")
    if request.param == "tif":
        path = folder / "vol.tif"
        tifffile.imwrite(path, volume)
    else:
        path = folder / "vol.zarr"
        zarr.create_array(str(path), data=volume, chunks=(8, 8, 8))
    return path


def read(path):
    return zarr.open_array(str(path), mode="r")[...]


def run(capsys, *args):
    """The command in this process: its exit status."""
    try:
        return main([str(a) for a in args])
    except SystemExit as e:
        return e.code


def ok(result):
    assert result.returncode == 0, result.stderr
    return result


def test_smooth(tmp_path, source, volume):
    ok(cli("smooth", source, tmp_path / "out.zarr", "--sigma", "1.5", "--chunks", "16"))
    expected = nvd.gaussian_filter(dask_array.from_array(volume, chunks=16), 1.5).compute()
    np.testing.assert_array_equal(read(tmp_path / "out.zarr"), expected)


def test_smooth_mode(tmp_path, volume):
    """--mode reaches gaussian_filter where it takes mode= (else it is refused)."""
    np.save(tmp_path / "v.npy", volume)
    r = cli("smooth", tmp_path / "v.npy", tmp_path / "m.zarr", "--sigma", "1.5", "--mode", "reflect",
            "--chunks", "16")
    try:
        expected = nvd.gaussian_filter(dask_array.from_array(volume, chunks=16), 1.5, mode="reflect").compute()
    except TypeError:
        assert r.returncode == 1 and "--mode" in r.stderr
        return
    ok(r)
    np.testing.assert_array_equal(read(tmp_path / "m.zarr"), expected)


def test_gradient(tmp_path, source, volume):
    ok(cli("gradient", source, tmp_path / "g.zarr", "--sigma", "1", "--chunks", "64"))
    np.testing.assert_array_equal(read(tmp_path / "g.zarr"), nvf.gaussian_gradient(volume, 1.0))


def test_label(tmp_path, source, volume):
    r = ok(cli("label", source, tmp_path / "l.zarr", "--connectivity", "26", "--min-size", "3", "--chunks", "16"))
    labels, count = nvf.label(volume, connectivity=26, min_size=3)
    assert count > 5
    np.testing.assert_array_equal(read(tmp_path / "l.zarr"), labels)
    assert r.stdout.strip() == f"{count} components"


def test_pyramid_and_info(tmp_path, capsys, source, volume):
    out = tmp_path / "p.ome.zarr"
    r = ok(cli("pyramid", source, out, "--scale", "2", "0.5", "0.5", "--chunks", "8"))
    assert r.stderr == ""  # no progress bar when stderr is not a terminal
    level, axes, scale = ome.from_ome_zarr(out, 0)
    np.testing.assert_array_equal(level.compute(), volume)
    assert (axes, scale) == ("zyx", (2.0, 0.5, 0.5))
    level1 = ome.from_ome_zarr(out, 1)[0].compute()
    assert level1.tobytes() == nvf.pyramid_down(volume, axes=(1, 2)).tobytes()
    # info in a subprocess once, in this process for the other input
    if source.suffix == ".tif":
        info = ok(cli("info", out)).stdout
    else:
        assert run(capsys, "info", out) == 0
        info = capsys.readouterr().out
    assert "axes zyx" in info and "uint8" in info and "scale (2.0, 1.0, 1.0)" in info
    assert run(capsys, "info", source) == 0
    assert "(11, 30, 27)" in capsys.readouterr().out
    # An OME-Zarr level as input (in this process, as the options below).
    assert run(capsys, "smooth", out, tmp_path / "s.zarr", "--sigma", "1", "--level", "1", "--chunks", "64") == 0
    np.testing.assert_array_equal(read(tmp_path / "s.zarr"), nvf.gaussian_filter(level1, 1.0))


def test_label_pyramid_and_ome_outputs(tmp_path, capsys, volume):
    np.save(tmp_path / "v.npy", volume)
    assert 0 == run(capsys, "label", tmp_path / "v.npy", tmp_path / "l.ome.zarr", "--ome", "--chunks", "8")
    labels, _ = nvf.label(volume)
    got, axes, _ = ome.from_ome_zarr(tmp_path / "l.ome.zarr")
    np.testing.assert_array_equal(got.compute(), labels)
    level1 = ome.from_ome_zarr(tmp_path / "l.ome.zarr", 1)[0].compute()
    np.testing.assert_array_equal(level1, labels[::2, ::2, ::2])
    np.save(tmp_path / "lab.npy", labels)
    assert 0 == run(capsys, "pyramid", tmp_path / "lab.npy", tmp_path / "lp.zarr", "--labels", "--version", "0.4", "--chunks", "8")
    np.testing.assert_array_equal(ome.from_ome_zarr(tmp_path / "lp.zarr", 1)[0].compute(), level1)
    assert 0 == run(capsys, "smooth", tmp_path / "v.npy", tmp_path / "s.ome.zarr", "--sigma", "1", "--ome", "--chunks", "64")
    np.testing.assert_array_equal(ome.from_ome_zarr(tmp_path / "s.ome.zarr")[0].compute(),
                                  nvf.gaussian_filter(volume, 1.0))


def _corrupt_zarr(tmp_path):
    path = tmp_path / "broken.zarr"
    zarr.create_array(str(path), data=np.ones((16, 16), np.uint8), chunks=(8, 8))
    chunk = path / "c" / "0" / "1"
    chunk.write_bytes(b"\x00garbage, not zstd")
    return path


def _unreadable(tmp_path):
    path = tmp_path / "locked.npy"
    np.save(path, np.zeros((8, 8), np.uint8))
    os.chmod(path, 0)
    return path


# (arguments, exit status, words of the message); IN and OUT paths are made in tmp_path
BAD = [
    (["smooth", "{missing}", "{out}", "--sigma", "1"], 1, "no such file"),
    (["smooth", "{text}", "{out}", "--sigma", "1"], 1, "not a TIFF"),
    (["smooth", "{badtif}", "{out}", "--sigma", "1"], 1, "not a readable TIFF"),
    (["smooth", "{npy}", "{out}", "--sigma", "1", "--mode", "sideways"], 1, "mode"),
    (["label", "{floats}", "{out}"], 1, "float"),
    (["pyramid", "{int32}", "{out}"], 1, "--labels"),
    (["smooth", "{npy}", "{exists}", "--sigma", "1"], 1, "--overwrite"),
    (["smooth", "{broken}", "{out}", "--sigma", "1"], 1, ""),
    (["smooth", "{npy}", "{out}"], 2, "--sigma"),
    (["smooth", "{npy}", "{out}", "--sigma", "-1"], 2, "positive"),
    (["frobnicate", "{npy}"], 2, "invalid choice"),
    (["pyramid", "{npy}", "{out}", "--axes", "xy"], 1, "order"),
]


@pytest.mark.parametrize("argv, status, words", BAD)
def test_bad_input(tmp_path, capsys, argv, status, words):
    paths = {"missing": tmp_path / "nope.tif", "out": tmp_path / "out.zarr", "text": tmp_path / "notes.txt",
             "badtif": tmp_path / "bad.tif", "floats": tmp_path / "f.npy", "int32": tmp_path / "i.npy",
             "npy": tmp_path / "u8.npy", "exists": tmp_path / "exists.zarr"}
    paths["text"].write_text("hello")
    paths["badtif"].write_bytes(b"II*\x00 this is no tiff")
    np.save(paths["floats"], np.zeros((8, 8), np.float16))
    np.save(paths["int32"], np.zeros((8, 8), np.int32))
    np.save(paths["npy"], np.zeros((8, 8), np.uint8))
    paths["exists"].mkdir()
    if "{broken}" in argv:
        paths["broken"] = _corrupt_zarr(tmp_path)
    # In this process (a subprocess each costs seconds of imports); the
    # subcommands themselves run in subprocesses above.
    try:
        code = main([a.format(**paths) for a in argv])
    except SystemExit as e:
        code = e.code
    err = capsys.readouterr().err
    assert code == status, err
    lines = err.strip().splitlines()
    assert "Traceback" not in err
    if status == 1:
        assert len(lines) == 1 and lines[0].startswith("nvfiltering: error: ")
    assert words.lower() in err.lower()
    assert not paths["out"].exists()
    assert [p for p in os.listdir(tmp_path) if p.startswith(".")] == []


def test_unreadable(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root reads any file")
    r = cli("info", _unreadable(tmp_path))
    assert r.returncode == 1 and "not readable" in r.stderr


def test_debug_raises(tmp_path):
    """--debug lets the exception through (Python prints its traceback)."""
    with pytest.raises(Exception):
        main(["smooth", str(_corrupt_zarr(tmp_path)), str(tmp_path / "o.zarr"), "--sigma", "1", "--debug"])
    assert not (tmp_path / "o.zarr").exists()


def test_overwrite_replaces(tmp_path, capsys, volume):
    np.save(tmp_path / "v.npy", volume)
    (tmp_path / "o.zarr").mkdir()
    assert run(capsys, "smooth", tmp_path / "v.npy", tmp_path / "o.zarr", "--sigma", "1", "--overwrite",
               "--chunks", "64") == 0
    np.testing.assert_array_equal(read(tmp_path / "o.zarr"), nvf.gaussian_filter(volume, 1.0))


def test_killed_run_leaves_no_output(tmp_path, capsys):
    """A pyramid run killed while it writes leaves nothing under OUT (only its
    hidden work folder beside it), and the next run succeeds."""
    np.save(tmp_path / "v.npy", np.zeros((384, 384), np.uint8))
    out = tmp_path / "k.zarr"
    proc = subprocess.Popen([sys.executable, "-m", "nvfiltering", "pyramid", str(tmp_path / "v.npy"), str(out),
                             "--chunks", "4"], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not any(p.startswith(".k.zarr") for p in os.listdir(tmp_path)) and time.monotonic() < deadline:
        time.sleep(0.02)
    time.sleep(0.3)
    assert proc.poll() is None, "the run ended before it could be killed"
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    assert not out.exists()
    assert run(capsys, "pyramid", tmp_path / "v.npy", out, "--chunks", "128") == 0
    assert ome.from_ome_zarr(out)[0].shape == (384, 384)


def test_on_a_cluster(tmp_path, volume):
    """--scheduler: the command's tasks run on a running dask.distributed
    cluster (here one worker thread in this process, reached over TCP)."""
    distributed = pytest.importorskip("distributed")
    np.save(tmp_path / "v.npy", volume)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False, protocol="tcp",
                                  dashboard_address=None) as cluster:
        ok(cli("pyramid", tmp_path / "v.npy", tmp_path / "p.zarr", "--chunks", "8",
               "--scheduler", cluster.scheduler_address))
        assert any(p.startswith("nvf-write") for p in cluster.scheduler.task_prefixes), "nothing ran on the cluster"
    level1 = ome.from_ome_zarr(tmp_path / "p.zarr", 1)[0].compute()
    assert level1.tobytes() == nvf.pyramid_down(volume).tobytes()
