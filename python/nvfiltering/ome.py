"""Multiscale OME-Zarr (OME-NGFF 0.4 and 0.5) images and label images.

:func:`to_ome_zarr` writes a NumPy or Dask array of 2 to 5 axes as a
multiscale pyramid: level 0 as given, every further level computed from the
level before it as stored (read back from the store), so that memory and the
task graph stay those of one level however large the image. Image levels are
:func:`nvfiltering.pyramid_down` along the spatial axes halved at that level
(bit for bit the in-memory result), label levels keep every second sample, so
a label level only holds values of the level before. :func:`from_ome_zarr`
opens one level as a Dask array with its axes and voxel size.

Which axes halve: a spatial axis with at least 5 samples (the pyramid kernel's
length) halves at a level when its voxel size is smaller than twice the
smallest voxel size among the spatial axes that can halve; so an anisotropic z
waits until y and x have caught up with it. Both ways of sampling keep the
samples 0, 2, 4, ... of the level before, so a level's sample i lies where the
previous level's sample 2i lay: the scale doubles along a halved axis and the
origin stays where it was (no translation).

Examples
--------
>>> import numpy as np, nvfiltering.ome as ome
>>> vol = np.random.default_rng(0).integers(0, 4000, (40, 256, 256), np.uint16)
>>> ome.to_ome_zarr(vol, "scan.ome.zarr", scale=(2.0, 0.5, 0.5), chunks=64)   # doctest: +SKIP
>>> level1, axes, scale = ome.from_ome_zarr("scan.ome.zarr", level=1)       # doctest: +SKIP
>>> level1.shape, axes, scale                                                # doctest: +SKIP
((40, 128, 128), 'zyx', (2.0, 1.0, 1.0))
"""

import math
import numbers
import os

import numpy as np

from ._ome_run import Staging, run, write_blocks

__all__ = ["from_ome_zarr", "plan_levels", "to_ome_zarr"]

KERNEL_LENGTH = 5  # an axis shorter than the pyramid kernel never halves
IMAGE_DTYPES = tuple(np.dtype(t) for t in (np.uint8, np.uint16, np.int16, np.float32, np.float64))
DEFAULT_AXES = {2: "yx", 3: "zyx", 4: "czyx", 5: "tczyx"}
# Length units of the OME-NGFF axes (UDUNITS-2 names).
SPACE_UNITS = frozenset((
    "angstrom", "attometer", "centimeter", "decimeter", "exameter", "femtometer", "foot", "gigameter",
    "hectometer", "inch", "kilometer", "megameter", "meter", "micrometer", "mile", "millimeter",
    "nanometer", "parsec", "petameter", "picometer", "terameter", "yard", "yoctometer", "yottameter",
    "zeptometer", "zettameter"))
METHODS = {"image": "nvfiltering.pyramid_down: [1, 4, 6, 4, 1] / 16 along each halved axis, samples 0, 2, 4, ... kept",
           "labels": "nearest: samples 0, 2, 4, ... of each halved axis kept"}


def _check_axes(axes, ndim):
    if axes is None:
        if ndim not in DEFAULT_AXES:
            raise ValueError(f"image must have 2 to 5 axes, not {ndim}")
        return DEFAULT_AXES[ndim]
    if not isinstance(axes, str):
        raise TypeError(f"axes must be a string such as 'zyx', not {type(axes).__name__}")
    if len(axes) != ndim:
        raise ValueError(f"axes {axes!r} name {len(axes)} axes, the image has {ndim}")
    if len(set(axes)) != len(axes) or any(a not in "tczyx" for a in axes):
        raise ValueError(f"axes {axes!r} must be distinct letters of 'tczyx'")
    if "".join(a for a in "tczyx" if a in axes) != axes:
        raise ValueError(f"axes {axes!r} must follow the order t, c, z, y, x")
    if sum(a in "zyx" for a in axes) < 2:
        raise ValueError(f"axes {axes!r} must hold 2 or 3 spatial axes")
    return axes


def _per_spatial(value, nspace, name, check):
    if value is None:
        return None
    if isinstance(value, (str, numbers.Number)):
        value = (value,) * nspace
    value = tuple(value)
    if len(value) != nspace:
        raise ValueError(f"{name} needs one value per spatial axis ({nspace}), got {len(value)}")
    for v in value:
        check(v)
    return value


def _positive_float(name):
    def check(v):
        if isinstance(v, bool) or not isinstance(v, numbers.Real) or not math.isfinite(v) or v <= 0:
            raise ValueError(f"{name} must hold finite positive numbers, got {v!r}")
    return check


def _unit(v):
    if v not in SPACE_UNITS:
        raise ValueError(f"unit {v!r} is not a length unit of OME-NGFF (such as 'micrometer')")


def _block_shape(value, axes, shape, name, default):
    """One int per axis, or one int for every spatial axis (1 on t and c)."""
    if value is None:
        value = default
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        value = tuple(int(value) if a in "zyx" else 1 for a in axes)
    value = tuple(value)
    if len(value) != len(axes):
        raise ValueError(f"{name} needs one length per axis ({len(axes)}) or one int, got {value!r}")
    for v in value:
        if isinstance(v, bool) or not isinstance(v, numbers.Integral) or v < 1:
            raise ValueError(f"{name} must hold positive integers, got {value!r}")
    return tuple(int(v) for v in value)


def plan_levels(shape, axes, scale, chunks, levels=None):
    """The pyramid :func:`to_ome_zarr` writes: a list of ``(shape, scale,
    halved)``, one per level, ``scale`` with one value per axis (1 on t and c)
    and ``halved`` the axis indices halved from the level before (empty at
    level 0). ``scale`` and ``chunks`` hold one value per axis."""
    shape, scale = tuple(shape), tuple(float(s) for s in scale)
    spatial = [i for i, a in enumerate(axes) if a in "zyx"]
    out = [(shape, scale, ())]
    while levels is None or len(out) < levels:
        if all(shape[i] <= chunks[i] for i in spatial):
            break
        can = [i for i in spatial if shape[i] >= KERNEL_LENGTH]
        if not can:
            break
        finest = min(scale[i] for i in can)
        halved = tuple(i for i in can if scale[i] < 2 * finest)
        shape = tuple((n + 1) // 2 if i in halved else n for i, n in enumerate(shape))
        scale = tuple(s * 2 if i in halved else s for i, s in enumerate(scale))
        out.append((shape, scale, halved))
    return out


def _multiscale(axes, units, plan, paths, name, kind, version):
    axis_list = []
    space = iter(units)
    for a in axes:
        if a == "t":
            axis_list.append({"name": "t", "type": "time"})
        elif a == "c":
            axis_list.append({"name": "c", "type": "channel"})
        else:
            axis_list.append({"name": a, "type": "space", "unit": next(space)})
    from . import __version__
    ms = {"axes": axis_list,
          "datasets": [{"path": p, "coordinateTransformations": [{"type": "scale", "scale": list(s)}]}
                       for p, (_, s, _) in zip(paths, plan)],
          "type": "nearest" if kind == "labels" else "pyramid_down",
          "metadata": {"method": METHODS[kind], "nvfiltering": __version__}}
    if name is not None:
        ms["name"] = name
    if version == "0.4":
        ms = {"version": "0.4", **ms}
    return ms


def _set_ome(attrs, version, **entries):
    """OME attributes of a group: under "ome" in 0.5, at the top in 0.4."""
    if version == "0.5":
        ome = dict(attrs.get("ome", {}))
        ome.update({"version": "0.5", **entries})
        attrs["ome"] = ome
    else:
        for key, value in entries.items():
            attrs[key] = value


def _ome_attrs(group):
    attrs = group.attrs.asdict()
    if "ome" in attrs:
        return attrs["ome"], attrs["ome"].get("version", "0.5")
    ms = attrs.get("multiscales")
    version = ms[0].get("version", "0.4") if ms else "0.4"
    return attrs, version


def _create(group, path, shape, dtype, chunks, shards, axes, version):
    chunks = tuple(min(c, max(n, 1)) for c, n in zip(chunks, shape))
    if version == "0.5":
        if shards is not None:
            shards = tuple(min(s, max(-(-n // c) * c, c)) for s, c, n in zip(shards, chunks, shape))
        return group.create_array(path, shape=shape, dtype=dtype, chunks=chunks, shards=shards,
                                  dimension_names=list(axes), fill_value=0)
    return group.create_array(path, shape=shape, dtype=dtype, chunks=chunks, fill_value=0,
                              chunk_key_encoding={"name": "v2", "separator": "/"})


def to_ome_zarr(image, store, *, axes=None, scale=None, units=None, kind="image", name=None, levels=None,
                chunks=None, shards=None, version="0.5", overwrite=False, progress=False):
    """Write an image or a label image as an OME-Zarr multiscale pyramid.

    Parameters
    ----------
    image : NumPy or Dask array, 2 to 5 axes
        kind="image": uint8, uint16, int16, float32 or float64 (the dtypes
        :func:`nvfiltering.pyramid_down` keeps); kind="labels": any integer
        dtype.
    store : str or path
        A local folder. kind="labels" with ``name``: an existing OME-Zarr
        image, the labels going to ``labels/<name>`` inside it.
    axes : str, optional
        The axes in OME-NGFF order, letters of "tczyx" (2 or 3 spatial):
        "yx", "zyx", "czyx", "tczyx" for 2 to 5 axes by default.
    scale : float or sequence of float, optional
        Physical voxel size of each spatial axis at level 0 (default 1).
    units : str or sequence of str, optional
        Length unit of each spatial axis (default "micrometer").
    kind : "image" or "labels"
    name : str, optional
        The multiscale's name; with kind="labels", the label image's name
        under ``labels/`` of the image at ``store``.
    levels : int, optional
        The most levels written, level 0 included (default: until every
        spatial axis fits one chunk or no axis can halve).
    chunks : int or sequence of int, optional
        The stored chunk shape: one length per axis, or one for every spatial
        axis with 1 on t and c (default 128 with 3 spatial axes, 512 with 2).
    shards : int or sequence of int, optional
        Version "0.5" only: the shard shape, multiples of ``chunks``.
    version : "0.5" or "0.4"
        OME-NGFF version: 0.5 is Zarr v3, 0.4 Zarr v2. Labels written into
        an image take the image's version.
    overwrite : bool
        Replace an existing ``store`` (or label image); the old one stays
        until the new one is complete. Otherwise ``FileExistsError``.
    progress : bool
        Draw a progress bar (chunks written out of the level's total).

    Returns
    -------
    list of tuple
        Each level's ``(shape, scale)`` as written.
    """
    import dask.array as da
    import zarr

    if kind not in ("image", "labels"):
        raise ValueError(f"kind must be 'image' or 'labels', not {kind!r}")
    if version not in ("0.4", "0.5"):
        raise ValueError(f"version must be '0.5' or '0.4', not {version!r}")
    if name is not None and not (isinstance(name, str) and name and "/" not in name and not name.startswith(".")):
        raise ValueError(f"name must be a non-empty string without '/', not {name!r}")
    if levels is not None and (isinstance(levels, bool) or not isinstance(levels, numbers.Integral) or levels < 1):
        raise ValueError(f"levels must be a positive integer, not {levels!r}")
    x = image if isinstance(image, da.Array) else np.asarray(image)
    dtype = np.dtype(x.dtype)
    if kind == "image" and dtype not in IMAGE_DTYPES:
        raise TypeError(f"an image pyramid takes uint8, uint16, int16, float32 or float64, not {dtype} "
                        "(convert it first, or write integer labels with kind='labels')")
    if kind == "labels" and dtype.kind not in "iu":
        raise TypeError(f"labels must be integers, not {dtype}")

    into_image = kind == "labels" and name is not None
    root = os.fspath(store)
    image_scale = None
    if into_image:
        if not os.path.isdir(root):
            raise FileNotFoundError(f"no OME-Zarr image at {root} to add labels to")
        group = zarr.open_group(root, mode="r")
        meta, version = _ome_attrs(group)
        if "multiscales" not in meta:
            raise ValueError(f"{root} is not an OME-Zarr image (no multiscales)")
        ims = meta["multiscales"][0]
        image_axes = "".join(a["name"] for a in ims["axes"])
        if axes is None and x.ndim == len(image_axes):
            axes = image_axes
        image_scale = [t["scale"] for t in ims["datasets"][0]["coordinateTransformations"] if t["type"] == "scale"][0]
        if units is None:
            units = [a.get("unit", "micrometer") for a in ims["axes"] if a.get("type") == "space"]
    axes = _check_axes(axes, x.ndim)
    if into_image and axes != image_axes:
        raise ValueError(f"labels have axes {axes!r}, the image {image_axes!r}: they must be the same")
    nspace = sum(a in "zyx" for a in axes)
    if scale is None and image_scale is not None:
        scale = [s for s, a in zip(image_scale, axes) if a in "zyx"]
    scale = _per_spatial(scale, nspace, "scale", _positive_float("scale")) or (1.0,) * nspace
    units = _per_spatial(units, nspace, "units", _unit) or ("micrometer",) * nspace
    if any(n == 0 for n in x.shape):
        raise ValueError(f"image has an empty axis: shape {x.shape}")
    chunks = _block_shape(chunks, axes, x.shape, "chunks", 128 if nspace == 3 else 512)
    if shards is not None:
        if version != "0.5":
            raise ValueError("shards need version '0.5' (Zarr v3)")
        shards = _block_shape(shards, axes, x.shape, "shards", None)
        if any(s % c for s, c in zip(shards, chunks)):
            raise ValueError(f"shards {shards} must be multiples of chunks {chunks}")

    full = iter(scale)
    axis_scale = [next(full) if a in "zyx" else 1.0 for a in axes]
    plan = plan_levels(x.shape, axes, axis_scale, chunks, levels)
    paths = [str(k) for k in range(len(plan))]
    target = os.path.join(root, "labels", name) if into_image else root
    if into_image:
        labels_group = zarr.open_group(os.path.join(root, "labels"), mode="a",
                                       zarr_format=3 if version == "0.5" else 2)
    staging = Staging(target, overwrite)
    zarr_format = 3 if version == "0.5" else 2
    with staging:
        group = zarr.open_group(staging.path, mode="w", zarr_format=zarr_format)
        entries = {"multiscales": [_multiscale(axes, units, plan, paths, name, kind, version)]}
        if kind == "labels":
            label_meta = {"source": {"image": "../../"}} if into_image else {}
            if version == "0.4":
                label_meta = {"version": "0.4", **label_meta}
            entries["image-label"] = label_meta
        _set_ome(group.attrs, version, **entries)
        current = x if isinstance(x, da.Array) else None
        blocks = shards or chunks
        for k, (shape, _, halved) in enumerate(plan):
            if k == 0:
                if current is None:
                    current = da.from_array(x, chunks=tuple(min(b, n) for b, n in zip(blocks, shape)))
            else:
                previous = da.from_zarr(group[paths[k - 1]])
                current = _halve(previous, halved, kind)
            assert current.shape == shape, (current.shape, shape)
            array = _create(group, paths[k], shape, dtype, chunks, shards, axes, version)
            write_blocks_shape = tuple(min(b, n) for b, n in zip(blocks, shape))
            run(write_blocks(current, array, write_blocks_shape), progress,
                label=f"level {k}/{len(plan) - 1} {'x'.join(map(str, shape))}")
        staging.commit()
    if into_image:
        meta, _ = _ome_attrs(labels_group)
        names = list(meta.get("labels", []))
        if name not in names:
            names.append(name)
        attrs = labels_group.attrs.asdict()
        _set_ome(attrs, version, labels=names)
        labels_group.attrs.update(attrs)
    return [(shape, s) for shape, s, _ in plan]


def _halve(previous, halved, kind):
    """The next level from the previous one: ``pyramid_down`` along the halved
    axes (the others are batch axes), or every second label."""
    if kind == "labels":
        return previous[tuple(slice(None, None, 2) if i in halved else slice(None) for i in range(previous.ndim))]
    from .dask import pyramid_down
    if len(halved) == previous.ndim:
        return pyramid_down(previous)
    return pyramid_down(previous, axes=tuple(halved))


def read_multiscale(store):
    """The OME metadata of an OME-Zarr group: ``(multiscale, version, group)``
    with ``multiscale`` the first entry of its multiscales. ``ValueError`` if
    ``store`` holds none."""
    import zarr
    root = os.fspath(store)
    if not os.path.exists(root):
        raise FileNotFoundError(f"no such file or folder: {root}")
    try:
        group = zarr.open_group(root, mode="r")
    except Exception as e:  # not a group: an array or no Zarr at all
        raise ValueError(f"{root} is not an OME-Zarr group ({e})") from None
    meta, version = _ome_attrs(group)
    ms = meta.get("multiscales")
    if not ms:
        raise ValueError(f"{root} is not an OME-Zarr multiscale image (no multiscales)")
    return ms[0], version, group


def from_ome_zarr(store, level=0):
    """One level of an OME-Zarr multiscale image (or label image).

    Returns
    -------
    array : dask array
        The level, chunked as stored.
    axes : str
        Its axis names, such as "zyx".
    scale : tuple of float
        Its voxel size along every axis (1 on t and c unless the store says
        otherwise).
    """
    import dask.array as da
    ms, _, group = read_multiscale(store)
    datasets = ms["datasets"]
    if isinstance(level, bool) or not isinstance(level, numbers.Integral) or not 0 <= level < len(datasets):
        raise ValueError(f"level must be 0 to {len(datasets) - 1}, not {level!r}")
    ds = datasets[level]
    array = da.from_zarr(group[ds["path"]])
    axes = "".join(a["name"] for a in ms["axes"])
    scale = [1.0] * array.ndim
    for t in ds.get("coordinateTransformations", []):
        if t.get("type") == "scale":
            scale = [float(s) for s in t["scale"]]
    return array, axes, tuple(scale)
