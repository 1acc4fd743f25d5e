"""The ``nvfiltering`` command: filters and OME-Zarr pyramids of files on disk,
run chunk by chunk on Dask.

    nvfiltering info PATH
    nvfiltering smooth IN OUT --sigma S [--mode M]
    nvfiltering gradient IN OUT --sigma S
    nvfiltering label IN OUT [--connectivity N] [--min-size N]
    nvfiltering pyramid IN OUT [--axes zyx] [--scale Z Y X] [--labels]

IN is a TIFF, a Zarr array, an OME-Zarr image (level 0 or ``--level``) or a
``.npy`` file; OUT a Zarr array, or an OME-Zarr multiscale for ``pyramid``
and with ``--ome``. Errors are one line on stderr with exit status 1 (2 for
usage errors); ``--debug`` shows the traceback.
"""

import argparse
import contextlib
import inspect
import os
import sys

PROG = "nvfiltering"


class Failure(Exception):
    """A message for the user, without a traceback."""


# ---------------------------------------------------------------- input

def _is_tiff(path):
    return path.lower().endswith((".tif", ".tiff", ".btf", ".tf8"))


def open_input(path, *, level=None, chunks=None):
    """``(array, axes, scale)`` of the file or store at ``path``: a Dask array
    and, for OME-Zarr, its axes and voxel sizes (else None)."""
    import dask.array as da
    import numpy as np
    if not os.path.exists(path):
        raise Failure(f"{path}: no such file or folder")
    if not os.access(path, os.R_OK):
        raise Failure(f"{path}: not readable")
    axes = scale = None
    if os.path.isdir(path):
        import zarr
        from .ome import from_ome_zarr, read_multiscale
        try:
            node = zarr.open(path, mode="r")
        except Exception as e:
            raise Failure(f"{path}: not a Zarr array or OME-Zarr image ({e})") from None
        if isinstance(node, zarr.Array):
            if level not in (None, 0):
                raise Failure(f"{path}: --level needs an OME-Zarr image, this is a plain Zarr array")
            x = da.from_zarr(node)
        else:
            try:
                read_multiscale(path)
            except ValueError:
                raise Failure(f"{path}: a Zarr group without OME multiscales (give an array inside it)") from None
            try:
                x, axes, scale = from_ome_zarr(path, level or 0)
            except ValueError as e:
                raise Failure(f"{path}: {e}") from None
    elif path.lower().endswith(".npy"):
        if level not in (None, 0):
            raise Failure(f"{path}: --level needs an OME-Zarr image")
        try:
            data = np.load(path, mmap_mode="r", allow_pickle=False)
        except (ValueError, OSError) as e:
            raise Failure(f"{path}: not a readable .npy file ({e})") from None
        x = da.from_array(data)
    elif _is_tiff(path):
        if level not in (None, 0):
            raise Failure(f"{path}: --level needs an OME-Zarr image")
        x = _open_tiff(path)
    else:
        raise Failure(f"{path}: not a TIFF, .npy file, Zarr array or OME-Zarr image")
    if chunks is not None:
        if len(chunks) == 1:
            chunks = chunks * x.ndim
        if len(chunks) != x.ndim:
            raise Failure(f"--chunks: give one length or {x.ndim} (one per axis), not {len(chunks)}")
        x = x.rechunk(tuple(chunks))
    return x, axes, scale


def _open_tiff(path):
    """A TIFF as a Dask array, lazily through its Zarr view where tifffile
    offers one, else read whole."""
    import logging
    import dask.array as da
    try:
        import tifffile
    except ImportError:
        raise Failure("reading TIFF needs the tifffile package (pip install tifffile)") from None
    logging.getLogger("tifffile").setLevel(logging.CRITICAL)  # its complaints become our one line
    try:
        with tifffile.TiffFile(path) as tif:
            if not tif.series or 0 in tif.series[0].shape:
                raise ValueError("no image in it")
    except Exception as e:
        raise Failure(f"{path}: not a readable TIFF ({e})") from None
    try:
        import zarr
        z = zarr.open(tifffile.imread(path, aszarr=True), mode="r")
        if not isinstance(z, zarr.Array):
            z = z["0"]
        return da.from_zarr(z)
    except Exception:
        pass
    try:
        data = tifffile.imread(path)
    except Exception as e:
        raise Failure(f"{path}: not a readable TIFF ({e})") from None
    return da.from_array(data)


# ---------------------------------------------------------------- output

def write_zarr(x, out, *, overwrite, progress):
    """``x`` as a Zarr (v3) array at ``out``, written beside and moved in."""
    import zarr
    from ._ome_run import Staging, run, write_blocks
    chunks = tuple(max(c) if c else 1 for c in x.chunks)
    staging = Staging(out, overwrite)
    with staging:
        array = zarr.create_array(staging.path, shape=x.shape, dtype=x.dtype, chunks=chunks,
                                  fill_value=0, overwrite=True)
        run(write_blocks(x, array, chunks), progress, label="writing")
        staging.commit()


def _ome_axes(x, axes):
    if axes is not None:
        return axes
    from .ome import DEFAULT_AXES
    return DEFAULT_AXES.get(x.ndim)


def write_result(x, args, *, axes=None, scale=None, kind="image"):
    if args.ome:
        from .ome import to_ome_zarr
        axes = _ome_axes(x, axes)
        spatial = None if scale is None else [s for s, a in zip(scale, axes) if a in "zyx"]
        to_ome_zarr(x, args.output, axes=axes, scale=spatial, kind=kind, overwrite=args.overwrite,
                    progress=args.progress, chunks=_ome_chunks(args))
    else:
        write_zarr(x, args.output, overwrite=args.overwrite, progress=args.progress)


def _ome_chunks(args):
    if args.chunks is None:
        return None
    return args.chunks[0] if len(args.chunks) == 1 else tuple(args.chunks)


# ---------------------------------------------------------------- commands

def cmd_info(args):
    x, axes, scale = open_input(args.input, level=args.level)
    print(f"{args.input}")
    print(f"  shape  {tuple(x.shape)}")
    print(f"  dtype  {x.dtype}")
    print(f"  chunks {tuple(c[0] for c in x.chunks)}")
    if axes is not None:
        from .ome import read_multiscale
        ms, version, group = read_multiscale(args.input)
        print(f"  OME-Zarr {version}, axes {axes}, {len(ms['datasets'])} levels")
        for k, ds in enumerate(ms["datasets"]):
            s = [t["scale"] for t in ds["coordinateTransformations"] if t["type"] == "scale"][0]
            shape = group[ds["path"]].shape
            print(f"  level {k}  {'x'.join(map(str, shape)):>16}  scale {tuple(s)}")
    return 0


def _spatial(x, axes):
    """The indices of the axes a filter runs on: the spatial ones of an
    OME-Zarr input, else all (1 to 3)."""
    if axes is not None:
        return tuple(i for i, a in enumerate(axes) if a in "zyx")
    if x.ndim > 3:
        raise Failure(f"{x.ndim} axes: filters run on 1 to 3 axes (give an OME-Zarr image whose axes say which)")
    return None


def cmd_smooth(args):
    import nvfiltering.dask as nvd
    x, axes, scale = open_input(args.input, level=args.level, chunks=args.chunks)
    kwargs = {}
    if args.mode is not None:
        if "mode" not in inspect.signature(nvd.gaussian_filter).parameters:
            raise Failure("--mode: this version's gaussian_filter has only its default border handling (zeros)")
        kwargs["mode"] = args.mode
    y = nvd.gaussian_filter(x, args.sigma, axes=_spatial(x, axes), **kwargs)
    write_result(y, args, axes=axes, scale=scale)
    return 0


def cmd_gradient(args):
    import dask.array as da
    import nvfiltering.dask as nvd
    x, axes, scale = open_input(args.input, level=args.level, chunks=args.chunks)
    if axes is not None and any(a in "tc" for a in axes):
        raise Failure("gradient: an image with t or c axes; give a level of 2 or 3 spatial axes")
    y = nvd.gaussian_gradient(x, args.sigma)
    if args.ome:
        # The components become the channel axis.
        y = da.moveaxis(y, -1, 0)
        axes = "c" + (axes or {2: "yx", 3: "zyx"}.get(x.ndim, ""))
        scale = None if scale is None else (1.0,) + tuple(scale)
    write_result(y, args, axes=axes, scale=scale)
    return 0


def cmd_label(args):
    import nvfiltering.dask as nvd
    x, axes, scale = open_input(args.input, level=args.level, chunks=args.chunks)
    kwargs = {"connectivity": args.connectivity} if args.connectivity is not None else {}
    if args.min_size is not None:
        kwargs["min_size"] = args.min_size
    if axes is not None and any(a in "tc" for a in axes):
        raise Failure("label: an image with t or c axes; give a level of 2 or 3 spatial axes")
    labels, _ = nvd.label(x, **kwargs)
    write_result(labels, args, axes=axes, scale=scale, kind="labels")
    # Labels are numbered 1 to count: the count is the largest label as
    # written (computing the lazy count as well would label everything twice).
    if args.ome:
        from .ome import from_ome_zarr
        written = from_ome_zarr(args.output)[0]
    else:
        import dask.array as da
        written = da.from_zarr(args.output)
    print(f"{int(written.max().compute()) if written.size else 0} components")
    return 0


def cmd_pyramid(args):
    from .ome import to_ome_zarr
    x, axes, scale = open_input(args.input, level=args.level, chunks=None)
    if args.axes is not None:
        axes = args.axes
    if args.scale is not None:
        spatial = args.scale
    elif scale is not None and axes is not None and len(scale) == len(axes):
        spatial = [s for s, a in zip(scale, axes) if a in "zyx"]
    else:
        spatial = None
    try:
        to_ome_zarr(x, args.output, axes=axes, scale=spatial, kind="labels" if args.labels else "image",
                    levels=args.levels, chunks=_ome_chunks(args), version=args.version,
                    overwrite=args.overwrite, progress=args.progress)
    except TypeError as e:
        raise Failure(str(e).replace("write integer labels with kind='labels'", "give --labels for integer labels"))
    return 0


# ---------------------------------------------------------------- parser

def _positive_float(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be positive: {text!r}")
    return value


def _positive_int(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text!r}")
    return value


def parser():
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--quiet", action="store_true", help="no progress bar")
    common.add_argument("--debug", action="store_true", help="show the traceback of an error")
    common.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running dask.distributed scheduler (default: local threads)")
    common.add_argument("--level", type=int, default=None, help="the level of an OME-Zarr input (default 0)")
    io = argparse.ArgumentParser(add_help=False)
    io.add_argument("input", metavar="IN")
    io.add_argument("output", metavar="OUT")
    io.add_argument("--chunks", type=_positive_int, nargs="+", metavar="N",
                    help="compute chunks: one length, or one per axis")
    io.add_argument("--overwrite", action="store_true", help="replace OUT if it exists")
    ome = argparse.ArgumentParser(add_help=False)
    ome.add_argument("--ome", action="store_true", help="write OUT as an OME-Zarr multiscale")

    p = argparse.ArgumentParser(prog=PROG, description="Filters and OME-Zarr pyramids of images on disk, on Dask.")
    sub = p.add_subparsers(dest="command", metavar="COMMAND", required=True)
    s = sub.add_parser("info", parents=[common], help="shape, dtype; axes, levels and scales of OME-Zarr")
    s.add_argument("input", metavar="PATH")
    s.set_defaults(run=cmd_info)
    s = sub.add_parser("smooth", parents=[common, io, ome], help="Gaussian smoothing (float32 out)")
    s.add_argument("--sigma", type=_positive_float, required=True)
    s.add_argument("--mode", default=None,
                   help="continuation beyond the borders: constant (default, zeros), nearest, reflect, mirror, wrap")
    s.set_defaults(run=cmd_smooth)
    s = sub.add_parser("gradient", parents=[common, io, ome], help="Gaussian gradient (last axis: components)")
    s.add_argument("--sigma", type=float, required=True)
    s.set_defaults(run=cmd_gradient)
    s = sub.add_parser("label", parents=[common, io, ome], help="connected components of the non-zero voxels")
    s.add_argument("--connectivity", type=int, default=None)
    s.add_argument("--min-size", type=int, default=None)
    s.set_defaults(run=cmd_label)
    s = sub.add_parser("pyramid", parents=[common, io], help="an OME-Zarr multiscale pyramid")
    s.add_argument("--axes", default=None, help="axis names in order, from 'tczyx' (default by dimensions)")
    s.add_argument("--scale", type=_positive_float, nargs="+", metavar="S", help="voxel size per spatial axis")
    s.add_argument("--labels", action="store_true", help="a label pyramid (every second voxel)")
    s.add_argument("--levels", type=_positive_int, default=None, help="at most this many levels")
    s.add_argument("--version", choices=("0.5", "0.4"), default="0.5", help="OME-NGFF version")
    s.set_defaults(run=cmd_pyramid, ome=True)
    return p


@contextlib.contextmanager
def _scheduler(address):
    if address is None:
        yield
        return
    try:
        from distributed import Client
    except ImportError:
        raise Failure("--scheduler needs the distributed package") from None
    try:
        client = Client(address, timeout="10s")
    except Exception as e:
        raise Failure(f"--scheduler {address}: cannot connect ({e})") from None
    try:
        yield
    finally:
        client.close()


def _message(e):
    if isinstance(e, Failure):
        return str(e)
    if isinstance(e, FileExistsError):
        return str(e).replace("overwrite it with overwrite=True", "give --overwrite to replace it")
    from . import Error
    text = str(e) or type(e).__name__
    if isinstance(e, (OSError, ValueError, TypeError, Error)):
        return text
    return f"{type(e).__name__}: {text}"


def main(argv=None):
    args = parser().parse_args(argv)
    if args.level is not None and args.level < 0:
        parser().error("--level must be 0 or more")
    args.progress = not args.quiet and sys.stderr.isatty()
    try:
        with _scheduler(args.scheduler):
            return args.run(args)
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except Exception as e:
        if args.debug:
            raise
        print(f"{PROG}: error: {_message(e)}", file=sys.stderr)
        return 1
