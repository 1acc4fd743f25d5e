"""OME-Zarr multiscale pyramids: every store validated against the OME-NGFF
models of its version and read back by ome-zarr's reader; image levels equal
pyramid_down of the level before bit for bit, label levels hold only values of
the level before; the halving rule, the scales and the failure paths."""

import json
import os

import numpy as np
import pytest

dask_array = pytest.importorskip("dask.array")
zarr = pytest.importorskip("zarr")
models = pytest.importorskip("ome_zarr_models")

import nvfiltering as nvf  # noqa: E402
from nvfiltering import ome  # noqa: E402



def rng(seed=0):
    return np.random.default_rng(seed)


def random_image(shape, dtype, seed=0):
    g = rng(seed)
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        return (g.standard_normal(shape) * 100).astype(dtype)
    info = np.iinfo(dtype)
    return g.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)


def validate(path, kind="image"):
    """The store's metadata through the validator of its version, and the
    levels through ome-zarr's reader; returns the validated model."""
    group = zarr.open_group(str(path), mode="r")
    if group.metadata.zarr_format == 3:
        from ome_zarr_models import v05 as v
    else:
        from ome_zarr_models import v04 as v
    model = (v.ImageLabel if kind == "labels" else v.Image).from_zarr(group)
    reader_mod = pytest.importorskip("ome_zarr.reader")
    from ome_zarr.io import parse_url
    nodes = list(reader_mod.Reader(parse_url(str(path)))())
    mine = [n for n in nodes if os.path.samefile(str(n.zarr.path), str(path))]
    assert mine, "ome-zarr found no image"
    data = mine[0].data
    stored = [group[ds["path"]] for ds in _multiscale(path)["datasets"]]
    assert len(data) == len(stored)
    for level, array in zip(data, stored):
        assert tuple(level.shape) == array.shape
        np.testing.assert_array_equal(np.asarray(level), array[...])
    return model


def _multiscale(path):
    ms, _, _ = ome.read_multiscale(path)
    return ms


def check_levels(path, source, kind="image"):
    """Every level from the one before (as stored), and the scales."""
    ms = _multiscale(path)
    prev, axes, prev_scale = ome.from_ome_zarr(path, 0)
    np.testing.assert_array_equal(prev.compute(), source)
    for k in range(1, len(ms["datasets"])):
        level, axes_k, scale = ome.from_ome_zarr(path, k)
        assert axes_k == axes
        halved = tuple(i for i in range(prev.ndim) if level.shape[i] != prev.shape[i])
        assert halved, "a level that halves nothing"
        for i in range(prev.ndim):
            if i in halved:
                assert axes[i] in "zyx"
                assert level.shape[i] == (prev.shape[i] + 1) // 2
                assert scale[i] == 2 * prev_scale[i]
            else:
                assert scale[i] == prev_scale[i]
        p, lv = prev.compute(), level.compute()
        assert lv.dtype == p.dtype
        if kind == "image":
            expected = nvf.pyramid_down(p, axes=halved)
            assert lv.tobytes() == expected.tobytes()
        else:
            assert set(np.unique(lv)) <= set(np.unique(p))
            np.testing.assert_array_equal(lv, p[tuple(slice(None, None, 2) if i in halved else slice(None)
                                                      for i in range(p.ndim))])
        prev, prev_scale = level, scale
    return len(ms["datasets"])


# shape, axes, scale, chunks, dtype, version
CASES = [
    ((37, 29), None, None, 8, np.uint8, "0.5"),
    ((37, 29), "yx", (0.3, 0.3), 8, np.float64, "0.4"),
    ((9, 40, 37), "zyx", (4.0, 0.5, 0.5), (4, 16, 16), np.uint16, "0.5"),       # anisotropic: z waits
    ((3, 41, 33), "zyx", (0.2, 1.0, 1.0), 8, np.int16, "0.4"),        # thin: z never halves
    ((2, 11, 21, 19), "czyx", (1.0, 1.0, 1.0), 8, np.float32, "0.5"),  # channels are batch axes
    ((2, 2, 7, 13, 15), None, (2.0, 1.0, 1.0), 8, np.uint8, "0.5"),
    ((3, 23, 17), "tyx", None, 6, np.uint16, "0.4"),
    ((21, 5, 4), "zyx", None, (8, 4, 4), np.float32, "0.5"),          # y and x too short
]


@pytest.mark.parametrize("shape, axes, scale, chunks, dtype, version", CASES)
def test_image_pyramid(tmp_path, shape, axes, scale, chunks, dtype, version):
    image = random_image(shape, dtype)
    path = tmp_path / "img.ome.zarr"
    written = ome.to_ome_zarr(image, path, axes=axes, scale=scale, chunks=chunks, version=version)
    validate(path)
    assert check_levels(path, image) == len(written)
    ms = _multiscale(path)
    assert [a["name"] for a in ms["axes"]] == list(axes or ome.DEFAULT_AXES[len(shape)])
    assert [ds["coordinateTransformations"][0]["scale"] for ds in ms["datasets"]] == [list(s) for _, s in written]
    # The last level either fits a chunk or cannot halve any further.
    last, _ = written[-1]
    ch = chunks if isinstance(chunks, tuple) else tuple(chunks if a in "zyx" else 1 for a in ms_axes(ms))
    spatial = [i for i, a in enumerate(ms_axes(ms)) if a in "zyx"]
    assert all(last[i] <= ch[i] for i in spatial) or all(last[i] < ome.KERNEL_LENGTH for i in spatial)


def ms_axes(ms):
    return "".join(a["name"] for a in ms["axes"])


def test_dask_input_chunked_otherwise(tmp_path):
    """A Dask array whose chunks are unlike the stored ones (every dtype is in
    the table above)."""
    image = random_image((13, 30, 26), np.int16, seed=3)
    x = dask_array.from_array(image, chunks=(5, 7, 11))
    ome.to_ome_zarr(x, tmp_path / "a.zarr", chunks=8, levels=3)
    validate(tmp_path / "a.zarr")
    assert check_levels(tmp_path / "a.zarr", image) == 3


@pytest.mark.parametrize("dtype, version", [(np.uint8, "0.5"), (np.int32, "0.4"), (np.uint32, "0.5"),
                                            (np.int64, "0.4"), (np.uint64, "0.5"), (np.uint16, "0.4")])
def test_standalone_labels(tmp_path, dtype, version):
    labels = rng(5).integers(0, 7, (11, 35, 22)).astype(dtype) * 3
    path = tmp_path / "labels.zarr"
    ome.to_ome_zarr(labels, path, kind="labels", chunks=8, version=version)
    validate(path, kind="labels")
    assert check_levels(path, labels, kind="labels") > 2


@pytest.mark.parametrize("version", ["0.5", "0.4"])
def test_labels_inside_an_image(tmp_path, version):
    image = random_image((7, 30, 26), np.uint16)
    path = tmp_path / "img.zarr"
    ome.to_ome_zarr(image, path, scale=(3.0, 0.5, 0.5), units="nanometer", chunks=8, version=version)
    for name, seed in (("cells", 1), ("nuclei", 2)):
        labels = rng(seed).integers(0, 50, image.shape).astype(np.uint32)
        ome.to_ome_zarr(labels, path, kind="labels", name=name, chunks=8)
        check_levels(path / "labels" / name, labels, kind="labels")
        validate(path / "labels" / name, kind="labels")
    image_ms, label_ms = _multiscale(path), _multiscale(path / "labels" / "cells")
    assert label_ms["axes"] == image_ms["axes"]
    assert [d["coordinateTransformations"] for d in label_ms["datasets"]] == \
        [d["coordinateTransformations"] for d in image_ms["datasets"]]
    group = zarr.open_group(str(path / "labels"), mode="r")
    attrs = group.attrs.asdict()
    listed = attrs["ome"]["labels"] if version == "0.5" else attrs["labels"]
    assert listed == ["cells", "nuclei"]
    if version == "0.5":
        from ome_zarr_models.v05 import Labels
        Labels.from_zarr(group)
    validate(path)
    with pytest.raises(FileExistsError):
        ome.to_ome_zarr(labels, path, kind="labels", name="cells", chunks=8)
    with pytest.raises(ValueError, match="axes"):
        ome.to_ome_zarr(labels[0], path, kind="labels", name="flat", axes="yx")


def test_sharded(tmp_path):
    image = random_image((12, 34, 30), np.uint8)
    path = tmp_path / "s.zarr"
    ome.to_ome_zarr(image, path, chunks=8, shards=16)
    validate(path)
    check_levels(path, image)
    meta = json.loads((path / "0" / "zarr.json").read_text())
    assert meta["codecs"][0]["name"] == "sharding_indexed"
    with pytest.raises(ValueError, match="multiples"):
        ome.to_ome_zarr(image, tmp_path / "t.zarr", chunks=8, shards=12)
    with pytest.raises(ValueError, match="0.5"):
        ome.to_ome_zarr(image, tmp_path / "t.zarr", chunks=8, shards=16, version="0.4")


# level-0 voxel sizes (z, y, x), lengths, and the axes halved at each level
HALVING = [
    ((1.0, 1.0, 1.0), (64, 64, 64), ["zyx", "zyx", "zyx"]),
    ((4.0, 0.5, 0.5), (64, 64, 64), ["yx", "yx", "yx", "zyx"]),  # z waits until y and x reach 4 > 2
    ((2.0, 1.0, 1.0), (64, 64, 64), ["yx", "zyx", "zyx"]),       # exactly twice: one level later, equal
    ((1.5, 1.0, 1.0), (64, 64, 64), ["zyx", "zyx", "zyx"]),
    ((0.1, 1.0, 1.0), (4, 64, 64), ["yx", "yx", "yx"]),          # a thin z never halves, nor holds back y, x
    ((1.0, 1.0, 1.0), (64, 9, 64), ["zyx", "zyx", "zx"]),        # y: 9 -> 5 -> 3, then too short
]


@pytest.mark.parametrize("scale, shape, expected", HALVING)
def test_halving_rule(scale, shape, expected):
    plan = ome.plan_levels(shape, "zyx", scale, (4, 4, 4), levels=len(expected) + 1)
    got = ["".join("zyx"[i] for i in halved) for _, _, halved in plan[1:]]
    assert got == expected
    for (shape0, s0, _), (shape1, s1, halved) in zip(plan, plan[1:]):
        for i in range(3):
            factor = 2 if i in halved else 1
            assert s1[i] == s0[i] * factor
            assert shape1[i] == ((shape0[i] + 1) // 2 if i in halved else shape0[i])
            if i in halved:
                assert shape0[i] >= ome.KERNEL_LENGTH


def test_levels_stop(tmp_path):
    image = random_image((40, 40), np.uint8)
    assert len(ome.to_ome_zarr(image, tmp_path / "a", chunks=64)) == 1        # fits one chunk
    assert len(ome.to_ome_zarr(image, tmp_path / "b", chunks=10)) == 3        # 40 -> 20 -> 10
    assert len(ome.to_ome_zarr(image, tmp_path / "c", chunks=(2, 40), levels=2)) == 2
    assert len(ome.to_ome_zarr(image, tmp_path / "d", chunks=(2, 40))) == 5   # 40 20 10 5 3: 3 < 5


def test_origin_and_sampling(tmp_path):
    """Level k's sample i is the previous level's sample 2i: a single bright
    sample at an even index stays the peak at half the index."""
    image = np.zeros((33, 33), np.float32)
    image[8, 12] = 1000
    ome.to_ome_zarr(image, tmp_path / "a", chunks=8, scale=(0.5, 0.5))
    ms = _multiscale(tmp_path / "a")
    for k, ds in enumerate(ms["datasets"]):
        assert ds["coordinateTransformations"] == [{"type": "scale", "scale": [0.5 * 2 ** k, 0.5 * 2 ** k]}]
    for k in range(3):
        level = ome.from_ome_zarr(tmp_path / "a", k)[0].compute()
        assert np.unravel_index(np.argmax(level), level.shape) == (8 >> k, 12 >> k)


def test_overwrite_and_refusal(tmp_path):
    path = tmp_path / "a.zarr"
    first = random_image((20, 20), np.uint8, seed=1)
    second = random_image((24, 24), np.uint8, seed=2)
    ome.to_ome_zarr(first, path, chunks=8)
    with pytest.raises(FileExistsError):
        ome.to_ome_zarr(second, path, chunks=8)
    np.testing.assert_array_equal(ome.from_ome_zarr(path)[0].compute(), first)
    ome.to_ome_zarr(second, path, chunks=8, overwrite=True)
    np.testing.assert_array_equal(ome.from_ome_zarr(path)[0].compute(), second)
    assert sorted(os.listdir(tmp_path)) == ["a.zarr"]


def test_failure_leaves_nothing(tmp_path):
    """A computation that fails mid-way leaves no store, and with overwrite
    the old one intact."""
    def boom(block):
        if block.sum() >= 0:
            raise RuntimeError("disk on fire")
        return block

    bad = dask_array.from_array(random_image((32, 32), np.uint8), chunks=8).map_blocks(boom, dtype=np.uint8)
    with pytest.raises(RuntimeError, match="disk on fire"):
        ome.to_ome_zarr(bad, tmp_path / "x.zarr", chunks=8)
    assert os.listdir(tmp_path) == []
    good = random_image((20, 20), np.uint8)
    ome.to_ome_zarr(good, tmp_path / "x.zarr", chunks=8)
    with pytest.raises(RuntimeError):
        ome.to_ome_zarr(bad, tmp_path / "x.zarr", chunks=8, overwrite=True)
    assert os.listdir(tmp_path) == ["x.zarr"]
    np.testing.assert_array_equal(ome.from_ome_zarr(tmp_path / "x.zarr")[0].compute(), good)


BAD = [
    (dict(image=np.zeros((8, 8), np.int32)), TypeError, "uint8, uint16"),
    (dict(image=np.zeros((8, 8), np.float32), kind="labels"), TypeError, "integers"),
    (dict(image=np.zeros((8,), np.uint8)), ValueError, "2 to 5"),
    (dict(image=np.zeros((2,) * 6, np.uint8)), ValueError, "2 to 5"),
    (dict(image=np.zeros((8, 8), np.uint8), axes="xy"), ValueError, "order"),
    (dict(image=np.zeros((8, 8), np.uint8), axes="zyx"), ValueError, "name 3"),
    (dict(image=np.zeros((8, 8, 8), np.uint8), axes="tcx"), ValueError, "2 or 3"),
    (dict(image=np.zeros((8, 8, 8), np.uint8), axes="tyy"), ValueError, "distinct"),
    (dict(image=np.zeros((8, 8), np.uint8), scale=(1.0,)), ValueError, "one value per spatial"),
    (dict(image=np.zeros((8, 8), np.uint8), scale=(1.0, -1.0)), ValueError, "positive"),
    (dict(image=np.zeros((8, 8), np.uint8), units="parsecs"), ValueError, "unit"),
    (dict(image=np.zeros((8, 8), np.uint8), chunks=(4, 0)), ValueError, "positive"),
    (dict(image=np.zeros((8, 8), np.uint8), levels=0), ValueError, "levels"),
    (dict(image=np.zeros((8, 8), np.uint8), version="0.6"), ValueError, "version"),
    (dict(image=np.zeros((8, 8), np.uint8), kind="mask"), ValueError, "kind"),
    (dict(image=np.zeros((0, 8), np.uint8)), ValueError, "empty"),
]


@pytest.mark.parametrize("kwargs, error, match", BAD)
def test_bad_arguments(tmp_path, kwargs, error, match):
    kwargs = dict(kwargs)  # the table's rows are shared by every run of the test
    image = kwargs.pop("image")
    with pytest.raises(error, match=match):
        ome.to_ome_zarr(image, tmp_path / "bad.zarr", **kwargs)
    assert os.listdir(tmp_path) == []


def test_from_ome_zarr_errors(tmp_path):
    with pytest.raises(FileNotFoundError):
        ome.from_ome_zarr(tmp_path / "none.zarr")
    zarr.create_array(str(tmp_path / "plain.zarr"), shape=(4, 4), dtype="u1")
    with pytest.raises(ValueError, match="not an OME-Zarr"):
        ome.from_ome_zarr(tmp_path / "plain.zarr")
    ome.to_ome_zarr(np.zeros((8, 8), np.uint8), tmp_path / "a.zarr", chunks=8)
    with pytest.raises(ValueError, match="level must be 0 to 0"):
        ome.from_ome_zarr(tmp_path / "a.zarr", level=1)


def test_progress_bar(tmp_path, capsys):
    image = random_image((24, 24), np.uint8)
    ome.to_ome_zarr(image, tmp_path / "a.zarr", chunks=8, progress=True)
    err = capsys.readouterr().err
    assert "9/9 chunks" in err          # level 0: 3 x 3 chunks
    assert "4/4 chunks" in err          # level 1: 12 x 12 in chunks of 8
