"""Draw the levels of an OME-Zarr pyramid side by side, for docs/ome.md.

    python scripts/render_pyramid.py docs/ome_pyramid.png

Writes a synthetic 256 x 256 uint8 image (rings, a sharp-edged square and
noise) with nvfiltering.ome.to_ome_zarr to a temporary store, reads levels
0 to 3 back with from_ome_zarr and lays them out left to right at their own
sizes. Needs Pillow.
"""

import sys
import tempfile

import numpy as np


def synthetic(n=256, seed=1):
    y, x = np.mgrid[0:n, 0:n].astype(np.float64)
    r = np.hypot(y - n * 0.45, x - n * 0.4)
    rings = 0.5 + 0.5 * np.cos(r * r / (n * 1.6))          # frequency rising outwards
    img = 40 + 150 * rings
    img[n // 8:n // 3, 2 * n // 3:7 * n // 8] = 250         # a sharp square
    img += np.random.default_rng(seed).normal(0, 4, img.shape)
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


def main(out):
    from PIL import Image, ImageDraw
    from nvfiltering.ome import from_ome_zarr, to_ome_zarr
    image = synthetic()
    with tempfile.TemporaryDirectory() as tmp:
        store = f"{tmp}/demo.ome.zarr"
        to_ome_zarr(image, store, scale=(0.5, 0.5), chunks=32, levels=4)
        levels = [(from_ome_zarr(store, k)[0].compute(), from_ome_zarr(store, k)[2]) for k in range(4)]
    gap, label = 12, 18
    column = [max(a.shape[1], 90) for a, _ in levels]
    width = sum(column) + gap * (len(levels) + 1)
    height = levels[0][0].shape[0] + 2 * gap + label
    canvas = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(canvas)
    x = gap
    for k, (a, scale) in enumerate(levels):
        canvas.paste(Image.fromarray(a), (x, gap + label))
        draw.text((x, gap // 2), f"{k}: {a.shape[0]}x{a.shape[1]}, {scale[0]:g} um", fill=0)
        x += column[k] + gap
    canvas.save(out, optimize=True)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs/ome_pyramid.png")
