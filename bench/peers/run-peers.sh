#!/usr/bin/env bash
# Runs the peer-benchmark harness against this checkout of nvFiltering, with the
# library's W8-W11 rows added.
#
# usage: bench/peers/run-peers.sh HARNESS WORK [run_all.sh options...]
#   HARNESS  the peer-benchmark folder (its run_all.sh, cpp/, py/, ...); only read
#   WORK     a folder outside this checkout; receives
#              WORK/peers       a copy of HARNESS with our W8-W11 rows grafted into
#                               cpp/bench_nvfiltering.cpp
#              WORK/nvf-build   the Release build of this checkout
#              WORK/nvf-prefix  its installation
#              WORK/run         the harness's work folder (inputs, results, RESULTS.md)
#   The remaining options go to run_all.sh unchanged, e.g.
#     --only W8,W9,W10,W11,L --reps 5 --no-tests
# Environment: JOBS (parallel build jobs, default: the number of cores).
# Exit status: run_all.sh's (non-zero when a program failed or a check disagreed).
set -euo pipefail

die() { echo "run-peers.sh: $*" >&2; exit 2; }
[ $# -ge 2 ] || die "usage: run-peers.sh HARNESS WORK [run_all.sh options...]"
HARNESS_IN=$1
WORK_IN=$2
shift 2

HERE=$(cd "$(dirname "$0")" && pwd -P)
REPO=$(cd "$HERE/../.." && pwd -P)
HARNESS=$(cd "$HARNESS_IN" 2>/dev/null && pwd -P) || die "no harness folder $HARNESS_IN"
for f in run_all.sh CMakeLists.txt cpp/bench_nvfiltering.cpp; do
  [ -f "$HARNESS/$f" ] || die "$HARNESS_IN has no $f: not the peer harness"
done
WORK=$(realpath -m -- "$WORK_IN") || die "bad work folder $WORK_IN"
case "$WORK/" in
  "$REPO"/*) die "the work folder must lie outside the checkout (it receives builds and ~700 MB of inputs)" ;;
  "$HARNESS"/*) die "the work folder must lie outside the harness folder" ;;
esac
mkdir -p "$WORK" || die "cannot create $WORK_IN"
command -v python3 >/dev/null || die "python3 not found (the harness needs it too)"
JOBS=${JOBS:-$(nproc)}

# ---- the harness, copied and grafted ------------------------------------------------
PEERS=$WORK/peers
rm -rf "$PEERS"
cp -R "$HARNESS" "$PEERS"
chmod -R u+w "$PEERS"
python3 - "$PEERS/cpp/bench_nvfiltering.cpp" "$HERE/rows_w8_w11.inc" "$HERE/main_w8_w11.inc" <<'PY'
import sys
target, rows_file, main_file = sys.argv[1:4]
src = open(target).read().split("\n")
rows = open(rows_file).read().rstrip("\n").split("\n")
calls = open(main_file).read().rstrip("\n").split("\n")

def fail(msg):
    sys.exit("run-peers.sh: %s in %s (has the harness changed?)" % (msg, target))

# The case functions go after the comment block that starts at the marker.
marks = [i for i, l in enumerate(src) if "PLACE FOR THE LIBRARY'S W8-W11 ROWS" in l]
if len(marks) != 1:
    fail("expected one W8-W11 marker, found %d" % len(marks))
i = marks[0]
while i < len(src) and src[i].lstrip().startswith("//"):
    i += 1
src[i:i] = [""] + rows

# main(): the loop that prints "no ... rows yet" is replaced by the calls.
starts = [j for j, l in enumerate(src) if 'for (const char* w : {"W8", "W9", "W10", "W11"})' in l]
if len(starts) != 1:
    fail("expected one W8-W11 note loop in main(), found %d" % len(starts))
j = starts[0]
k = j
while k < len(src) and "rows yet" not in src[k]:
    k += 1
if k == len(src) or k - j > 3:
    fail("the W8-W11 note loop has an unexpected form")
if src[j - 1].lstrip().startswith("// W8-W11"):
    j -= 1
src[j:k + 1] = calls
open(target, "w").write("\n".join(src))
PY
echo "== harness copied to $PEERS with the W8-W11 rows grafted"

# ---- this checkout, built as Release and installed into the work folder -----------------
BUILD=$WORK/nvf-build
PREFIX=$WORK/nvf-prefix
echo "== building nvFiltering (Release) into $BUILD, log $BUILD.log"
{
  cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DNVFILTERING_BUILD_PYTHON=OFF \
    -DNVFILTERING_BUILD_TESTS=OFF -DNVFILTERING_BUILD_DEMO=OFF -DNVFILTERING_BUILD_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" &&
    cmake --build "$BUILD" -j "$JOBS" &&
    cmake --install "$BUILD"
} >"$BUILD.log" 2>&1 || die "building or installing nvFiltering failed (see $BUILD.log)"

# ---- the run ------------------------------------------------------------------------
exec "$PEERS/run_all.sh" --work "$WORK/run" --nvfiltering "$PREFIX" "$@"
