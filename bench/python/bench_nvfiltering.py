"""Times every function of the nvfiltering package against the Python peers that
do the same job (scipy.ndimage, numpy.fft / scipy.fft, scikit-image) on the
peer benchmark workloads W1-W7, on one thread, in one process, and prints the
ratios (peer time / nvfiltering time: above 1 means nvfiltering is faster).

Also: the peak memory of a call, the speed-up of N Python threads filtering N
arrays at once (the GIL is released), and with --parity the Python calls for
smoothing (float32, uint8), labelling and dilation of 256^3 volumes beside the
same C++ calls of bench/bench_parity.cpp on the same volumes, in the same run.

    python bench/python/bench_nvfiltering.py            # the full sizes (256^3, 4096^2)
    python bench/python/bench_nvfiltering.py --scale 2  # every axis halved (quick)
    python bench/python/bench_nvfiltering.py --only W1,W4 --reps 5
    python bench/python/bench_nvfiltering.py --parity build/release/bench/bench_parity
"""

import argparse
import json
import os
import subprocess
import tempfile
import threading
import time

import numpy as np
import scipy.fft
import scipy.ndimage as ndi

import nvfiltering as nvf
from nvfiltering import fft as nfft

try:
    import skimage.filters
    import skimage.measure
    import skimage.morphology
    import skimage.transform
except ImportError:  # scikit-image is optional
    skimage = None


def best_time(f, reps):
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return min(times)


def peak_rss_during(f):
    """Peak resident memory (bytes) above the level before the call (Linux:
    the high-water mark is reset through /proc/self/clear_refs)."""
    try:
        with open("/proc/self/clear_refs", "w") as fh:
            fh.write("5")
    except OSError:
        return None

    def read(key):
        with open("/proc/self/status") as fh:
            for line in fh:
                if line.startswith(key):
                    return int(line.split()[1]) * 1024
        return 0

    before = read("VmRSS")
    f()
    return read("VmHWM") - before


def blobs(shape, seed, threshold=0.5):
    """A 0/1 uint8 mask of smooth random blobs (realistic labelling input)."""
    noise = np.random.default_rng(seed).random(shape).astype(np.float32)
    smooth = nvf.gaussian_filter(noise, 2.0)
    return (smooth > np.quantile(smooth, threshold)).astype(np.uint8)


def rank_by_size(labels):
    """Peer post-processing so that the job is the same: labels renumbered by size."""
    sizes = np.bincount(labels.ravel())
    sizes[0] = 0
    order = np.argsort(-sizes[1:], kind="stable") + 1
    mapping = np.zeros(len(sizes), np.uint32)
    mapping[order] = np.arange(1, len(order) + 1, dtype=np.uint32)
    return mapping[labels]


def pyramid_scipy(a):
    k = np.array([1, 4, 6, 4, 1], np.float32) / 16
    s = a.astype(np.float32)
    for axis in range(a.ndim):
        s = ndi.correlate1d(s, k, axis=axis, mode="mirror")
        s = s[(slice(None),) * axis + (slice(None, None, 2),)]
    return np.floor(s + 0.5).astype(np.uint8)


def regmax_scipy(a):
    neighbours = ndi.maximum_filter(a, size=3, mode="constant", cval=-np.inf)
    return ((a >= neighbours) & (a > 0)).astype(np.uint8)


def cross(ndim):
    return ndi.generate_binary_structure(ndim, 1)


def workloads(n3, n2):
    r = np.random.default_rng(0)
    f32 = r.random((n3,) * 3, dtype=np.float32)
    u8 = r.integers(0, 256, (n3,) * 3, dtype=np.uint8)
    u8_2d = r.integers(0, 256, (n2,) * 2, dtype=np.uint8)
    mask3 = blobs((n3,) * 3, 1)
    mask2 = blobs((n2,) * 2, 2)
    f32_2d = nvf.gaussian_filter(r.random((n2,) * 2, dtype=np.float32), 1.0) - 0.4
    c3 = (r.standard_normal((n3,) * 3) + 1j * r.standard_normal((n3,) * 3)).astype(np.complex64)
    m = nfft.next_fast_len(int(n3 * 240 / 256))
    c3b = c3[:m, :m, :m].copy()
    c2 = (r.standard_normal((n2 // 4,) * 2) + 1j * r.standard_normal((n2 // 4,) * 2))
    k = nfft.next_fast_len(int(n2 // 4 * 1000 / 1024))
    c2b = c2[:k, :k].copy()
    c1 = (r.standard_normal((n2, 1000)) + 1j * r.standard_normal((n2, 1000)))
    sk = skimage is not None
    W = []
    W.append(("W1", f"smooth f32 {n3}^3", f32.nbytes, lambda: nvf.gaussian_filter(f32, 2.0), [
        ("scipy.ndimage", lambda: ndi.gaussian_filter(f32, 2.0, mode="constant")),
        ("skimage", (lambda: skimage.filters.gaussian(f32, 2.0, mode="constant", preserve_range=True))
         if sk else None)]))
    W.append(("W1", f"smooth u8->f32 {n3}^3", u8.nbytes, lambda: nvf.gaussian_filter(u8, 2.0), [
        ("scipy.ndimage", lambda: ndi.gaussian_filter(u8, 2.0, output=np.float32, mode="constant"))]))
    W.append(("W2", f"gradient u8 {n3}^3", u8.nbytes, lambda: nvf.gaussian_gradient(u8, 2.0), [
        ("scipy.ndimage", lambda: [ndi.gaussian_filter(u8, 2.0, order=o, output=np.float32, mode="constant")
                                   for o in ((1, 0, 0), (0, 1, 0), (0, 0, 1))])]))
    W.append(("W3", f"pyramid u8 {n2}^2", u8_2d.nbytes, lambda: nvf.pyramid_down(u8_2d), [
        ("scipy.ndimage", lambda: pyramid_scipy(u8_2d)),
        ("skimage", (lambda: skimage.transform.pyramid_reduce(u8_2d, 2, preserve_range=True)) if sk else None)]))
    W.append(("W3", f"pyramid u8 {n3}^3", u8.nbytes, lambda: nvf.pyramid_down(u8), [
        ("scipy.ndimage", lambda: pyramid_scipy(u8))]))
    for name, x in ((f"fftn c64 {n3}^3", c3), (f"fftn c64 {m}^3", c3b), (f"fft2 c128 {n2 // 4}^2", c2),
                    (f"fft2 c128 {k}^2", c2b)):
        ours = (lambda x=x: nfft.fftn(x))
        W.append(("W4", name, x.nbytes, ours, [("numpy.fft", lambda x=x: np.fft.fftn(x)),
                                              ("scipy.fft", lambda x=x: scipy.fft.fftn(x, workers=1))]))
    W.append(("W4", f"fft c128 {n2}x1000", c1.nbytes, lambda: nfft.fft(c1), [
        ("numpy.fft", lambda: np.fft.fft(c1)), ("scipy.fft", lambda: scipy.fft.fft(c1, workers=1))]))
    for name, x in ((f"{n3}^3", mask3), (f"{n2}^2", mask2)):
        st = cross(x.ndim)
        W.append(("W5", f"dilate u8 {name}", x.nbytes, lambda x=x: nvf.dilate(x), [
            ("scipy.ndimage", lambda x=x, st=st: ndi.binary_dilation(x, st)),
            ("skimage", (lambda x=x, st=st: skimage.morphology.binary_dilation(x, st)) if sk else None)]))
        W.append(("W5", f"erode u8 {name}", x.nbytes, lambda x=x: nvf.erode(x), [
            ("scipy.ndimage", lambda x=x, st=st: ndi.binary_erosion(x, st, border_value=1)),
            ("skimage", (lambda x=x, st=st: skimage.morphology.binary_erosion(x, st)) if sk else None)]))
    for name, x, conn in ((f"{n3}^3 c6", mask3, None), (f"{n2}^2 c4", mask2, 4), (f"{n2}^2 c8", mask2, 8)):
        full = conn == 8
        st = ndi.generate_binary_structure(x.ndim, x.ndim if full else 1)
        W.append(("W6", f"label u8 {name}", x.nbytes, lambda x=x, c=conn: nvf.label(x, connectivity=c), [
            ("scipy.ndimage", lambda x=x, st=st: rank_by_size(ndi.label(x, st)[0])),
            ("skimage", (lambda x=x, f=full: rank_by_size(skimage.measure.label(x, connectivity=x.ndim if f else 1)))
             if sk else None)]))
    W.append(("W7", f"regmax f32 {n2}^2", f32_2d.nbytes, lambda: nvf.regional_maxima(f32_2d), [
        ("scipy.ndimage", lambda: regmax_scipy(f32_2d)),
        ("skimage*", (lambda: skimage.morphology.local_maxima(f32_2d)) if sk else None)]))
    return W, f32


def median_time(f, reps):
    f()
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return float(np.median(times))


def parity(cpp_bench, reps):
    """The Python calls and the same C++ calls (bench_parity) on the same 256^3
    volumes, medians of `reps` runs each, one thread: (name, Python s, C++ s)."""
    n = 256
    r = np.random.default_rng(3)
    f32 = r.random((n,) * 3, dtype=np.float32)
    u8 = r.integers(0, 256, (n,) * 3, dtype=np.uint8)
    mask = blobs((n,) * 3, 5)
    with tempfile.TemporaryDirectory() as folder:
        f32.tofile(os.path.join(folder, "f32.raw"))
        u8.tofile(os.path.join(folder, "u8.raw"))
        mask.astype(np.uint8).tofile(os.path.join(folder, "mask.raw"))
        done = subprocess.run([cpp_bench, "--benchmark_format=json", f"--benchmark_repetitions={reps}",
                               "--benchmark_report_aggregates_only=true"], capture_output=True, text=True,
                              check=True, env=dict(os.environ, NVF_PARITY_DIR=folder))
    cpp = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            cpp[b["run_name"].split("/")[0]] = b["real_time"] * 1e-3  # ms
    mask_bool = mask.astype(bool)  # labelled as it is: the 0/1 bytes the C++ call reads
    out_f = np.empty((n,) * 3, np.float32)
    out_u8 = np.empty((n,) * 3, np.uint8)
    calls = [("smooth float32", "BM_ParitySmoothFloat", lambda: nvf.gaussian_filter(f32, 2.0, output=out_f)),
             ("smooth uint8", "BM_ParitySmoothUChar", lambda: nvf.gaussian_filter(u8, 2.0, output=out_f)),
             ("label", "BM_ParityLabel", lambda: nvf.label(mask_bool)),
             ("dilate uint8", "BM_ParityDilate", lambda: nvf.dilate(u8, output=out_u8))]
    return [(name, median_time(call, reps), cpp[key]) for name, key, call in calls]


def thread_speedup(n, threads, reps):
    arrays = [np.random.default_rng(i).random((n,) * 3, dtype=np.float32) for i in range(threads)]

    def serial():
        for a in arrays:
            nvf.gaussian_filter(a, 2.0)

    def parallel():
        ts = [threading.Thread(target=nvf.gaussian_filter, args=(a, 2.0)) for a in arrays]
        for t in ts:
            t.start()
        for t in ts:
            t.join()

    return best_time(serial, reps) / best_time(parallel, reps)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--scale", type=int, default=1, help="divide every axis length by this")
    p.add_argument("--reps", type=int, default=3, help="timed runs per measurement (the best counts)")
    p.add_argument("--only", default="", help="comma-separated workloads, e.g. W1,W4")
    p.add_argument("--parity", default="", help="the bench_parity program: compare Python with C++ calls only")
    args = p.parse_args()
    if args.parity:
        print(f"Python call / the same C++ call, 256^3, one thread, medians of {max(args.reps, 5)} runs; "
              f"{os.cpu_count()} cores, load {os.getloadavg()[0]:.1f}")
        for name, t_py, t_cpp in parity(args.parity, max(args.reps, 5)):
            print(f"  {name:16}Python {t_py * 1e3:8.1f} ms   C++ {t_cpp * 1e3:8.1f} ms   ratio {t_py / t_cpp:.3f}")
        return
    n3, n2 = 256 // args.scale, 4096 // args.scale
    only = set(filter(None, args.only.split(",")))
    print(f"nvfiltering {nvf.__version__}, numpy {np.__version__}, scipy {scipy.__version__}, "
          f"scikit-image {skimage.__version__ if skimage else '-'}; {os.cpu_count()} cores, load "
          f"{os.getloadavg()[0]:.1f}; best of {args.reps}; one thread everywhere")
    W, _ = workloads(n3, n2)
    print(f"{'':4}{'workload':28}{'nvfiltering':>12}  {'peer':14}{'time':>9}{'ratio':>8}  peak/input")
    worst = None
    for wid, name, nbytes, ours, peers in W:
        if only and wid not in only:
            continue
        t = best_time(ours, args.reps)
        peak = peak_rss_during(ours)
        peak_text = f"{peak / nbytes:.2f}" if peak is not None else "-"
        first = True
        best_peer = None
        for peer, f in peers:
            if f is None:
                continue
            tp = best_time(f, args.reps)
            if not peer.endswith("*"):
                best_peer = tp if best_peer is None else min(best_peer, tp)
            left = f"{wid:4}{name:28}{t * 1e3:>10.1f}ms  " if first else " " * 46
            print(left + f"{peer:14}{tp * 1e3:>7.1f}ms{tp / t:>8.2f}" + (f"  {peak_text}" if first else ""))
            first = False
        if best_peer is not None:
            ratio = best_peer / t
            worst = ratio if worst is None else min(worst, ratio)
    if worst is not None:
        print(f"lowest ratio against the fastest peer: {worst:.2f}  (skimage* computes a similar, not the same, job)")
    if not only:
        threads = 2
        print(f"\n{threads} Python threads smoothing {threads} volumes of {n3 // 2}^3: "
              f"{thread_speedup(n3 // 2, threads, args.reps):.2f}x the serial speed")


if __name__ == "__main__":
    main()
