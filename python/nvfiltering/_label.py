"""Connected components on NumPy arrays, ranked by size.

Arrays are in C order: the last axis is the library's X, the one before it Y,
the first of three Z. The arguments are checked in :mod:`._checks` (shared with
the chunked labelling); the extension gets a C-contiguous array of a native
dtype and releases the GIL while the library runs.
"""

import numpy as np

from . import _nvfiltering as _core
from ._batch import Batch
from ._checks import as_array, label_args, native, workers_count

__all__ = ["label"]


def label(input, *, connectivity=None, class_value=None, min_size=0, keep=0, workers=None, axes=None,
          return_sizes=False):
    """Connected components of the foreground, ranked by size.

    Parameters
    ----------
    input : array_like, 1, 2 or 3 dimensions
        uint8, uint16, int16, uint32 or bool.
    connectivity : int, optional
        The number of neighbours that join a voxel to its component.
        3-d: 6 (default, the voxels sharing a face), 18 (faces and edges) or
        26 (faces, edges and corners), as ``scipy.ndimage.label`` with
        ``generate_binary_structure(3, 1)``, ``(3, 2)`` or ``(3, 3)``; 2-d:
        4 (default) or 8; 1-d: 2 (default). Any other value is a ValueError.
    class_value : int, optional
        None (default): every non-zero voxel is foreground (True for bool),
        whatever its value, as in ``scipy.ndimage.label``. An int: only the
        voxels equal to it are foreground (the others, 0 or not, are
        background); it must fit the dtype (0 or 1 for bool).
    min_size : int, optional
        Components smaller than this are removed (set to 0).
    keep : int, optional
        If > 0, keep only the ``keep`` largest components (and any others of
        the keep-th size); more than there are raises :class:`nvfiltering.Error`.
    workers : int, optional
        Threads, as in :func:`gaussian_filter`.
    axes : int or sequence of int, optional
        The axes to label (1 to 3 of them); every other axis is a batch axis
        and each item is labelled on its own, bit for bit as alone (arrays
        of up to 5 dimensions). The count is then an int64 array of the
        batch shape holding each item's count, and the sizes (with
        ``return_sizes``) an object array of the batch shape holding each
        item's sizes array: ``sizes[i, j]`` belongs to ``count[i, j]``.
    return_sizes : bool, optional
        Also return the number of voxels of every kept component, which the
        labelling finds anyway (no pass over the labels).

    Returns
    -------
    labels : ndarray of uint32
        0 for the background and removed components, 1 .. count by size,
        1 the largest; components of equal size are numbered in the raster
        (C) order of their first voxel.
    count : int
        The number of components kept.
    sizes : ndarray of int64, only with ``return_sizes=True``
        ``count`` entries: ``sizes[i]`` is the number of voxels labelled
        ``i + 1`` (so the sizes do not increase), the same as
        ``np.bincount(labels.ravel(), minlength=count + 1)[1:]``.

    Raises
    ------
    TypeError
        Another dtype; a ``return_sizes`` that is not a bool.
    ValueError
        0-d or 4-d input, a connectivity the dimension does not have, values
        out of range.
    nvfiltering.Error
        ``keep`` larger than the number of components; more than 2^32 - 2
        foreground voxels (32-bit labels cannot number them).

    Notes
    -----
    With ``class_value=None`` an input that is not bool is first turned into
    the mask ``input != 0`` (one bool array of the input's shape, one byte a
    voxel), which is then labelled; a bool input, and any input with an int
    ``class_value``, is labelled as it is (no copy when it is C-contiguous in
    native byte order).

    Examples
    --------
    >>> import numpy as np, nvfiltering as nvf
    >>> m = np.array([[255, 255, 0, 255]], np.uint8)
    >>> labels, n = nvf.label(m)
    >>> labels.tolist(), n
    ([[1, 1, 0, 2]], 2)
    >>> nvf.label(np.array([[1, 2, 2, 0, 2]], np.uint16), class_value=2)[0].tolist()
    [[0, 1, 1, 0, 2]]
    >>> v = np.zeros((2, 2, 2), np.uint8); v[0, 0, 0] = v[1, 1, 1] = 1
    >>> [nvf.label(v, connectivity=c)[1] for c in (6, 18, 26)]
    [2, 2, 1]
    >>> nvf.label(np.array([[1, 0, 1, 1]], np.uint8), return_sizes=True)[2].tolist()
    [2, 1]
    """
    if not isinstance(return_sizes, (bool, np.bool_)):
        raise TypeError(f"return_sizes: expected True or False, got {type(return_sizes).__name__}")
    a = as_array(input, "input")
    if axes is not None:
        b = Batch(a, axes)
        if b.batch:
            return b.run(lambda item, n: label(item, connectivity=connectivity, class_value=class_value,
                                               min_size=min_size, keep=keep, workers=n,
                                               return_sizes=return_sizes), a, workers_count(workers))
    if return_sizes:
        labels, count, sizes, _ = label_summary(a, connectivity=connectivity, class_value=class_value,
                                                min_size=min_size, keep=keep, workers=workers)
        return labels, count, sizes
    return _core.label(*_core_args(a, connectivity, class_value, min_size, keep), workers_count(workers))


def label_summary(input, *, connectivity=None, class_value=None, min_size=0, keep=0, workers=None):
    """:func:`label` of one image (no ``axes``) with what the labelling finds
    about each kept component: ``(labels, count, sizes, first)``, ``sizes``
    and ``first`` int64 arrays of ``count`` entries, ``first[i]`` the raster
    (C order) index of the first voxel labelled ``i + 1``."""
    a = as_array(input, "input")
    return _core.label_summary(*_core_args(a, connectivity, class_value, min_size, keep), workers_count(workers))


def _core_args(a, connectivity, class_value, min_size, keep):
    """The checked arguments of the extension's labelling of ``a``: the array
    (bool as uint8), the class value, the neighbour count, min_size, keep."""
    was_bool, connectivity, class_value, min_size, keep = label_args(a, connectivity, class_value, min_size, keep)
    if class_value is None:
        # Every non-zero voxel is foreground: a bool mask (the only conversion)
        # labelled as class 1.
        if not was_bool:
            a = np.not_equal(a, 0)
            was_bool = True
        class_value = 1
    # bool is taken as uint8 (a view, no copy).
    a = native(a, np.bool_).view(np.uint8) if was_bool else native(a, a.dtype)
    # The library counts the neighbours of a 1-d line as those of a row, 4.
    return a, class_value, 4 if connectivity == 2 else connectivity, min_size, keep
