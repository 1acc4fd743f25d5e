#!/usr/bin/env bash
# Runs every built fuzz target for the given number of seconds, one after the
# other, each over a copy of its checked-in corpus (which is left as it is).
# Fails if any target finds something, printing the path of the input.
#
#   fuzz/run-fuzzers.sh <seconds-per-target> [build-dir]
#
# build-dir defaults to build/fuzz (the fuzz preset). Inputs that crash are kept
# in a findings folder under $TMPDIR whose path is printed; so are the logs.
set -uo pipefail

if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <seconds-per-target> [build-dir]" >&2
  exit 2
fi
seconds=$1
top=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$top/build/fuzz}
bin_dir=$build/fuzz
if ! compgen -G "$bin_dir/nvf_fuzz_*" > /dev/null; then
  echo "no fuzz targets in $bin_dir: cmake --workflow --preset fuzz builds them" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nvf-fuzz.XXXXXX")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for binary in "$bin_dir"/nvf_fuzz_*; do
  [[ -x "$binary" && ! -d "$binary" ]] || continue
  name=${binary##*/nvf_fuzz_}
  corpus=$work/corpus/$name
  findings=$work/findings/$name
  mkdir -p "$corpus" "$findings"
  if [[ -d "$top/fuzz/corpus/$name" ]]; then
    cp -R "$top/fuzz/corpus/$name/." "$corpus/"
  fi
  log=$work/$name.log
  echo "== $name: ${seconds}s"
  "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" > "$log" 2>&1
  status=$?
  if [[ $status -ne 0 ]] || compgen -G "$findings/*" > /dev/null; then
    failed=1
    echo "!! $name failed (exit $status); log: $log"
    grep -E "invariant violated|ERROR:|runtime error|SUMMARY" "$log" | head -n 5
    for input in "$findings"/*; do
      [[ -e "$input" ]] && echo "!! input: $input"
    done
  else
    grep -E "^stat::number_of_executed_units" "$log" | sed "s/^/   /"
    rm -rf "$corpus"
  fi
done

if [[ $failed -ne 0 ]]; then
  echo "fuzzing found faults; findings and logs under $work"
  exit 1
fi
rm -rf "$work"
echo "no findings"
